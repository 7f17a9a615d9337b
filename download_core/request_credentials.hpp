// Credentials that a browser hands over with a captured download, so that the download engine
// can repeat the browser's request as the same signed-in user.
#pragma once

#include <string>

namespace download_core {

struct BrowserCookie {
    std::string name;
    std::string value;
    std::string path;
    bool secure = false;  // sent only over secure connections

    bool operator==(const BrowserCookie&) const = default;
};

}  // namespace download_core
