// Looks at one user's set-up with the host library's own lookups (manifest directories, the
// manifest text, the installation, the record, the socket path), so that the doctor and the host
// always agree about where things are. Examining writes nothing, starts nothing and sends nothing
// to the application: the socket is connected to and closed at once.
#pragma once

#include "browser-native-host/link/delivery.hpp"
#include "tools/doctor/report.hpp"
#include "tools/doctor/round_trip.hpp"

#include <chrono>
#include <filesystem>
#include <optional>

namespace ondrake::doctor {

struct ExamineInputs {
    // The host given on the command line; none: the one beside the doctor.
    std::optional<std::filesystem::path> host_option;
    // Where the doctor itself runs from, as the system reports it (none: it could not tell).
    std::optional<std::filesystem::path> doctor_executable;
    // How long a listener may take to accept the probing connection: as long as the host waits.
    std::chrono::milliseconds connect_limit = delivery::CONNECT_TIMEOUT;
    // The round trip, when asked for: the one part that starts processes, the host's and through
    // it perhaps the application's.
    std::optional<RoundTripInputs> round_trip;
};

// Gathers the facts and the problems they show. HOME and ONDRAKE_DOWNLOAD_EXE are read from the
// environment, as the host reads them. The round trip runs before the socket is looked at, so
// that the socket's facts are those the round trip left: an application it had started listens.
Report examine(const ExamineInputs& inputs);

// The problems that a report's facts show, in the order of the report's sections; for one
// manifest a more specific problem stands in for "differs from what register writes".
std::vector<Finding> diagnose(const Report& report);

}  // namespace ondrake::doctor
