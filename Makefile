# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands: `make run` and `make test`. Everything else is a helper.

JOBS        ?= $(shell nproc)
BUILD       ?= build
BUILD_ASAN  ?= build-asan
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan run test test-plain test-asan screenshot bench clean package

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

$(BUILD_ASAN)/CMakeCache.txt:
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DTALLIX_SANITIZE=ON -DTALLIX_BUILD_BENCH=OFF $(CMAKE_FLAGS)

build-asan: deps $(BUILD_ASAN)/CMakeCache.txt
	cmake --build $(BUILD_ASAN) -j$(JOBS)

# Opens Tallix against the simulated instruments.
run: build
	@scripts/run-demo $(BUILD)

# The whole suite headless, then again under AddressSanitizer and UBSan.
test: test-plain test-asan test-fuzz

test-plain: build
	scripts/run-tests $(BUILD)

test-asan: build-asan
	scripts/run-tests $(BUILD_ASAN)

# A PNG of the window under a virtual X display.
screenshot: build
	scripts/screenshot $(BUILD) tallix-window.png

bench: build
	scripts/run-bench $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)

# A .deb of the program, the simulators, the icon and the desktop entries.
package: build
	cd $(BUILD) && cpack -G DEB

# The libFuzzer targets, built with clang and the sanitizers in a folder of
# their own, each run for FUZZ_SECONDS (test-fuzz: 30 s each, as in CI).
BUILD_FUZZ   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_commandfilereader fuzz_responselog fuzz_tcpreply fuzz_replyframer fuzz_resourceparser fuzz_findanswers
.PHONY: fuzz test-fuzz fuzz-build

$(BUILD_FUZZ)/CMakeCache.txt:
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLIX_SANITIZE=ON \
	  -DTALLIX_FUZZ=ON -DTALLIX_BUILD_TESTS=OFF -DTALLIX_BUILD_BENCH=OFF $(CMAKE_FLAGS)

fuzz-build:
	@scripts/install-deps --fuzz
	$(MAKE) --no-print-directory $(BUILD_FUZZ)/CMakeCache.txt
	cmake --build $(BUILD_FUZZ) -j$(JOBS) --target $(FUZZ_TARGETS)

fuzz: fuzz-build
	scripts/run-fuzz $(BUILD_FUZZ) $(FUZZ_SECONDS)

test-fuzz: fuzz-build
	scripts/run-fuzz $(BUILD_FUZZ) 30
