// The one strict JSON decoder and the one compact encoder behind every message type.
//
// A message type does not parse or print anything itself: it declares its members, in the order
// they are written, and a table of them,
//
//     inline constexpr json_codec::Fields COOKIE_FIELDS{
//         json_codec::required<&BrowserCookie::name>("name"),
//         ...
//     };
//     inline constexpr auto COOKIE = json_codec::table<BrowserCookie, COOKIE_FIELDS>(
//         UnknownKeys::Reject, AbsentMembers::WriteNull);
//
// and json_codec::decode(COOKIE, body) / json_codec::encode(COOKIE, cookie, out) do the rest.
// Whether a member may be null follows from its C++ type (std::optional accepts null and is
// written as null or left out when empty); whether its key must appear follows from
// required<>/optional<>. Nested records and lists of records name the table of their element.
// A table lists members of its own record only (checked when it is compiled), or, through
// within<>, members of one of its member records that the JSON carries at the same level.
//
// Each member is read and written through its own type, so the compiler checks every member
// against its table. A table is also a Schema: the plain description of its members that the
// tools which document the messages (tools/protocol-doc) read.
//
// This header is for the files that declare message tables; callers use protocol.hpp.
#pragma once

#include <array>
#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace ondrake::json_codec {

enum class UnknownKeys { Reject, Skip };
// How an empty optional member is encoded: as null, or not at all.
enum class AbsentMembers { WriteNull, Omit };
enum class Presence { Required, Optional };

// ---- The description of a table, for tools ------------------------------------------------

// What a member holds, as a reader of the protocol sees it: the JSON type and, for integers, the
// range of the C++ type.
enum class ValueType { String, Integer, Boolean, Enumeration, Record, List };

struct ValueInfo {
    ValueType type;
    std::int64_t minimum = 0;   // Integer only
    std::uint64_t maximum = 0;  // Integer only
    // Enumeration only: the JSON text of the value at `position`, empty past the last value.
    std::string_view (*enum_text)(std::size_t position) = nullptr;
};

struct Schema;

struct Field {
    std::string_view key;
    Presence presence;
    bool nullable;           // the member is a std::optional
    const Schema* nested;    // the element table of a Record or List member
    const ValueInfo* value;  // the member's (inner) value
};

struct Schema {
    std::span<const Field> fields;  // at most MAX_FIELDS, in encoding order, keys plain ASCII
    UnknownKeys unknown_keys;
    AbsentMembers absent_members;
};

// Seen keys are tracked in one 32-bit mask per object.
inline constexpr std::size_t MAX_FIELDS = 32;

// Deepest nesting of arrays and objects accepted anywhere in a body, skipped values included.
inline constexpr std::size_t MAX_NESTING = 1000;

// ---- Reading ------------------------------------------------------------------------------

// An integer as written, or a number that no member takes: one with a fraction or an exponent,
// or one beyond 64 bits. Both are well-formed JSON.
struct Number {
    bool integer = false;
    bool negative = false;
    std::uint64_t magnitude = 0;
};

namespace detail {

// The first byte from `at` on that a JSON string cannot hold as it is: a quote, a backslash, a
// control character, or a non-ASCII byte, which needs a UTF-8 check. Reading and writing strings
// both skip what comes before it.
inline const char* plain_run_end(const char* at, const char* end) {
    constexpr std::uint64_t ONES = 0x0101010101010101;
    constexpr std::uint64_t HIGHS = 0x8080808080808080;
    // The high bit of each byte below `limit` (at most 0x80); below the lowest such byte, no
    // borrow has disturbed the others, so the lowest bit set is exact.
    auto bytes_below = [](std::uint64_t word, std::uint64_t limit) {
        return (word - ONES * limit) & ~word & HIGHS;
    };
    // Eight bytes at a time: most texts are plain ASCII.
    while (end - at >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, at, sizeof word);
        std::uint64_t stops = bytes_below(word ^ (ONES * '"'), 1) | bytes_below(word ^ (ONES * '\\'), 1) |
                              bytes_below(word, 0x20) | (word & HIGHS);
        if (stops != 0) {
            if constexpr (std::endian::native == std::endian::little) return at + std::countr_zero(stops) / 8;
            break;
        }
        at += 8;
    }
    while (at != end && static_cast<unsigned char>(*at) >= 0x20 && static_cast<unsigned char>(*at) < 0x80 &&
           *at != '"' && *at != '\\') {
        ++at;
    }
    return at;
}

}  // namespace detail

