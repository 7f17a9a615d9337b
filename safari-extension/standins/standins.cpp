#include "safari-extension/standins/standins.hpp"

#include <memory>
#include <system_error>
#include <utility>

namespace ondrake::safari {

void RecordingContext::complete_request(Dictionary reply) {
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(reply));
}

std::vector<Dictionary> RecordingContext::replies() const {
    std::lock_guard lock(mutex_);
    return replies_;
}

std::optional<std::string> DirectoryLocator::container_path(std::string_view group_id) const {
    if (group_id != group_id_) return std::nullopt;
    return directory_;
}

void ThreadQueue::submit(std::function<void()> work) {
    auto item = std::make_shared<std::function<void()>>(std::move(work));
    try {
        std::lock_guard lock(mutex_);
        threads_.emplace_back([item] { (*item)(); });
    } catch (const std::system_error&) {
        // No thread to be had: running the item here is slower for the caller, but the request
        // still gets its one reply.
        (*item)();
    }
}

void ThreadQueue::drain() {
    for (;;) {
        std::vector<std::thread> running;
        {
            std::lock_guard lock(mutex_);
            running.swap(threads_);
        }
        if (running.empty()) return;
        for (std::thread& thread : running) thread.join();
    }
}

}  // namespace ondrake::safari
