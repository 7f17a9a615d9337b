// ondrake-doctor: tells a user, or support, why a browser cannot reach Ondrake Download.
#include "tools/doctor/examine.hpp"
#include "tools/doctor/options.hpp"
#include "tools/doctor/printable.hpp"
#include "tools/doctor/render.hpp"
#include "tools/doctor/support_facts.hpp"

#include "browser-native-host/installation/registration_macos.hpp"

#include "platform/platform.hpp"

#include <csignal>
#include <exception>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using namespace ondrake::doctor;
using ondrake::platform::write_all;

// Writes the report for support as registration writes its files: into a new file beside it,
// renamed over whatever is at the path, so that a link planted there is replaced rather than
// followed, and a FIFO never blocks the write.
bool write_report(const std::filesystem::path& file, const Report& report,
                  const std::optional<std::filesystem::path>& doctor) {
    std::error_code error;
    std::filesystem::path destination = std::filesystem::absolute(file, error);
    std::string text = render_support_report(report, gather_support_facts(report, doctor));
    if (error || !ondrake::registration_macos::write_atomically(destination, text)) {
        (void)write_all(STDERR_FILENO,
                        "ondrake-doctor: could not write the report to " + printable(file.native()) + "\n");
        return false;
    }
    (void)write_all(STDERR_FILENO, "ondrake-doctor: wrote the report for support to " +
                                       printable(destination.native()) + "\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    ParsedArguments parsed = parse_arguments(arguments);
    if (std::holds_alternative<ShowHelp>(parsed)) {
        (void)write_all(STDOUT_FILENO, usage());
        return EXIT_HEALTHY;
    }
    if (auto* error = std::get_if<UsageError>(&parsed)) {
        (void)write_all(STDERR_FILENO, "ondrake-doctor: " + error->message + "\n" +
                                           "ondrake-doctor: run ondrake-doctor --help for usage\n");
        return EXIT_USAGE;
    }
    const Options& options = std::get<Options>(parsed);

    ExamineInputs inputs;
    inputs.host_option = options.host;
    std::optional<std::filesystem::path> doctor;
    if (auto self = ondrake::platform::running_executable_path()) doctor = *self;
    if (options.round_trip) {
        inputs.round_trip = RoundTripInputs{};
        inputs.round_trip->browser = options.round_trip_browser;
        // A host that goes away while we write to it must fail the write, not end the doctor.
        std::signal(SIGPIPE, SIG_IGN);
    }
    inputs.doctor_executable = doctor;

    // Whatever the files under examination hold, the doctor ends with a word and its documented
    // status; an exception leaving main() would abort it with nothing said.
    try {
        Report report = examine(inputs);
        (void)write_all(STDOUT_FILENO, options.json ? render_json(report) : render_text(report));
        if (options.report_file && !write_report(*options.report_file, report, doctor)) return EXIT_FAILED;
        return report.healthy() ? EXIT_HEALTHY : EXIT_PROBLEMS;
    } catch (const std::exception& failure) {
        (void)write_all(STDERR_FILENO,
                        std::string("ondrake-doctor: the examination failed: ") + failure.what() + "\n");
    } catch (...) {
        (void)write_all(STDERR_FILENO, "ondrake-doctor: the examination failed\n");
    }
    return EXIT_FAILED;
}
