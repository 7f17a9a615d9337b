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

// Steps 1.3 and 3 of the basic URL parser (https://url.spec.whatwg.org/#concept-basic-url-parser).
// The Standard's input is a scalar value string; ours is bytes, so an ill-formed UTF-8 sequence
// becomes U+FFFD here, as decoding it into such a string would.
std::string_view prepare_input(std::string_view input, std::string& scratch) {
    // 1.3. Remove any leading and trailing C0 control or space.
    auto is_c0_control_or_space = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!input.empty() && is_c0_control_or_space(input.front())) input.remove_prefix(1);
    while (!input.empty() && is_c0_control_or_space(input.back())) input.remove_suffix(1);

    // 3. Remove all ASCII tab or newline (most input has none and no non-ASCII byte either).
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

// The states of https://url.spec.whatwg.org/#concept-basic-url-parser, by the Standard's names.
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

// One run of the basic URL parser (https://url.spec.whatwg.org/#concept-basic-url-parser), to be
// read beside the Standard: each member function `x_state` is the Standard's "x state", with a
// link to it, and the comments "// 2.1." give the number of the step that the code after them
// implements.
//
// - `pointer_` and `c()` are the Standard's pointer and c, working on UTF-8 bytes: every delimiter
//   is ASCII and every non-ASCII code point is copied or percent-encoded whole, so bytes and code
//   points give the same result.
// - States whose steps only append code points to the buffer or to a component (authority, host,
//   port, path, opaque path, query, fragment) take the whole run of such code points at once and
//   leave the pointer on its last byte; their comments say which steps the run stands for.
// - There is never a state override or a non-UTF-8 encoding here, so the steps for them are left
//   out, and validation errors (which never change the result) are not reported: the step numbers
//   that remain keep the Standard's numbering.
// - The scheme's type (special or not, "file" or not) is computed once, when the scheme is set.
class BasicParser {
public:
    BasicParser(std::string_view input, const Url* base, UrlRecord& url, std::string& buffer,
                std::string& host_scratch, Uts46& idna)
        : input_(input),
          base_(base),
          base_scheme_type_(base != nullptr ? scheme_type(base->scheme()) : SchemeType::NotSpecial),
          url_(url),
          buffer_(buffer),
          host_scratch_(host_scratch),
          idna_(idna) {}

    // Step 9: run the state machine; after each run, stop when the pointer points to the EOF code
    // point, else increase it by 1.
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
    // remaining starts with `ch`.
    bool remaining_starts_with(char ch) const {
        return position() + 1 < input_.size() && input_[position() + 1] == ch;
    }
    std::string_view from_pointer() const { return input_.substr(position()); }
    void decrease_pointer() { --pointer_; }
    void increase_pointer() { ++pointer_; }
    // Leaves the pointer on `index`, the last byte a state consumed.
    void move_pointer_to(size_t index) { pointer_ = static_cast<std::ptrdiff_t>(index); }

    // c is U+002F (/), or url is special and c is U+005C (\).
    bool is_slash(int ch) const { return ch == '/' || (url_.is_special() && ch == '\\'); }

    // The index of the first byte at or after the pointer for which `stop` holds, else the end.
    template <typename Predicate>
    size_t scan_until(Predicate stop) const {
        size_t index = position();
        while (index < input_.size() && !stop(input_[index])) ++index;
        return index;
    }

    void set_scheme(std::string_view scheme) {
        url_.scheme.assign(scheme);
        url_.scheme_type = scheme_type(scheme);
    }

    void set_scheme(SchemeType special) {
        url_.scheme.assign(scheme_name(special));
        url_.scheme_type = special;
    }

    void set_scheme_to_base_scheme() {
        url_.scheme.assign(base_->scheme());
        url_.scheme_type = base_scheme_type_;
    }

    bool base_is_file() const { return base_ != nullptr && base_scheme_type_ == SchemeType::File; }

