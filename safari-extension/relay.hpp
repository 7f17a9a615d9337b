// The handler's request path: check the message Safari delivered, find the socket in the
// application group's container, and relay the request text to the desktop application on a work
// item of its own. Every request is answered exactly once through its extension context.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "safari-extension/environment.hpp"
#include "safari-extension/message.hpp"
#include "safari-extension/socket_exchange.hpp"

namespace ondrake::safari {

// The application group whose shared container holds the application's socket.
inline constexpr std::string_view APP_GROUP_ID = "group.com.ondrake.download";
// The socket's path inside that container.
inline constexpr std::string_view SOCKET_SUBPATH = "ipc/browser.sock";

// Whether a failed request reached the application: "unknown" when it surely did not,
// "indeterminate" when it may have.
enum class Status { Unknown, Indeterminate };

std::string_view status_text(Status status);

// The script's correlation values, echoed in every failure reply so that the script can match
// the reply to its request. Values that were not strings count as absent.
struct Correlation {
    std::optional<std::string> requestId;
    std::optional<std::string> captureId;

    // {"status", "code"} followed by "requestId" and "captureId" when present; absent values are
    // left out, never written as null.
    Dictionary envelope(Status status, Code code) const;
};

// The reply dictionary for the outcome of an exchange.
Dictionary reply_for(const Exchange& outcome, const Correlation& correlation);

// `directory` joined with `component` by one separator.
std::string append_path_component(std::string_view directory, std::string_view component);

// What a request borrows from its host system while begin_request runs. The clock and the budget
// are copied into the work item; the locator and the queue are used only before begin_request
// returns.
struct RelayServices {
    const ContainerLocator& containers;
    WorkQueue& queue;
    Clock clock;
    std::chrono::nanoseconds budget = EXCHANGE_BUDGET;
};

// Handles one request. Messages that cannot be relayed are answered before it returns; the others
// are answered from a work item submitted to `services.queue`, which keeps the context alive
// until it has replied.
void begin_request(const std::shared_ptr<ExtensionContext>& context, const RelayServices& services);

}  // namespace ondrake::safari
