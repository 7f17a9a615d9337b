// Which browser-supplied URLs the host passes on to the application, and in what form: absolute
// http and https URLs with a host and without credentials, normalised by the WHATWG URL parser
// and without their fragment.
#pragma once

#include <boost/system/result.hpp>

#include <string>

namespace ondrake::url_policy {

enum class UrlRejection {
    Malformed,         // not an absolute URL, or one without a usable host
    HasCredentials,    // a user name or a password in the URL
    SchemeNotAllowed,  // anything but http and https
};

// The normalised URL text, or why the URL was refused.
using Sanitized = boost::system::result<std::string, UrlRejection>;

// Trims Unicode white space from both ends, parses without a base URL, checks scheme, host and
// credentials, drops the fragment and returns the serialisation. Expects valid UTF-8. A URL that
// is already canonical and untrimmed comes back in its own buffer.
Sanitized sanitize(std::string url);

}  // namespace ondrake::url_policy
