#!/usr/bin/env python3
"""packaging/check-libcxx-floor.py against uses of the C++ library planted in objects of their own,
compiled by the libc++ build's compiler: each use newer than the floor is found and named, each
older one is let through. Usage: libcxx_floor_test.py <compiler> <compiler flags>."""

import pathlib
import shlex
import subprocess
import sys
import tempfile
import unittest

CHECK = pathlib.Path(__file__).resolve().parent.parent / "check-libcxx-floor.py"
COMPILER = sys.argv.pop(1) if len(sys.argv) > 1 else "clang++"
FLAGS = shlex.split(sys.argv.pop(1)) if len(sys.argv) > 1 else []


def check(source, floor):
    """The check's exit status and output for one translation unit compiled alone."""
    with tempfile.TemporaryDirectory() as directory:
        unit = pathlib.Path(directory) / "planted.cpp"
        unit.write_text(source)
        subprocess.run([COMPILER, *FLAGS, "-std=c++20", "-c", str(unit), "-o", str(unit) + ".o"],
                       check=True)
        result = subprocess.run([sys.executable, str(CHECK), "--floor", floor, directory],
                                stdout=subprocess.PIPE, text=True)
        return result.returncode, result.stdout


class FloorTest(unittest.TestCase):
    CASES = [
        # (what, source, floor, the feature named above the floor, or None when it passes)
        ("floating-point to_chars",
         "#include <charconv>\n"
         "char* f(char* b, char* e, double d) { return std::to_chars(b, e, d).ptr; }\n",
         "11.0", "floating-point std::to_chars"),
        ("std::format of an integer alone",
         "#include <format>\n#include <string>\n"
         "std::string f(int i) { return std::format(\"{}\", i); }\n",
         "11.0", "floating-point std::to_chars"),
        ("a std::pmr container",
         "#include <memory_resource>\n#include <vector>\n"
         "std::size_t f() { std::pmr::vector<int> v{1, 2}; return v.size(); }\n",
         "11.0", "std::pmr"),
        ("a semaphore, at the floor",
         "#include <semaphore>\n"
         "void f(std::counting_semaphore<2>& s) { s.acquire(); s.release(); }\n",
         "11.0", None),
        ("the same semaphore below a lower floor",
         "#include <semaphore>\n"
         "void f(std::counting_semaphore<2>& s) { s.acquire(); s.release(); }\n",
         "10.15", "C++20 synchronization"),
        ("integer to_chars and std::filesystem",
         "#include <charconv>\n#include <filesystem>\n"
         "char* f(char* b, char* e, long n) { return std::to_chars(b, e, n).ptr; }\n"
         "bool g() { return std::filesystem::exists(\"/\"); }\n",
         "11.0", None),
    ]

    def test_planted_uses(self):
        for what, source, floor, feature in self.CASES:
            with self.subTest(what):
                status, output = check(source, floor)
                if feature is None:
                    self.assertEqual(status, 0, output)
                    self.assertIn(f"0 references above macOS {floor}", output)
                else:
                    self.assertEqual(status, 1, output)
                    self.assertIn(f": {feature}", output)
                    self.assertIn(f"above the floor {floor}", output)

    def test_a_directory_without_objects_fails(self):
        with tempfile.TemporaryDirectory() as directory:
            result = subprocess.run([sys.executable, str(CHECK), directory], stdout=subprocess.PIPE, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("no object file", result.stdout)


if __name__ == "__main__":
    unittest.main()
