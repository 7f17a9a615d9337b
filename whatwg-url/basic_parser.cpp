#include "whatwg-url/basic_parser.hpp"

#include "whatwg-url/ascii.hpp"
#include "whatwg-url/host.hpp"
#include "whatwg-url/path.hpp"
#include "whatwg-url/percent_encode.hpp"
#include "whatwg-url/scheme.hpp"
#include "whatwg-url/unicode.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace whatwg::detail {

namespace {

constexpr uint64_t EVERY_BYTE_ONE = 0x0101010101010101;
constexpr uint64_t EVERY_BYTE_HIGH_BIT = 0x8080808080808080;

bool word_has_byte(uint64_t word, unsigned char byte) {
    uint64_t diff = word ^ (EVERY_BYTE_ONE * byte);
    return ((diff - EVERY_BYTE_ONE) & ~diff & EVERY_BYTE_HIGH_BIT) != 0;
}

// Where `input` first has a tab, a newline or a non-ASCII byte (give or take seven bytes before
// it), or its size. Looks at eight bytes at a time: this runs over every URL that does not take the
// canonical shortcut.
size_t plain_ascii_prefix(std::string_view input) {
    size_t i = 0;
    for (; i + 8 <= input.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, input.data() + i, 8);
        if ((word & EVERY_BYTE_HIGH_BIT) != 0 || word_has_byte(word, '\t') || word_has_byte(word, '\n') ||
            word_has_byte(word, '\r')) {
            return i;
        }
    }
    for (; i < input.size(); ++i) {
        char c = input[i];
        if (c == '\t' || c == '\n' || c == '\r' || static_cast<unsigned char>(c) >= 0x80) return i;
    }
    return i;
}

bool is_well_formed_without_tab_or_newline(std::string_view input, size_t from) {
    size_t i = from;
    while (i < input.size()) {
        char c = input[i];
        if (c == '\t' || c == '\n' || c == '\r') return false;
        if (static_cast<unsigned char>(c) < 0x80) {
            ++i;
            continue;
        }
        size_t length = unicode::well_formed_sequence_length(input.substr(i));
        if (length == 0) return false;
        i += length;
    }
    return true;
}

}  // namespace

std::string_view prepare_input(std::string_view input, std::string& scratch) {
    auto is_c0_control_or_space = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!input.empty() && is_c0_control_or_space(input.front())) input.remove_prefix(1);
    while (!input.empty() && is_c0_control_or_space(input.back())) input.remove_suffix(1);

    size_t plain = plain_ascii_prefix(input);
    if (plain == input.size() || is_well_formed_without_tab_or_newline(input, plain)) return input;

    // Decoding comes first, as in a browser: a tab inside a broken UTF-8 sequence still breaks it.
    scratch.clear();
    scratch.reserve(input.size());
    size_t i = 0;
    while (i < input.size()) {
        char c = input[i];
        if (c == '\t' || c == '\n' || c == '\r') {
            ++i;
        } else if (static_cast<unsigned char>(c) < 0x80) {
            scratch += c;
            ++i;
        } else if (size_t length = unicode::well_formed_sequence_length(input.substr(i)); length != 0) {
            scratch.append(input.data() + i, length);
            i += length;
        } else {
            scratch += unicode::REPLACEMENT_CHARACTER;
            i += unicode::ill_formed_sequence_length(input.substr(i));
        }
    }
    return scratch;
}

namespace {

enum class State : uint8_t {
    SchemeStart,
    Scheme,
    NoScheme,
    SpecialRelativeOrAuthority,
    PathOrAuthority,
    Relative,
    RelativeSlash,
    SpecialAuthoritySlashes,
    SpecialAuthorityIgnoreSlashes,
    Authority,
    Host,
    Port,
    File,
    FileSlash,
    FileHost,
    PathStart,
    Path,
    OpaquePath,
    Query,
    Fragment,
};

enum class Step : uint8_t { Continue, Failure };

constexpr int END_OF_INPUT = -1;

constexpr EncodeSet make_stops(std::string_view stops) {
    EncodeSet set{};
    for (char c : stops) set[static_cast<unsigned char>(c)] = true;
    return set;
}

// The bytes that end a path segment.
constexpr EncodeSet PATH_STOPS = make_stops("/?#");
constexpr EncodeSet SPECIAL_PATH_STOPS = make_stops("/?#\\");

// One run of the basic URL parser. Each member function is one state of the Standard's state
// machine; `pointer_` and `c()` are the Standard's pointer and c, working on UTF-8 bytes (every
// delimiter is ASCII and every non-ASCII code point is copied or percent-encoded whole, so bytes
// and code points give the same result). States whose steps only copy or encode code points take
// the whole run at once and leave the pointer on its last byte.
class BasicParser {
public:
    BasicParser(std::string_view input, const Url* base, UrlRecord& url, std::string& buffer,
                std::string& host_scratch, Uts46& idna)
        : input_(input), base_(base), url_(url), buffer_(buffer), host_scratch_(host_scratch), idna_(idna) {}

