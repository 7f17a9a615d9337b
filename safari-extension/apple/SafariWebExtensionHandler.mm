// The Safari web extension's native handler. Safari creates it through NSExtensionMain (the
// bundle's principal class) and calls beginRequestWithExtensionContext: for every message the
// extension's script sends. The handler's logic lives in the portable relay; this file only
// converts between Foundation objects and the relay's dictionary model and provides Foundation's
// and Dispatch's services behind the relay's interfaces. Built with ARC.

#import <Foundation/Foundation.h>
#import <SafariServices/SafariServices.h>

#include <dispatch/dispatch.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "safari-extension/relay.hpp"

namespace {

using ondrake::safari::Array;
using ondrake::safari::Dictionary;
using ondrake::safari::Null;
using ondrake::safari::Unrepresentable;
using ondrake::safari::Value;

NSString* string_from_utf8(std::string_view text) {
    // NSString drops a leading byte-order mark when it decodes UTF-8; the script must see the
    // text exactly as the application sent it, so a leading mark is put back explicitly.
    static constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
    NSString* prefix = @"";
    if (text.substr(0, BYTE_ORDER_MARK.size()) == BYTE_ORDER_MARK) {
        prefix = @"\uFEFF";
        text.remove_prefix(BYTE_ORDER_MARK.size());
    }
    NSString* rest = [[NSString alloc] initWithBytes:text.data()
                                              length:text.size()
                                            encoding:NSUTF8StringEncoding];
    return rest == nil ? nil : [prefix stringByAppendingString:rest];
}

Value value_from_object(id object);

// A dictionary whose keys are all strings, or Unrepresentable.
Value value_from_dictionary(NSDictionary* dictionary) {
    Dictionary entries;
    for (id key in dictionary) {
        if (![key isKindOfClass:[NSString class]]) return Value(Unrepresentable{});
        NSData* key_bytes = [static_cast<NSString*>(key) dataUsingEncoding:NSUTF8StringEncoding];
        if (key_bytes == nil) return Value(Unrepresentable{});
        entries.set(std::string(static_cast<const char*>(key_bytes.bytes), key_bytes.length),
                    value_from_object(dictionary[key]));
    }
    return Value(std::move(entries));
}

Value value_from_object(id object) {
    if ([object isKindOfClass:[NSString class]]) {
        // dataUsingEncoding keeps embedded NUL characters that UTF8String would cut off. A string
        // with no UTF-8 form (an unpaired surrogate) is not passed on altered.
        NSData* bytes = [static_cast<NSString*>(object) dataUsingEncoding:NSUTF8StringEncoding];
        if (bytes == nil) return Value(Unrepresentable{});
        return Value(std::string(static_cast<const char*>(bytes.bytes), bytes.length));
    }
    if ([object isKindOfClass:[NSNumber class]]) {
        if (CFGetTypeID((__bridge CFTypeRef)object) == CFBooleanGetTypeID())
            return Value(static_cast<bool>([object boolValue]));
        return Value([object doubleValue]);
    }
    if ([object isKindOfClass:[NSNull class]]) return Value(Null{});
    if ([object isKindOfClass:[NSDictionary class]]) return value_from_dictionary(object);
    if ([object isKindOfClass:[NSArray class]]) {
        Array items;
        for (id item in static_cast<NSArray*>(object)) items.push_back(value_from_object(item));
        return Value(std::move(items));
    }
    return Value(Unrepresentable{});
}

id object_from_value(const Value& value);

NSDictionary* object_from_dictionary(const Dictionary& dictionary) {
    NSMutableDictionary* object = [NSMutableDictionary dictionaryWithCapacity:dictionary.size()];
    for (const auto& [key, value] : dictionary) {
        NSString* key_object = string_from_utf8(key);
        id value_object = object_from_value(value);
        if (key_object != nil && value_object != nil) object[key_object] = value_object;
    }
    return object;
}

id object_from_value(const Value& value) {
    struct Visitor {
        id operator()(Null) const { return [NSNull null]; }
        id operator()(bool flag) const { return @(flag); }
        id operator()(double number) const { return @(number); }
        id operator()(const std::string& text) const { return string_from_utf8(text); }
        id operator()(const Array& items) const {
            NSMutableArray* array = [NSMutableArray arrayWithCapacity:items.size()];
            for (const Value& item : items) {
                if (id object = object_from_value(item)) [array addObject:object];
            }
            return array;
        }
        id operator()(const Dictionary& entries) const { return object_from_dictionary(entries); }
        id operator()(Unrepresentable) const { return [NSNull null]; }
    };
    return std::visit(Visitor{}, value.storage());
}

// Wraps the reply dictionary in a new extension item under the message key and completes the
// request with that one item, without a completion handler.
void reply(NSExtensionContext* context, NSDictionary* dictionary) {
    NSExtensionItem* item = [[NSExtensionItem alloc] init];
    item.userInfo = @{SFExtensionMessageKey : dictionary};
    [context completeRequestReturningItems:@[ item ] completionHandler:nil];
}

// One request from Safari. Holding the context strongly keeps it alive until the reply is sent,
// also when the reply comes from a queue thread after beginRequestWithExtensionContext: returned.
class FoundationContext final : public ondrake::safari::ExtensionContext {
public:
    explicit FoundationContext(NSExtensionContext* context) : context_(context) {}

    std::optional<Value> input_message() const override {
        id first = context_.inputItems.firstObject;
        if (![first isKindOfClass:[NSExtensionItem class]]) return std::nullopt;
        NSDictionary* info = static_cast<NSExtensionItem*>(first).userInfo;
        if (![info isKindOfClass:[NSDictionary class]]) return std::nullopt;
        id message = info[SFExtensionMessageKey];
        if (message == nil) return std::nullopt;
        return value_from_object(message);
    }

    void complete_request(Dictionary dictionary) override {
        reply(context_, object_from_dictionary(dictionary));
    }

private:
    NSExtensionContext* __strong context_;
};

class FileManagerContainers final : public ondrake::safari::ContainerLocator {
public:
    std::optional<std::string> container_path(std::string_view group_id) const override {
        NSString* group = string_from_utf8(group_id);
        if (group == nil) return std::nullopt;
        NSURL* container =
            [[NSFileManager defaultManager] containerURLForSecurityApplicationGroupIdentifier:group];
        if (container == nil) return std::nullopt;
        const char* path = container.fileSystemRepresentation;
        if (path == nullptr) return std::nullopt;
        return std::string(path);
    }
};

// The global concurrent queue of quality-of-service class user-initiated.
class GlobalQueue final : public ondrake::safari::WorkQueue {
public:
    void submit(std::function<void()> work) override {
        auto item = std::make_shared<std::function<void()>>(std::move(work));
        dispatch_async(dispatch_get_global_queue(QOS_CLASS_USER_INITIATED, 0), ^{
          (*item)();
        });
    }
};

}  // namespace

@interface SafariWebExtensionHandler : NSObject <NSExtensionRequestHandling>
@end

@implementation SafariWebExtensionHandler

- (void)beginRequestWithExtensionContext:(NSExtensionContext*)context {
    FileManagerContainers containers;
    GlobalQueue queue;
    ondrake::safari::begin_request(
        std::make_shared<FoundationContext>(context),
        ondrake::safari::RelayServices{containers, queue, ondrake::safari::monotonic_clock()});
}

@end
