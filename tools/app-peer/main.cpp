// app-peer: plays the desktop application on its socket, for tests, the demo and anyone building
// the real application. It listens, reads one request frame per connection, logs what it received
// as one JSON line, and answers as its policy says.

#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/link/ipc.hpp"
#include "browser-native-host/messages/protocol.hpp"
#include "platform/platform.hpp"
#include "tools/app-peer/policy.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/json.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <list>
#include <string>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <variant>
#include <vector>

namespace {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using asio::local::stream_protocol;
using namespace ondrake;
using app_peer::Behaviour;
using app_peer::Policy;

constexpr const char* USAGE = R"(usage: app-peer --socket PATH [--socket PATH] [options]

Plays the desktop application on Unix-domain stream sockets: reads one request frame per
connection (4-byte little-endian length, then JSON), decodes it strictly as an IpcRequest or an
IpcCaptureRequest, logs it, answers as the policy says, and closes the connection.

options:
  --socket PATH        listen on PATH (repeatable: a second path plays the Safari handler's
                       socket); missing parent directories are created, a stale socket (one
                       nobody accepts connections on) removed. When a live peer listens on
                       PATH, app-peer says so and exits with status 1.
  --policy POLICY      how to answer (default: accept), one of:
      accept               simple requests: ACCEPTED. Captures, per action:
                             capture_prepare            prepared / CAPTURE_PREPARED
                             capture_commit             committed / ACCEPTED
                             capture_abort              aborted / CAPTURE_ABORTED
                             capture_status             the captureId's known state / ACCEPTED,
                                                        or unknown / CAPTURE_UNKNOWN if never seen
                             capture_revoke_credentials the known state (or unknown) / ACCEPTED
                             capture_preflight          unknown / ACCEPTED
                           A body that is neither request gets INVALID_MESSAGE.
      code:CODE[/STATUS]   always CODE (e.g. APP_REJECTED); captures get STATUS (default unknown)
      silent               read the request, never answer, keep the connection open
      no-read              accept connections and never read from them
      close-before-read    close every connection as soon as it is accepted
      close-mid-reply      send the length and half of the reply body, then close
      wrong-request-id     answer for another requestId (the real one + "-other")
      wrong-capture-id     answer for another captureId (captures only)
      length:N             put the length field N in front of the reply (e.g. 0 or 65537)
      extra-key            add a key that no reply may carry
  --delay MS           wait MS milliseconds before every answer
  --listen-delay MS    start listening only MS milliseconds after start-up
  --log FILE           append one JSON line per connection to FILE (default: standard output):
                       {"socket":PATH,"policy":NAME,"kind":KIND,"received":BODY,"reply":BODY}
                       KIND is IpcRequest, IpcCaptureRequest, invalid (BODY as a string),
                       frame_error (with "error"), or not_read; BODY is the JSON as sent, or null
  --ready-file FILE    once every socket listens, write their paths to FILE (one per line)
  --help               this text

Once listening it prints "app-peer: listening on PATH" for every socket on standard output.
SIGTERM and SIGINT end it cleanly (exit 0) and remove the socket files it created, unless
another peer has replaced them meanwhile.

The messages, the replies an application may send and how the host judges them, its time limits
and its launch-and-retry schedule: docs/protocol.md, "Host and application".
)";

struct Options {
    std::vector<std::string> sockets;
    Policy policy;
    std::chrono::milliseconds listen_delay{0};
    std::string log_path;
    std::string ready_file;
};

struct Usage {
    std::string error;  // empty: --help was asked for
};

std::optional<std::chrono::milliseconds> parse_milliseconds(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return std::chrono::milliseconds(value);
}

