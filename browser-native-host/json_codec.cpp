#include "browser-native-host/json_codec.hpp"

#include <array>
#include <charconv>
#include <new>
#include <optional>
#include <span>

#include <boost/json/basic_parser_impl.hpp>

#include "browser-native-host/text.hpp"

namespace ondrake::json_codec {

namespace {

namespace json = boost::json;

// Record nesting that the tables can describe: a message, a list in it, a record in the list.
// Deeper values only ever occur inside skipped members, which need no frame.
constexpr std::size_t MAX_RECORD_FRAMES = 8;

// Fills one record through its table from the parser's events, as far as the record's rules
// allow: a call returns false at the first event that breaks them, and the record has then
// failed. Values of unknown keys that the table skips are followed only to find their end; the
// parser has already checked that they are well formed.
class RecordFiller {
public:
    RecordFiller(const Schema& root, void* record) : root_schema_(&root), root_record_(record) {}

    bool object_begin() {
        if (skipping_) return enter_skipped();
        if (depth_ == 0) {
            if (root_done_) return false;
            return push(Frame{root_schema_, root_record_, 0, nullptr});
        }
        Frame& top = frames_[depth_ - 1];
        if (top.list_field != nullptr) {  // the next element of a list of records
            void* element = top.list_field->append(top.target);
            return push(Frame{top.list_field->nested, element, 0, nullptr});
        }
        const Field* field = take_pending();
        if (field->shape != Shape::Record) return false;
        return push(Frame{field->nested, field->open(holder(*field, top.target)), 0, nullptr});
    }

    bool object_end() {
        if (skipping_) return leave_skipped();
        const Frame& top = frames_[depth_ - 1];
        const auto& fields = top.schema->fields;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].presence == Presence::Required && (top.seen & bit(i)) == 0) return false;
        }
        --depth_;
        if (depth_ == 0) root_done_ = true;
        return true;
    }

    bool array_begin() {
        if (skipping_) return enter_skipped();
        if (depth_ == 0) return false;  // every message is an object
        Frame& top = frames_[depth_ - 1];
        if (top.list_field != nullptr) return false;  // lists hold records only
        const Field* field = take_pending();
        if (field->shape != Shape::List) return false;
        return push(Frame{field->nested, field->open(holder(*field, top.target)), 0, field});
    }

    bool array_end() {
        if (skipping_) return leave_skipped();
        --depth_;
        return true;
    }

    bool key(std::string_view key) {
        if (skipping_) return true;  // a key inside a skipped object
        Frame& top = frames_[depth_ - 1];
        const auto& fields = top.schema->fields;
        // Senders mostly write members in the table's order, so the search starts at the field
        // after the last one found.
        for (std::size_t step = 0, i = top.next; step < fields.size(); ++step, ++i) {
            if (i == fields.size()) i = 0;
            if (!same_key(fields[i].key, key)) continue;
            if ((top.seen & bit(i)) != 0) return false;  // a listed key given twice
            top.seen |= bit(i);
            top.next = static_cast<std::uint32_t>(i + 1);
            pending_ = &fields[i];
            return true;
        }
        if (top.schema->unknown_keys == UnknownKeys::Reject) return false;
        skipping_ = true;
        skip_depth_ = 0;
        return true;
    }

    // A scalar in value position: nullptr stands for null.
    bool scalar(const Scalar* value) {
        if (skipping_) {
            if (skip_depth_ == 0) skipping_ = false;  // the whole skipped value was this scalar
            return true;
        }
        if (depth_ == 0) return false;
        const Frame& top = frames_[depth_ - 1];
        if (top.list_field != nullptr) return false;
        const Field* field = take_pending();
        if (value == nullptr) return field->nullable;
        if (field->shape != Shape::Scalar) return false;
        return field->put(holder(*field, top.target), *value);
    }

