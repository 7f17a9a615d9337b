#include "safari-extension/tools/message_json.hpp"

#include <boost/json.hpp>

#include <utility>

namespace ondrake::safari {
namespace {

Value to_value(const boost::json::value& json) {
    switch (json.kind()) {
        case boost::json::kind::null: return Value(Null{});
        case boost::json::kind::bool_: return Value(json.get_bool());
        case boost::json::kind::int64: return Value(static_cast<double>(json.get_int64()));
        case boost::json::kind::uint64: return Value(static_cast<double>(json.get_uint64()));
        case boost::json::kind::double_: return Value(json.get_double());
        case boost::json::kind::string: return Value(std::string(json.get_string()));
        case boost::json::kind::array: {
            Array items;
            items.reserve(json.get_array().size());
            for (const boost::json::value& item : json.get_array()) items.push_back(to_value(item));
            return Value(std::move(items));
        }
        case boost::json::kind::object: {
            Dictionary entries;
            for (const auto& member : json.get_object()) {
                entries.set(std::string(member.key()), to_value(member.value()));
            }
            return Value(std::move(entries));
        }
    }
    return Value(Unrepresentable{});
}

boost::json::value to_json(const Value& value);

boost::json::object to_json_object(const Dictionary& dictionary) {
    boost::json::object object;
    for (const auto& [key, value] : dictionary) object.emplace(key, to_json(value));
    return object;
}

boost::json::value to_json(const Value& value) {
    struct Visitor {
        boost::json::value operator()(Null) const { return nullptr; }
        boost::json::value operator()(bool flag) const { return flag; }
        boost::json::value operator()(double number) const { return number; }
        boost::json::value operator()(const std::string& text) const { return boost::json::string(text); }
        boost::json::value operator()(const Array& items) const {
            boost::json::array array;
            for (const Value& item : items) array.push_back(to_json(item));
            return array;
        }
        boost::json::value operator()(const Dictionary& entries) const { return to_json_object(entries); }
        // JSON has nothing closer for a value the model does not carry.
        boost::json::value operator()(Unrepresentable) const { return nullptr; }
    };
    return std::visit(Visitor{}, value.storage());
}

}  // namespace

std::optional<Value> value_from_json(std::string_view text, std::string& error) {
    boost::system::error_code code;
    boost::json::value json = boost::json::parse(text, code);
    if (code) {
        error = code.message();
        return std::nullopt;
    }
    return to_value(json);
}

std::string json_from_dictionary(const Dictionary& dictionary) {
    return boost::json::serialize(to_json_object(dictionary));
}

}  // namespace ondrake::safari