// One pass over a body, token by token, as RFC 8259 defines them. Every string is checked as it
// is passed (valid UTF-8, no raw control character, known escapes), whether a member takes it
// or not. A lone surrogate escape (\ud800 without a trailing \udc00, or \udc00 alone) is valid
// JSON: a browser's JSON.stringify writes a JavaScript string holding one that way, say in a file
// name. Only a member's text refuses it; a skipped value or an unknown key may hold one.
class Reader {
public:
    explicit Reader(std::string_view body) : at_(body.data()), end_(body.data() + body.size()) {}

    // Skips white space, then takes `c` when it comes next.
    bool take(char c) {
        skip_space();
        if (at_ == end_ || *at_ != c) return false;
        ++at_;
        return true;
    }
    // Nothing but white space is left.
    bool at_end() {
        skip_space();
        return at_ == end_;
    }
    // An object or array begins (its bracket already taken): false when that is one level too deep.
    bool enter() { return ++depth_ <= MAX_NESTING; }
    void leave() { --depth_; }

    // A string comes next: its text, which lives until the next read. `usable` is false for a
    // text with a lone surrogate, which no member takes. False when no well-formed string comes.
    bool read_text(std::string_view& text, bool& usable) {
        if (!take('"')) return false;
        // Most texts are plain ASCII without escapes: they are their own bytes.
        const char* stop = detail::plain_run_end(at_, end_);
        if (stop == end_ || *stop != '"') return read_text_from(stop, text, usable);
        text = std::string_view(at_, static_cast<std::size_t>(stop - at_));
        at_ = stop + 1;
        usable = true;
        return true;
    }
    // A string that a member takes, into `out`.
    bool read_string(std::string& out);
    bool read_number(Number& number);
    // `word` (true, false or null) comes next.
    bool read_literal(std::string_view word);
    // Whether null comes next, taking it when it does.
    bool take_null() {
        skip_space();
        return at_ != end_ && *at_ == 'n' && read_literal("null");
    }
    // A value of any kind comes next, well formed and nested no deeper than MAX_NESTING.
    bool skip_value();

private:
    static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    // The rest of read_text once the text turned out to need more than its bytes; `stop` is
    // where detail::plain_run_end stopped.
    bool read_text_from(const char* stop, std::string_view& text, bool& usable);
    void skip_space() {
        while (at_ != end_ && is_space(*at_)) ++at_;
    }
    bool skip_key();
    bool skip_scalar();

    const char* at_;
    const char* end_;
    std::size_t depth_ = 0;
    std::string unescaped_;  // the last text read that held escapes
};

// ---- Writing ------------------------------------------------------------------------------

// Appends `text` as a JSON string with the minimal escaping: \" \\ \b \t \n \f \r, \u00xx in
// lower-case hex for other controls, everything else (solidus, U+007F, non-ASCII) as UTF-8.
// False, with nothing appended, when `text` is not valid UTF-8.
bool write_string(std::string& out, std::string_view text);
// Appends `key` and its colon, after a comma unless the member is the `first` of its object.
void write_key(std::string& out, std::string_view key, bool& first);
void write_integer(std::string& out, std::int64_t value);
void write_integer(std::string& out, std::uint64_t value);

// ---- Values: how each C++ type of a member is read and written ----------------------------

