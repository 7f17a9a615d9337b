#include "tools/doctor/round_trip.hpp"

#include "browser-native-host/messages/protocol.hpp"
#include "tools/doctor/host_process.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace ondrake::doctor {

namespace fs = std::filesystem;
using Clock = HostProcess::Clock;
using protocol::Code;

namespace {

// What launchd gives every application of a user session; a browser passes them on.
constexpr std::string_view SESSION_VARIABLES[] = {
    "HOME", "USER", "LOGNAME", "SHELL", "TMPDIR", "LANG", "__CF_USER_TEXT_ENCODING",
};
constexpr std::string_view SYSTEM_PATH = "PATH=/usr/bin:/bin:/usr/sbin:/sbin";

// The extension the browser starts the host for: ours when the manifest admits it, else the
// first one it admits.
std::optional<std::string> caller(const ManifestFacts& manifest) {
    std::vector<std::string> ours = {registration::chrome_extension_origin()};
    if (registration::is_firefox(manifest.browser)) {
        ours = {std::string(registration::FIREFOX_ADDON_ID), std::string(registration::FIREFOX_DEV_ADDON_ID)};
    }
    for (const std::string& wanted : ours) {
        if (std::find(manifest.admitted.begin(), manifest.admitted.end(), wanted) !=
            manifest.admitted.end()) {
            return wanted;
        }
    }
    if (manifest.admitted.empty()) return std::nullopt;
    return manifest.admitted.front();
}

// What follows the program's name: a Chromium-family browser passes the calling extension's
// origin; Firefox the manifest's path and the calling add-on's id.
std::vector<std::string> browser_arguments(const ManifestFacts& manifest, std::string caller) {
    if (registration::is_firefox(manifest.browser)) return {manifest.path->string(), std::move(caller)};
    return {std::move(caller)};
}

// The errors with which the system refuses the file itself, rather than failing to start it.
bool refuses_the_file(int error) {
    for (int refusal : {EACCES, EPERM, ENOENT, ENOTDIR, EISDIR, ELOOP, ENAMETOOLONG, ENOEXEC}) {
        if (error == refusal) return true;
    }
    return false;
}

// The two messages, with ids of this run: the application may know captures, never this one.
struct Messages {
    std::string request_id;
    std::string browser_leg;
    std::string capture_request_id;
    std::string capture_id;
    std::string application_leg;
};

Messages messages() {
    std::string run = "doctor-" + std::to_string(::getpid()) + "-" +
                      std::to_string(Clock::now().time_since_epoch().count());
    Messages m;
    m.request_id = run + "-1";
    m.browser_leg = R"({"protocolVersion":1,"requestId":")" + m.request_id +
                    R"(","action":"download","source":"context_menu","url":"ftp://example.invalid/doctor"})";
    m.capture_request_id = run + "-2";
    m.capture_id = run;
    m.application_leg = R"({"protocolVersion":4,"requestId":")" + m.capture_request_id +
                        R"(","captureId":")" + m.capture_id +
                        R"(","action":"capture_status","source":"automatic_download"})";
    return m;
}

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// The leg as far as the way the reply came tells; a reply's content is judged by the caller.
LegFacts leg_of(const HostReply& reply, Clock::time_point start, std::chrono::milliseconds limit) {
    LegFacts leg;
    leg.elapsed = since(start);
    leg.limit = limit;
    switch (reply.kind) {
        case HostReply::Kind::Reply: leg.reply = reply.text; break;
        case HostReply::Kind::Ended: leg.result = LegResult::HostEnded; break;
        case HostReply::Kind::TimedOut: leg.result = LegResult::NoReply; break;
        case HostReply::Kind::BadFrame:
            leg.result = LegResult::WrongReply;
            leg.note = reply.text;
            break;
    }
    return leg;
}

void wrong(LegFacts& leg, std::string note) {
    leg.result = LegResult::WrongReply;
    leg.note = std::move(note);
}

LegFacts judge_browser_leg(const HostReply& reply, Clock::time_point start, std::chrono::milliseconds limit,
                           const Messages& sent) {
    LegFacts leg = leg_of(reply, start, limit);
    if (!leg.reply) return leg;
    auto response = protocol::decode_host_response(*leg.reply);
    if (!response) {
        wrong(leg, "not the reply to a download request");
    } else if (response->request_id != sent.request_id) {
        wrong(leg, "the reply is for another message");
    } else if (response->code != Code::UnsupportedScheme) {
        wrong(leg, "the code is " + std::string(protocol::value_name(response->code)) +
                       ", where an ftp: URL is refused with UNSUPPORTED_SCHEME");
    } else {
        leg.result = LegResult::Passed;
    }
    return leg;
}

