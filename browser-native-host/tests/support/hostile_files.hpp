// Hostile things put where our programs read or write a file, for the fault-injection tests: what
// a corrupted disk, an unlucky user or an attacker with write access to HOME may leave there. The
// thing is planted by a shell that then replaces itself with the program under test, so that a
// path holding the program's process id (the temporary file of an atomic write) can be planted
// before the program runs.
#pragma once

#include "browser-native-host/tests/support/program_run.hpp"

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ondrake::test {

enum class Planted {
    SparseHuge,    // claims 1 TiB and occupies no disk space
    Fifo,          // opening it for reading or writing blocks until a peer opens the other end
    Directory,     // with a file inside, so that it cannot simply be removed
    HardLink,      // to the victim, a file outside HOME
    SymbolicLink,  // to the victim
};

inline constexpr std::array ALL_PLANTED = {Planted::SparseHuge, Planted::Fifo, Planted::Directory,
                                           Planted::HardLink, Planted::SymbolicLink};

inline std::string_view name(Planted kind) {
    switch (kind) {
        case Planted::SparseHuge: return "sparse_huge";
        case Planted::Fifo: return "fifo";
        case Planted::Directory: return "directory";
        case Planted::HardLink: return "hard_link";
        case Planted::SymbolicLink: return "symbolic_link";
    }
    return "?";
}

// What the victim holds; it must hold exactly this after every run.
inline constexpr std::string_view VICTIM_CONTENT = "precious, outside HOME";

// Where the program's process id goes in a planted path.
inline constexpr std::string_view PID_PLACEHOLDER = "@PID@";

namespace detail {

inline std::string_view plant_command(Planted kind) {
    switch (kind) {
        case Planted::SparseHuge: return "truncate -s 1T \"$p\"";
        case Planted::Fifo: return "mkfifo \"$p\"";
        case Planted::Directory: return "mkdir \"$p\" && : > \"$p/inside\"";
        case Planted::HardLink: return "ln \"$v\" \"$p\"";
        case Planted::SymbolicLink: return "ln -s \"$v\" \"$p\"";
    }
    return "false";
}

}  // namespace detail

// Runs `program` with `options` after replacing whatever is at `at` (its PID_PLACEHOLDER standing
// for the program's process id) by `kind`, its missing parents created; links point at `victim`.
// A program that blocks is killed at options.limit, which fails the test.
inline ProgramRun run_with_planted(Planted kind, const std::filesystem::path& at,
                                   const std::filesystem::path& victim, const std::string& program,
                                   ProgramOptions options) {
    // exec keeps the shell's process id, so $$ is the program's.
    std::string script = "set -e; p=\"${1//" + std::string(PID_PLACEHOLDER) +
                         "/$$}\"; v=\"$2\"; rm -rf \"$p\"; mkdir -p \"$(dirname \"$p\")\"; " +
                         std::string(detail::plant_command(kind)) + "; shift 2; exec \"$@\"";
    std::vector<std::string> arguments = {"-c", script, "bash", at.string(), victim.string(), program};
    arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
    options.arguments = std::move(arguments);
    return run_program("/bin/bash", options);
}

}  // namespace ondrake::test
