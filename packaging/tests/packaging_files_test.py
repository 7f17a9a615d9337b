#!/usr/bin/env python3
"""Checks the packaging files that only macOS and GitHub read, so that a mistake in them shows up
in every build rather than first on a macOS runner: the code-signing entitlements, the macOS floor
and the CI workflow. Usage: packaging_files_test.py <source dir>. Exits 77 (skipped) without PyYAML."""

import plistlib
import re
import sys
from pathlib import Path

APP_GROUP = "group.com.ondrake.download"

# Each signed piece of code and exactly the entitlements it is signed with.
ENTITLEMENTS = {
    "browser-native-host/bin/ondrake-native-host.entitlements": {
        "com.apple.security.application-groups": [APP_GROUP],
    },
    "safari-extension/apple/OndrakeSafariExtension.entitlements": {
        "com.apple.security.app-sandbox": True,
        "com.apple.security.application-groups": [APP_GROUP],
        "com.apple.security.network.client": True,
    },
}

WORKFLOW = ".github/workflows/ci.yml"

# The one place that sets the oldest macOS we support, and what must follow it.
MACOS_FLOOR = "packaging/macos-floor"
SAFARI_INFO_PLIST = "safari-extension/apple/Info.plist"
MACHO_CHECK = "packaging/check-macho.sh"


def check_entitlements(source, problems):
    for name, wanted in ENTITLEMENTS.items():
        try:
            with open(source / name, "rb") as file:
                found = plistlib.load(file, fmt=plistlib.FMT_XML)
        except Exception as error:  # any parse failure is the finding
            problems.append(f"{name}: not an XML property list: {error}")
            continue
        if found != wanted:
            problems.append(f"{name}: entitlements {found!r}, expected {wanted!r}")


def check_macos_floor(source, problems):
    floor = (source / MACOS_FLOOR).read_text(encoding="utf-8").strip()
    if not re.fullmatch(r"[0-9]+\.[0-9]+(\.[0-9]+)?", floor):
        problems.append(f"{MACOS_FLOOR}: {floor!r} is not a macOS version")
        return
    # CMake reads the file before project() and sets the deployment target from it.
    cmake = (source / "CMakeLists.txt").read_text(encoding="utf-8")
    reads = cmake.find(f"file(STRINGS {MACOS_FLOOR} ONDRAKE_MACOS_FLOOR")
    sets = cmake.find('set(CMAKE_OSX_DEPLOYMENT_TARGET "${ONDRAKE_MACOS_FLOOR}"')
    project_call = re.search(r"^project\(", cmake, re.MULTILINE)
    project = project_call.start() if project_call else -1
    if not 0 <= reads < sets < project:
        problems.append(f"CMakeLists.txt: does not set CMAKE_OSX_DEPLOYMENT_TARGET from {MACOS_FLOOR} before project()")
    # The Info.plist takes the deployment target when configured, never a number of its own.
    with open(source / SAFARI_INFO_PLIST, "rb") as file:
        minimum = plistlib.load(file).get("LSMinimumSystemVersion")
    if minimum != "@CMAKE_OSX_DEPLOYMENT_TARGET@":
        problems.append(f"{SAFARI_INFO_PLIST}: LSMinimumSystemVersion is {minimum!r}, "
                        "not the configured @CMAKE_OSX_DEPLOYMENT_TARGET@")
    readme = (source / "README.md").read_text(encoding="utf-8")
    stated = re.findall(r"macOS ([0-9][0-9.]*) or newer", readme)
    if stated != [floor]:
        problems.append(f"README.md: states the oldest macOS as {stated}, {MACOS_FLOOR} says {floor}")


def check_workflow(source, problems, yaml):
    try:
        document = yaml.safe_load((source / WORKFLOW).read_text(encoding="utf-8"))
    except Exception as error:
        problems.append(f"{WORKFLOW}: not valid YAML: {error}")
        return
    if not isinstance(document, dict):
        problems.append(f"{WORKFLOW}: not a mapping at the top")
        return
    # YAML 1.1, which PyYAML reads, takes a bare `on` for the boolean true.
    if "on" not in document and True not in document:
        problems.append(f"{WORKFLOW}: no `on` triggers")
    jobs = document.get("jobs")
    if not isinstance(jobs, dict) or not jobs:
        problems.append(f"{WORKFLOW}: no jobs")
        return
    runners = []
    for job_name, job in jobs.items():
        where = f"{WORKFLOW}: job {job_name}"
        if not isinstance(job, dict):
            problems.append(f"{where}: not a mapping")
            continue
        runner = job.get("runs-on")
        if not isinstance(runner, str):
            problems.append(f"{where}: `runs-on` is not one runner label")
        else:
            runners.append(runner)
        steps = job.get("steps")
        if not isinstance(steps, list) or not steps:
            problems.append(f"{where}: no steps")
            continue
        commands = []
        for index, step in enumerate(steps, 1):
            if not isinstance(step, dict) or ("uses" in step) == ("run" in step):
                problems.append(f"{where}: step {index} needs exactly one of `uses` and `run`")
            elif "run" in step:
                commands.append(str(step["run"]))
        if not any("make test" in command for command in commands):
            problems.append(f"{where}: never runs `make test`")
        if isinstance(runner, str) and runner.startswith("macos") and not any(MACHO_CHECK in command for command in commands):
            problems.append(f"{where}: never runs {MACHO_CHECK} on the bundle")
    for system in ("ubuntu", "macos"):
        if not any(runner.startswith(system) for runner in runners):
            problems.append(f"{WORKFLOW}: no job runs on {system}")


def main():
    source = Path(sys.argv[1])
    problems = []
    check_entitlements(source, problems)
    check_macos_floor(source, problems)
    try:
        import yaml
    except ImportError:
        yaml = None
    if yaml is not None:
        check_workflow(source, problems, yaml)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    if yaml is None:
        print(f"skipped {WORKFLOW}: PyYAML is not installed (Debian: python3-yaml)")
        return 77
    print("entitlements, macOS floor and workflow: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