namespace detail {

template <class T>
struct Optional : std::false_type {
    using Inner = T;
};
template <class T>
struct Optional<std::optional<T>> : std::true_type {
    using Inner = T;
};

// Element: what the table of a nested member describes, a list's element or the record itself.
template <class T>
struct List : std::false_type {
    using Element = T;
};
template <class T>
struct List<std::vector<T>> : std::true_type {
    using Element = T;
};

template <class T>
concept Integer = std::integral<T> && !std::same_as<T, bool>;

inline bool read_value(Reader& in, std::string& target) { return in.read_string(target); }

inline bool read_value(Reader& in, bool& target) {
    if (in.read_literal("true")) {
        target = true;
        return true;
    }
    target = false;
    return in.read_literal("false");
}

template <Integer T>
bool read_value(Reader& in, T& target) {
    Number number;
    if (!in.read_number(number) || !number.integer) return false;
    if (!number.negative) {
        if (!std::in_range<T>(number.magnitude)) return false;
        target = static_cast<T>(number.magnitude);
        return true;
    }
    // -0 is 0; otherwise down to -2^63, within the type's range.
    constexpr std::uint64_t most_negative = std::uint64_t{1} << 63;
    if (number.magnitude > most_negative) return false;
    std::int64_t value = number.magnitude == most_negative ? std::numeric_limits<std::int64_t>::min()
                                                           : -static_cast<std::int64_t>(number.magnitude);
    if (!std::in_range<T>(value)) return false;
    target = static_cast<T>(value);
    return true;
}

// Enumerations are matched through the from_json_text overload of their own namespace.
template <class Enum>
    requires std::is_enum_v<Enum>
bool read_value(Reader& in, Enum& target) {
    std::string_view text;
    bool usable = false;
    return in.read_text(text, usable) && usable && from_json_text(text, target);
}

inline bool write_value(std::string& out, const std::string& value) { return write_string(out, value); }

inline bool write_value(std::string& out, bool value) {
    out.append(value ? std::string_view("true") : std::string_view("false"));
    return true;
}

template <Integer T>
bool write_value(std::string& out, T value) {
    if constexpr (std::is_signed_v<T>) {
        write_integer(out, static_cast<std::int64_t>(value));
    } else {
        write_integer(out, static_cast<std::uint64_t>(value));
    }
    return true;
}

template <class Enum>
    requires std::is_enum_v<Enum>
bool write_value(std::string& out, Enum value) {
    std::string_view text = json_text(value);
    if (text.empty()) return false;  // a value outside the enumeration
    out.push_back('"');
    out.append(text);
    out.push_back('"');
    return true;
}

template <class Enum>
std::string_view enum_text_at(std::size_t position) {
    return json_text(static_cast<Enum>(position));
}

template <class Value>
constexpr ValueInfo describe() {
    if constexpr (std::is_same_v<Value, std::string>) {
        return ValueInfo{ValueType::String};
    } else if constexpr (std::is_same_v<Value, bool>) {
        return ValueInfo{ValueType::Boolean};
    } else if constexpr (std::is_enum_v<Value>) {
        return ValueInfo{ValueType::Enumeration, 0, 0, &enum_text_at<Value>};
    } else if constexpr (std::is_integral_v<Value>) {
        return ValueInfo{ValueType::Integer, std::numeric_limits<Value>::min(),
                         std::numeric_limits<Value>::max()};
    } else if constexpr (List<Value>::value) {
        return ValueInfo{ValueType::List};
    } else {
        return ValueInfo{ValueType::Record};
    }
}

template <class Value>
inline constexpr ValueInfo VALUE_INFO = describe<Value>();

template <class MemberPointer>
struct MemberOf;
template <class R, class V>
struct MemberOf<V R::*> {
    using Record = R;
    using Value = V;
};

}  // namespace detail

// ---- Tables --------------------------------------------------------------------------------

