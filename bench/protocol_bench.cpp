// Decoding and encoding speed of the protocol's messages. Our strict typed decoding is set
// against Boost.JSON's own parse of the same bytes into a DOM, measured in the same run; the
// ratio lines at the end are the figures to watch (goal: at most 1.0).
#include <benchmark/benchmark.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <string>

#include "bench/ratio_reporter.hpp"
#include "browser-native-host/tests/support/sample_messages.hpp"
#include "browser-native-host/messages/protocol.hpp"

namespace {

using namespace ondrake::protocol;

using ondrake::samples::TYPICAL_CAPTURE;
using ondrake::samples::TYPICAL_SIMPLE;

void decode_capture(benchmark::State& state) {
    for (auto _ : state) {
        auto request = decode_capture_request(TYPICAL_CAPTURE);
        benchmark::DoNotOptimize(request);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(TYPICAL_CAPTURE.size()));
}

void dom_parse_capture(benchmark::State& state) {
    for (auto _ : state) {
        boost::json::error_code ec;
        auto value = boost::json::parse(TYPICAL_CAPTURE, ec);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(TYPICAL_CAPTURE.size()));
}

void decode_simple(benchmark::State& state) {
    for (auto _ : state) {
        auto request = decode_host_request(TYPICAL_SIMPLE);
        benchmark::DoNotOptimize(request);
    }
}

void dom_parse_simple(benchmark::State& state) {
    for (auto _ : state) {
        boost::json::error_code ec;
        auto value = boost::json::parse(TYPICAL_SIMPLE, ec);
        benchmark::DoNotOptimize(value);
    }
}

void decode_envelope_of_capture(benchmark::State& state) {
    for (auto _ : state) {
        auto envelope = decode_envelope(TYPICAL_CAPTURE);
        benchmark::DoNotOptimize(envelope);
    }
}

void encode_host_response(benchmark::State& state) {
    HostResponse response = make_host_response("req-3f1c9a7e", Code::Accepted);
    for (auto _ : state) {
        std::string out = to_json(response);
        benchmark::DoNotOptimize(out);
    }
}

IpcCaptureRequest typical_ipc_capture_request() {
    auto decoded = decode_capture_request(TYPICAL_CAPTURE);
    IpcCaptureRequest request = std::move(decoded->message);
    request.browser = std::string(browser_text(decoded->browser));
    return request;
}

void encode_ipc_capture_request(benchmark::State& state) {
    IpcCaptureRequest request = typical_ipc_capture_request();
    for (auto _ : state) {
        std::string out = to_json(request);
        benchmark::DoNotOptimize(out);
    }
}

// The same message serialised from a Boost.JSON DOM that already exists.
void dom_serialize_ipc_capture_request(benchmark::State& state) {
    boost::json::value value = boost::json::parse(to_json(typical_ipc_capture_request()));
    for (auto _ : state) {
        std::string out = boost::json::serialize(value);
        benchmark::DoNotOptimize(out);
    }
}

BENCHMARK(decode_capture);
BENCHMARK(dom_parse_capture);
BENCHMARK(decode_simple);
BENCHMARK(dom_parse_simple);
BENCHMARK(decode_envelope_of_capture);
BENCHMARK(encode_host_response);
BENCHMARK(encode_ipc_capture_request);
BENCHMARK(dom_serialize_ipc_capture_request);

}  // namespace

// How our decoding and encoding compare with Boost.JSON's DOM.
int main(int argc, char** argv) {
    return ondrake::bench::run_with_figures(
        argc, argv,
        {{"CaptureRequest (~400 bytes): ours / Boost.JSON DOM", "decode_capture", "dom_parse_capture",
          "ratio <= 1.0"},
         {"HostRequest: ours / Boost.JSON DOM", "decode_simple", "dom_parse_simple", "ratio <= 1.0"},
         {"IpcCaptureRequest encode: ours / Boost.JSON DOM", "encode_ipc_capture_request",
          "dom_serialize_ipc_capture_request", ""}});
}
