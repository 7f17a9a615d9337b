// The reference Safari web extension (safari-extension/web-extension) builds its native messages
// in JavaScript, and the Safari handler passes their "payload" to the application as it is: every
// message its background script sends must pass the checks a browser's message to the host passes.
// Node runs the script against a stand-in for Safari (safari-extension/tests/web_extension_messages.js).
#include "browser-native-host/checks/classification.hpp"
#include "browser-native-host/tests/support/program_run.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace ondrake {
namespace {

namespace json = boost::json;

TEST(ReferenceWebExtension, SendsRequestsTheHostAccepts) {
    if (std::string(ONDRAKE_NODE).empty()) GTEST_SKIP() << "node not found when configuring";
    struct Link {
        const char* clicked;
        const char* delivered;  // the URL as the checks pass it on
    };
    const Link links[] = {
        {"https://example.com/files/report.pdf", "https://example.com/files/report.pdf"},
        {"http://Bücher.EXAMPLE/a b?q=\"x\"#part", "http://xn--bcher-kva.example/a%20b?q=%22x%22"},
        {"https://example.org/\\back\\slash?tab=\t", "https://example.org//back/slash?tab="},
    };
    test::ProgramOptions options;
    options.arguments = {
        std::string(ONDRAKE_SOURCE_DIR) + "/safari-extension/tests/web_extension_messages.js",
        std::string(ONDRAKE_SOURCE_DIR) + "/safari-extension/web-extension/background.js"};
    for (const Link& link : links) options.arguments.emplace_back(link.clicked);
    test::ProgramRun run = test::run_program(ONDRAKE_NODE, options);
    ASSERT_EQ(run.status, 0) << run.err;

    std::istringstream lines(run.out);
    std::string line;
    for (const Link& link : links) {
        SCOPED_TRACE(link.clicked);
        ASSERT_TRUE(std::getline(lines, line)) << "no message sent";
        json::object message = json::parse(line).as_object();
        ASSERT_EQ(message.size(), 2u) << line;
        std::string payload(message.at("payload").as_string());
        std::string request_id(message.at("requestId").as_string());
        auto classified = classification::classify_any(payload);
        ASSERT_TRUE(std::holds_alternative<classification::Request>(classified)) << payload;
        const auto& request = std::get<classification::Request>(classified).request;
        EXPECT_EQ(request.request_id, request_id);
        EXPECT_EQ(request.url, link.delivered);
    }
    EXPECT_FALSE(std::getline(lines, line)) << "more messages than clicks: " << line;
}

}  // namespace
}  // namespace ondrake
