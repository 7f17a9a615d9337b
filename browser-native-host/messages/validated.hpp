// What the checks hand to delivery: a message as it was accepted, ready for the application.
// Only classification makes them; delivery sends them as they are.
#pragma once

#include <string>

#include "browser-native-host/messages/protocol.hpp"

namespace ondrake::classification {

// A simple request as it was accepted, its URL sanitised.
struct ValidatedRequest {
    std::string request_id;
    std::string url;

    bool operator==(const ValidatedRequest&) const = default;
};

// One capture step as it was accepted: the message for the application, built once while the
// request was decoded and checked (its url sanitised, its browser text set), sent as it is.
struct ValidatedCapture {
    protocol::IpcCaptureRequest message;

    bool operator==(const ValidatedCapture&) const = default;
};

}  // namespace ondrake::classification
