// Text from files and other programs, made safe to show: for a terminal, where a control
// character would clear the screen, set the title or overwrite a line of the report; and for a
// JSON document, which must be UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace ondrake::doctor {

// `bytes` as a person may see it on a terminal: every control character (C0, DEL and C1) and
// every byte that does not start a valid UTF-8 sequence written as an escape (\x1B, \u0085), and
// the backslash doubled, so that an escape in the output always means a byte of the input.
// Everything else, other scripts included, stays as it is.
std::string printable(std::string_view bytes);

// Text for people, line by line, so that every section reads the same way. Every part goes
// through printable(): paths, manifest members and the host's output come from files and
// programs, and a control character among them must not reach the terminal.
class Lines {
public:
    template <class... Parts>
    void line(std::string_view first, const Parts&... rest) {
        out_.append(printable(first));
        (out_.append(printable(rest)), ...);
        out_.push_back('\n');
    }
    std::string take() { return std::move(out_); }

private:
    std::string out_;
};

// `bytes` as UTF-8: each byte that does not start a valid sequence becomes U+FFFD, so that a
// support tool still sees where a path went wrong.
std::string as_utf8(std::string_view bytes);

}  // namespace ondrake::doctor
