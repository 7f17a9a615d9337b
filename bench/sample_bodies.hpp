// Frame bodies that the benchmarks share, so that figures of different benchmarks are about the
// same bytes: a typical capture_prepare (~400 bytes) and a simple request.
#pragma once

#include <string_view>

namespace ondrake::bench {

inline constexpr std::string_view CAPTURE_BODY =
    R"({"protocolVersion":4,"requestId":"r-3f1c9a","captureId":"c-8b2d4e",)"
    R"("action":"capture_prepare","source":"automatic_download","browser":"chrome",)"
    R"("browserDownloadId":4187,"url":"https://dl.example.test/tool-2.4.dmg",)"
    R"("observed":{"finalUrl":"https://cdn.example.test/tool-2.4.dmg",)"
    R"("mime":"application/octet-stream","totalBytes":48213377,"etag":"\"5f1e\""},)"
    R"("cookies":[{"name":"sid","value":"c2Vzc2lvbg","path":"/","secure":true}]})";

inline constexpr std::string_view SIMPLE_BODY =
    R"({"protocolVersion":1,"requestId":"r-1","action":"download","source":"context_menu",)"
    R"("browser":"chrome","url":"https://example.test/files/report.pdf"})";

}  // namespace ondrake::bench
