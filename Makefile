# Entry points for users, CI and developers.
#   make run    install missing Debian packages, build, start the panel
#   make demo   the same, with the simulated bridge board registered as port 1
#   make test   the same set-up, then every test through ctest (offscreen)
#   make package  a Debian package in build/package/

PRESET ?= default
BUILD_DIR := build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run demo test package clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	./$(BUILD_DIR)/bin/tamberlo

demo: build
	./scripts/demo.sh

test: build
	QT_QPA_PLATFORM=offscreen ctest --preset $(PRESET) -j $(JOBS)

package: build
	cpack --config $(BUILD_DIR)/CPackConfig.cmake -B $(BUILD_DIR)/package

clean:
	rm -rf $(BUILD_DIR) build-asan