    bool run() {
        auto end = static_cast<std::ptrdiff_t>(input_.size());
        while (true) {
            if (step() == Step::Failure) return false;
            if (pointer_ >= end) return true;
            ++pointer_;
        }
    }

private:
    Step step() {
        switch (state_) {
            case State::SchemeStart: return scheme_start_state();
            case State::Scheme: return scheme_state();
            case State::NoScheme: return no_scheme_state();
            case State::SpecialRelativeOrAuthority: return special_relative_or_authority_state();
            case State::PathOrAuthority: return path_or_authority_state();
            case State::Relative: return relative_state();
            case State::RelativeSlash: return relative_slash_state();
            case State::SpecialAuthoritySlashes: return special_authority_slashes_state();
            case State::SpecialAuthorityIgnoreSlashes: return special_authority_ignore_slashes_state();
            case State::Authority: return authority_state();
            case State::Host: return host_state();
            case State::Port: return port_state();
            case State::File: return file_state();
            case State::FileSlash: return file_slash_state();
            case State::FileHost: return file_host_state();
            case State::PathStart: return path_start_state();
            case State::Path: return path_state();
            case State::OpaquePath: return opaque_path_state();
            case State::Query: return query_state();
            case State::Fragment: return fragment_state();
        }
        return Step::Failure;
    }

    // --- the Standard's vocabulary ---

    size_t position() const { return static_cast<size_t>(pointer_); }
    int c() const { return at(position()); }
    int at(size_t index) const {
        return index < input_.size() ? static_cast<unsigned char>(input_[index]) : END_OF_INPUT;
    }
    std::string_view remaining() const { return input_.substr(position() + 1); }
    std::string_view from_pointer() const { return input_.substr(position()); }
    void decrease_pointer() { --pointer_; }
    void increase_pointer() { ++pointer_; }
    // Leaves the pointer on `index`, the last byte a state consumed.
    void move_pointer_to(size_t index) { pointer_ = static_cast<std::ptrdiff_t>(index); }

    bool is_slash(int ch) const { return ch == '/' || (url_.special && ch == '\\'); }

    // The index of the first byte at or after the pointer for which `stop` holds, else the end.
    template <typename Predicate>
    size_t scan_until(Predicate stop) const {
        size_t index = position();
        while (index < input_.size() && !stop(input_[index])) ++index;
        return index;
    }

    void set_scheme(std::string_view scheme) {
        url_.scheme.assign(scheme);
        url_.special = is_special_scheme(scheme);
    }

    void start_query() {
        url_.query.clear();
        url_.has_query = true;
        state_ = State::Query;
    }

    void start_fragment() {
        url_.fragment.clear();
        url_.has_fragment = true;
        state_ = State::Fragment;
    }

    void copy_base_credentials_host_and_port() {
        url_.username.assign(base_->username());
        url_.password.assign(base_->password());
        url_.host.assign(base_->hostname());
        url_.has_host = base_->has_host();
        url_.port = base_->layout().port;
    }

    void copy_base_query() {
        url_.query.assign(base_->query());
        url_.has_query = base_->has_query();
    }

    bool path_has_one_segment() const {
        return !url_.path.empty() && url_.path.find('/', 1) == std::string::npos;
    }

    static std::string_view first_segment(std::string_view path) {
        if (path.empty()) return {};
        path.remove_prefix(1);
        return path.substr(0, path.find('/'));
    }

    void shorten_path() {
        if (url_.scheme == "file" && path_has_one_segment() && is_normalized_windows_drive_letter(first_segment(url_.path))) {
            return;
        }
        size_t last_slash = url_.path.rfind('/');
        if (last_slash != std::string::npos) url_.path.resize(last_slash);
    }