// The members of a record in encoding order, as required<>, optional<> and within<> make them.
template <class... Members>
struct Fields {
    static_assert(sizeof...(Members) <= MAX_FIELDS, "a record lists at most 32 members");
    constexpr Fields(Members... listed) : members(listed...) {}
    std::tuple<Members...> members;
};
template <class... Members>
Fields(Members...) -> Fields<Members...>;

template <class Record, const auto& List>
struct Table;

namespace detail {

// The descriptions of a member list, where a table's Schema can point to them.
template <const auto& List>
inline constexpr auto DESCRIPTIONS = std::apply(
    [](const auto&... member) { return std::array<Field, sizeof...(member)>{member.describe()...}; },
    List.members);

template <class T>
struct TableOf : std::false_type {};
template <class R, const auto& L>
struct TableOf<Table<R, L>> : std::true_type {
    using Record = R;
};

}  // namespace detail

// A Schema that knows the record type and the members it describes, so that tables cannot be
// mixed up and decoding needs no look-up.
template <class Record, const auto& List>
struct Table : Schema {};

template <class Record, const auto& List>
constexpr Table<Record, List> table(UnknownKeys unknown_keys, AbsentMembers absent_members) {
    std::apply(
        [](const auto&... member) {
            static_assert(
                (std::is_same_v<typename std::remove_cvref_t<decltype(member)>::Record, Record> && ...),
                "a table lists members of its own record (or within<> ones)");
        },
        List.members);
    return Table<Record, List>{
        {std::span<const Field>(detail::DESCRIPTIONS<List>), unknown_keys, absent_members}};
}

template <class Record, const auto& List>
bool read_record(const Table<Record, List>& table, Reader& in, Record& record);
template <class Record, const auto& List>
bool write_record(const Table<Record, List>& table, const Record& record, std::string& out);

namespace detail {

// A list of records: `Nested` is the table of its element.
template <const auto& Nested, class Element>
bool read_value(Reader& in, std::vector<Element>& list) {
    if (!in.take('[') || !in.enter()) return false;
    list.clear();
    if (!in.take(']')) {
        do {
            if (!read_record(Nested, in, list.emplace_back())) return false;
        } while (in.take(','));
        if (!in.take(']')) return false;
    }
    in.leave();
    return true;
}

template <const auto& Nested, class Record>
bool read_value(Reader& in, Record& record) {
    return read_record(Nested, in, record);
}

template <const auto& Nested, class Element>
bool write_value(std::string& out, const std::vector<Element>& list) {
    out.push_back('[');
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i != 0) out.push_back(',');
        if (!write_record(Nested, list[i], out)) return false;
    }
    out.push_back(']');
    return true;
}

template <const auto& Nested, class Record>
bool write_value(std::string& out, const Record& record) {
    return write_record(Nested, record, out);
}

// No nested table: a scalar member.
inline constexpr int SCALAR = 0;

// A member of `Record` (MemberOf) with its key. `Nested` is the table of a record member or of a
// list member's element, SCALAR otherwise.
template <auto Member, const auto& Nested>
struct MemberField {
    using Record = typename MemberOf<decltype(Member)>::Record;
    using Value = typename MemberOf<decltype(Member)>::Value;
    using Inner = typename Optional<Value>::Inner;
    static constexpr bool nullable = Optional<Value>::value;
    static constexpr bool scalar = std::is_same_v<std::remove_cvref_t<decltype(Nested)>, int>;

    std::string_view key;
    Presence presence;

    static Value& slot(Record& record) { return record.*Member; }
    static const Value& slot(const Record& record) { return record.*Member; }

    // Reads the value at the reader into the member: null leaves an optional member empty.
    static bool read(Reader& in, Record& record) {
        Value& target = slot(record);
        if constexpr (nullable) {
            if (in.take_null()) return true;
            return read_inner(in, target.emplace());
        } else {
            return read_inner(in, target);
        }
    }

