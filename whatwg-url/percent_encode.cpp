#include "whatwg-url/percent_encode.hpp"

#include "whatwg-url/ascii.hpp"

namespace whatwg {

void percent_encode_append(std::string& out, std::string_view bytes, const EncodeSet& set) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    size_t run_start = 0;
    while (true) {
        size_t i = find_first_in_set(bytes, run_start, set);
        out.append(bytes.data() + run_start, i - run_start);
        if (i == bytes.size()) return;
        auto byte = static_cast<unsigned char>(bytes[i]);
        const char escape[3] = {'%', HEX[byte >> 4], HEX[byte & 0xF]};
        out.append(escape, 3);
        run_start = i + 1;
    }
}

bool is_percent_encoded_form(std::string_view bytes, const EncodeSet& set) {
    return find_first_in_set(bytes, 0, set) == bytes.size();
}

void percent_decode_append(std::string& out, std::string_view input) {
    for (size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '%' && i + 2 < input.size() && is_ascii_hex_digit(input[i + 1]) &&
            is_ascii_hex_digit(input[i + 2])) {
            out += static_cast<char>(hex_digit_value(input[i + 1]) * 16 + hex_digit_value(input[i + 2]));
            i += 2;
        } else {
            out += input[i];
        }
    }
}

}  // namespace whatwg
