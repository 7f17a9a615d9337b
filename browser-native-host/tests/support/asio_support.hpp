// Running coroutines to completion in tests, and small socket helpers for scripted peers.
#pragma once

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>

#include <chrono>
#include <exception>
#include <optional>
#include <string>

namespace ondrake::test {

// Runs `op`, and whatever else is queued on `context`, until `op` completes or `limit` passes.
// An exception inside the coroutine is rethrown here, so that the test fails visibly.
template <class T>
std::optional<T> run(boost::asio::io_context& context, boost::asio::awaitable<T> op,
                     std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    std::optional<T> result;
    if (context.stopped()) context.restart();
    boost::asio::co_spawn(
        context, [&]() -> boost::asio::awaitable<void> { result.emplace(co_await std::move(op)); },
        [](std::exception_ptr failure) {
            if (failure) std::rethrow_exception(failure);
        });
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!result && std::chrono::steady_clock::now() < deadline) {
        if (context.run_one_until(deadline) == 0) break;
    }
    return result;
}

// A listening Unix socket at `path`, accepted from by the test itself.
inline boost::asio::local::stream_protocol::acceptor listen_at(boost::asio::io_context& context,
                                                               const std::string& path, int backlog = 16) {
    boost::asio::local::stream_protocol::acceptor acceptor(context);
    acceptor.open();
    acceptor.bind(boost::asio::local::stream_protocol::endpoint(path));
    acceptor.listen(backlog);
    return acceptor;
}

}  // namespace ondrake::test
