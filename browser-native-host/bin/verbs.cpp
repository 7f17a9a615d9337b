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

struct Verb {
    std::string_view text;
    Operation operation;
};

constexpr std::array<Verb, 3> VERB_TABLE = {{
    {"register", reporting_every_failure<register_production>},
    {"register-development", reporting_every_failure<register_development>},
    {"unregister", reporting_every_failure<unregister>},
}};

}  // namespace

std::optional<Operation> find_verb(std::string_view argument) {
    for (const Verb& verb : VERB_TABLE) {
        if (verb.text == argument) return verb.operation;
    }
    return std::nullopt;
}

}  // namespace ondrake::verbs
