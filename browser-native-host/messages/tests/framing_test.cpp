// Frames on in-memory streams, on scripted streams that fail or get interrupted, and on real pipes.
#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <unistd.h>

#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/tests/support/frames.hpp"
#include "platform/child_process.hpp"

namespace ondrake::framing {

void PrintTo(const FrameError& error, std::ostream* out) { *out << display_text(error); }

namespace {

using Kind = FrameError::Kind;
using test::framed;
using test::prefix;

std::string bytes(std::initializer_list<int> values) {
    std::string result;
    for (int v : values) result.push_back(static_cast<char>(v));
    return result;
}

std::optional<FrameError> error_of(const FrameResult& result) {
    if (result) return std::nullopt;
    return result.error();
}

// ---- Reading -------------------------------------------------------------------------------

struct ReadCase {
    std::string name;
    std::string input;
    std::size_t chunk;  // largest read the source hands out
    FrameResult expected;
    std::size_t left_in_stream;  // bytes the reader must not have consumed
};

class ReadFrame : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadFrame, Yields) {
    const ReadCase& c = GetParam();
    MemorySource source(c.input, c.chunk);
    FrameResult result = read_frame(source);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(source.remaining().size(), c.left_in_stream);
}

const std::string BODY_65536(65536, 'a');
const std::string BODY_65537(65537, 'b');
constexpr std::size_t WHOLE = std::size_t(-1);

INSTANTIATE_TEST_SUITE_P(
    Input, ReadFrame,
    ::testing::Values(
        ReadCase{"small_body", bytes({2, 0, 0, 0}) + "{}", WHOLE, std::string("{}"), 0},
        ReadCase{"small_body_byte_by_byte", bytes({2, 0, 0, 0}) + "{}", 1, std::string("{}"), 0},
        ReadCase{"leaves_next_frame", framed("{}") + framed("[1]"), WHOLE, std::string("{}"), 7},
        ReadCase{"empty_input", "", WHOLE, FrameError::end_of_stream(), 0},
        ReadCase{"one_prefix_byte", bytes({2}), WHOLE, FrameError::truncated(), 0},
        ReadCase{"three_prefix_bytes", bytes({2, 0, 0}), WHOLE, FrameError::truncated(), 0},
        ReadCase{"prefix_without_body", bytes({5, 0, 0, 0}), WHOLE, FrameError::truncated(), 0},
        ReadCase{"body_two_of_five", bytes({5, 0, 0, 0}) + "ab", WHOLE, FrameError::truncated(), 0},
        ReadCase{"body_short_in_pieces", bytes({5, 0, 0, 0}) + "abcd", 3, FrameError::truncated(), 0},
        ReadCase{"zero_length", bytes({0, 0, 0, 0}) + "{}", WHOLE, FrameError::empty(), 2},
        ReadCase{"largest_body", framed(BODY_65536), WHOLE, BODY_65536, 0},
        ReadCase{"largest_body_in_pieces", framed(BODY_65536), 4093, BODY_65536, 0},
        ReadCase{"one_over_the_limit", framed(BODY_65537), WHOLE, FrameError::too_large(65537), 65537},
        ReadCase{"length_is_little_endian", bytes({0, 0, 0, 1}) + "x", WHOLE, FrameError::too_large(16777216),
                 1},
        ReadCase{"largest_declared_length", bytes({0xFF, 0xFF, 0xFF, 0xFF}), WHOLE,
                 FrameError::too_large(4294967295u), 0},
        ReadCase{"sixteen_bytes", bytes({0x10, 0, 0, 0}) + std::string(16, 'x'), WHOLE, std::string(16, 'x'),
                 0}),
    [](const auto& param_info) { return param_info.param.name; });

// Each read returns the next scripted piece of bytes or error; afterwards the input has ended.
class ScriptedSource final : public ByteSource {
public:
    struct Step {
        std::string data;
        boost::system::error_code error;
    };
    explicit ScriptedSource(std::deque<Step> steps) : steps_(std::move(steps)) {}