LegFacts judge_application_leg(const HostReply& reply, Clock::time_point start,
                               std::chrono::milliseconds limit, const Messages& sent) {
    LegFacts leg = leg_of(reply, start, limit);
    if (!leg.reply) return leg;
    auto response = protocol::decode_capture_response(*leg.reply);
    if (!response) {
        wrong(leg, "not the reply to a capture step");
        return leg;
    }
    if (response->request_id != sent.capture_request_id || response->capture_id != sent.capture_id) {
        wrong(leg, "the reply is for another message");
        return leg;
    }
    switch (response->code) {
        case Code::AppUnavailable: leg.result = LegResult::ApplicationUnavailable; break;
        case Code::DeliveryIndeterminate: leg.result = LegResult::ApplicationSilent; break;
        case Code::InvalidMessage:
        case Code::UnsupportedProtocolVersion:
        case Code::InternalError:
            wrong(leg, "the host refused the message itself with " +
                           std::string(protocol::value_name(response->code)));
            break;
        default: leg.result = LegResult::Passed; break;
    }
    return leg;
}

RoundTripFacts round_trip_for(const ManifestFacts& manifest, const RoundTripInputs& inputs) {
    RoundTripFacts facts;
    facts.browser = manifest.browser;
    facts.manifest = manifest.path;
    if (manifest.state != ManifestState::Present) return facts;
    if (!manifest.host_path) {
        facts.start = HostStart::NoHost;
        return facts;
    }
    facts.host = manifest.host_path;
    auto who = caller(manifest);
    if (!who) {
        facts.start = HostStart::NoCaller;
        return facts;
    }
    facts.arguments = browser_arguments(manifest, *who);
    // The browsers refuse a manifest whose path is relative; the system would look for it
    // somewhere else than where they would.
    if (facts.host->empty() || facts.host->front() != '/') {
        facts.start = HostStart::NotExecutable;
        facts.start_error = "the path is not absolute, which the browsers refuse";
        return facts;
    }

    // The browsers start a host in its own directory.
    HostCommand command{*facts.host, facts.arguments, browser_environment(),
                        fs::path(*facts.host).parent_path().string()};
    Messages sent = messages();
    auto started_at = Clock::now();
    auto host = HostProcess::start(command);
    if (!host) {
        facts.start = refuses_the_file(host.error().value()) ? HostStart::NotExecutable : HostStart::Failed;
        facts.start_error = host.error().message();
        return facts;
    }
    facts.start = HostStart::Started;
    HostReply first = host->exchange(sent.browser_leg, started_at + inputs.browser_leg_limit);
    facts.browser_leg = judge_browser_leg(first, started_at, inputs.browser_leg_limit, sent);
    if (facts.browser_leg.result == LegResult::Passed) {
        auto sent_at = Clock::now();
        HostReply second = host->exchange(sent.application_leg, sent_at + inputs.application_leg_limit);
        facts.application_leg = judge_application_leg(second, sent_at, inputs.application_leg_limit, sent);
    }
    facts.exit = host->stop(STOP_GRACE);
    facts.host_errors = host->error_lines();
    facts.host_errors_left_out = host->error_lines_left_out();
    return facts;
}

}  // namespace

std::vector<std::string> browser_environment() {
    std::vector<std::string> environment;
    for (std::string_view name : SESSION_VARIABLES) {
        std::string variable(name);
        if (const char* value = std::getenv(variable.c_str())) environment.push_back(variable + "=" + value);
    }
    environment.emplace_back(SYSTEM_PATH);
    return environment;
}

std::vector<RoundTripFacts> round_trip(const std::vector<ManifestFacts>& manifests,
                                       const RoundTripInputs& inputs) {
    std::vector<RoundTripFacts> trips;
    for (const ManifestFacts& manifest : manifests) {
        bool chosen = inputs.browser ? manifest.browser == *inputs.browser
                                     : manifest.state == ManifestState::Present && !manifest.shares_with;
        if (chosen) trips.push_back(round_trip_for(manifest, inputs));
    }
    return trips;
}

}  // namespace ondrake::doctor
