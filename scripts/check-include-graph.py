#!/usr/bin/env python3
"""Keeps the code's shape: every #include between the project's parts runs the way ALLOWED says.

Each source file belongs to the part whose folder holds it (the longest prefix of PARTS). An
#include of another part's header is an edge; an edge that ALLOWED does not list fails, named by
file and line. A test (a file under a `tests/` folder) may include what its part may, its part
itself, and the test toolkits of TEST_HELPERS. Cycles fail too, between modules: a header and the
source file of the same name are one module, so `a.hpp` including `b.hpp` while `b.cpp` includes
`a.hpp` is a cycle, though no header includes itself.

    scripts/check-include-graph.py [ROOT]     check; exit 1 on a wrong edge or a cycle
    scripts/check-include-graph.py --graph    print the allowed graph
"""
import pathlib
import re
import subprocess
import sys

# Folder prefix -> part. The host's subsystems each have a folder of their own.
PARTS = {
    "platform/": "platform",
    "download_core/": "download_core",
    "whatwg-url/": "whatwg-url",
    "browser-native-host/common/": "host/common",
    "browser-native-host/messages/": "host/messages",
    "browser-native-host/checks/": "host/checks",
    "browser-native-host/link/": "host/link",
    "browser-native-host/installation/": "host/installation",
    "browser-native-host/session/": "host/session",
    "browser-native-host/bin/": "host/bin",
    "browser-native-host/tests/support/": "test-support",
    "browser-native-host/tests/": "host/tests",
    "safari-extension/": "safari",
    "tools/app-peer/": "tools/app-peer",
    "tools/nm-client/": "tools/nm-client",
    "tools/doctor/": "tools/doctor",
    "tools/protocol-doc/": "tools/protocol-doc",
    "bench/": "bench",
    "fuzz/": "fuzz",
}

HOST = ["host/common", "host/messages", "host/checks", "host/link", "host/installation", "host/session"]

# Part -> the parts its code may include. Lower layers never include higher ones: the checks and
# the link to the application both stand on the messages, and neither knows the other; the
# session joins them. Tools include no benchmark code, and only the checks reach the URL library.
ALLOWED = {
    "platform": [],
    "download_core": [],
    "whatwg-url": [],
    "host/common": ["platform"],
    "host/messages": ["host/common", "download_core", "platform"],
    "host/checks": ["host/messages", "host/common", "download_core", "whatwg-url", "platform"],
    "host/link": ["host/messages", "host/common", "download_core", "platform"],
    "host/installation": ["host/messages", "host/common", "platform"],
    "host/session": ["host/checks", "host/link", "host/messages", "host/common", "download_core", "platform"],
    "host/bin": ["host/session", "host/installation", "host/link", "host/messages", "host/common", "platform"],
    "host/tests": HOST + ["host/bin", "download_core", "platform"],
    "test-support": ["platform"],
    "safari": ["platform"],
    "tools/app-peer": ["host/link", "host/messages", "host/common", "download_core", "platform"],
    "tools/nm-client": ["host/messages", "host/common", "download_core", "platform"],
    "tools/doctor": ["host/installation", "host/link", "host/messages", "host/common", "download_core",
                     "platform"],
    "tools/protocol-doc": ["host/installation", "host/link", "host/messages", "host/common", "download_core",
                           "safari", "tools/nm-client", "platform"],
    "bench": HOST + ["whatwg-url", "download_core", "test-support", "platform"],
    "fuzz": HOST + ["whatwg-url", "download_core", "platform"],
}

# What every test may use besides its own part's dependencies: the shared toolkit and the
# reference application peer, which tests start as a process.
TEST_HELPERS = ["test-support", "tools/app-peer"]

# What one part's tests may use besides: the schema test asks the host's checks for their
# verdict on every message of its corpus.
TEST_EXTRAS = {"tools/protocol-doc": ["host/checks"]}

SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp|mm)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def part_of(path):
    best = None
    for prefix, part in PARTS.items():
        if path.startswith(prefix) and (best is None or len(prefix) > len(best[0])):
            best = (prefix, part)
    return best[1] if best else None


def is_test(path):
    return "/tests/" in path and not path.startswith("browser-native-host/tests/support/")


def allowed_from(path, part):
    allowed = set(ALLOWED[part]) | {part}
    if is_test(path):
        allowed |= set(TEST_HELPERS) | set(TEST_EXTRAS.get(part, []))
    return allowed


def tracked_sources(root):
    """The source files of the tree: git's list in a checkout, else every file outside the builds."""
    listing = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard"], cwd=root,
                             capture_output=True, text=True)
    if listing.returncode == 0:
        listed = listing.stdout.split("\n")
    else:
        listed = [str(p.relative_to(root)) for p in root.rglob("*")
                  if not any(part.startswith("build") or part == "node_modules" for part in p.relative_to(root).parts)]
    return sorted(p for p in listed if SOURCE.search(p) and (root / p).is_file())


def module_of(path):
    return re.sub(r"\.[^./]+$", "", path)


def find_cycle(graph):
    """One cycle among the modules, as a list of them, or None."""
    WHITE, GREY, BLACK = 0, 1, 2
    colour = {node: WHITE for node in graph}
    for start in graph:
        if colour[start] != WHITE:
            continue
        stack = [(start, iter(sorted(graph[start])))]
        colour[start] = GREY
        path = [start]
        while stack:
            node, children = stack[-1]
            child = next(children, None)
            if child is None:
                colour[node] = BLACK
                stack.pop()
                path.pop()
            elif colour.get(child, BLACK) == GREY:
                return path[path.index(child):] + [child]
            elif colour.get(child) == WHITE:
                colour[child] = GREY
                stack.append((child, iter(sorted(graph[child]))))
                path.append(child)
    return None


def check(root):
    problems = []
    files = tracked_sources(root)
    known = set(files)
    graph = {module_of(path): set() for path in files}
    for path in files:
        part = part_of(path)
        lines = (root / path).read_text(encoding="utf-8", errors="replace").split("\n")
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if target in known and module_of(target) != module_of(path):
                graph[module_of(path)].add(module_of(target))
            target_part = part_of(target)
            if part is None or target_part is None or target_part == part:
                continue
            if target_part not in allowed_from(path, part):
                problems.append(f"{path}:{number}: {part} may not include {target_part} ({target})")
    # Each cycle is reported once: its closing edge is taken out before looking for the next.
    while (cycle := find_cycle(graph)) is not None:
        problems.append("include cycle: " + " -> ".join(cycle))
        graph[cycle[-2]].discard(cycle[-1])
    return problems


def main(argv):
    if "--graph" in argv:
        for part, below in ALLOWED.items():
            print(f"{part} -> {', '.join(below) if below else '(nothing)'}")
        return 0
    root = pathlib.Path(argv[1] if len(argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    missing = sorted(set(ALLOWED) - set(PARTS.values()))
    if missing:
        print("parts without a folder: " + ", ".join(missing), file=sys.stderr)
        return 1
    problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) against the allowed graph (scripts/check-include-graph.py --graph)")
        return 1
    print("every #include follows the allowed graph; no include cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