    IoResult read_some(char* data, std::size_t size) override {
        if (steps_.empty()) return std::size_t{0};
        Step& step = steps_.front();
        if (step.error) {
            boost::system::error_code error = step.error;
            steps_.pop_front();
            return error;
        }
        std::size_t n = std::min(size, step.data.size());
        step.data.copy(data, n);
        step.data.erase(0, n);
        if (step.data.empty()) steps_.pop_front();
        return n;
    }

private:
    std::deque<Step> steps_;
};

const boost::system::error_code INTERRUPTED = make_error_code(boost::system::errc::interrupted);
const boost::system::error_code IO_FAILURE = make_error_code(boost::system::errc::io_error);

TEST(ReadFrameErrors, InterruptedReadsAreRetriedInPrefixAndBody) {
    ScriptedSource source({{{}, INTERRUPTED},
                           {bytes({3, 0}), {}},
                           {{}, INTERRUPTED},
                           {bytes({0, 0}) + "a", {}},
                           {{}, INTERRUPTED},
                           {"bc", {}}});
    EXPECT_EQ(read_frame(source), FrameResult(std::string("abc")));
}

TEST(ReadFrameErrors, OtherErrorsCarryTheUnderlyingError) {
    ScriptedSource in_prefix({{bytes({3}), {}}, {{}, IO_FAILURE}});
    EXPECT_EQ(read_frame(in_prefix), FrameResult(FrameError::io(IO_FAILURE)));

    ScriptedSource at_start({{{}, IO_FAILURE}});
    EXPECT_EQ(read_frame(at_start), FrameResult(FrameError::io(IO_FAILURE)));

    boost::system::error_code again = make_error_code(boost::system::errc::resource_unavailable_try_again);
    ScriptedSource in_body({{bytes({3, 0, 0, 0}) + "a", {}}, {{}, again}});
    EXPECT_EQ(read_frame(in_body), FrameResult(FrameError::io(again)));
}

// ---- Texts and length helpers --------------------------------------------------------------

TEST(FrameErrorText, EveryKind) {
    EXPECT_EQ(display_text(FrameError::end_of_stream()), "the stream ended between frames");
    EXPECT_EQ(display_text(FrameError::truncated()), "the frame was truncated");
    EXPECT_EQ(display_text(FrameError::empty()), "the frame was empty");
    EXPECT_EQ(display_text(FrameError::too_large(70000)),
              "the frame declared 70000 bytes, over the 65536 limit");
    EXPECT_EQ(display_text(FrameError::too_large(4294967295u)),
              "the frame declared 4294967295 bytes, over the 65536 limit");
    EXPECT_EQ(display_text(FrameError::io(IO_FAILURE)), "the stream failed");
}

TEST(FrameLength, OneCheckForDeclaredLengthsAndBodies) {
    EXPECT_EQ(check_frame_size(0), FrameError::empty());
    EXPECT_EQ(check_frame_size(1), FrameStatus{});
    EXPECT_EQ(check_frame_size(65536), FrameStatus{});
    EXPECT_EQ(check_frame_size(65537), FrameError::too_large(65537));
    EXPECT_EQ(check_frame_size(4294967295u), FrameError::too_large(4294967295u));
    // A size beyond 32 bits must not wrap around into an acceptable length.
    EXPECT_EQ(check_frame_size(std::size_t{1} << 32 | 5), FrameError::too_large(4294967295u));
    EXPECT_EQ(check_frame_size(5'000'000'000), FrameError::too_large(4294967295u));
}

TEST(FrameLength, PrefixIsLittleEndian) {
    EXPECT_EQ(prefix(0x30), bytes({0x30, 0, 0, 0}));
    EXPECT_EQ(prefix(0x01020304), bytes({4, 3, 2, 1}));
    EXPECT_EQ(decode_length(encode_length(0xFFFFFFFF)), 0xFFFFFFFFu);
    EXPECT_EQ(decode_length({'\x01', '\x00', '\x01', '\x00'}), 65537u);
}

// ---- Writing -------------------------------------------------------------------------------

// Accepts at most `chunk` bytes a call, reports scripted errors, and fails every write once
// `capacity` bytes have been taken.
class ScriptedSink final : public ByteSink {
public:
    std::size_t chunk = std::size_t(-1);
    std::size_t capacity = std::size_t(-1);
    std::deque<boost::system::error_code> errors;  // returned by the next writes, one each
    boost::system::error_code flush_error;
    int flushes = 0;
    int writes = 0;
    std::string written;

    IoResult write_some(std::string_view data) override {
        ++writes;
        if (!errors.empty()) {
            boost::system::error_code error = errors.front();
            errors.pop_front();
            return error;
        }
        if (written.size() >= capacity) return make_error_code(boost::system::errc::broken_pipe);
        std::size_t n = std::min({data.size(), chunk, capacity - written.size()});
        written.append(data.substr(0, n));
        return n;
    }
    boost::system::error_code flush() override {
        ++flushes;
        return flush_error;
    }
};

struct WriteCase {
    std::string name;
    std::string body;
    std::size_t chunk;
    std::size_t capacity;
    std::deque<boost::system::error_code> errors;
    boost::system::error_code flush_error;
    std::string expected_written;
    std::vector<std::string> expected_lines;
};

class WriteEncodedReply : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteEncodedReply, WritesAndReports) {
    const WriteCase& c = GetParam();
    ScriptedSink sink;
    sink.chunk = c.chunk;
    sink.capacity = c.capacity;
    sink.errors = c.errors;
    sink.flush_error = c.flush_error;
    CapturedDiagnostics diagnostics;
    write_encoded_reply(sink, c.body, diagnostics);
    EXPECT_EQ(sink.written, c.expected_written);
    EXPECT_EQ(diagnostics.lines, c.expected_lines);
    // The final flush happens whatever went before, except when nothing could be encoded.
    EXPECT_GE(sink.flushes, c.body.empty() ? 0 : 1);
}

const std::string STREAM_FAILED = "could not write a response: the stream failed";

INSTANTIATE_TEST_SUITE_P(
    Output, WriteEncodedReply,
    ::testing::Values(
        WriteCase{"small", "{}", WHOLE, WHOLE, {}, {}, framed("{}"), {}},
        WriteCase{"partial_writes", "{\"a\":1}", 3, WHOLE, {}, {}, framed("{\"a\":1}"), {}},
        WriteCase{"interrupted_writes", "{}", WHOLE, WHOLE, {INTERRUPTED, INTERRUPTED}, {}, framed("{}"), {}},
        WriteCase{"largest_body", BODY_65536, WHOLE, WHOLE, {}, {}, framed(BODY_65536), {}},
        WriteCase{"over_the_limit",
                  BODY_65537,
                  WHOLE,
                  WHOLE,
                  {},
                  {},
                  "",
                  {"could not write a response: the frame declared 65537 bytes, over the 65536 limit"}},
        WriteCase{"not_encoded", "", WHOLE, WHOLE, {}, {}, "", {"could not encode a response"}},
        WriteCase{"fails_at_once", "{}", WHOLE, WHOLE, {IO_FAILURE}, {}, "", {STREAM_FAILED}},
        WriteCase{"fails_inside_prefix", "{}", 1, 2, {}, {}, bytes({2, 0}), {STREAM_FAILED}},
        WriteCase{
            "fails_inside_body", "{\"a\":1}", WHOLE, 6, {}, {}, bytes({7, 0, 0, 0}) + "{\"", {STREAM_FAILED}},
        WriteCase{"flush_fails", "{}", WHOLE, WHOLE, {}, IO_FAILURE, framed("{}"), {STREAM_FAILED}}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(WriteFrame, WholeFrameInOneWriteWhenTheSinkTakesIt) {
    // A reader woken by the length alone would only go back to waiting for the body.
    for (const std::string& body : {std::string("{}"), BODY_65536}) {
        SCOPED_TRACE(body.size());
        ScriptedSink sink;
        EXPECT_EQ(write_frame(sink, body), FrameStatus{});
        EXPECT_EQ(sink.writes, 1);
        EXPECT_EQ(sink.written, framed(body));
    }
}

TEST(WriteFrame, SinkTakingNothingIsAnError) {
    ScriptedSink sink;
    sink.chunk = 0;
    auto written = write_frame(sink, "{}");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().kind, Kind::Io);
}

// ---- Real pipes ----------------------------------------------------------------------------

class Pipe {
public:
    Pipe() {
        int fds[2];
        if (platform::pipe_cloexec(fds) != 0) ADD_FAILURE() << "pipe failed";
        read_end = fds[0];
        write_end = fds[1];
    }
    ~Pipe() {
        close_read();
        close_write();
    }
    void close_read() {
        if (read_end >= 0) ::close(read_end);
        read_end = -1;
    }
    void close_write() {
        if (write_end >= 0) ::close(write_end);
        write_end = -1;
    }
    int read_end = -1;
    int write_end = -1;
};

TEST(RealPipe, ClosedReaderGivesStreamFailedAndWritingGoesOn) {
    // The host ignores SIGPIPE for its whole life; without that the write would end the test.
    std::signal(SIGPIPE, SIG_IGN);
    Pipe pipe;
    pipe.close_read();
    FdSink sink(pipe.write_end);
    CapturedDiagnostics diagnostics;
    write_encoded_reply(sink, "{}", diagnostics);
    write_encoded_reply(sink, "[]", diagnostics);
    EXPECT_EQ(diagnostics.lines, (std::vector<std::string>{STREAM_FAILED, STREAM_FAILED}));
}

TEST(RealPipe, FramesTravelThroughAPipe) {
    Pipe pipe;
    FdSink sink(pipe.write_end);
    CapturedDiagnostics diagnostics;
    write_encoded_reply(sink, "{\"n\":1}", diagnostics);
    write_encoded_reply(sink, "[2]", diagnostics);
    pipe.close_write();
    FdSource source(pipe.read_end);
    EXPECT_EQ(read_frame(source), FrameResult(std::string("{\"n\":1}")));
    EXPECT_EQ(read_frame(source), FrameResult(std::string("[2]")));
    EXPECT_EQ(read_frame(source), FrameResult(FrameError::end_of_stream()));
    EXPECT_TRUE(diagnostics.lines.empty());
}

TEST(RealPipe, ReadErrorOnAClosedDescriptor) {
    Pipe pipe;
    int fd = pipe.read_end;
    pipe.close_read();
    FdSource source(fd);
    FrameResult result = read_frame(source);
    std::optional<FrameError> error = error_of(result);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, Kind::Io);
    EXPECT_EQ(error->error, boost::system::error_code(EBADF, boost::system::system_category()));
}

}  // namespace
}  // namespace ondrake::framing