    // Set url's query to the empty string and state to query state.
    void start_query() {
        url_.query.clear();
        url_.has_query = true;
        state_ = State::Query;
    }

    // Set url's fragment to the empty string and state to fragment state.
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

    // https://url.spec.whatwg.org/#shorten-a-urls-path
    void shorten_path() {
        // 3. A file URL's path that is only a normalized Windows drive letter stays.
        if (url_.scheme_type == SchemeType::File && path_has_one_segment() &&
            is_normalized_windows_drive_letter(first_segment(url_.path))) {
            return;
        }
        // 4. Remove path's last item, if any.
        size_t last_slash = url_.path.rfind('/');
        if (last_slash != std::string::npos) url_.path.resize(last_slash);
    }

    void append_path_segment(std::string_view segment) {
        url_.path += '/';
        url_.path += segment;
    }

    // Host parsing `text` with url is not special, and setting url's host to the result.
    bool set_host(std::string_view text) {
        url_.host.clear();
        if (!parse_host(text, !url_.is_special(), idna_, url_.host, host_scratch_)) return false;
        url_.has_host = true;
        return true;
    }

    // --- the states ---

    // https://url.spec.whatwg.org/#scheme-start-state
    Step scheme_start_state() {
        // 1. An ASCII alpha: append it, lowercased, to buffer; scheme state.
        if (is_ascii_alpha(c())) {
            buffer_ += to_ascii_lower(static_cast<char>(c()));
            state_ = State::Scheme;
            return Step::Continue;
        }
        // 2. Otherwise: no scheme state, and decrease pointer by 1.
        state_ = State::NoScheme;
        decrease_pointer();
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#scheme-state
    Step scheme_state() {
        int ch = c();
        // 1. An ASCII alphanumeric, "+", "-" or ".": append it, lowercased, to buffer.
        if (is_ascii_alphanumeric(ch) || ch == '+' || ch == '-' || ch == '.') {
            buffer_ += to_ascii_lower(static_cast<char>(ch));
            return Step::Continue;
        }
        // 2. ":" ends the scheme.
        if (ch == ':') {
            // 2.2. Set url's scheme to buffer.
            set_scheme(buffer_);
            // 2.4. Set buffer to the empty string.
            buffer_.clear();
            if (url_.scheme_type == SchemeType::File) {
                // 2.5. "file": file state.
                state_ = State::File;
            } else if (url_.is_special() && base_ != nullptr && base_scheme_type_ == url_.scheme_type) {
                // 2.6. Special, with a base of the same scheme: special relative or authority state.
                state_ = State::SpecialRelativeOrAuthority;
            } else if (url_.is_special()) {
                // 2.7. Special: special authority slashes state.
                state_ = State::SpecialAuthoritySlashes;
            } else if (remaining_starts_with('/')) {
                // 2.8. remaining starts with "/": path or authority state, increase pointer by 1.
                state_ = State::PathOrAuthority;
                increase_pointer();
            } else {
                // 2.9. Otherwise: url's path is the empty string (opaque); opaque path state.
                url_.has_opaque_path = true;
                url_.path.clear();
                state_ = State::OpaquePath;
            }
            return Step::Continue;
        }
        // 3. Otherwise: buffer empty, no scheme state, and start over from the first code point.
        buffer_.clear();
        state_ = State::NoScheme;
        pointer_ = -1;
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#no-scheme-state
    Step no_scheme_state() {
        // 1. No base, or a base with an opaque path and c is not "#": failure.
        if (base_ == nullptr || (base_->has_opaque_path() && c() != '#')) return Step::Failure;
        if (base_->has_opaque_path()) {
            // 2. A base with an opaque path and c is "#": base's scheme, path and query, an empty
            //    fragment; fragment state.
            set_scheme_to_base_scheme();
            url_.path.assign(base_->pathname());
            url_.has_opaque_path = true;
            copy_base_query();
            start_fragment();
        } else if (base_scheme_type_ != SchemeType::File) {
            // 3. base's scheme is not "file": relative state, and decrease pointer by 1.
            state_ = State::Relative;
            decrease_pointer();
        } else {
            // 4. Otherwise: file state, and decrease pointer by 1.
            state_ = State::File;
            decrease_pointer();
        }
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#special-relative-or-authority-state
    Step special_relative_or_authority_state() {
        if (c() == '/' && remaining_starts_with('/')) {
            // 1. "//": special authority ignore slashes state, and increase pointer by 1.
            state_ = State::SpecialAuthorityIgnoreSlashes;
            increase_pointer();
        } else {
            // 2. Otherwise: relative state, and decrease pointer by 1.
            state_ = State::Relative;
            decrease_pointer();
        }
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#path-or-authority-state
    Step path_or_authority_state() {
        if (c() == '/') {
            // 1. "/": authority state.
            state_ = State::Authority;
        } else {
            // 2. Otherwise: path state, and decrease pointer by 1.
            state_ = State::Path;
            decrease_pointer();
        }
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#relative-state
    Step relative_state() {
        // 1. base's scheme is not "file" (the no scheme state saw to that).
        // 2. Set url's scheme to base's scheme.
        set_scheme_to_base_scheme();
        int ch = c();
        // 3. "/", and 4. "\" when url is special: relative slash state.
        if (is_slash(ch)) {
            state_ = State::RelativeSlash;
            return Step::Continue;
        }
        // 5.1. url's username, password, host, port, path and query are base's.
        copy_base_credentials_host_and_port();
        url_.path.assign(base_->pathname());
        copy_base_query();
        if (ch == '?') {
            // 5.2. "?": an empty query; query state.
            start_query();
        } else if (ch == '#') {
            // 5.3. "#": an empty fragment; fragment state.
            start_fragment();
        } else if (ch != END_OF_INPUT) {
            // 5.4.1. Set url's query to null.
            url_.query.clear();
            url_.has_query = false;
            // 5.4.2. Shorten url's path.
            shorten_path();
            // 5.4.3. Path state, and decrease pointer by 1.
            state_ = State::Path;
            decrease_pointer();
        }
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#relative-slash-state
    Step relative_slash_state() {
        int ch = c();
        if (url_.is_special() && (ch == '/' || ch == '\\')) {
            // 1.2. Special and "/" or "\": special authority ignore slashes state.
            state_ = State::SpecialAuthorityIgnoreSlashes;
        } else if (ch == '/') {
            // 2. "/": authority state.
            state_ = State::Authority;
        } else {
            // 3. Otherwise: base's username, password, host and port; path state, and decrease
            //    pointer by 1.
            copy_base_credentials_host_and_port();
            state_ = State::Path;
            decrease_pointer();
        }
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#special-authority-slashes-state
    Step special_authority_slashes_state() {
        if (c() == '/' && remaining_starts_with('/')) {
            // 1. "//": increase pointer by 1.
            increase_pointer();
        } else {
            // 2. Otherwise: decrease pointer by 1.
            decrease_pointer();
        }
        // 1., 2. Special authority ignore slashes state either way.
        state_ = State::SpecialAuthorityIgnoreSlashes;
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#special-authority-ignore-slashes-state
    Step special_authority_ignore_slashes_state() {
        // 1. Neither "/" nor "\": authority state, and decrease pointer by 1.
        if (c() != '/' && c() != '\\') {
            state_ = State::Authority;
            decrease_pointer();
        }
        // 2. Otherwise the slash is skipped.
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#authority-state
    //
    // Step 3 collects the authority into buffer, and step 1 moves it into the credentials at each
    // "@", with "%40" in front of all but the first part (1.2). Splitting the whole authority at
    // its last "@" gives the same credentials, since the userinfo percent-encode set turns every
    // "@" into "%40" anyway; the first ":" separates username and password (1.4.1).
    Step authority_state() {
        // 2. The authority ends at the EOF code point, "/", "?", "#", or "\" when url is special.
        size_t end = scan_until([this](char ch) { return ch == '?' || ch == '#' || is_slash(ch); });
        std::string_view authority = input_.substr(position(), end - position());
        size_t at_sign = authority.rfind('@');
        if (at_sign != std::string_view::npos) {
            // 2.1. An "@" and nothing after it: failure.
            if (at_sign + 1 == authority.size()) return Step::Failure;
            // 1.4. The code points before the last "@" go to username and password.
            set_credentials(authority.substr(0, at_sign));
            move_pointer_to(position() + at_sign + 1);
        }
        // 2.2. Decrease pointer back to the start of the host (after the last "@"); host state.
        state_ = State::Host;
        decrease_pointer();
        return Step::Continue;
    }

    // Step 1.4 of the authority state: UTF-8 percent-encode with the userinfo percent-encode set
    // and append to url's username, or to its password after the first ":".
    void set_credentials(std::string_view userinfo) {
        size_t colon = userinfo.find(':');
        percent_encode_append(url_.username, userinfo.substr(0, colon), USERINFO_PERCENT_ENCODE_SET);
        if (colon != std::string_view::npos) {
            percent_encode_append(url_.password, userinfo.substr(colon + 1), USERINFO_PERCENT_ENCODE_SET);
        }
    }

    // https://url.spec.whatwg.org/#host-state
    Step host_state() {
        // 4. Append code points to buffer, tracking insideBrackets (4.1, 4.2), until ":" outside
        //    brackets (step 2) or the end of the host (step 3).
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
            // 2.1. An empty buffer: failure.
            if (host.empty()) return Step::Failure;
            // 2.3.-2.5. Host parsing buffer (failure is failure); port state.
            if (!set_host(host)) return Step::Failure;
            state_ = State::Port;
            move_pointer_to(end);
            return Step::Continue;
        }
        // 3.1. Special and an empty buffer: failure.
        if (url_.is_special() && host.empty()) return Step::Failure;
        // 3.3.-3.5. Host parsing buffer (failure is failure); path start state, with the pointer
        //           decreased by 1 (3.).
        if (!set_host(host)) return Step::Failure;
        state_ = State::PathStart;
        move_pointer_to(end);
        decrease_pointer();
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#port-state
    Step port_state() {
        // 1. Append ASCII digits to buffer.
        size_t end = scan_until([](char ch) { return !is_ascii_digit(ch); });
        int ch = at(end);
        // 3. Anything but the EOF code point, "/", "?", "#", or "\" when url is special: failure.
        if (ch != END_OF_INPUT && ch != '?' && ch != '#' && !is_slash(ch)) return Step::Failure;
        // 2.1. A non-empty buffer:
        if (end > position()) {
            // 2.1.1., 2.1.2. Its value, and failure when above 65535.
            uint32_t port = 0;
            for (char digit : input_.substr(position(), end - position())) {
                port = port * 10 + static_cast<uint32_t>(digit - '0');
                if (port > 65535) return Step::Failure;
            }
            // 2.1.3. url's port, null when it is the scheme's default port.
            url_.port = default_port(url_.scheme_type) == port ? -1 : static_cast<int32_t>(port);
        }
        // 2.3. Path start state, and decrease pointer by 1.
        state_ = State::PathStart;
        move_pointer_to(end);
        decrease_pointer();
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#file-state
    Step file_state() {
        // 1. Set url's scheme to "file".
        set_scheme(SchemeType::File);
        // 2. Set url's host to the empty string.
        url_.host.clear();
        url_.has_host = true;
        int ch = c();
        if (ch == '/' || ch == '\\') {
            // 3.2. "/" or "\": file slash state.
            state_ = State::FileSlash;
        } else if (base_is_file()) {
            // 4.1. A file base: url's host, path and query are base's.
            url_.host.assign(base_->hostname());
            url_.has_host = base_->has_host();
            url_.path.assign(base_->pathname());
            copy_base_query();
            if (ch == '?') {
                // 4.2. "?": an empty query; query state.
                start_query();
            } else if (ch == '#') {
                // 4.3. "#": an empty fragment; fragment state.
                start_fragment();
            } else if (ch != END_OF_INPUT) {
                // 4.4.1. Set url's query to null.
                url_.query.clear();
                url_.has_query = false;
                if (!starts_with_windows_drive_letter(from_pointer())) {
                    // 4.4.2. Shorten url's path, unless the rest starts with a Windows drive letter.
                    shorten_path();
                } else {
                    // 4.4.3.2. Otherwise url's path is « ».
                    url_.path.clear();
                }
                // 4.4.4. Path state, and decrease pointer by 1.
                state_ = State::Path;
                decrease_pointer();
            }
        } else {
            // 5. Otherwise: path state, and decrease pointer by 1.
            state_ = State::Path;
            decrease_pointer();
        }
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#file-slash-state
    Step file_slash_state() {
        int ch = c();
        // 1.2. "/" or "\": file host state.
        if (ch == '/' || ch == '\\') {
            state_ = State::FileHost;
            return Step::Continue;
        }
        // 2.1. A file base:
        if (base_is_file()) {
            // 2.1.1. url's host is base's.
            url_.host.assign(base_->hostname());
            url_.has_host = base_->has_host();
            // 2.1.2. Unless the rest starts with a Windows drive letter, base's normalized drive
            //        letter starts url's path.
            std::string_view base_drive = first_segment(base_->pathname());
            if (!starts_with_windows_drive_letter(from_pointer()) &&
                is_normalized_windows_drive_letter(base_drive)) {
                append_path_segment(base_drive);
            }
        }
        // 2.2. Path state, and decrease pointer by 1.
        state_ = State::Path;
        decrease_pointer();
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#file-host-state
    Step file_host_state() {
        // 2. Append code points to buffer until the EOF code point, "/", "\", "?" or "#" (step 1).
        size_t start = position();
        size_t end = scan_until([](char ch) { return ch == '/' || ch == '\\' || ch == '?' || ch == '#'; });
        std::string_view host = input_.substr(start, end - start);
        if (is_windows_drive_letter(host)) {
            // 1.1. A Windows drive letter, not a host: path state, which reads it again from its
            //      first code point (and so collects the same buffer the Standard hands over).
            state_ = State::Path;
            move_pointer_to(start);
            decrease_pointer();
            return Step::Continue;
        }
        if (host.empty()) {
            // 1.2.1. An empty buffer: url's host is the empty string.
            url_.host.clear();
            url_.has_host = true;
        } else {
            // 1.3.1.-1.3.4. Host parsing buffer (failure is failure); "localhost" becomes the
            //               empty host.
            if (!set_host(host)) return Step::Failure;
            if (url_.host == "localhost") url_.host.clear();
        }
        // 1.2.3., 1.3.6. Path start state, with the pointer decreased by 1 (1.).
        state_ = State::PathStart;
        move_pointer_to(end);
        decrease_pointer();
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#path-start-state
    Step path_start_state() {
        int ch = c();
        if (url_.is_special()) {
            // 1.2. Special: path state; 1.3. decrease pointer by 1 unless c is "/" or "\".
            state_ = State::Path;
            if (ch != '/' && ch != '\\') decrease_pointer();
        } else if (ch == '?') {
            // 2. "?": an empty query; query state.
            start_query();
        } else if (ch == '#') {
            // 3. "#": an empty fragment; fragment state.
            start_fragment();
        } else if (ch != END_OF_INPUT) {
            // 4.1. Path state; 4.2. decrease pointer by 1 unless c is "/".
            state_ = State::Path;
            if (ch != '/') decrease_pointer();
        }
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#path-state
    //
    // Step 2 for a whole segment at once, then step 1 for the delimiter after it.
    Step path_state() {
        // 2.3. UTF-8 percent-encode each code point with the path percent-encode set and append it
        //      to buffer, up to the EOF code point, "/", "?", "#", or "\" when url is special.
        const EncodeSet& stops = url_.is_special() ? SPECIAL_PATH_STOPS : PATH_STOPS;
        size_t end = find_first_in_set(input_, position(), stops);
        percent_encode_append(buffer_, input_.substr(position(), end - position()), PATH_PERCENT_ENCODE_SET);
        int ch = at(end);
        bool slash = is_slash(ch);
        if (is_double_dot_segment(buffer_)) {
            // 1.2.1. A double-dot segment: shorten url's path; 1.2.2. and unless c is a slash,
            //        append the empty string to it.
            shorten_path();
            if (!slash) append_path_segment("");
        } else if (is_single_dot_segment(buffer_)) {
            // 1.3. A single-dot segment: unless c is a slash, append the empty string to url's path.
            if (!slash) append_path_segment("");
        } else {
            // 1.4.1. A file URL's first segment that is a Windows drive letter gets ":".
            if (url_.scheme_type == SchemeType::File && url_.path.empty() &&
                is_windows_drive_letter(buffer_)) {
                buffer_[1] = ':';
            }
            // 1.4.2. Append buffer to url's path.
            append_path_segment(buffer_);
        }
        // 1.5. Set buffer to the empty string.
        buffer_.clear();
        // 1.6. "?": an empty query; query state.
        if (ch == '?') start_query();
        // 1.7. "#": an empty fragment; fragment state.
        if (ch == '#') start_fragment();
        move_pointer_to(end);
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#cannot-be-a-base-url-path-state
    Step opaque_path_state() {
        // 3., 4. Every code point up to "?", "#" or the EOF code point.
        size_t end = scan_until([](char ch) { return ch == '?' || ch == '#'; });
        std::string_view text = input_.substr(position(), end - position());
        int ch = at(end);
        // 3.2. A space that remaining shows right before "?" or "#" is appended as "%20"
        //      (3.3. any other as a space: the C0 control percent-encode set keeps it).
        bool space_before_delimiter = ch != END_OF_INPUT && !text.empty() && text.back() == ' ';
        if (space_before_delimiter) text.remove_suffix(1);
        // 4.3. UTF-8 percent-encode with the C0 control percent-encode set, append to url's path.
        percent_encode_append(url_.path, text, C0_CONTROL_PERCENT_ENCODE_SET);
        if (space_before_delimiter) url_.path += "%20";
        // 1. "?": an empty query; query state.
        if (ch == '?') start_query();
        // 2. "#": an empty fragment; fragment state.
        if (ch == '#') start_fragment();
        move_pointer_to(end);
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#query-state
    Step query_state() {
        // 3.3. Append code points to buffer up to "#" or the EOF code point (step 2).
        size_t end = std::min(input_.find('#', position()), input_.size());
        // 2.1. The special-query percent-encode set if url is special, else the query one;
        // 2.2. percent-encode buffer with it (UTF-8) and append the result to url's query.
        const EncodeSet& set =
            url_.is_special() ? SPECIAL_QUERY_PERCENT_ENCODE_SET : QUERY_PERCENT_ENCODE_SET;
        percent_encode_append(url_.query, input_.substr(position(), end - position()), set);
        // 2.4. "#": an empty fragment; fragment state.
        if (at(end) == '#') start_fragment();
        move_pointer_to(end);
        return Step::Continue;
    }

    // https://url.spec.whatwg.org/#fragment-state
    Step fragment_state() {
        // 1.3. UTF-8 percent-encode every code point up to the EOF code point with the fragment
        //      percent-encode set and append it to url's fragment.
        percent_encode_append(url_.fragment, from_pointer(), FRAGMENT_PERCENT_ENCODE_SET);
        move_pointer_to(input_.size());
        return Step::Continue;
    }

    std::string_view input_;
    const Url* base_;
    SchemeType base_scheme_type_;  // of base's scheme; NotSpecial without a base
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