private:
    struct Frame {
        const Schema* schema;
        void* target;                // the record being filled, or the list for a list frame
        std::uint32_t seen;          // bit i: fields[i] has occurred in this object
        const Field* list_field;     // set for a list frame
        std::uint32_t next = 0;      // where the search for the next key starts
    };

    static std::uint32_t bit(std::size_t index) { return std::uint32_t{1} << index; }

    // Listed keys often share a length ("action", "source"); their first letters tell most of
    // them apart without a call to compare the rest.
    static bool same_key(std::string_view listed, std::string_view key) {
        return listed.size() == key.size() && (key.empty() || listed[0] == key[0]) && listed == key;
    }

    // The record that holds the field's member: the frame's own, or one of its member records.
    static void* holder(const Field& field, void* target) {
        return field.holder == nullptr ? target : field.holder(target);
    }

    bool push(const Frame& frame) {
        if (depth_ == MAX_RECORD_FRAMES) return false;
        frames_[depth_++] = frame;
        return true;
    }

    const Field* take_pending() {
        const Field* field = pending_;
        pending_ = nullptr;
        return field;
    }

    bool enter_skipped() {
        ++skip_depth_;
        return true;
    }

    bool leave_skipped() {
        if (--skip_depth_ == 0) skipping_ = false;
        return true;
    }

    const Schema* root_schema_;
    void* root_record_;
    std::array<Frame, MAX_RECORD_FRAMES> frames_;  // [0, depth_) in use
    std::size_t depth_ = 0;
    bool root_done_ = false;
    const Field* pending_ = nullptr;  // the field whose value comes next
    bool skipping_ = false;
    std::size_t skip_depth_ = 0;      // open arrays and objects inside the skipped value
};

// The most records one reading fills: a browser's message is read as both requests at once.
constexpr std::size_t MAX_TARGETS = 2;

// Receives the parser's events, puts keys and strings delivered in pieces back together, and
// hands every event to each of the `Count` records that has not failed yet. The parse stops once
// all have. (The count is a template argument so that the loop over the records unrolls.)
template <std::size_t Count>
class Handler {
public:
    static constexpr std::size_t max_array_size = std::size_t(-1);
    static constexpr std::size_t max_object_size = std::size_t(-1);
    static constexpr std::size_t max_string_size = std::size_t(-1);
    static constexpr std::size_t max_key_size = std::size_t(-1);

    explicit Handler(std::span<Target> targets) {
        for (std::size_t i = 0; i < Count; ++i) {
            fillers_[i].emplace(*targets[i].schema, targets[i].record);
        }
    }

    // Whether the record of target `index` survived every event.
    bool filled(std::size_t index) const { return fillers_[index].has_value(); }

    bool on_document_begin(json::error_code&) { return true; }
    bool on_document_end(json::error_code&) { return true; }

    bool on_object_begin(json::error_code& ec) {
        return each([](RecordFiller& filler) { return filler.object_begin(); }, ec);
    }
    bool on_object_end(std::size_t, json::error_code& ec) {
        return each([](RecordFiller& filler) { return filler.object_end(); }, ec);
    }
    bool on_array_begin(json::error_code& ec) {
        return each([](RecordFiller& filler) { return filler.array_begin(); }, ec);
    }
    bool on_array_end(std::size_t, json::error_code& ec) {
        return each([](RecordFiller& filler) { return filler.array_end(); }, ec);
    }

    bool on_key_part(json::string_view part, std::size_t, json::error_code&) {
        key_.append(part.data(), part.size());
        return true;
    }

    bool on_key(json::string_view last, std::size_t, json::error_code& ec) {
        std::string_view key(last.data(), last.size());
        if (!key_.empty()) {
            key_.append(key);
            key = key_;
        }
        bool ok = each([key](RecordFiller& filler) { return filler.key(key); }, ec);
        key_.clear();
        return ok;
    }

    bool on_string_part(json::string_view part, std::size_t, json::error_code&) {
        text_.append(part.data(), part.size());
        return true;
    }

    bool on_string(json::string_view last, std::size_t, json::error_code& ec) {
        Scalar value = Scalar::of_text(std::string_view(last.data(), last.size()));
        if (!text_.empty()) {
            text_.append(value.text);
            value.text = text_;
        }
        bool ok = scalar(&value, ec);
        text_.clear();
        return ok;
    }

