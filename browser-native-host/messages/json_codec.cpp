#include "browser-native-host/messages/json_codec.hpp"

#include <array>
#include <charconv>
#include <new>
#include <optional>

#include <boost/json/basic_parser_impl.hpp>

#include "platform/utf8.hpp"

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
    // `check_texts`: the parser does not check UTF-8 in this reading, so every text a member
    // takes is checked here.
    RecordFiller(const Schema& root, void* record, bool check_texts)
        : root_schema_(&root), root_record_(record), check_texts_(check_texts) {}

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
        if (check_texts_ && value->type == Scalar::Type::Text && !platform::is_valid_utf8(value->text)) {
            return false;
        }
        return field->put(holder(*field, top.target), *value);
    }

private:
    struct Frame {
        const Schema* schema;
        void* target;             // the record being filled, or the list for a list frame
        std::uint32_t seen;       // bit i: fields[i] has occurred in this object
        const Field* list_field;  // set for a list frame
        std::uint32_t next = 0;   // where the search for the next key starts
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
    bool check_texts_;
    std::array<Frame, MAX_RECORD_FRAMES> frames_;  // [0, depth_) in use
    std::size_t depth_ = 0;
    bool root_done_ = false;
    const Field* pending_ = nullptr;  // the field whose value comes next
    bool skipping_ = false;
    std::size_t skip_depth_ = 0;  // open arrays and objects inside the skipped value
};

// Receives the parser's events, puts keys and strings delivered in pieces back together, and
// hands every event to the record being filled. The parse stops once the record refuses one.
class Handler {
public:
    static constexpr std::size_t max_array_size = std::size_t(-1);
    static constexpr std::size_t max_object_size = std::size_t(-1);
    static constexpr std::size_t max_string_size = std::size_t(-1);
    static constexpr std::size_t max_key_size = std::size_t(-1);

    // `check_texts`: the parser does not check UTF-8 in this pass, so every text a member
    // takes is checked here.
    Handler(const Schema& schema, void* record, bool check_texts) : filler_(schema, record, check_texts) {}

    // True once the table, not the parser, has refused the body.
    bool refused() const { return refused_; }

    bool on_document_begin(json::error_code&) { return true; }
    bool on_document_end(json::error_code&) { return true; }

    bool on_object_begin(json::error_code& ec) {
        return on_record([](RecordFiller& filler) { return filler.object_begin(); }, ec);
    }
    bool on_object_end(std::size_t, json::error_code& ec) {
        return on_record([](RecordFiller& filler) { return filler.object_end(); }, ec);
    }
    bool on_array_begin(json::error_code& ec) {
        return on_record([](RecordFiller& filler) { return filler.array_begin(); }, ec);
    }
    bool on_array_end(std::size_t, json::error_code& ec) {
        return on_record([](RecordFiller& filler) { return filler.array_end(); }, ec);
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
        bool ok = on_record([key](RecordFiller& filler) { return filler.key(key); }, ec);
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
        return on_record([value](RecordFiller& filler) { return filler.scalar(value); }, ec);
    }

    // Runs `event` on the record; a refused event ends the parse.
    template <class Event>
    bool on_record(Event event, json::error_code& ec) {
        if (event(filler_)) return true;
        refused_ = true;
        ec = json::error::syntax;  // the wording of a decoding failure is never shown
        return false;
    }