    void append_path_segment(std::string_view segment) {
        url_.path += '/';
        url_.path += segment;
    }

    bool set_host(std::string_view text) {
        url_.host.clear();
        if (!parse_host(text, !url_.special, idna_, url_.host, host_scratch_)) return false;
        url_.has_host = true;
        return true;
    }

    // --- the states ---

    Step scheme_start_state() {
        if (is_ascii_alpha(c())) {
            buffer_ += to_ascii_lower(static_cast<char>(c()));
            state_ = State::Scheme;
        } else {
            state_ = State::NoScheme;
            decrease_pointer();
        }
        return Step::Continue;
    }

    Step scheme_state() {
        int ch = c();
        if (is_ascii_alphanumeric(ch) || ch == '+' || ch == '-' || ch == '.') {
            buffer_ += to_ascii_lower(static_cast<char>(ch));
        } else if (ch == ':') {
            set_scheme(buffer_);
            buffer_.clear();
            if (url_.scheme == "file") {
                state_ = State::File;
            } else if (url_.special && base_ != nullptr && base_->scheme() == url_.scheme) {
                state_ = State::SpecialRelativeOrAuthority;
            } else if (url_.special) {
                state_ = State::SpecialAuthoritySlashes;
            } else if (!remaining().empty() && remaining().front() == '/') {
                state_ = State::PathOrAuthority;
                increase_pointer();
            } else {
                url_.has_opaque_path = true;
                url_.path.clear();
                state_ = State::OpaquePath;
            }
        } else {
            // Not a scheme after all: start over from the first code point.
            buffer_.clear();
            state_ = State::NoScheme;
            pointer_ = -1;
        }
        return Step::Continue;
    }

    Step no_scheme_state() {
        if (base_ == nullptr || (base_->has_opaque_path() && c() != '#')) return Step::Failure;
        if (base_->has_opaque_path()) {
            set_scheme(base_->scheme());
            url_.path.assign(base_->pathname());
            url_.has_opaque_path = true;
            copy_base_query();
            start_fragment();
        } else if (base_->scheme() != "file") {
            state_ = State::Relative;
            decrease_pointer();
        } else {
            state_ = State::File;
            decrease_pointer();
        }
        return Step::Continue;
    }

    Step special_relative_or_authority_state() {
        if (c() == '/' && !remaining().empty() && remaining().front() == '/') {
            state_ = State::SpecialAuthorityIgnoreSlashes;
            increase_pointer();
        } else {
            state_ = State::Relative;
            decrease_pointer();
        }
        return Step::Continue;
    }

    Step path_or_authority_state() {
        if (c() == '/') {
            state_ = State::Authority;
        } else {
            state_ = State::Path;
            decrease_pointer();
        }
        return Step::Continue;
    }

    Step relative_state() {
        set_scheme(base_->scheme());
        int ch = c();
        if (is_slash(ch)) {
            state_ = State::RelativeSlash;
            return Step::Continue;
        }
        copy_base_credentials_host_and_port();
        url_.path.assign(base_->pathname());
        copy_base_query();
        if (ch == '?') {
            start_query();
        } else if (ch == '#') {
            start_fragment();
        } else if (ch != END_OF_INPUT) {
            url_.query.clear();
            url_.has_query = false;
            shorten_path();
            state_ = State::Path;
            decrease_pointer();
        }
        return Step::Continue;
    }

    Step relative_slash_state() {
        int ch = c();
        if (url_.special && (ch == '/' || ch == '\\')) {
            state_ = State::SpecialAuthorityIgnoreSlashes;
        } else if (ch == '/') {
            state_ = State::Authority;
        } else {
            copy_base_credentials_host_and_port();
            state_ = State::Path;
            decrease_pointer();
        }
        return Step::Continue;
    }

    Step special_authority_slashes_state() {
        if (c() == '/' && !remaining().empty() && remaining().front() == '/') {
            increase_pointer();
        } else {
            decrease_pointer();
        }
        state_ = State::SpecialAuthorityIgnoreSlashes;
        return Step::Continue;
    }

    Step special_authority_ignore_slashes_state() {
        if (c() != '/' && c() != '\\') {
            state_ = State::Authority;
            decrease_pointer();
        }
        return Step::Continue;
    }

