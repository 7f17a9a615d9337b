// The state machine of the basic URL parser (WHATWG URL Standard), without state override.
#pragma once

#include "whatwg-url/url.hpp"

namespace whatwg::detail {

// The input as the state machine reads it: without leading and trailing C0 controls and spaces,
// without ASCII tabs and newlines, and with each ill-formed UTF-8 sequence replaced by U+FFFD.
// Returns a view of `input` when nothing had to change, else of `scratch`.
std::string_view prepare_input(std::string_view input, std::string& scratch);

// Runs the state machine over prepared input, filling `url` (which must be clear). `buffer` and
// `host_scratch` are working memory. False on failure.
bool run_basic_parser(std::string_view input, const Url* base, UrlRecord& url, std::string& buffer,
                      std::string& host_scratch, Uts46& idna);

}  // namespace whatwg::detail
