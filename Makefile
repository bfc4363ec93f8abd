# Two commands for a fresh Debian machine:
#   make run   installs what is missing, builds, and starts Tarnel
#   make test  installs what is missing, builds, and runs every suite, normally and under
#              AddressSanitizer + UndefinedBehaviorSanitizer; the threaded suites (label
#              "threads") also run under ThreadSanitizer; the fuzz targets are built with Clang
JOBS ?= $(shell nproc)
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
CMAKE_FLAGS ?=

.PHONY: run test deps build build-asan build-tsan build-fuzz test-release test-asan test-tsan clean

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DTARNEL_SANITIZE=address,undefined -DTARNEL_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_DIR) -j $(JOBS)

# Only the threaded suites (and what they need) are built and run under ThreadSanitizer.
build-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DTARNEL_SANITIZE=thread -DTARNEL_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_DIR) -j $(JOBS) --target tarnel_threaded_suites

# The libFuzzer targets and their seed corpora, built with Clang so that they keep compiling; fuzzing
# itself is run by hand (fuzz/README.md).
build-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNEL_FUZZ=ON \
	      -DTARNEL_BUILD_TESTS=OFF -DTARNEL_BUILD_BENCH=OFF -DTARNEL_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target tarnel_fuzzers

test-release: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

test-tsan: build-tsan
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) -L threads

test: test-release test-asan test-tsan build-fuzz

run: build
	./scripts/run.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
