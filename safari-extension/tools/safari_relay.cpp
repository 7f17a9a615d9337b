// safari-relay: runs one request through the Safari extension handler's request path, for people
// who work on the extension's script without Safari at hand.
//
//   safari-relay [CONTAINER_DIR] < message.json
//
// Standard input holds the message dictionary the script would send, as JSON ("payload" and
// optionally "requestId" and "captureId"); a JSON null stands for a request without a message.
// CONTAINER_DIR plays the application group's shared container (the application's socket is
// CONTAINER_DIR/ipc/browser.sock); without it there is no container. The reply dictionary is
// printed as one line of JSON. Exit status: 0 when a reply was printed, 2 on a usage error or
// when standard input is not one JSON document.

#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "safari-extension/relay.hpp"
#include "safari-extension/standins/standins.hpp"
#include "safari-extension/tools/message_json.hpp"

namespace {

constexpr std::string_view USAGE = "usage: safari-relay [CONTAINER_DIR] < message.json\n";

int fail(std::string_view message) {
    std::cerr << "safari-relay: " << message;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ondrake::safari;

    if (argc > 2) return fail(USAGE);
    std::optional<std::string> container;
    if (argc == 2) {
        std::string_view argument = argv[1];
        if (argument == "-h" || argument == "--help") {
            std::cout << USAGE;
            return 0;
        }
        if (!argument.empty()) container = std::string(argument);
    }

    std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    std::string error;
    std::optional<Value> document = value_from_json(input, error);
    if (!document) return fail("standard input is not one JSON document: " + error + "\n");
    auto context = *document == Value(Null{}) ? std::make_shared<RecordingContext>()
                                              : std::make_shared<RecordingContext>(std::move(*document));
    DirectoryLocator containers(std::string(APP_GROUP_ID), container);
    ThreadQueue queue;
    begin_request(context, RelayServices{containers, queue, monotonic_clock()});
    queue.drain();

    for (const Dictionary& reply : context->replies()) std::cout << json_from_dictionary(reply) << '\n';
    std::cout.flush();
    return std::cout ? 0 : 1;
}