    static bool read_inner(Reader& in, Inner& target) {
        if constexpr (scalar) {
            return detail::read_value(in, target);
        } else {
            return detail::read_value<Nested>(in, target);
        }
    }

    static bool write(std::string& out, const Inner& value) {
        if constexpr (scalar) {
            return detail::write_value(out, value);
        } else {
            return detail::write_value<Nested>(out, value);
        }
    }

    constexpr Field describe() const {
        const Schema* nested = nullptr;
        if constexpr (!scalar) {
            using Element = typename List<Inner>::Element;
            static_assert(
                std::is_same_v<typename TableOf<std::remove_cvref_t<decltype(Nested)>>::Record, Element>,
                "a record member names the table of its own type, a list member that of its element");
            nested = &Nested;
        }
        return Field{key, presence, nullable, nested, &VALUE_INFO<Inner>};
    }
};

// A member of the record that `Outer` names, read and written as a member of the record that
// holds `Outer`.
template <auto Outer, class Inside>
struct WithinField : Inside {
    using Record = typename MemberOf<decltype(Outer)>::Record;
    static_assert(std::is_same_v<typename Inside::Record, typename MemberOf<decltype(Outer)>::Value>,
                  "within<> takes a member of the record that Outer names");

    static auto& slot(Record& record) { return Inside::slot(record.*Outer); }
    static const auto& slot(const Record& record) { return Inside::slot(record.*Outer); }
    static bool read(Reader& in, Record& record) { return Inside::read(in, record.*Outer); }
};

}  // namespace detail

// A member whose key must appear. It may be null only when the member is a std::optional.
template <auto Member, const auto& Nested = detail::SCALAR>
constexpr detail::MemberField<Member, Nested> required(std::string_view key) {
    return {key, Presence::Required};
}

// A member whose key may be missing; missing and null both leave it empty.
template <auto Member, const auto& Nested = detail::SCALAR>
constexpr detail::MemberField<Member, Nested> optional(std::string_view key) {
    static_assert(detail::MemberField<Member, Nested>::nullable,
                  "a member whose key may be missing must be a std::optional");
    return {key, Presence::Optional};
}

// A member of the record that `Outer` names, read and written as if it were a member of the
// record that holds `Outer`: a message that carries another message's members beside its own
// (the same keys, at the same level) decodes them straight into that other message.
template <auto Outer, class Inside>
constexpr detail::WithinField<Outer, Inside> within(Inside member) {
    return {member};
}

// ---- Decoding and encoding a record -------------------------------------------------------

namespace detail {

// What a key of an object meant for the record being read.
enum class KeyOutcome { Read, Unlisted, Refused };

// Reads the value of the member that `key` names, once: a listed key given twice, or a value the
// member does not take, is Refused. Each listed key is compared as a constant, which the compiler
// turns into a few loads rather than a call.
template <const auto& List, class Record, std::size_t... I>
KeyOutcome read_member(std::string_view key, Reader& in, Record& record, std::uint32_t& seen,
                       std::index_sequence<I...>) {
    using Members = std::remove_cvref_t<decltype(List.members)>;
    KeyOutcome outcome = KeyOutcome::Unlisted;
    auto read = [&](auto index) {
        using Member = std::tuple_element_t<decltype(index)::value, Members>;
        constexpr std::string_view listed = std::get<decltype(index)::value>(List.members).key;
        if (key.size() != listed.size() || std::memcmp(key.data(), listed.data(), listed.size()) != 0)
            return false;
        const std::uint32_t bit = std::uint32_t{1} << decltype(index)::value;
        bool fresh = (seen & bit) == 0;
        seen |= bit;
        outcome = fresh && Member::read(in, record) ? KeyOutcome::Read : KeyOutcome::Refused;
        return true;
    };
    (void)(read(std::integral_constant<std::size_t, I>{}) || ...);
    return outcome;
}

template <const auto& List>
constexpr std::uint32_t REQUIRED_MASK = [] {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < DESCRIPTIONS<List>.size(); ++i) {
        if (DESCRIPTIONS<List>[i].presence == Presence::Required) mask |= std::uint32_t{1} << i;
    }
    return mask;
}();

