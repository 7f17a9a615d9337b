// The machine-readable line of one benchmark figure, which scripts/bench_table.py gathers from
// the output of every benchmark into the table of `make bench`:
//   FIGURE {"name":"...","ours":812.3,"baseline":1020.1,"unit":"ns","goal":"ratio <= 1.0"}
// "baseline" is null for a figure without one; "goal" is "ratio OP X" (ours / baseline),
// "OP X" (ours itself, in `unit`) or empty; OP is one of <, <=, >, >=.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace ondrake::bench {

// Names, units and goals are our own constants: only the two characters JSON requires are escaped.
inline std::string json_quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

inline void print_figure_line(std::string_view name, double ours, std::optional<double> baseline,
                              std::string_view unit, std::string_view goal) {
    std::string baseline_text = baseline ? std::to_string(*baseline) : "null";
    std::printf("FIGURE {\"name\":%s,\"ours\":%f,\"baseline\":%s,\"unit\":%s,\"goal\":%s}\n",
                json_quoted(name).c_str(), ours, baseline_text.c_str(), json_quoted(unit).c_str(),
                json_quoted(goal).c_str());
    std::fflush(stdout);
}

}  // namespace ondrake::bench
