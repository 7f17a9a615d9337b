// Our own implementations of what Foundation, SafariServices and Dispatch provide to the handler
// on Apple platforms, so that the handler's request path runs in tests and in safari-relay on
// any POSIX system.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "safari-extension/environment.hpp"
#include "safari-extension/message.hpp"

namespace ondrake::safari {

// A request whose message is given up front and whose replies are kept for inspection. It keeps
// every reply, not only the first, so that a request answered twice shows up.
class RecordingContext final : public ExtensionContext {
public:
    // A request without a message.
    RecordingContext() = default;
    explicit RecordingContext(Value message) : message_(std::in_place, std::move(message)) {}

    std::optional<Value> input_message() const override { return message_; }
    void complete_request(Dictionary reply) override;

    // Every reply so far, in the order they came.
    std::vector<Dictionary> replies() const;

private:
    std::optional<Value> message_;
    mutable std::mutex mutex_;
    std::vector<Dictionary> replies_;
};

// One directory that serves as the shared container of one application group. Any other group,
// or a locator made without a directory, has no container, as for an extension whose entitlements
// do not name the group.
class DirectoryLocator final : public ContainerLocator {
public:
    DirectoryLocator(std::string group_id, std::optional<std::string> directory)
        : group_id_(std::move(group_id)), directory_(std::move(directory)) {}

    std::optional<std::string> container_path(std::string_view group_id) const override;

private:
    std::string group_id_;
    std::optional<std::string> directory_;
};

// A concurrent queue: every item starts at once on a thread of its own, as on a global dispatch
// queue, so that one slow exchange never holds up another. The owner drains it before it goes
// away, so no item outlives what it uses.
class ThreadQueue final : public WorkQueue {
public:
    ThreadQueue() = default;
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;
    ~ThreadQueue() override { drain(); }

    void submit(std::function<void()> work) override;

    // Returns once every item submitted so far, and every item those submitted, has finished.
    void drain();

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

}  // namespace ondrake::safari
