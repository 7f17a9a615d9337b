// UTS #46 processing of internationalised domain names through ICU.
#pragma once

#include <string>
#include <string_view>

struct UIDNA;  // ICU's opaque IDNA object (unicode/uidna.h)

namespace whatwg {

// Domain parser ToASCII with beStrict false (https://url.spec.whatwg.org/#domain-parser-toascii):
// Unicode ToASCII with the URL Standard's flags: CheckHyphens false, CheckBidi true,
// CheckJoiners true, UseSTD3ASCIIRules false, Transitional_Processing false, VerifyDnsLength false,
// IgnoreInvalidPunycode false. Owns its ICU object, opened on first use: hosts that need it are rare.
class Uts46 {
public:
    Uts46() noexcept = default;
    ~Uts46();
    Uts46(Uts46&& other) noexcept;
    Uts46& operator=(Uts46&& other) noexcept;
    Uts46(const Uts46&) = delete;
    Uts46& operator=(const Uts46&) = delete;

    // Appends the ASCII form of the UTF-8 `domain` to `out`; false when ToASCII fails (or ICU
    // cannot be used).
    bool to_ascii(std::string_view domain, std::string& out);

private:
    const UIDNA* handle();

    UIDNA* idna_ = nullptr;
};

}  // namespace whatwg