std::variant<Options, Usage> parse_arguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view flag = argv[i];
        if (flag == "--help") return Usage{};
        constexpr std::string_view TAKING_VALUES[] = {"--socket",       "--policy", "--delay",
                                                      "--listen-delay", "--log",    "--ready-file"};
        if (std::find(std::begin(TAKING_VALUES), std::end(TAKING_VALUES), flag) == std::end(TAKING_VALUES)) {
            return Usage{"unknown option " + std::string(flag)};
        }
        if (i + 1 >= argc) return Usage{"missing value after " + std::string(flag)};
        std::string_view value = argv[++i];
        if (flag == "--socket") {
            options.sockets.emplace_back(value);
        } else if (flag == "--policy") {
            auto policy = app_peer::parse_policy(value);
            if (!policy) return Usage{"unknown policy " + std::string(value)};
            policy->delay = options.policy.delay;
            options.policy = *policy;
        } else if (flag == "--delay" || flag == "--listen-delay") {
            auto ms = parse_milliseconds(value);
            if (!ms) return Usage{"not a number of milliseconds: " + std::string(value)};
            (flag == "--delay" ? options.policy.delay : options.listen_delay) = *ms;
        } else if (flag == "--log") {
            options.log_path = value;
        } else {
            options.ready_file = value;
        }
    }
    if (options.sockets.empty()) return Usage{"at least one --socket is needed"};
    return options;
}

// JSON text as a value when it parses, as a string otherwise.
boost::json::value as_json(std::string_view text) {
    boost::system::error_code error;
    boost::json::value parsed = boost::json::parse(text, error);
    if (error) return boost::json::string(text);
    return parsed;
}

class Peer {
public:
    Peer(asio::io_context& context, Options options, std::FILE* log)
        : context_(context), options_(std::move(options)), log_(log) {}

    asio::awaitable<void> run() {
        if (options_.listen_delay.count() > 0) {
            asio::steady_timer timer(context_, options_.listen_delay);
            co_await timer.async_wait(asio::use_awaitable);
        }
        for (const auto& path : options_.sockets) {
            if (!listen_on(path)) {
                exit_status_ = 1;
                shut_down();
                co_return;
            }
        }
        announce_ready();
        auto acceptor = acceptors_.begin();
        for (const auto& path : options_.sockets) {
            asio::co_spawn(context_, accept_loop(*acceptor++, path), asio::detached);
        }
    }

    // Closes the listeners, removes their socket files and stops the loop.
    void shut_down() {
        for (auto& acceptor : acceptors_) {
            boost::system::error_code ignored;
            acceptor.close(ignored);
        }
        // Only the sockets that are still ours: another peer may have replaced one.
        for (const auto& socket : created_) {
            if (!socket.identity || identity_of(socket.path) != socket.identity) continue;
            std::error_code ignored;
            fs::remove(socket.path, ignored);
        }
        context_.stop();
    }