    // The Standard collects the authority code point by code point and, at each "@", moves what it
    // collected into the credentials with "%40" in front of all but the first part. Splitting the
    // whole authority at its last "@" gives the same credentials, since the userinfo percent-encode
    // set turns every "@" into "%40" anyway.
    Step authority_state() {
        size_t end = scan_until([this](char ch) { return ch == '/' || ch == '?' || ch == '#' || is_slash(ch); });
        std::string_view authority = input_.substr(position(), end - position());
        size_t at_sign = authority.rfind('@');
        if (at_sign != std::string_view::npos) {
            if (at_sign + 1 == authority.size()) return Step::Failure;  // credentials but no host
            set_credentials(authority.substr(0, at_sign));
            move_pointer_to(position() + at_sign + 1);
        }
        state_ = State::Host;
        decrease_pointer();
        return Step::Continue;
    }

    void set_credentials(std::string_view userinfo) {
        size_t colon = userinfo.find(':');
        percent_encode_append(url_.username, userinfo.substr(0, colon), USERINFO_PERCENT_ENCODE_SET);
        if (colon != std::string_view::npos) {
            percent_encode_append(url_.password, userinfo.substr(colon + 1), USERINFO_PERCENT_ENCODE_SET);
        }
    }

    Step host_state() {
        bool inside_brackets = false;
        size_t end = scan_until([&](char ch) {
            if (ch == ':' && !inside_brackets) return true;
            if (ch == '/' || ch == '?' || ch == '#' || is_slash(ch)) return true;
            if (ch == '[') inside_brackets = true;
            if (ch == ']') inside_brackets = false;
            return false;
        });
        std::string_view host = input_.substr(position(), end - position());
        if (at(end) == ':') {
            if (host.empty()) return Step::Failure;
            if (!set_host(host)) return Step::Failure;
            state_ = State::Port;
            move_pointer_to(end);
            return Step::Continue;
        }
        if (url_.special && host.empty()) return Step::Failure;
        if (!set_host(host)) return Step::Failure;
        state_ = State::PathStart;
        move_pointer_to(end);
        decrease_pointer();
        return Step::Continue;
    }

    Step port_state() {
        size_t end = scan_until([](char ch) { return !is_ascii_digit(ch); });
        int ch = at(end);
        if (ch != END_OF_INPUT && ch != '?' && ch != '#' && !is_slash(ch)) return Step::Failure;
        if (end > position()) {
            uint32_t port = 0;
            for (char digit : input_.substr(position(), end - position())) {
                port = port * 10 + static_cast<uint32_t>(digit - '0');
                if (port > 65535) return Step::Failure;
            }
            url_.port = default_port(url_.scheme) == port ? -1 : static_cast<int32_t>(port);
        }
        state_ = State::PathStart;
        move_pointer_to(end);
        decrease_pointer();
        return Step::Continue;
    }

    Step file_state() {
        set_scheme("file");
        url_.host.clear();
        url_.has_host = true;
        int ch = c();
        if (ch == '/' || ch == '\\') {
            state_ = State::FileSlash;
        } else if (base_ != nullptr && base_->scheme() == "file") {
            url_.host.assign(base_->hostname());
            url_.has_host = base_->has_host();
            url_.path.assign(base_->pathname());
            copy_base_query();
            if (ch == '?') {
                start_query();
            } else if (ch == '#') {
                start_fragment();
            } else if (ch != END_OF_INPUT) {
                url_.query.clear();
                url_.has_query = false;
                if (!starts_with_windows_drive_letter(from_pointer())) {
                    shorten_path();
                } else {
                    url_.path.clear();
                }
                state_ = State::Path;
                decrease_pointer();
            }
        } else {
            state_ = State::Path;
            decrease_pointer();
        }
        return Step::Continue;
    }

    Step file_slash_state() {
        int ch = c();
        if (ch == '/' || ch == '\\') {
            state_ = State::FileHost;
            return Step::Continue;
        }
        if (base_ != nullptr && base_->scheme() == "file") {
            url_.host.assign(base_->hostname());
            url_.has_host = base_->has_host();
            std::string_view base_drive = first_segment(base_->pathname());
            if (!starts_with_windows_drive_letter(from_pointer()) && is_normalized_windows_drive_letter(base_drive)) {
                append_path_segment(base_drive);
            }
        }
        state_ = State::Path;
        decrease_pointer();
        return Step::Continue;
    }

