// What the handler needs from its host system, and nothing more. On Apple platforms the adapter in
// apple/ implements these over NSExtensionContext, NSFileManager and Dispatch; elsewhere the
// stand-ins in standins/ do, so that the same request path runs in tests and in safari-relay.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "safari-extension/message.hpp"

namespace ondrake::safari {

// One request from Safari. The handler keeps it alive until it has replied.
class ExtensionContext {
public:
    virtual ~ExtensionContext() = default;

    // The message the script sent: the value stored under the message key of the first input
    // item's user info. Nothing when there is no input item, the first item is not an extension
    // item, it has no user info, or the user info has no message.
    virtual std::optional<Value> input_message() const = 0;

    // Completes the request with one reply dictionary. The handler calls it exactly once.
    virtual void complete_request(Dictionary reply) = 0;
};

// Where the shared container of an application group lives.
class ContainerLocator {
public:
    virtual ~ContainerLocator() = default;
    // The container's file-system path, or nothing when this process has no container for the group.
    virtual std::optional<std::string> container_path(std::string_view group_id) const = 0;
};

// Runs work off the caller's thread. Items may run at the same time as each other.
class WorkQueue {
public:
    virtual ~WorkQueue() = default;
    virtual void submit(std::function<void()> work) = 0;
};

// Nanoseconds on a monotonic clock. A plain value, copied into every work item, so that an
// exchange never depends on something its caller may have destroyed.
using Clock = std::function<std::uint64_t()>;

// The raw monotonic clock of the system, which no time adjustment can slew; the budget is
// measured on it in the product.
Clock monotonic_clock();

}  // namespace ondrake::safari
