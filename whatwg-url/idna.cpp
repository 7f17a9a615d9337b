#include "whatwg-url/idna.hpp"

#include "whatwg-url/ascii.hpp"

#include <unicode/uidna.h>

#include <climits>
#include <utility>

namespace whatwg {
namespace {

constexpr uint32_t UTS46_OPTIONS = UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ | UIDNA_NONTRANSITIONAL_TO_ASCII |
                                   UIDNA_NONTRANSITIONAL_TO_UNICODE;

// ICU always checks hyphens and DNS lengths; the URL Standard turns both checks off.
constexpr uint32_t IGNORED_ERRORS = UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG |
                                    UIDNA_ERROR_DOMAIN_NAME_TOO_LONG | UIDNA_ERROR_LEADING_HYPHEN |
                                    UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;

using IcuConversion = int32_t (*)(const UIDNA*, const char*, int32_t, char*, int32_t, UIDNAInfo*,
                                  UErrorCode*);

// Runs one ICU name conversion into `out` and its UTS #46 error bits into `errors`; false when ICU
// itself failed.
bool convert(IcuConversion conversion, const UIDNA* idna, std::string_view input, std::string& out,
             uint32_t& errors) {
    if (input.size() > static_cast<size_t>(INT32_MAX) / 4) return false;
    out.resize(input.size() * 2 + 64);
    for (int attempt = 0; attempt < 2; ++attempt) {
        UIDNAInfo info = UIDNA_INFO_INITIALIZER;
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = conversion(idna, input.data(), static_cast<int32_t>(input.size()), out.data(),
                                    static_cast<int32_t>(out.size()), &info, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
            out.resize(static_cast<size_t>(length));
            continue;
        }
        if (U_FAILURE(status)) return false;
        out.resize(static_cast<size_t>(length));
        errors = info.errors;
        return true;
    }
    return false;
}

// With CheckHyphens false, UTS #46 still refuses a label that begins with "xn--" once its Punycode
// is decoded (such as "xn--xn--a--gua"). ICU reports that case only as HYPHEN_3_4, which is ignored
// above, so the decoded labels are looked at here.
bool has_label_starting_with_ace_prefix(const UIDNA* idna, std::string_view ascii) {
    std::string decoded;
    uint32_t errors = 0;
    if (!convert(uidna_nameToUnicodeUTF8, idna, ascii, decoded, errors)) return true;
    size_t start = 0;
    while (start <= decoded.size()) {
        size_t dot = decoded.find('.', start);
        std::string_view label = std::string_view(decoded).substr(
            start, dot == std::string::npos ? std::string::npos : dot - start);
        if (label.size() >= 4 && equals_ignoring_ascii_case(label.substr(0, 4), "xn--")) return true;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return false;
}

}  // namespace

Uts46::~Uts46() {
    if (idna_ != nullptr) uidna_close(idna_);
}

Uts46::Uts46(Uts46&& other) noexcept : idna_(std::exchange(other.idna_, nullptr)) {}

Uts46& Uts46::operator=(Uts46&& other) noexcept {
    if (this != &other) {
        if (idna_ != nullptr) uidna_close(idna_);
        idna_ = std::exchange(other.idna_, nullptr);
    }
    return *this;
}

const UIDNA* Uts46::handle() {
    if (idna_ == nullptr) {
        UErrorCode status = U_ZERO_ERROR;
        UIDNA* opened = uidna_openUTS46(UTS46_OPTIONS, &status);
        if (U_FAILURE(status)) {
            if (opened != nullptr) uidna_close(opened);
            return nullptr;
        }
        idna_ = opened;
    }
    return idna_;
}

bool Uts46::to_ascii(std::string_view domain, std::string& out) {
    const UIDNA* idna = handle();
    if (idna == nullptr) return false;
    std::string ascii;
    uint32_t errors = 0;
    if (!convert(uidna_nameToASCII_UTF8, idna, domain, ascii, errors)) return false;
    if ((errors & ~IGNORED_ERRORS) != 0) return false;
    if ((errors & UIDNA_ERROR_HYPHEN_3_4) != 0 && has_label_starting_with_ace_prefix(idna, ascii))
        return false;
    out += ascii;
    return true;
}

}  // namespace whatwg
