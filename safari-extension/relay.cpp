#include "safari-extension/relay.hpp"

#include <type_traits>
#include <utility>

#include "platform/utf8.hpp"

namespace ondrake::safari {
namespace {

template <class... Cases>
struct Overloaded : Cases... {
    using Cases::operator()...;
};
template <class... Cases>
Overloaded(Cases...) -> Overloaded<Cases...>;

Dictionary payload_reply(std::string body) {
    Dictionary reply;
    reply.set("payload", Value(std::move(body)));
    return reply;
}

}  // namespace

std::string_view status_text(Status status) {
    switch (status) {
        case Status::Unknown: return "unknown";
        case Status::Indeterminate: return "indeterminate";
    }
    return "indeterminate";
}

Dictionary Correlation::envelope(Status status, Code code) const {
    Dictionary reply;
    reply.set("status", Value(std::string(status_text(status))));
    reply.set("code", Value(std::string(code_text(code))));
    if (requestId) reply.set("requestId", Value(*requestId));
    if (captureId) reply.set("captureId", Value(*captureId));
    return reply;
}

Dictionary reply_for(const Exchange& outcome, const Correlation& correlation) {
    return std::visit(Overloaded{
                          [&](const Replied& replied) {
                              // The script receives the body as a string, which has to be well-formed text;
                              // anything else is the application's fault, not a delivery problem.
                              if (!platform::is_valid_utf8(replied.body)) {
                                  return correlation.envelope(Status::Indeterminate, Code::InternalError);
                              }
                              return payload_reply(replied.body);
                          },
                          [&](const Unavailable& unavailable) {
                              return correlation.envelope(Status::Unknown, unavailable.code);
                          },
                          [&](const Indeterminate& indeterminate) {
                              return correlation.envelope(Status::Indeterminate, indeterminate.code);
                          },
                      },
                      outcome);
}

std::string append_path_component(std::string_view directory, std::string_view component) {
    std::string path(directory);
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path.append(component);
    return path;
}

void begin_request(const std::shared_ptr<ExtensionContext>& context, const RelayServices& services) {
    const std::optional<Value> message = context->input_message();
    const Dictionary* fields = message ? message->as_dictionary() : nullptr;
    if (fields == nullptr) {
        context->complete_request(Correlation{}.envelope(Status::Unknown, Code::InvalidMessage));
        return;
    }

    Correlation correlation{string_entry(*fields, "requestId"), string_entry(*fields, "captureId")};

    std::optional<std::string> payload = string_entry(*fields, "payload");
    if (!payload || payload->empty()) {
        context->complete_request(correlation.envelope(Status::Unknown, Code::InvalidMessage));
        return;
    }

    const std::optional<std::string> container = services.containers.container_path(APP_GROUP_ID);
    if (!container) {
        context->complete_request(correlation.envelope(Status::Unknown, Code::AppUnavailable));
        return;
    }
    std::string socket_path = append_path_component(*container, SOCKET_SUBPATH);

    services.queue.submit([context, payload = std::move(*payload), socket_path = std::move(socket_path),
                           correlation = std::move(correlation), clock = services.clock,
                           budget = services.budget] {
        const Exchange outcome = exchange(socket_path, payload, clock, budget);
        context->complete_request(reply_for(outcome, correlation));
    });
}

}  // namespace ondrake::safari
