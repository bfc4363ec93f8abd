# Two commands for a fresh Debian machine:
#   make run   installs what is missing, builds, and starts Tarnel
#   make test  installs what is missing, builds, and runs every suite, normally and under
#              AddressSanitizer + UndefinedBehaviorSanitizer
JOBS ?= $(shell nproc)
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
CMAKE_FLAGS ?=

.PHONY: run test deps build build-asan test-release test-asan clean

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DTARNEL_SANITIZE=address,undefined -DTARNEL_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_DIR) -j $(JOBS)

test-release: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

test: test-release test-asan

run: build
	./scripts/run.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
