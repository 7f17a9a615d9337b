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
PREFIX ?= build/bundle
APP_NAME ?= Ondrake Download
CODESIGN_IDENTITY ?=

.PHONY: all deps build test demo docs bench sanitize fuzz e2e bundle clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default

test: build
	@ctest --preset default

demo: build
	@scripts/demo.sh

# `make docs`: regenerate docs/protocol.md's tables and docs/schema/ from the message tables.
docs: build
	@build/bin/protocol-doc write .

bench: build
	@scripts/bench.sh

sanitize: deps
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize
	@ctest --preset sanitize

# `make e2e`: the host in Debian's Chromium with our probe extension; installs Chromium and
# playwright-core first when they are missing.
e2e: build
	@e2e/setup.sh
	@e2e/run.sh build/bin

# `make fuzz`: every fuzz target for FUZZ_SECONDS seconds each, in its own clang build (build-fuzz/).
FUZZ_SECONDS ?= 60
fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@FUZZ_SECONDS="$(FUZZ_SECONDS)" scripts/fuzz.sh

bundle: build
	@CODESIGN_IDENTITY="$(CODESIGN_IDENTITY)" \
	  cmake --install build --component bundle --prefix "$(PREFIX)/$(APP_NAME).app"

clean:
	rm -rf build build-sanitize build-fuzz