template <class Member, class Record>
bool write_member(const Member& member, const Record& record, AbsentMembers absent_members, bool& first,
                  std::string& out) {
    const auto& value = Member::slot(record);
    if constexpr (Member::nullable) {
        if (!value && absent_members == AbsentMembers::Omit) return true;
    }
    write_key(out, member.key, first);
    if constexpr (Member::nullable) {
        if (!value) {
            out.append(std::string_view("null"));
            return true;
        }
        return Member::write(out, *value);
    } else {
        return Member::write(out, value);
    }
}

}  // namespace detail

// Reads the object at the reader into `record`: every required member present, no listed key
// twice, unknown keys refused or skipped as the table says. On failure `record` holds whatever
// was filled in.
template <class Record, const auto& List>
bool read_record(const Table<Record, List>& table, Reader& in, Record& record) {
    constexpr std::size_t count = std::tuple_size_v<std::remove_cvref_t<decltype(List.members)>>;
    if (!in.take('{') || !in.enter()) return false;
    std::uint32_t seen = 0;
    if (!in.take('}')) {
        do {
            std::string_view key;
            bool usable = false;
            if (!in.read_text(key, usable) || !in.take(':')) return false;
            // A key with a lone surrogate names no member: every listed key is plain ASCII.
            auto outcome =
                usable ? detail::read_member<List>(key, in, record, seen, std::make_index_sequence<count>{})
                       : detail::KeyOutcome::Unlisted;
            if (outcome == detail::KeyOutcome::Refused) return false;
            if (outcome == detail::KeyOutcome::Unlisted &&
                (table.unknown_keys == UnknownKeys::Reject || !in.skip_value())) {
                return false;
            }
        } while (in.take(','));
        if (!in.take('}')) return false;
    }
    in.leave();
    return (seen & detail::REQUIRED_MASK<List>) == detail::REQUIRED_MASK<List>;
}

// Appends the record's compact JSON to `out`; on failure `out` may hold a partial object.
template <class Record, const auto& List>
bool write_record(const Table<Record, List>& table, const Record& record, std::string& out) {
    out.push_back('{');
    bool first = true;
    bool ok = std::apply(
        [&](const auto&... member) {
            return (detail::write_member(member, record, table.absent_members, first, out) && ...);
        },
        List.members);
    out.push_back('}');
    return ok;
}

// Decodes `body` into `record`, which must be in its initial state: exactly one JSON document
// with only space, tab, line feed and carriage return around it. On failure `record` holds
// whatever was filled in. Running out of memory is a failure like any other.
template <class Record, const auto& List>
bool decode_record(const Table<Record, List>& table, std::string_view body, Record& record) {
    try {
        Reader in(body);
        return read_record(table, in, record) && in.at_end();
    } catch (const std::bad_alloc&) {
        return false;
    }
}

template <class Record, const auto& List>
std::optional<Record> decode(const Table<Record, List>& table, std::string_view body) {
    Record record{};
    if (!decode_record(table, body, record)) return std::nullopt;
    return record;
}

// Decodes `body` into `slot` in place, without the move of decode(); `slot` is empty afterwards
// when the body does not decode.
template <class Record, const auto& List>
bool decode_into(const Table<Record, List>& table, std::string_view body, std::optional<Record>& slot) {
    if (decode_record(table, body, slot.emplace())) return true;
    slot.reset();
    return false;
}

// Appends the compact JSON of `record`; on failure `out` is left as it was.
template <class Record, const auto& List>
bool encode(const Table<Record, List>& table, const Record& record, std::string& out) {
    std::size_t original_size = out.size();
    bool ok = false;
    try {
        ok = write_record(table, record, out);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) out.resize(original_size);
    return ok;
}

}  // namespace ondrake::json_codec
