// The one strict JSON decoder and the one compact encoder behind every message type.
//
// A message type does not parse or print anything itself: it declares a table of its members,
// in the order they are written,
//
//     constexpr json_codec::Field COOKIE_FIELDS[] = {
//         json_codec::required<&BrowserCookie::name>("name"),
//         ...
//     };
//     constexpr auto COOKIE = json_codec::table<BrowserCookie>(COOKIE_FIELDS, UnknownKeys::Reject,
//                                                             AbsentMembers::WriteNull);
//
// and json_codec::decode(COOKIE, body) / json_codec::encode(COOKIE, cookie, out) do the rest.
// Whether a member may be null follows from its C++ type (std::optional accepts null and is
// written as null or left out when empty); whether its key must appear follows from
// required<>/optional<>. Nested records and lists of records name the table of their element.
// A table lists members of its own record only (checked when the table is built), or, through
// within<>, members of one of its member records that the JSON carries at the same level.
//
// This header is for the files that declare message tables; callers use protocol.hpp and ipc.hpp.
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace ondrake::json_codec {

// One JSON scalar as the parser reported it. Numbers written with a fraction or an exponent, or
// too large for 64 bits, are Inexact: no member accepts them, but they are well-formed JSON.
struct Scalar {
    enum class Type { Boolean, Signed, Unsigned, Inexact, Text };
    Type type = Type::Inexact;
    bool boolean = false;
    std::int64_t signed_value = 0;
    std::uint64_t unsigned_value = 0;
    std::string_view text;

    static Scalar of_boolean(bool v) { return {Type::Boolean, v, 0, 0, {}}; }
    static Scalar of_signed(std::int64_t v) { return {Type::Signed, false, v, 0, {}}; }
    static Scalar of_unsigned(std::uint64_t v) { return {Type::Unsigned, false, 0, v, {}}; }
    static Scalar inexact() { return {Type::Inexact, false, 0, 0, {}}; }
    static Scalar of_text(std::string_view v) { return {Type::Text, false, 0, 0, v}; }
};

enum class UnknownKeys { Reject, Skip };
// How an empty optional member is encoded: as null, or not at all.
enum class AbsentMembers { WriteNull, Omit };
enum class Presence { Required, Optional };
enum class Shape { Scalar, Record, List };

struct Schema;

// What a member holds, as a reader of the protocol sees it: the JSON type and, for integers, the
// range of the C++ type. Only the tools that describe the messages (tools/protocol-doc) read it;
// the decoder and the encoder never do.
enum class ValueType { String, Integer, Boolean, Enumeration, Record, List };

struct ValueInfo {
    ValueType type;
    std::int64_t minimum = 0;   // Integer only
    std::uint64_t maximum = 0;  // Integer only
    // Enumeration only: the JSON text of the value at `position`, empty past the last value.
    std::string_view (*enum_text)(std::size_t position) = nullptr;
};

struct Field {
    std::string_view key;
    Presence presence;
    bool nullable;  // the member is a std::optional
    Shape shape;
    const Schema* nested;  // the element table of a Record or List member

    // Decoding. Scalar: stores the value, false when its type or range does not fit.
    bool (*put)(void* record, const Scalar& value);
    // Record: a fresh nested record to fill; List: a fresh empty list.
    void* (*open)(void* record);
    // List: a fresh element appended to the list that `open` returned.
    void* (*append)(void* list);

    // Encoding. `is_absent` is true for an empty optional; `write` appends the JSON value.
    bool (*is_absent)(const void* record);
    bool (*write)(const void* record, std::string& out);

    const ValueInfo* value;  // the member's (inner) value, for descriptions only

    // The record type whose member this is (an identity to compare, see detail::type_id), and
    // how to reach that record from the one the table describes: null when it is that record,
    // set by within<> when it is one of its member records.
    const void* record_type;
    void* (*holder)(void* record);
};

struct Schema {
    std::span<const Field> fields;  // at most 32, in encoding order, keys plain ASCII
    UnknownKeys unknown_keys;
    AbsentMembers absent_members;
};

// A Schema that knows the record type it describes, so that tables cannot be mixed up.
template <class Record>
struct Table : Schema {};

// Seen keys are tracked in one 32-bit mask per object.
inline constexpr std::size_t MAX_FIELDS = 32;

namespace detail {

// One address per type: a type identity that constant evaluation can compare.
template <class T>
inline constexpr char type_id = 0;

// Stops constant evaluation, and so the build, with the message in the compiler's report.
inline void table_error(const char*) {}

}  // namespace detail

template <class Record, std::size_t N>
constexpr Table<Record> table(const Field (&fields)[N], UnknownKeys unknown_keys,
                              AbsentMembers absent_members) {
    static_assert(N <= MAX_FIELDS, "a record lists at most 32 members");
    for (const Field& field : fields) {
        if (field.record_type != &detail::type_id<Record>) {
            detail::table_error("a table lists members of its own record (or within<> ones)");
        }
    }
    return Table<Record>{{std::span<const Field>(fields), unknown_keys, absent_members}};
}

// Deepest nesting of arrays and objects accepted anywhere in a body, skipped values included.
// The parser recurses once per level; this keeps its stack use small and bounded.
inline constexpr std::size_t MAX_NESTING = 1000;

// Decodes `body` into `record`, which must be in its initial state; `clear` restores that state
// should a second pass be needed. Exactly one JSON document with only space, tab, line feed and
// carriage return around it. On failure `record` holds whatever was filled in.
bool decode_record(const Schema& schema, std::string_view body, void* record, void (*clear)(void* record));

// Appends the record's compact JSON to `out`; on failure `out` may hold a partial object.
bool encode_record(const Schema& schema, const void* record, std::string& out);

// Appends `text` as a JSON string with the minimal escaping: \" \\ \b \t \n \f \r, \u00xx in
// lower-case hex for other controls, everything else (solidus, U+007F, non-ASCII) as UTF-8.
// False, with nothing appended, when `text` is not valid UTF-8.
bool write_string(std::string& out, std::string_view text);
void write_integer(std::string& out, std::int64_t value);
void write_integer(std::string& out, std::uint64_t value);

template <class Record>
void clear(void* record) {
    *static_cast<Record*>(record) = Record{};
}

template <class Record>
std::optional<Record> decode(const Table<Record>& table, std::string_view body) {
    Record record{};
    if (!decode_record(table, body, &record, &clear<Record>)) return std::nullopt;
    return record;
}

// Decodes `body` into `slot` in place, without the move of decode(); `slot` is empty afterwards
// when the body does not decode.
template <class Record>
bool decode_into(const Table<Record>& table, std::string_view body, std::optional<Record>& slot) {
    if (decode_record(table, body, &slot.emplace(), &clear<Record>)) return true;
    slot.reset();
    return false;
}

// Appends the compact JSON of `record`; on failure `out` is left as it was.
template <class Record>
bool encode(const Table<Record>& table, const Record& record, std::string& out) {
    std::size_t original_size = out.size();
    bool ok = false;
    try {
        ok = encode_record(table, &record, out);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) out.resize(original_size);
    return ok;
}

// ---- Field factories: everything below generates the function pointers of a Field ---------

namespace detail {

template <class MemberPointer>
struct MemberOf;
template <class R, class V>
struct MemberOf<V R::*> {
    using Record = R;
    using Value = V;
};

template <class T>
struct Optional : std::false_type {
    using Inner = T;
};
template <class T>
struct Optional<std::optional<T>> : std::true_type {
    using Inner = T;
};

template <class T>
struct List : std::false_type {};
template <class T>
struct List<std::vector<T>> : std::true_type {
    using Element = T;
};

template <auto Member>
using RecordOf = typename MemberOf<decltype(Member)>::Record;
template <auto Member>
using ValueOf = typename MemberOf<decltype(Member)>::Value;
template <auto Member>
using InnerOf = typename Optional<ValueOf<Member>>::Inner;

template <auto Member>
auto& slot(void* record) {
    return static_cast<RecordOf<Member>*>(record)->*Member;
}
template <auto Member>
const auto& slot(const void* record) {
    return static_cast<const RecordOf<Member>*>(record)->*Member;
}
template <auto Member>
const auto& inner(const void* record) {
    if constexpr (Optional<ValueOf<Member>>::value) {
        return *slot<Member>(record);
    } else {
        return slot<Member>(record);
    }
}

inline bool assign(std::string& target, const Scalar& value) {
    if (value.type != Scalar::Type::Text) return false;
    target.assign(value.text);
    return true;
}

inline bool assign(bool& target, const Scalar& value) {
    if (value.type != Scalar::Type::Boolean) return false;
    target = value.boolean;
    return true;
}

template <std::integral Integer>
    requires(!std::same_as<Integer, bool>)
bool assign(Integer& target, const Scalar& value) {
    if (value.type == Scalar::Type::Signed && std::in_range<Integer>(value.signed_value)) {
        target = static_cast<Integer>(value.signed_value);
        return true;
    }
    if (value.type == Scalar::Type::Unsigned && std::in_range<Integer>(value.unsigned_value)) {
        target = static_cast<Integer>(value.unsigned_value);
        return true;
    }
    return false;
}

// Enumerations are matched through the from_json_text overload of their own namespace.
template <class Enum>
    requires std::is_enum_v<Enum>
bool assign(Enum& target, const Scalar& value) {
    return value.type == Scalar::Type::Text && from_json_text(value.text, target);
}

inline bool write_value(std::string& out, const std::string& value) { return write_string(out, value); }

inline bool write_value(std::string& out, bool value) {
    out.append(value ? "true" : "false");
    return true;
}

template <std::integral Integer>
    requires(!std::same_as<Integer, bool>)
bool write_value(std::string& out, Integer value) {
    if constexpr (std::is_signed_v<Integer>) {
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

template <auto Member>
inline constexpr ValueInfo VALUE_INFO = describe<InnerOf<Member>>();

template <auto Member>
bool put(void* record, const Scalar& value) {
    auto& target = slot<Member>(record);
    if constexpr (Optional<ValueOf<Member>>::value) {
        InnerOf<Member> decoded{};
        if (!assign(decoded, value)) return false;
        target = std::move(decoded);
        return true;
    } else {
        return assign(target, value);
    }
}

template <auto Member>
bool is_absent(const void* record) {
    if constexpr (Optional<ValueOf<Member>>::value) {
        return !slot<Member>(record).has_value();
    } else {
        return false;
    }
}

template <auto Member>
bool write_scalar(const void* record, std::string& out) {
    return write_value(out, inner<Member>(record));
}

template <auto Member>
void* open(void* record) {
    auto& target = slot<Member>(record);
    if constexpr (Optional<ValueOf<Member>>::value) {
        return &target.emplace();
    } else {
        target = {};
        return &target;
    }
}

template <auto Member>
void* append(void* list) {
    return &static_cast<InnerOf<Member>*>(list)->emplace_back();
}

template <auto Member, const auto& Nested>
bool write_nested(const void* record, std::string& out) {
    const Schema& schema = Nested;
    const auto& value = inner<Member>(record);
    if constexpr (List<InnerOf<Member>>::value) {
        out.push_back('[');
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (i != 0) out.push_back(',');
            if (!encode_record(schema, &value[i], out)) return false;
        }
        out.push_back(']');
        return true;
    } else {
        return encode_record(schema, &value, out);
    }
}

template <auto Member>
void* member_record(void* record) {
    return &slot<Member>(record);
}

template <auto Member>
constexpr Field scalar_field(std::string_view key, Presence presence) {
    constexpr bool nullable = Optional<ValueOf<Member>>::value;
    return Field{key,
                 presence,
                 nullable,
                 Shape::Scalar,
                 nullptr,
                 &put<Member>,
                 nullptr,
                 nullptr,
                 &is_absent<Member>,
                 &write_scalar<Member>,
                 &VALUE_INFO<Member>,
                 &type_id<RecordOf<Member>>,
                 nullptr};
}

template <auto Member, const auto& Nested>
constexpr Field nested_field(std::string_view key, Presence presence) {
    using Inner = InnerOf<Member>;
    using NestedRecord = std::remove_cvref_t<decltype(Nested)>;
    constexpr bool nullable = Optional<ValueOf<Member>>::value;
    if constexpr (List<Inner>::value) {
        static_assert(std::is_same_v<NestedRecord, Table<typename List<Inner>::Element>>,
                      "a list member names the table of its element type");
        return Field{key,
                     presence,
                     nullable,
                     Shape::List,
                     &Nested,
                     nullptr,
                     &open<Member>,
                     &append<Member>,
                     &is_absent<Member>,
                     &write_nested<Member, Nested>,
                     &VALUE_INFO<Member>,
                     &type_id<RecordOf<Member>>,
                     nullptr};
    } else {
        static_assert(std::is_same_v<NestedRecord, Table<Inner>>,
                      "a record member names the table of its own type");
        return Field{key,
                     presence,
                     nullable,
                     Shape::Record,
                     &Nested,
                     nullptr,
                     &open<Member>,
                     nullptr,
                     &is_absent<Member>,
                     &write_nested<Member, Nested>,
                     &VALUE_INFO<Member>,
                     &type_id<RecordOf<Member>>,
                     nullptr};
    }
}

}  // namespace detail

// A member whose key must appear. It may be null only when the member is a std::optional.
template <auto Member>
constexpr Field required(std::string_view key) {
    return detail::scalar_field<Member>(key, Presence::Required);
}
template <auto Member, const auto& Nested>
constexpr Field required(std::string_view key) {
    return detail::nested_field<Member, Nested>(key, Presence::Required);
}

// A member whose key may be missing; missing and null both leave it empty.
template <auto Member>
constexpr Field optional(std::string_view key) {
    static_assert(detail::Optional<detail::ValueOf<Member>>::value,
                  "a member whose key may be missing must be a std::optional");
    return detail::scalar_field<Member>(key, Presence::Optional);
}
template <auto Member, const auto& Nested>
constexpr Field optional(std::string_view key) {
    static_assert(detail::Optional<detail::ValueOf<Member>>::value,
                  "a member whose key may be missing must be a std::optional");
    return detail::nested_field<Member, Nested>(key, Presence::Optional);
}

// A member of the record that `Member` names, read and written as if it were a member of the
// record that holds `Member`: a message that carries another message's members beside its own
// (the same keys, at the same level) decodes them straight into that other message.
template <auto Member>
constexpr Field within(Field field) {
    if (field.record_type != &detail::type_id<detail::ValueOf<Member>> || field.holder != nullptr) {
        detail::table_error("within<> takes a plain member of the record that Member names");
    }
    field.record_type = &detail::type_id<detail::RecordOf<Member>>;
    field.holder = &detail::member_record<Member>;
    return field;
}

}  // namespace ondrake::json_codec
