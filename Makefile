# Two commands for a fresh Debian machine:
#   make run   installs what is missing, builds, and starts Tarnel
#   make test  installs what is missing, builds, and runs every suite, normally and under
#              AddressSanitizer + UndefinedBehaviorSanitizer; the threaded suites (label
#              "threads") also run under ThreadSanitizer
JOBS ?= $(shell nproc)
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
CMAKE_FLAGS ?=

.PHONY: run test deps build build-asan build-tsan test-release test-asan test-tsan clean

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

test-release: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

test-tsan: build-tsan
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) -L threads

test: test-release test-asan test-tsan

run: build
	./scripts/run.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR)
