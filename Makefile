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
test: test-plain test-asan

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
