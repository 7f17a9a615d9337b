// What checking a message costs on top of decoding it. The decode-only figures of the same bytes
// are measured in the same run, and the ratio lines at the end are the figures to watch (goals:
// at most 2 us per capture request, classification at most 1.3x the strict decoding alone).
// classify_any reads a body as the strict request it most likely is, and as the other only when
// that fails (read_message); the figures against that reading show what the checks themselves
// cost, the URL policy most of it.
//
// classify_any parses each URL with a fresh parser. The last figures show what keeping one
// parser across messages would save, on URLs that take the parser's canonical shortcut, its
// full state machine and its IDNA path (ICU).
#include <benchmark/benchmark.h>

#include <string>

#include "bench/ratio_reporter.hpp"
#include "browser-native-host/tests/support/sample_messages.hpp"
#include "browser-native-host/checks/classification.hpp"
#include "browser-native-host/messages/protocol.hpp"
#include "whatwg-url/url.hpp"

namespace {

using ondrake::samples::TYPICAL_CAPTURE;
using ondrake::samples::TYPICAL_SIMPLE;
namespace classification = ondrake::classification;
namespace protocol = ondrake::protocol;

void decode_capture(benchmark::State& state) {
    for (auto _ : state) {
        auto request = protocol::decode_capture_request(TYPICAL_CAPTURE);
        benchmark::DoNotOptimize(request);
    }
}

void decode_simple(benchmark::State& state) {
    for (auto _ : state) {
        auto request = protocol::decode_host_request(TYPICAL_SIMPLE);
        benchmark::DoNotOptimize(request);
    }
}

// The reading classify_any makes of a body: one strict decode for an accepted request.
void read_message(benchmark::State& state, std::string_view body) {
    for (auto _ : state) {
        auto message = protocol::decode_browser_message(body);
        benchmark::DoNotOptimize(message);
    }
}

void classify(benchmark::State& state, std::string_view body) {
    for (auto _ : state) {
        auto classified = classification::classify_any(body);
        benchmark::DoNotOptimize(classified);
    }
}

// A capture_status that carries a url is refused after the lenient reading: the slow route,
// with a reply to build and encode.
const std::string REFUSED_CAPTURE_BODY =
    R"({"protocolVersion":4,"requestId":"r-3f1c9a","captureId":"c-8b2d4e","action":"capture_status",)"
    R"("source":"automatic_download","url":"https://dl.example.test/tool-2.4.dmg","extra":1})";

const std::string CANONICAL_URL = "https://dl.example.test/tool-2.4.dmg";
const std::string NORMALISED_URL = "HTTPS://Dl.Example.TEST:443/tool-2.4.dmg#top";
const std::string IDNA_URL =
    "https://b\xC3\xBC"
    "cher.example/tool-2.4.dmg";

void url_fresh_parser(benchmark::State& state, const std::string& url) {
    for (auto _ : state) {
        auto parsed = whatwg::parse(url);
        benchmark::DoNotOptimize(parsed);
    }
}

void url_kept_parser(benchmark::State& state, const std::string& url) {
    whatwg::Parser parser;
    for (auto _ : state) {
        auto parsed = parser.parse(url);
        benchmark::DoNotOptimize(parsed);
    }
}

BENCHMARK(decode_capture);
BENCHMARK_CAPTURE(read_message, capture, TYPICAL_CAPTURE);
BENCHMARK_CAPTURE(classify, capture, TYPICAL_CAPTURE);
BENCHMARK(decode_simple);
BENCHMARK_CAPTURE(read_message, simple, TYPICAL_SIMPLE);
BENCHMARK_CAPTURE(classify, simple, TYPICAL_SIMPLE);
BENCHMARK_CAPTURE(classify, refused_capture, std::string_view(REFUSED_CAPTURE_BODY));
BENCHMARK_CAPTURE(url_fresh_parser, canonical, CANONICAL_URL);
BENCHMARK_CAPTURE(url_kept_parser, canonical, CANONICAL_URL);
BENCHMARK_CAPTURE(url_fresh_parser, normalised, NORMALISED_URL);
BENCHMARK_CAPTURE(url_kept_parser, normalised, NORMALISED_URL);
BENCHMARK_CAPTURE(url_fresh_parser, idna, IDNA_URL);
BENCHMARK_CAPTURE(url_kept_parser, idna, IDNA_URL);

}  // namespace

// Classification against decoding alone, and what a kept parser would save per URL.
int main(int argc, char** argv) {
    return ondrake::bench::run_with_figures(
        argc, argv,
        {{"CaptureRequest (~400 bytes): classify_any", "classify/capture", "", "<= 2000"},
         {"CaptureRequest (~400 bytes): classify_any / decode only", "classify/capture", "decode_capture",
          "ratio <= 1.3"},
         {"HostRequest: classify_any / decode only", "classify/simple", "decode_simple", "ratio <= 1.3"},
         {"CaptureRequest: classify_any's reading / decode only", "read_message/capture", "decode_capture",
          ""},
         {"HostRequest: classify_any's reading / decode only", "read_message/simple", "decode_simple", ""},
         {"canonical URL: fresh parser / kept parser", "url_fresh_parser/canonical",
          "url_kept_parser/canonical", ""},
         {"normalised URL: fresh parser / kept parser", "url_fresh_parser/normalised",
          "url_kept_parser/normalised", ""},
         {"IDNA URL: fresh parser / kept parser", "url_fresh_parser/idna", "url_kept_parser/idna", ""}});
}
