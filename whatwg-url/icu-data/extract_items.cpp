// Copies named items out of the installed ICU's common data into files of their own, for icupkg
// to package again. ICU installs its data only inside libicudata (no .dat package file on Debian
// or with Homebrew), so the items are read from the library's data symbol, whose layout is ICU's
// common data format: a data header, then a table of contents of (name, data) offsets relative to
// the table, sorted by name, the items laid out in the same order.
//
// usage: icu-data-extract PACKAGE LIST OUT_DIR
//   PACKAGE  the package name the build expects (e.g. icudt72l); must be the linked ICU's own
//   LIST     a text file, one item name a line (e.g. uts46.nrm); '#' starts a comment
//   OUT_DIR  where each item is written under its own name
#include <unicode/utypes.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

extern "C" const unsigned char U_ICUDATA_ENTRY_POINT[];

namespace {

constexpr std::string_view PROGRAM = "icu-data-extract";

struct CommonData {
    const unsigned char* toc = nullptr;
    uint32_t count = 0;
};

uint32_t read_u32(const unsigned char* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

uint16_t read_u16(const unsigned char* at) {
    uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

bool fail(const std::string& why) {
    std::cerr << PROGRAM << ": " << why << '\n';
    return false;
}

// The table of contents, after checking that the data is a common data package ("CmnD") in
// this machine's byte order, which the build then keeps for its subset.
bool open_common_data(CommonData& data) {
    const unsigned char* header = U_ICUDATA_ENTRY_POINT;
    if (header[2] != 0xda || header[3] != 0x27) return fail("the ICU data symbol has no ICU data header");
    const unsigned char* info = header + 4;  // UDataInfo: size, reserved, isBigEndian, charsetFamily, ...
    if (info[4] != U_IS_BIG_ENDIAN || info[5] != U_CHARSET_FAMILY) {
        return fail("the ICU data is not in this machine's byte order and charset");
    }
    if (std::memcmp(info + 8, "CmnD", 4) != 0) return fail("the ICU data is not a common data package");
    data.toc = header + read_u16(header);
    data.count = read_u32(data.toc);
    return true;
}

// Writes `item` (e.g. "uts46.nrm") to `out_dir`/`item`.
bool extract(const CommonData& data, const std::string& item, const std::string& out_dir) {
    const std::string wanted = std::string(U_ICUDATA_NAME) + "/" + item;
    for (uint32_t i = 0; i < data.count; ++i) {
        const unsigned char* entry = data.toc + 4 + 8 * i;
        auto name = reinterpret_cast<const char*>(data.toc + read_u32(entry));
        if (wanted != name) continue;
        // An item ends where the next one starts; the last one's end is not recorded anywhere.
        if (i + 1 == data.count)
            return fail(item + " is the last item of the ICU data; its length is unknown");
        uint32_t begin = read_u32(entry + 4);
        uint32_t end = read_u32(entry + 8 + 4);
        std::ofstream out(out_dir + "/" + item, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.toc + begin), static_cast<std::streamsize>(end - begin));
        out.close();
        return out ? true : fail("cannot write " + out_dir + "/" + item);
    }
    return fail("the installed ICU data has no item " + item);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: " << PROGRAM << " PACKAGE LIST OUT_DIR\n";
        return 2;
    }
    if (std::string_view(argv[1]) != U_ICUDATA_NAME) {
        fail(std::string("the build expects ICU data package ") + argv[1] + ", the linked ICU has " +
             U_ICUDATA_NAME);
        return 1;
    }
    std::ifstream list(argv[2]);
    if (!list) {
        fail(std::string("cannot read ") + argv[2]);
        return 1;
    }
    CommonData data;
    if (!open_common_data(data)) return 1;
    int items = 0;
    for (std::string line; std::getline(list, line);) {
        line = line.substr(0, line.find('#'));
        line.erase(0, line.find_first_not_of(" \t\r"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (line.empty()) continue;
        if (!extract(data, line, argv[3])) return 1;
        ++items;
    }
    if (items == 0) {
        fail(std::string(argv[2]) + " names no item");
        return 1;
    }
    return 0;
}