    RecordFiller filler_;
    bool refused_ = false;
    std::string key_;   // a key delivered in pieces
    std::string text_;  // a string value delivered in pieces
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

bool is_hex_digit(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The UTF-16 code unit of the \uXXXX escape at `at`, if one is there.
std::optional<unsigned> escaped_unit(std::string_view body, std::size_t at) {
    if (at + 6 > body.size() || body[at] != '\\' || body[at + 1] != 'u') return std::nullopt;
    unsigned unit = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
        char c = body[i];
        if (!is_hex_digit(c)) return std::nullopt;
        unit = unit * 16 + static_cast<unsigned>(is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return unit;
}

bool is_leading_surrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_trailing_surrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Stands for a lone surrogate escape in a mended body: a byte that UTF-8 never holds, so that a
// text holding it fails the UTF-8 check that every member's text gets in the mended pass.
constexpr char LONE_SURROGATE_MARK = '\xFF';

// A copy of a body that the parser refused, mended where the parser is stricter than JSON.
struct Mended {
    std::string body;
    bool marked_surrogates = false;  // the copy is no longer UTF-8: texts need checking
};

// Two things are valid JSON that the parser refuses. Exponents beyond its int range
// (1e2147483648): every number with an exponent is Inexact to the tables, so its value never
// matters, and zeros written over long exponent digit runs keep the body's shape and validity
// while bringing every exponent into range. And a lone surrogate escape (\ud800 without a
// trailing \udc00, or \udc00 alone): RFC 8259's grammar allows it, and a browser's JSON.stringify
// writes a JavaScript string holding one that way, say in a file name. Only a member's text must
// refuse it; a skipped value may hold one. Each such escape is replaced by LONE_SURROGATE_MARK.
// None when there is nothing to mend, or when the body is not UTF-8 (which no mending excuses).
std::optional<Mended> mended(std::string_view body) {
    constexpr std::size_t LONGEST_KEPT = 9;
    Mended copy;
    copy.body.reserve(body.size());
    bool changed = false;
    bool in_string = false;
    std::size_t i = 0;
    while (i < body.size()) {
        char c = body[i];
        if (in_string) {
            if (c == '"') in_string = false;
            if (c != '\\') {
                copy.body.push_back(c);
                ++i;
                continue;
            }
            std::optional<unsigned> unit = escaped_unit(body, i);
            std::size_t length = unit ? 6 : 2;
            if (unit && is_leading_surrogate(*unit)) {
                std::optional<unsigned> next = escaped_unit(body, i + 6);
                if (next && is_trailing_surrogate(*next)) length = 12;
            }
            if (unit && length == 6 && (is_leading_surrogate(*unit) || is_trailing_surrogate(*unit))) {
                copy.body.push_back(LONE_SURROGATE_MARK);
                copy.marked_surrogates = changed = true;
            } else {
                copy.body.append(body.substr(i, length));
            }
            i += length;
            continue;
        }
        copy.body.push_back(c);
        ++i;
        if (c == '"') {
            in_string = true;
            continue;
        }
        if ((c != 'e' && c != 'E') || i == 1 || !is_digit(body[i - 2])) continue;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) copy.body.push_back(body[i++]);
        std::size_t digits = 0;
        while (i + digits < body.size() && is_digit(body[i + digits])) ++digits;
        if (digits > LONGEST_KEPT) {
            copy.body.append(digits, '0');
            changed = true;
        } else {
            copy.body.append(body.substr(i, digits));
        }
        i += digits;
    }
    if (!changed) return std::nullopt;
    if (copy.marked_surrogates && !platform::is_valid_utf8(body)) return std::nullopt;
    return copy;
}

enum class Parse { Decoded, Refused, Malformed };

// One reading of `body` into `record`. `check_texts`: the parser lets any bytes through in
// strings, and the filler checks the texts that members take instead.
Parse parse(const Schema& schema, void* record, std::string_view body, bool check_texts) {
    json::parse_options options;
    options.max_depth = MAX_NESTING;
    options.allow_invalid_utf8 = check_texts;
    json::basic_parser<Handler> parser(options, schema, record, check_texts);
    json::error_code ec;
    std::size_t consumed = parser.write_some(false, body.data(), body.size(), ec);
    if (parser.handler().refused()) return Parse::Refused;
    // The parser stops after one document and its trailing white space; anything left over is
    // a second document or garbage.
    return !ec && parser.done() && consumed == body.size() ? Parse::Decoded : Parse::Malformed;
}

}  // namespace

bool decode_record(const Schema& schema, std::string_view body, void* record, void (*clear)(void* record)) {
    try {
        // Only a body the parser refused pays for mending; one the table refused stays refused,
        // since the parser had accepted everything before the refusal.
        Parse first = parse(schema, record, body, false);
        if (first != Parse::Malformed) return first == Parse::Decoded;
        std::optional<Mended> copy = mended(body);
        if (!copy) return false;
        clear(record);
        return parse(schema, record, copy->body, copy->marked_surrogates) == Parse::Decoded;
    } catch (const std::bad_alloc&) {
        return false;
    }
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
            if (!platform::is_valid_utf8(text.substr(i, end - i))) {
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
