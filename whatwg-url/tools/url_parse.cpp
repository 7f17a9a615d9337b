// Reads one URL per line on standard input and prints, per line, its href or "failure".
// Parses without a base URL, as the native host does; for comparisons with other parsers.
#include "whatwg-url/url.hpp"

#include <cstdio>
#include <iostream>
#include <string>

int main() {
    std::ios::sync_with_stdio(false);
    whatwg::Parser parser;
    std::string line;
    std::string out;
    while (std::getline(std::cin, line)) {
        if (auto url = parser.parse(line)) {
            out.assign(url->href());
        } else {
            out.assign("failure");
        }
        out += '\n';
        std::cout << out;
    }
    return 0;
}
