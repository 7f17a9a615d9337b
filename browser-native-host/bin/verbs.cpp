#include "browser-native-host/bin/verbs.hpp"

#include "browser-native-host/installation/registration_macos.hpp"

#include <array>

namespace ondrake::verbs {

namespace {

int register_production(Diagnostics& out) { return registration_macos::run_register(false, out); }
int register_development(Diagnostics& out) { return registration_macos::run_register(true, out); }
int unregister(Diagnostics& out) { return registration_macos::run_unregister(out); }

// A verb ends with its report and its status whatever happens, running out of memory included:
// an exception leaving main() would abort the process half-way through the report, with no word
// of what was left undone.
template <Operation operation>
int reporting_every_failure(Diagnostics& out) {
    try {
        return operation(out);
    } catch (...) {
        out.line("the registration ended on an internal error");
        return 1;
    }
}

// Every verb changes files below HOME, so none runs on a HOME that is not the effective user's.
template <Operation operation, const std::string_view& verb>
int on_own_home(Diagnostics& out) {
    if (auto refusal = registration_macos::foreign_home_refusal(verb)) {
        out.line(*refusal);
        return 1;
    }
    return operation(out);
}

constexpr std::string_view REGISTER = "register";
constexpr std::string_view REGISTER_DEVELOPMENT = "register-development";
constexpr std::string_view UNREGISTER = "unregister";

struct Verb {
    std::string_view text;
    Operation operation;
};

constexpr std::array<Verb, 3> VERB_TABLE = {{
    {REGISTER, reporting_every_failure<on_own_home<register_production, REGISTER>>},
    {REGISTER_DEVELOPMENT, reporting_every_failure<on_own_home<register_development, REGISTER_DEVELOPMENT>>},
    {UNREGISTER, reporting_every_failure<on_own_home<unregister, UNREGISTER>>},
}};

}  // namespace

std::optional<Operation> find_verb(std::string_view argument) {
    for (const Verb& verb : VERB_TABLE) {
        if (verb.text == argument) return verb.operation;
    }
    return std::nullopt;
}

}  // namespace ondrake::verbs