    int exit_status() const { return exit_status_; }

private:
    bool listen_on(const std::string& path) {
        std::error_code fs_error;
        fs::create_directories(fs::path(path).parent_path(), fs_error);
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) {
            if (!S_ISSOCK(info.st_mode)) {
                std::fprintf(stderr, "app-peer: %s exists and is not a socket\n", path.c_str());
                return false;
            }
            if (!remove_stale_socket(path, info)) return false;
        }
        stream_protocol::acceptor acceptor(context_);
        boost::system::error_code error;
        acceptor.open(stream_protocol(), error);
        if (!error) acceptor.bind(stream_protocol::endpoint(path), error);
        if (!error) created_.push_back(Created{path, identity_of(path)});
        if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
        if (error) {
            std::fprintf(stderr, "app-peer: cannot listen on %s: %s\n", path.c_str(),
                         error.message().c_str());
            return false;
        }
        acceptors_.push_back(std::move(acceptor));
        return true;
    }

    // Removes the socket at `path` (described by `info`) when nobody accepts connections on it.
    // A live peer's socket stays: taking it over would leave that peer running and unreachable.
    static bool remove_stale_socket(const std::string& path, const struct stat& info) {
        int probe = platform::open_unix_stream_socket(true);
        if (probe < 0) {
            std::fprintf(stderr, "app-peer: cannot make a socket: %s\n", std::strerror(errno));
            return false;
        }
        stream_protocol::endpoint address(path);
        int connected = ::connect(probe, address.data(), static_cast<socklen_t>(address.size()));
        int error = connected == 0 ? 0 : errno;
        ::close(probe);
        if (error == ENOENT) return true;  // gone meanwhile
        if (error != ECONNREFUSED) {
            // Connected, or still connecting (Linux's EAGAIN: a listener with a full backlog):
            // somebody listens there.
            bool live = error == 0 || error == EINPROGRESS || error == EAGAIN;
            std::fprintf(stderr, "app-peer: %s: %s\n", path.c_str(),
                         live ? "another peer is listening there" : std::strerror(error));
            return false;
        }
        // Only the stale socket probed, not one another peer bound there since.
        if (identity_of(path) != Identity{info.st_dev, info.st_ino}) return true;
        std::error_code ignored;
        fs::remove(path, ignored);
        return true;
    }

    // What tells one file at a path from another that replaced it.
    using Identity = std::pair<dev_t, ino_t>;
    static std::optional<Identity> identity_of(const std::string& path) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
        return Identity{info.st_dev, info.st_ino};
    }

    void announce_ready() {
        std::string listing;
        for (const auto& path : options_.sockets) {
            std::printf("app-peer: listening on %s\n", path.c_str());
            listing += path + "\n";
        }
        std::fflush(stdout);
        if (options_.ready_file.empty()) return;
        // Written whole under another name first, so that a waiting test never reads half of it.
        std::string temporary = options_.ready_file + ".tmp";
        if (std::FILE* out = std::fopen(temporary.c_str(), "w")) {
            std::fputs(listing.c_str(), out);
            std::fclose(out);
            std::rename(temporary.c_str(), options_.ready_file.c_str());
        }
    }

    asio::awaitable<void> accept_loop(stream_protocol::acceptor& acceptor, std::string path) {
        for (;;) {
            auto [error, socket] = co_await acceptor.async_accept(asio::as_tuple(asio::use_awaitable));
            if (error == asio::error::operation_aborted || !acceptor.is_open()) co_return;
            if (error) continue;
            asio::co_spawn(context_, serve(std::move(socket), path), asio::detached);
        }
    }

    asio::awaitable<void> serve(stream_protocol::socket socket, std::string path) {
        const Policy& policy = options_.policy;
        if (policy.behaviour == Behaviour::CloseBeforeRead || policy.behaviour == Behaviour::NoRead) {
            log(path, "not_read", nullptr, nullptr);
            if (policy.behaviour == Behaviour::NoRead) co_await hold_until_closed(socket, false);
            co_return;
        }

        ipc::Connection connection(std::move(socket));
        auto frame = co_await ipc::read_frame(connection);
        if (!frame) {
            log(path, "frame_error", nullptr, nullptr, framing::display_text(frame.error()));
            co_return;
        }
        const std::string& body = *frame;

        std::optional<std::string> reply;
        std::string kind;
        if (auto request = protocol::decode_ipc_request(body)) {
            kind = "IpcRequest";
            reply = app_peer::reply_to_request(policy, *request);
        } else if (auto capture = protocol::decode_ipc_capture_request(body)) {
            kind = "IpcCaptureRequest";
            reply = app_peer::reply_to_capture(policy, *capture, capture_book_);
        } else {
            kind = "invalid";
            if (policy.behaviour != Behaviour::Silent) reply = app_peer::reply_to_invalid(body);
        }
        boost::json::value received =
            kind == "invalid" ? boost::json::value(boost::json::string(body)) : as_json(body);
        log(path, kind, std::move(received), reply ? as_json(*reply) : nullptr);

        if (policy.delay.count() > 0) {
            asio::steady_timer timer(context_, policy.delay);
            co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
        }
        if (!reply) {
            // When the io_context cannot take the socket, the connection closes at once instead.
            if (auto held = connection.socket()) co_await hold_until_closed(**held, true);
            co_return;
        }
        co_await send(connection, *reply);
    }

    // Sends the reply as the policy shapes the frame; the connection closes afterwards.
    asio::awaitable<void> send(ipc::Connection& connection, const std::string& reply) {
        const Policy& policy = options_.policy;
        if (policy.behaviour == Behaviour::CloseMidReply || policy.behaviour == Behaviour::BadLength) {
            std::uint32_t length = policy.behaviour == Behaviour::BadLength
                                       ? policy.declared_length
                                       : static_cast<std::uint32_t>(reply.size());
            std::string bytes;
            auto prefix = framing::encode_length(length);
            bytes.append(prefix.data(), prefix.size());
            bytes.append(policy.behaviour == Behaviour::CloseMidReply ? reply.substr(0, reply.size() / 2)
                                                                      : reply);
            if (auto socket = connection.socket()) {
                co_await asio::async_write(**socket, asio::buffer(bytes),
                                           asio::as_tuple(asio::use_awaitable));
            }
            co_return;
        }
        (void)co_await ipc::write_frame(connection, reply);  // a host that has gone needs no answer
    }

    // Keeps a connection open until the host closes it. A peer that does not read (`reading`
    // false) only waits for the hang-up.
    asio::awaitable<void> hold_until_closed(stream_protocol::socket& socket, bool reading) {
        if (!reading) {
            co_await socket.async_wait(stream_protocol::socket::wait_error,
                                       asio::as_tuple(asio::use_awaitable));
            co_return;
        }
        char sink[512];
        for (;;) {
            auto [error, n] =
                co_await socket.async_read_some(asio::buffer(sink), asio::as_tuple(asio::use_awaitable));
            if (error) co_return;
        }
    }

    void log(const std::string& path, std::string_view kind, boost::json::value received,
             boost::json::value reply, std::string_view error = {}) {
        boost::json::object line;
        line["socket"] = path;
        line["policy"] = app_peer::policy_name(options_.policy);
        line["kind"] = kind;
        line["received"] = std::move(received);
        line["reply"] = std::move(reply);
        if (!error.empty()) line["error"] = error;
        std::string text = boost::json::serialize(line) + "\n";
        std::fputs(text.c_str(), log_);
        std::fflush(log_);
    }

    asio::io_context& context_;
    Options options_;
    std::FILE* log_;
    struct Created {
        std::string path;
        std::optional<Identity> identity;  // the socket file as bind made it
    };

    std::list<stream_protocol::acceptor> acceptors_;
    std::vector<Created> created_;
    app_peer::CaptureBook capture_book_;
    int exit_status_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    auto parsed = parse_arguments(argc, argv);
    if (auto* usage = std::get_if<Usage>(&parsed)) {
        if (usage->error.empty()) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        std::fprintf(stderr, "app-peer: %s (see --help)\n", usage->error.c_str());
        return 2;
    }
    Options options = std::get<Options>(std::move(parsed));

    // A host that hangs up mid-reply must cost a write error, not the process.
    std::signal(SIGPIPE, SIG_IGN);

    std::FILE* log = stdout;
    if (!options.log_path.empty()) {
        log = std::fopen(options.log_path.c_str(), "a");
        if (log == nullptr) {
            std::fprintf(stderr, "app-peer: cannot open %s\n", options.log_path.c_str());
            return 1;
        }
    }

    asio::io_context context;
    Peer peer(context, std::move(options), log);
    asio::signal_set signals(context, SIGTERM, SIGINT);
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (!error) peer.shut_down();
    });
    asio::co_spawn(context, peer.run(), asio::detached);
    context.run();
    if (log != stdout) std::fclose(log);
    return peer.exit_status();
}
