// The Apple SDK names that the Safari extension's Objective-C++ adapter
// (safari-extension/apple/SafariWebExtensionHandler.mm) uses and GNUstep's Foundation lacks, so
// that scripts/check-apple-sources.sh can compile the adapter on Linux. Used by that check alone:
// nothing here is built into anything. Each declaration copies its signature from the SDK header
// named above it, and gives the macOS version that introduced the name; every one is at or below
// our floor (packaging/macos-floor). A name the adapter starts to use that GNUstep lacks fails the
// check until it is added here the same way.
#pragma once

#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

#ifdef __cplusplus
extern "C" {
#endif

// CoreFoundation.framework/Headers/CFBase.h, macOS 10.0 (64-bit: not __LLP64__).
// CF_BRIDGED_TYPE(id) is the objc_bridge attribute.
typedef unsigned long CFTypeID;
typedef const __attribute__((objc_bridge(id))) void* CFTypeRef;
CFTypeID CFGetTypeID(CFTypeRef cf);

// CoreFoundation.framework/Headers/CFNumber.h, macOS 10.0.
CFTypeID CFBooleanGetTypeID(void);

// usr/include/sys/qos.h, macOS 10.10: qos_class_t, here with only the class the adapter uses.
typedef enum qos_class : unsigned int {
    QOS_CLASS_USER_INITIATED = 0x19,
} qos_class_t;

// usr/include/os/object.h, dispatch/object.h and dispatch/queue.h: with Objective-C and a
// deployment target of macOS 10.8 or later (OS_OBJECT_USE_OBJC), dispatch objects are Objective-C
// objects, as OS_OBJECT_DECL_CLASS, DISPATCH_DECL and DISPATCH_DECL_SUBCLASS declare them below.
@protocol OS_dispatch_object <NSObject>
@end
typedef NSObject<OS_dispatch_object>* __attribute__((objc_independent_class)) dispatch_object_t;
@protocol OS_dispatch_queue <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_queue>* __attribute__((objc_independent_class)) dispatch_queue_t;
@protocol OS_dispatch_queue_global <OS_dispatch_queue>
@end
typedef NSObject<OS_dispatch_queue_global>* __attribute__((objc_independent_class)) dispatch_queue_global_t;

// usr/include/dispatch/object.h, macOS 10.6.
typedef void (^dispatch_block_t)(void);

// usr/include/dispatch/queue.h, macOS 10.6.
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
dispatch_queue_global_t dispatch_get_global_queue(intptr_t identifier, uintptr_t flags);

// SafariServices.framework/Headers/SFSafariApplication.h, macOS 11.0 (Safari 14).
extern NSString* const SFExtensionMessageKey;

#ifdef __cplusplus
}
#endif

// Foundation.framework/Headers/NSFileManager.h, macOS 10.8.
@interface NSFileManager (AppleSDKNames)
- (nullable NSURL*)containerURLForSecurityApplicationGroupIdentifier:(NSString*)groupIdentifier;
@end

// Foundation.framework/Headers/NSURL.h, macOS 10.9 (NS_RETURNS_INNER_POINTER is
// objc_returns_inner_pointer).
@interface NSURL (AppleSDKNames)
@property(readonly) const char* fileSystemRepresentation __attribute__((objc_returns_inner_pointer));
@end

NS_ASSUME_NONNULL_END
