// The dictionaries that travel between the extension's script and the handler, in a form that
// does not depend on Foundation. Safari hands the handler property-list values (strings, numbers,
// booleans, null, arrays, dictionaries); the handler only ever needs to tell a string from
// anything else, and builds replies out of strings, so the model is small on purpose.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace ondrake::safari {

class Value;

// A dictionary with string keys that remembers the order in which its entries were added, so
// that a reply prints its keys in the order the handler wrote them.
class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;

    // The value under `key`, or nullptr when there is none.
    const Value* find(std::string_view key) const;
    // Replaces the value under `key`, or adds the entry at the end when the key is new.
    void set(std::string key, Value value);

    // Defined below Value: the entries' type is complete only there.
    std::size_t size() const;
    bool empty() const;
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    std::vector<Entry> entries_;
};

using Array = std::vector<Value>;

// JSON's and the property list's null.
struct Null {
    friend bool operator==(Null, Null) { return true; }
};

// Something Safari may hand over that the model does not carry (a date, binary data, a
// dictionary whose keys are not all strings, a string that has no UTF-8 form). It is kept as a
// kind of its own so that it can never be mistaken for a string or a dictionary.
struct Unrepresentable {
    friend bool operator==(Unrepresentable, Unrepresentable) { return true; }
};

class Value {
public:
    using Storage = std::variant<Null, bool, double, std::string, Array, Dictionary, Unrepresentable>;

    Value() = default;
    Value(Null) {}
    Value(bool flag) : storage_(flag) {}
    Value(double number) : storage_(number) {}
    Value(int number) : storage_(static_cast<double>(number)) {}
    Value(std::string text) : storage_(std::move(text)) {}
    Value(const char* text) : storage_(std::string(text)) {}
    Value(Array items) : storage_(std::move(items)) {}
    Value(Dictionary entries) : storage_(std::move(entries)) {}
    Value(Unrepresentable other) : storage_(other) {}

    // Defined out of line: inlined into every caller, moving the variant makes g++ 12 warn
    // about alternatives that cannot be active there (-Wmaybe-uninitialized).
    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    ~Value();

    // The text when this value is a string, otherwise nullptr.
    const std::string* as_string() const { return std::get_if<std::string>(&storage_); }
    // The entries when this value is a dictionary, otherwise nullptr.
    const Dictionary* as_dictionary() const { return std::get_if<Dictionary>(&storage_); }

    const Storage& storage() const { return storage_; }

    friend bool operator==(const Value& a, const Value& b) { return a.storage_ == b.storage_; }

private:
    Storage storage_;
};

inline std::size_t Dictionary::size() const { return entries_.size(); }
inline bool Dictionary::empty() const { return entries_.empty(); }
inline std::vector<Dictionary::Entry>::const_iterator Dictionary::begin() const { return entries_.begin(); }
inline std::vector<Dictionary::Entry>::const_iterator Dictionary::end() const { return entries_.end(); }

// A dictionary built from key/value pairs in the given order; later duplicates replace earlier ones.
Dictionary make_dictionary(std::vector<Dictionary::Entry> entries);

// The string under `key`, or nothing when the key is absent or its value is of another kind.
std::optional<std::string> string_entry(const Dictionary& dictionary, std::string_view key);

}  // namespace ondrake::safari
