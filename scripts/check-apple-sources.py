#!/usr/bin/env python3
"""Compiles on Linux the code that only a Mac build compiles, with the flags the libc++ build gives
its neighbours (BUILD_DIR/compile_commands.json) and our warnings as errors:

- the Safari extension's Objective-C++ adapter, against GNUstep Base's Foundation and the Apple
  names that scripts/apple-sdk-stand-in/apple_sdk_names.h declares. Its object goes to
  BUILD_DIR/apple-sources/, where packaging/check-libcxx-floor.py reads it with the build's own;
- every C++ source of the build with an __APPLE__ branch, with __APPLE__ defined and the Darwin
  names of scripts/apple-sdk-stand-in/darwin_names.h, against libstdc++: once __APPLE__ is defined,
  libc++'s headers expect Darwin's C library (xlocale.h, snprintf_l), which no stand-in should
  imitate. These are checked, not compiled into objects.

usage: check-apple-sources.py BUILD_DIR
"""

import json
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
STAND_IN = ROOT / "scripts" / "apple-sdk-stand-in"
ADAPTER = ROOT / "safari-extension" / "apple" / "SafariWebExtensionHandler.mm"
# The library the adapter is linked with on macOS: its flags are the adapter's flags.
ADAPTER_LIBRARY = "ondrake_safari"
APPLE_BRANCH = re.compile(r"^\s*#\s*(?:(?:el)?if\b.*\bdefined\s*\(?\s*__APPLE__\b|ifdef\s+__APPLE__\b)", re.M)
# Sources whose Apple branch only a Mac can compile, by file name, with the reason.
MAC_ONLY = {
    "launcher.cpp": "its Apple branch asserts that the error table follows macOS's own errno numbers",
}
# GCC's Objective-C runtime header, which Debian's GNUstep is built on, reads a field through `id`,
# which clang's `id` has not: the copy the check compiles against reads it through a cast.
OBJC_RUNTIME_FIELD = "return object->class_pointer;"
OBJC_RUNTIME_FIELD_CAST = "return ((struct objc_object *)object)->class_pointer;"


def say(message):
    print(f"check-apple-sources: {message}", flush=True)


def command_words(entry):
    return shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])


def output_of(entry):
    words = command_words(entry)
    return words[words.index("-o") + 1] if "-o" in words else ""


def compile_arguments(entry):
    """An entry's command without its output, its -c and its source file."""
    words = command_words(entry)
    arguments, skip = [], False
    for word in words:
        if skip:
            skip = False
        elif word in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
        elif word not in ("-c", "-MD", "-MMD", entry["file"]):
            arguments.append(word)
    return arguments + ["-Werror"]


def run(command, what):
    started = time.monotonic()
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0 or result.stdout.strip():
        sys.stdout.write(result.stdout)
        say(f"FAILED: {what}")
        return False
    say(f"{what}: no warning ({time.monotonic() - started:.1f} s)")
    return True


def gnustep_definitions():
    """The definitions GNUstep says its headers are compiled with, and where those headers are."""
    flags = subprocess.run(["gnustep-config", "--objc-flags"], check=True, stdout=subprocess.PIPE, text=True).stdout
    headers = subprocess.run(["gnustep-config", "--variable=GNUSTEP_SYSTEM_HEADERS"], check=True,
                             stdout=subprocess.PIPE, text=True).stdout.strip()
    return sorted({flag for flag in shlex.split(flags) if flag.startswith("-D")}), headers


def objc_runtime_headers(directory):
    """A copy of GCC's Objective-C runtime headers that clang compiles."""
    gcc_include = subprocess.run(["gcc", "-print-file-name=include"], check=True, stdout=subprocess.PIPE,
                                 text=True).stdout.strip()
    copy = directory / "objc"
    shutil.copytree(pathlib.Path(gcc_include) / "objc", copy)
    runtime = copy / "runtime.h"
    text = runtime.read_text()
    if text.count(OBJC_RUNTIME_FIELD) != 1:
        raise SystemExit(f"check-apple-sources: {runtime.name} of {gcc_include} no longer has the one line "
                         f"'{OBJC_RUNTIME_FIELD}' this check knows how to fix")
    runtime.write_text(text.replace(OBJC_RUNTIME_FIELD, OBJC_RUNTIME_FIELD_CAST))
    return directory


def check_adapter(entries, build_dir, scratch):
    library = [entry for entry in entries if f"/{ADAPTER_LIBRARY}.dir/" in output_of(entry)]
    if not library:
        raise SystemExit(f"check-apple-sources: {ADAPTER_LIBRARY} is not in the build's compile commands")
    definitions, gnustep_headers = gnustep_definitions()
    output = build_dir / "apple-sources" / (ADAPTER.name + ".o")
    output.parent.mkdir(parents=True, exist_ok=True)
    output.unlink(missing_ok=True)  # the floor check must never read the object of an earlier run
    command = compile_arguments(library[0]) + definitions + [
        "-x", "objective-c++", "-fobjc-runtime=gnustep-2.0", "-fobjc-arc", "-fblocks", "-fobjc-exceptions",
        "-isystem", str(STAND_IN), "-isystem", str(objc_runtime_headers(scratch)), "-isystem", gnustep_headers,
        "-include", str(STAND_IN / "apple_sdk_names.h"),
        "-c", str(ADAPTER), "-o", str(output)]
    return run(command, f"{ADAPTER.relative_to(ROOT)} (Objective-C++, GNUstep Foundation)")


def check_apple_branches(entries):
    ok, checked, excluded = True, 0, set()
    for entry in entries:
        source = pathlib.Path(entry["file"])
        if ROOT not in source.parents or source.suffix not in (".cpp", ".cc"):
            continue
        branches = len(APPLE_BRANCH.findall(source.read_text()))
        if branches == 0:
            continue
        if "tests" in source.relative_to(ROOT).parts:
            # What ships is checked; a test's Apple branch only skips what macOS cannot do, and
            # GoogleTest's own headers want the SDK's AvailabilityMacros.h once __APPLE__ is set.
            say(f"{source.relative_to(ROOT)}: a test, left to a Mac (GoogleTest needs the real SDK)")
            continue
        if source.name in MAC_ONLY:
            excluded.add(source.name)
            say(f"{source.relative_to(ROOT)}: left to a Mac: {MAC_ONLY[source.name]}")
            continue
        command = [word for word in compile_arguments(entry) if word != "-stdlib=libc++"] + [
            "-D__APPLE__", "-isystem", str(STAND_IN), "-include", str(STAND_IN / "darwin_names.h"),
            "-fsyntax-only", str(source)]
        ok &= run(command, f"{source.relative_to(ROOT)} ({branches} __APPLE__ branches)")
        checked += 1
    if checked == 0:
        say("FAILED: no source with an __APPLE__ branch found in the compile commands")
        ok = False
    for name in sorted(set(MAC_ONLY) - excluded):
        say(f"FAILED: {name}, left to a Mac above, is no longer a source with an __APPLE__ branch")
        ok = False
    return ok


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    build_dir = pathlib.Path(sys.argv[1]).resolve()
    entries = json.loads((build_dir / "compile_commands.json").read_text())
    with tempfile.TemporaryDirectory() as scratch:
        ok = check_adapter(entries, build_dir, pathlib.Path(scratch))
    ok &= check_apple_branches(entries)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