    Step file_host_state() {
        size_t start = position();
        size_t end = scan_until([](char ch) { return ch == '/' || ch == '\\' || ch == '?' || ch == '#'; });
        std::string_view host = input_.substr(start, end - start);
        if (is_windows_drive_letter(host)) {
            // A drive letter, not a host: the path state reads it again from its first code point
            // (and collects the same buffer the Standard hands over).
            state_ = State::Path;
            move_pointer_to(start);
            decrease_pointer();
            return Step::Continue;
        }
        if (host.empty()) {
            url_.host.clear();
            url_.has_host = true;
        } else {
            if (!set_host(host)) return Step::Failure;
            if (url_.host == "localhost") url_.host.clear();
        }
        state_ = State::PathStart;
        move_pointer_to(end);
        decrease_pointer();
        return Step::Continue;
    }

    Step path_start_state() {
        int ch = c();
        if (url_.special) {
            state_ = State::Path;
            if (ch != '/' && ch != '\\') decrease_pointer();
        } else if (ch == '?') {
            start_query();
        } else if (ch == '#') {
            start_fragment();
        } else if (ch != END_OF_INPUT) {
            state_ = State::Path;
            if (ch != '/') decrease_pointer();
        }
        return Step::Continue;
    }

    // Collects one segment into the buffer, then handles the delimiter after it as the Standard's
    // first step does.
    Step path_state() {
        size_t end = find_first_in_set(input_, position(), url_.special ? SPECIAL_PATH_STOPS : PATH_STOPS);
        percent_encode_append(buffer_, input_.substr(position(), end - position()), PATH_PERCENT_ENCODE_SET);
        int ch = at(end);
        bool slash = is_slash(ch);
        if (is_double_dot_segment(buffer_)) {
            shorten_path();
            if (!slash) append_path_segment("");
        } else if (is_single_dot_segment(buffer_)) {
            if (!slash) append_path_segment("");
        } else {
            if (url_.scheme == "file" && url_.path.empty() && is_windows_drive_letter(buffer_)) buffer_[1] = ':';
            append_path_segment(buffer_);
        }
        buffer_.clear();
        if (ch == '?') start_query();
        if (ch == '#') start_fragment();
        move_pointer_to(end);
        return Step::Continue;
    }

    Step opaque_path_state() {
        size_t end = scan_until([](char ch) { return ch == '?' || ch == '#'; });
        std::string_view text = input_.substr(position(), end - position());
        int ch = at(end);
        // A space right before the query or fragment is encoded so that it cannot end up trailing.
        bool space_before_delimiter = ch != END_OF_INPUT && !text.empty() && text.back() == ' ';
        if (space_before_delimiter) text.remove_suffix(1);
        percent_encode_append(url_.path, text, C0_CONTROL_PERCENT_ENCODE_SET);
        if (space_before_delimiter) url_.path += "%20";
        if (ch == '?') start_query();
        if (ch == '#') start_fragment();
        move_pointer_to(end);
        return Step::Continue;
    }

    Step query_state() {
        size_t end = std::min(input_.find('#', position()), input_.size());
        const EncodeSet& set = url_.special ? SPECIAL_QUERY_PERCENT_ENCODE_SET : QUERY_PERCENT_ENCODE_SET;
        percent_encode_append(url_.query, input_.substr(position(), end - position()), set);
        if (at(end) == '#') start_fragment();
        move_pointer_to(end);
        return Step::Continue;
    }

    Step fragment_state() {
        percent_encode_append(url_.fragment, from_pointer(), FRAGMENT_PERCENT_ENCODE_SET);
        move_pointer_to(input_.size());
        return Step::Continue;
    }

    std::string_view input_;
    const Url* base_;
    UrlRecord& url_;
    std::string& buffer_;
    std::string& host_scratch_;
    Uts46& idna_;
    State state_ = State::SchemeStart;
    std::ptrdiff_t pointer_ = 0;
};

}  // namespace

bool run_basic_parser(std::string_view input, const Url* base, UrlRecord& url, std::string& buffer,
                      std::string& host_scratch, Uts46& idna) {
    return BasicParser(input, base, url, buffer, host_scratch, idna).run();
}

}  // namespace whatwg::detail
