# The front door. `make demo` shows the bridge at work; `make test` builds and runs every test.
# Every target first installs what is missing (scripts/install-deps.sh).

SHELL := /bin/bash

# Homebrew keeps ICU out of the default search paths.
ifeq ($(shell uname -s),Darwin)
export ICU_ROOT ?= $(shell brew --prefix icu4c 2>/dev/null)
endif

# `make bundle`: our part of the application bundle, <PREFIX>/<APP_NAME>.app/Contents/...
# On macOS it is signed with CODESIGN_IDENTITY; left empty, with the configured
# ONDRAKE_CODESIGN_IDENTITY, which is "-" (ad hoc) unless set otherwise.
# WEB_EXTENSION is the Safari web extension's resource directory (manifest.json and scripts), copied
# into the extension's Contents/Resources; the reference extension of this repository by default.
PREFIX ?= build/bundle
APP_NAME ?= Ondrake Download
WEB_EXTENSION ?= safari-extension/web-extension
CODESIGN_IDENTITY ?=

.PHONY: all deps build test demo docs bench sanitize fuzz e2e bundle libcxx mac-checks toolchain-deps clean

# Configures a preset quietly; cmake's output is shown only when configuring fails.
configure = output=$$(cmake --preset $(1) 2>&1) || { printf '%s\n' "$$output" >&2; exit 1; }

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@$(call configure,default)
	@cmake --build --preset default

# A skipped browser test says why and how to run it (e2e/run.sh); CTest itself would not show it.
test: build
	@rm -f build/e2e-skipped.txt
	@ctest --preset default; status=$$?; cat build/e2e-skipped.txt 2>/dev/null; exit $$status

demo: build
	@scripts/demo.sh

# `make docs`: regenerate docs/protocol.md's tables and docs/schema/ from the message tables.
docs: build
	@build/bin/protocol-doc write .

bench: build
	@scripts/bench.sh

sanitize: deps
	@$(call configure,sanitize)
	@cmake --build --preset sanitize
	@ctest --preset sanitize

# `make e2e`: the bundle laid out in /Applications (needs root), registered, and used by Debian's
# Chromium and Firefox ESR with our probe extensions; installs the browsers and ws first when
# they are missing.
e2e: build
	@e2e/setup.sh
	@e2e/run.sh cmake build

# `make fuzz`: every fuzz target for FUZZ_SECONDS seconds each, in its own clang build (build-fuzz/).
FUZZ_SECONDS ?= 60
fuzz: deps
	@$(call configure,fuzz)
	@cmake --build --preset fuzz
	@FUZZ_SECONDS="$(FUZZ_SECONDS)" scripts/fuzz.sh

# What the two targets below need beyond `deps` (Debian/Ubuntu: clang 19, libc++, GNUstep).
toolchain-deps:
	@scripts/install-toolchain-deps.sh

# `make libcxx`: the whole project built by clang 19 against libc++, the C++ library it ships with,
# with GoogleTest and Boost.JSON built from their sources and libc++'s transitive includes left out,
# and every test run (build-libcxx/).
libcxx: deps toolchain-deps
	@$(call configure,libcxx)
	@cmake --build --preset libcxx
	@ctest --preset libcxx

# `make mac-checks`: what only a Mac build compiles, compiled here with the libc++ build's flags
# (the Objective-C++ adapter against GNUstep, the __APPLE__ branches), and every object checked for
# parts of the C++ library that Apple's libc++ has only above our macOS floor.
mac-checks: deps toolchain-deps
	@$(call configure,libcxx)
	@cmake --build --preset libcxx
	@scripts/check-apple-sources.py build-libcxx
	@packaging/check-libcxx-floor.py build-libcxx

bundle: build
	@CODESIGN_IDENTITY="$(CODESIGN_IDENTITY)" ONDRAKE_WEB_EXTENSION="$(WEB_EXTENSION)" \
	  cmake --install build --component bundle --prefix "$(PREFIX)/$(APP_NAME).app"

clean:
	rm -rf build build-sanitize build-fuzz build-libcxx
