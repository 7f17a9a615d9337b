#include "safari-extension/message.hpp"

namespace ondrake::safari {

Value::Value(const Value& other) = default;
Value::Value(Value&& other) noexcept = default;
Value& Value::operator=(const Value& other) = default;
Value& Value::operator=(Value&& other) noexcept = default;
Value::~Value() = default;

const Value* Dictionary::find(std::string_view key) const {
    for (const Entry& entry : entries_) {
        if (entry.first == key) return &entry.second;
    }
    return nullptr;
}

void Dictionary::set(std::string key, Value value) {
    for (Entry& entry : entries_) {
        if (entry.first == key) {
            entry.second = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::move(key), std::move(value));
}

bool operator==(const Dictionary& a, const Dictionary& b) { return a.entries_ == b.entries_; }

Dictionary make_dictionary(std::vector<Dictionary::Entry> entries) {
    Dictionary dictionary;
    for (Dictionary::Entry& entry : entries) dictionary.set(std::move(entry.first), std::move(entry.second));
    return dictionary;
}

std::optional<std::string> string_entry(const Dictionary& dictionary, std::string_view key) {
    const Value* value = dictionary.find(key);
    if (value == nullptr) return std::nullopt;
    const std::string* text = value->as_string();
    if (text == nullptr) return std::nullopt;
    return *text;
}

}  // namespace ondrake::safari
