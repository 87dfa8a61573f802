# Entry points.  `make test` sets up a fresh Debian machine (as root), builds
# the normal and the sanitizer trees and runs every test in both; `make run`
# builds and starts the daemon with the stand-ins.
JOBS ?= $(shell nproc)
GEN  := -G Ninja
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)

.PHONY: all deps build build-asan test test-normal test-asan bench fuzz run format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: deps
	@cmake -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DIPT_SANITIZE=ON -DIPT_BENCH=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)

test-normal: build
	cd build && ctest $(CTEST_FLAGS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS)

test: test-normal test-asan

bench: build
	@for b in build/bench/*_bench; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DIPT_SANITIZE=ON -DIPT_FUZZ=ON -DIPT_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

run: build
	@scripts/run.sh

format:
	@git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz build-tsan
