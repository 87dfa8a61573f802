# Entry points.  `make test` sets up a fresh Debian machine (as root), builds
# the normal and the sanitizer trees and runs every test in both, and
# compiles the fuzz targets with clang so that `make fuzz` cannot break
# unseen; `make run` builds and starts the daemon with the stand-ins.
JOBS ?= $(shell nproc)
GEN  := -G Ninja
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)

.PHONY: format-check all deps build build-asan build-tsan build-fuzz test test-normal test-asan test-tsan bench fuzz run format clean

# One libFuzzer program per fuzz/*_fuzz.cc.
FUZZ_TARGETS := $(basename $(notdir $(wildcard fuzz/*_fuzz.cc)))

# The suites that run code on more than one thread, rerun under ThreadSanitizer.
TSAN_TESTS := logging_test event_test libevent_wrapper_test qz_mgmt_alarm_test gcl_session_test gcl_frame_test

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: deps
	@cmake -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DIPT_SANITIZE=ON -DIPT_BENCH=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)

build-tsan: deps
	@cmake -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIPT_TSAN=ON -DIPT_BENCH=OFF >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target $(TSAN_TESTS)

test-tsan: build-tsan
	@set -e; for t in $(TSAN_TESTS); do \
	  echo "== tsan: $$t"; TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build-tsan/tests/$$t --gtest_brief=1; \
	done

test-normal: build
	cd build && ctest $(CTEST_FLAGS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS)

# Formatting is part of the test: one .clang-format for the whole tree.
format-check: deps
	@git ls-files '*.cc' '*.h' | xargs clang-format --dry-run -Werror

test: format-check build-fuzz test-tsan test-normal test-asan

bench: build
	@for b in build/bench/*_bench; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

# The fuzz targets and the libraries under them, built with clang and the
# sanitizers (tests, tools and stand-ins are not part of this tree's build).
build-fuzz:
	@scripts/install-deps.sh --fuzz
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DIPT_SANITIZE=ON -DIPT_FUZZ=ON -DIPT_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)

fuzz: build-fuzz

run: build
	@scripts/run.sh

format:
	@git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz build-tsan
