#include "browser-native-host/bin/verbs.hpp"

#include "browser-native-host/registration_macos.hpp"

#include <array>

namespace ondrake::verbs {

namespace {

int register_production(Diagnostics& out) { return registration_macos::run_register(false, out); }
int register_development(Diagnostics& out) { return registration_macos::run_register(true, out); }
int unregister(Diagnostics& out) { return registration_macos::run_unregister(out); }

struct Verb {
    std::string_view text;
    Operation operation;
};

constexpr std::array<Verb, 3> VERB_TABLE = {{
    {"register", register_production},
    {"register-development", register_development},
    {"unregister", unregister},
}};

}  // namespace

std::optional<Operation> find_verb(std::string_view argument) {
    for (const Verb& verb : VERB_TABLE) {
        if (verb.text == argument) return verb.operation;
    }
    return std::nullopt;
}

}  // namespace ondrake::verbs
