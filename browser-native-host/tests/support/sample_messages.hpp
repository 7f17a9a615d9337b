// Message bodies the protocol tests start from, and a way to add members to them.
#pragma once

#include <string>
#include <string_view>

namespace ondrake::samples {

inline constexpr std::string_view SIMPLE =
    R"({"protocolVersion":1,"requestId":"r-1","action":"download","source":"context_menu","url":"https://example.test/a"})";

// A capture request carrying only its required members.
inline constexpr std::string_view CAPTURE =
    R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","action":"capture_status","source":"automatic_download"})";

// As an extension typically sends them, with the members a real browser fills in: a
// capture_prepare of about 400 bytes and a simple request. The benchmarks measure these, so that
// the figures of different benchmarks are about the same bytes.
inline constexpr std::string_view TYPICAL_CAPTURE =
    R"({"protocolVersion":4,"requestId":"r-3f1c9a","captureId":"c-8b2d4e",)"
    R"("action":"capture_prepare","source":"automatic_download","browser":"chrome",)"
    R"("browserDownloadId":4187,"url":"https://dl.example.test/tool-2.4.dmg",)"
    R"("observed":{"finalUrl":"https://cdn.example.test/tool-2.4.dmg",)"
    R"("mime":"application/octet-stream","totalBytes":48213377,"etag":"\"5f1e\""},)"
    R"("cookies":[{"name":"sid","value":"c2Vzc2lvbg","path":"/","secure":true}]})";

inline constexpr std::string_view TYPICAL_SIMPLE =
    R"({"protocolVersion":1,"requestId":"r-1","action":"download","source":"context_menu",)"
    R"("browser":"chrome","url":"https://example.test/files/report.pdf"})";

inline constexpr std::string_view COOKIE = R"({"name":"sid","value":"v","path":"/","secure":true})";

inline constexpr std::string_view IPC_RESPONSE =
    R"({"protocolVersion":1,"requestId":"r1","code":"ACCEPTED"})";

inline constexpr std::string_view IPC_CAPTURE_RESPONSE =
    R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","status":"prepared","code":"CAPTURE_PREPARED"})";

inline constexpr std::string_view PREFLIGHT = R"({"ok":true,"status":200})";

// `object` with `member` (for example "\"browser\":\"chrome\"") added as its last member.
inline std::string with(std::string_view object, std::string_view member) {
    std::string result(object.substr(0, object.size() - 1));
    if (result.back() != '{') result.push_back(',');
    result.append(member);
    result.push_back('}');
    return result;
}

// `object` with `member` added first, so that it precedes the members of the same name.
inline std::string with_first(std::string_view object, std::string_view member) {
    std::string result("{");
    result.append(member);
    if (object.size() > 2) result.push_back(',');
    result.append(object.substr(1));
    return result;
}

// `text` with the first `from` in it replaced by `to`.
inline std::string replaced(std::string_view text, std::string_view from, std::string_view to) {
    std::string result(text);
    result.replace(result.find(from), from.size(), to);
    return result;
}

inline std::string repeated(std::string_view piece, std::size_t times) {
    std::string result;
    result.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) result.append(piece);
    return result;
}

}  // namespace ondrake::samples
