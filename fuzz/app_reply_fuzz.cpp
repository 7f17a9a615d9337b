// The strict decoders of the messages on the application socket and of the host's replies, over
// arbitrary bodies. Whatever a decoder accepts must survive a round trip through its encoder:
// decode(encode(decode(x))) == decode(x). A decoder that accepts a value its encoder cannot
// write, or an encoder that writes something its decoder reads differently, breaks it.
#include "browser-native-host/messages/protocol.hpp"
#include "fuzz/invariant.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace ondrake;
using fuzz::require;

template <class Message>
std::string encoded(const Message& message) {
    std::string out;
    bool written;
    if constexpr (requires { ipc::encode(message, out); }) {
        written = ipc::encode(message, out);
    } else {
        written = protocol::encode(message, out);
    }
    require(written, "a decoded message encodes");
    return out;
}

template <class Message>
void round_trip(std::string_view body, std::optional<Message> (*decode)(std::string_view)) {
    std::optional<Message> first = decode(body);
    if (!first) return;
    std::string again = encoded(*first);
    require(decode(again) == first, "decode(encode(decode(x))) == decode(x)", again);
    // The encoder's output is canonical: encoding what it decodes to changes nothing.
    require(encoded(*decode(again)) == again, "the compact encoding is a fixed point", again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    round_trip(body, &ipc::decode_ipc_response);
    round_trip(body, &ipc::decode_ipc_capture_response);
    round_trip(body, &protocol::decode_ipc_request);
    round_trip(body, &protocol::decode_ipc_capture_request);
    round_trip(body, &protocol::decode_host_response);
    round_trip(body, &protocol::decode_capture_response);
    return 0;
}
