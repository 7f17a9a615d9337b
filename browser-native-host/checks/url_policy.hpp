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

// Nothing when the URL passes, or why it was refused.
using Checked = boost::system::result<void, UrlRejection>;

// Trims Unicode white space from both ends, parses without a base URL, checks scheme, host and
// credentials, and leaves in `url` its serialisation without the fragment, the form the
// application gets. Expects valid UTF-8. A URL that is already canonical and untrimmed is left
// where it is; a refused one is left unspecified.
Checked sanitize(std::string& url);

}  // namespace ondrake::url_policy