    // Called only while a number spans input buffers; the whole body is one buffer.
    bool on_number_part(json::string_view, json::error_code&) { return true; }

    bool on_int64(std::int64_t number, json::string_view, json::error_code& ec) {
        Scalar value = Scalar::of_signed(number);
        return scalar(&value, ec);
    }

    bool on_uint64(std::uint64_t number, json::string_view, json::error_code& ec) {
        Scalar value = Scalar::of_unsigned(number);
        return scalar(&value, ec);
    }

    bool on_double(double, json::string_view, json::error_code& ec) {
        Scalar value = Scalar::inexact();
        return scalar(&value, ec);
    }

    bool on_bool(bool flag, json::error_code& ec) {
        Scalar value = Scalar::of_boolean(flag);
        return scalar(&value, ec);
    }

    bool on_null(json::error_code& ec) { return scalar(nullptr, ec); }

    // Comments are not enabled in the parse options, so these are never called.
    bool on_comment_part(json::string_view, json::error_code&) { return true; }
    bool on_comment(json::string_view, json::error_code&) { return true; }

private:
    // A scalar in value position: nullptr stands for null.
    bool scalar(const Scalar* value, json::error_code& ec) {
        return each([value](RecordFiller& filler) { return filler.scalar(value); }, ec);
    }

    // Runs `event` on every record still being filled; one that refuses the event has failed.
    template <class Event>
    bool each(Event event, json::error_code& ec) {
        std::size_t live = 0;
        for (std::size_t i = 0; i < Count; ++i) {
            if (!fillers_[i]) continue;
            if (event(*fillers_[i])) {
                ++live;
            } else {
                fillers_[i].reset();
            }
        }
        if (live > 0) return true;
        ec = json::error::syntax;  // the wording of a decoding failure is never shown
        return false;
    }

    std::array<std::optional<RecordFiller>, Count> fillers_;
    std::string key_;                 // a key delivered in pieces
    std::string text_;                // a string value delivered in pieces
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// What writing a JSON string does with each byte: copy it, escape it, or check the UTF-8
// sequence it starts.
enum class ByteClass : std::uint8_t { Plain, Escaped, NonAscii };

constexpr std::array<ByteClass, 256> BYTE_CLASSES = [] {
    std::array<ByteClass, 256> classes{};
    for (std::size_t b = 0; b < 256; ++b) {
        if (b < 0x20 || b == '"' || b == '\\') classes[b] = ByteClass::Escaped;
        else if (b >= 0x80) classes[b] = ByteClass::NonAscii;
        else classes[b] = ByteClass::Plain;
    }
    return classes;
}();

ByteClass class_of(char c) { return BYTE_CLASSES[static_cast<unsigned char>(c)]; }

// The parser refuses exponents beyond its int range (1e2147483648), although they are valid
// JSON. Every number with an exponent is Inexact to the tables, so its value never matters:
// writing zeros over long exponent digit runs keeps the body's shape and validity while
// bringing every exponent into range.
std::string with_short_exponents(std::string_view body) {
    constexpr std::size_t LONGEST_KEPT = 9;
    std::string copy(body);
    bool in_string = false;
    for (std::size_t i = 0; i < copy.size(); ++i) {
        char c = copy[i];
        if (in_string) {
            if (c == '\\') ++i;
            else if (c == '"') in_string = false;
            continue;
        }
        if (c == '"') {
            in_string = true;
            continue;
        }
        if ((c != 'e' && c != 'E') || i == 0 || !is_digit(copy[i - 1])) continue;
        std::size_t start = i + 1;
        if (start < copy.size() && (copy[start] == '+' || copy[start] == '-')) ++start;
        std::size_t end = start;
        while (end < copy.size() && is_digit(copy[end])) ++end;
        if (end - start > LONGEST_KEPT) {
            for (std::size_t j = start; j < end; ++j) copy[j] = '0';
        }
        i = end - 1;
    }
    return copy;
}

enum class Parse { Done, ExponentOutOfRange };

// One reading of `body`; sets `decoded` of each of the `Count` targets.
template <std::size_t Count>
Parse parse(std::span<Target> targets, std::string_view body) {
    json::parse_options options;
    options.max_depth = MAX_NESTING;
    json::basic_parser<Handler<Count>> parser(options, targets);
    json::error_code ec;
    std::size_t consumed = parser.write_some(false, body.data(), body.size(), ec);
    if (ec == json::error::exponent_overflow) return Parse::ExponentOutOfRange;
    // The parser stops after one document and its trailing white space; anything left over is
    // a second document or garbage.
    bool complete = !ec && parser.done() && consumed == body.size();
    for (std::size_t i = 0; i < targets.size(); ++i) {
        targets[i].decoded = complete && parser.handler().filled(i);
    }
    return Parse::Done;
}

}  // namespace

