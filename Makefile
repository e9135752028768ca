# Entry points for users, CI and developers.
#   make run    install missing Debian packages, build the programs, start the panel
#   make demo   the same, with the simulated bridge board registered as port 1
#   make demo-plan  the same with the plan window (tamberlo --plan) instead of the panel
#   make test   the same set-up, then build everything and run every test through ctest (offscreen)
#   make package  a Debian package in build/package/
#   make check-asan  every test built with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   make fuzz   the libFuzzer targets (clang, build-fuzz/), each run FUZZ_SECONDS

PRESET ?= default
BUILD_DIR := build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build programs run demo demo-plan test package check-asan fuzz clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

# Only the programs that run and demo start (the panel, the simulated bridge board, the
# command-line tool): the CMake target "programs" depends on those that exist. Tests,
# benchmarks and icons wait for `make build` or `make test`.
programs: configure
	@cmake --build --preset $(PRESET) -j $(JOBS) --target programs

run: programs
	./$(BUILD_DIR)/bin/tamberlo

demo: programs
	./scripts/demo.sh

demo-plan: programs
	DEMO_PANEL_ARGS=--plan ./scripts/demo.sh

test: build
	QT_QPA_PLATFORM=offscreen ctest --preset $(PRESET) -j $(JOBS)

package: build
	cpack --config $(BUILD_DIR)/CPackConfig.cmake -B $(BUILD_DIR)/package

# The sanitizer build has its own tree, so it never disturbs build/.
# tst_audio_formats (every audio file kind through the real player) runs in make test only: it
# measures the media stack rather than our memory use, and under the sanitizers Qt 6.4's
# GStreamer player once deadlocked in setSource on its 100 s files (the asan-ubsan test preset
# leaves it out). test_sound_e2e (what comes out of the sound server against the bytes on the
# wire, to the millisecond) is left out too: the sanitizers' slowdown is what it would measure;
# the same record path runs under them in test_plan_e2e and test_plan_measure.
check-asan: deps
	@cmake --preset asan-ubsan >/dev/null
	@cmake --build --preset asan-ubsan -j $(JOBS)
	ctest --preset asan-ubsan -j $(JOBS)

# Builds the fuzz targets and runs each one for FUZZ_SECONDS, JOBS of them at once (one core
# each), keeping what they learn in build-fuzz/corpus/. A finding stops its run and leaves its
# input as build-fuzz/<target>-crash-* (or -leak-*, -timeout-*); add it to the regression cases
# of tests/reliability/tst_properties.cpp once it is fixed. `make fuzz FUZZ_TARGETS=fuzz_plan`
# runs one of them.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_strtohex fuzz_receiver fuzz_plan fuzz_audio_format
fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@cd build-fuzz && status=0; pids=; for t in $(FUZZ_TARGETS); do \
		mkdir -p corpus/$$t && \
		{ LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp QT_QPA_PLATFORM=offscreen \
			./bin/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=$$t- \
			-dict=../fuzz/$$t.dict corpus/$$t ../fuzz/corpus/$$t > $$t.log 2>&1 & } ; \
		pids="$$pids $$!"; \
		if [ $$(echo $$pids | wc -w) -ge $(JOBS) ]; then \
			for p in $$pids; do wait $$p || status=1; done; pids=; \
		fi; \
	done; for p in $$pids; do wait $$p || status=1; done; \
	for t in $(FUZZ_TARGETS); do echo "== $$t"; tail -n 12 $$t.log; done; exit $$status

clean:
	rm -rf $(BUILD_DIR) build-asan build-fuzz
