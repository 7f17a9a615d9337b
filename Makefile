# The front door. `make demo` shows the bridge at work; `make test` builds and runs every test.
# Every target first installs what is missing (scripts/install-deps.sh).

SHELL := /bin/bash

# Homebrew keeps ICU out of the default search paths.
ifeq ($(shell uname -s),Darwin)
export ICU_ROOT ?= $(shell brew --prefix icu4c 2>/dev/null)
endif

.PHONY: all deps build test demo bench sanitize clean

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

bench: build
	@scripts/bench.sh

sanitize: deps
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize
	@ctest --preset sanitize

clean:
	rm -rf build build-sanitize