void decode_records(std::span<Target> targets, std::string_view body) {
    for (Target& target : targets) target.decoded = false;
    if (targets.empty() || targets.size() > MAX_TARGETS) return;
    auto parse_all = targets.size() == 1 ? &parse<1> : &parse<2>;
    try {
        if (parse_all(targets, body) == Parse::ExponentOutOfRange) {
            for (Target& target : targets) target.clear(target.record);
            parse_all(targets, with_short_exponents(body));
        }
    } catch (const std::bad_alloc&) {
        for (Target& target : targets) target.decoded = false;
    }
}

bool decode_record(const Schema& schema, std::string_view body, void* record,
                   void (*clear)(void* record)) {
    Target target{&schema, record, clear};
    decode_records(std::span<Target>(&target, 1), body);
    return target.decoded;
}

bool encode_record(const Schema& schema, const void* record, std::string& out) {
    out.push_back('{');
    bool first = true;
    for (const Field& field : schema.fields) {
        // Finding the holder only computes an address; nothing is written through it.
        const void* holder = field.holder == nullptr ? record : field.holder(const_cast<void*>(record));
        bool absent = field.is_absent(holder);
        if (absent && schema.absent_members == AbsentMembers::Omit) continue;
        if (!first) out.push_back(',');
        first = false;
        out.push_back('"');
        out.append(field.key);
        out.append("\":");
        if (absent) {
            out.append("null");
        } else if (!field.write(holder, out)) {
            return false;
        }
    }
    out.push_back('}');
    return true;
}

bool write_string(std::string& out, std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::size_t original_size = out.size();
    out.push_back('"');
    std::size_t run_start = 0;  // start of the bytes not yet copied to `out`
    std::size_t i = 0;
    while (i < text.size()) {
        ByteClass kind = class_of(text[i]);
        if (kind == ByteClass::Plain) {
            ++i;
            continue;
        }
        if (kind == ByteClass::NonAscii) {
            // Every byte of a multi-byte sequence is >= 0x80, so each such run must be valid
            // UTF-8 on its own; ASCII bytes between runs always are.
            std::size_t end = i + 1;
            while (end < text.size() && class_of(text[end]) == ByteClass::NonAscii) ++end;
            if (!text::is_valid_utf8(text.substr(i, end - i))) {
                out.resize(original_size);
                return false;
            }
            i = end;
            continue;
        }
        auto c = static_cast<unsigned char>(text[i]);
        out.append(text.substr(run_start, i - run_start));
        run_start = ++i;
        switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\b': out.append("\\b"); break;
            case '\t': out.append("\\t"); break;
            case '\n': out.append("\\n"); break;
            case '\f': out.append("\\f"); break;
            case '\r': out.append("\\r"); break;
            default: {
                char escape[] = {'\\', 'u', '0', '0', HEX[c >> 4], HEX[c & 0xF]};
                out.append(escape, sizeof escape);
            }
        }
    }
    out.append(text.substr(run_start));
    out.push_back('"');
    return true;
}

void write_integer(std::string& out, std::int64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void write_integer(std::string& out, std::uint64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

}  // namespace ondrake::json_codec
