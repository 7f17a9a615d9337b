// protocol-corpus: prints the schema test's corpus, one JSON object per line (tests/corpus.hpp).
// A program of its own because the corpus asks the host's checks for their verdict on every
// message, and the reference generator itself has no business with the checks.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "tools/protocol-doc/tests/corpus.hpp"

int main(int argc, char** argv) {
    if (argc != 2 || std::string_view(argv[1]) == "--help") {
        std::fputs("usage: protocol-corpus SOURCE-DIR\n", argc == 2 ? stdout : stderr);
        return argc == 2 ? 0 : 2;
    }
    std::filesystem::path repo = argv[1];
    std::string lines = ondrake::protocol_doc::corpus_lines(repo);
    if (lines.empty()) {
        std::cerr << "protocol-corpus: no corpus without "
                  << (repo / "scripts" / "demo-messages.txt").string() << "\n";
        return 1;
    }
    std::cout << lines;
    return 0;
}
