# The two set-up commands are `make run` and `make test`; both install what is missing.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_DIR ?= build
TEST_BUILD_DIR ?= build-test
SOAK_BUILD_DIR ?= build-soak
FUZZ_SECONDS ?= 60
SOAK_RUNS ?= 200
SOAK_SEED ?= 1
BENCH_BUILD_DIR ?= build-bench

.PHONY: run test deps build build-test fuzz soak bench

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-test: deps
	cmake -S . -B $(TEST_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DKELVORA_SANITIZE=ON
	cmake --build $(TEST_BUILD_DIR) -j $(JOBS)

run: build
	BUILD_DIR=$(BUILD_DIR) scripts/run-demo.sh

test: build-test
	cd $(TEST_BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Side-by-side timings against curl and a minimal Qt window (docs/performance.md);
# an optimised tree of its own, never sanitized. BENCH_ARGS="--rounds N --sizes 64,256".
bench: deps
	cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVORA_SANITIZE=OFF
	cmake --build $(BENCH_BUILD_DIR) -j $(JOBS) --target bench-programs
	$(BENCH_BUILD_DIR)/bench/kelvora-bench $(BENCH_ARGS)

# libFuzzer on each fuzz target for FUZZ_SECONDS over its seed corpus (clang, build-fuzz).
fuzz:
	@scripts/install-deps.sh fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) fuzz/run-fuzz.sh

# SOAK_RUNS whole update runs with faults against the simulated camera; not sanitized, so
# resident memory is the tool's own.
soak: deps
	cmake -S . -B $(SOAK_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVORA_SANITIZE=OFF
	cmake --build $(SOAK_BUILD_DIR) -j $(JOBS) --target kelvora-soak
	QT_QPA_PLATFORM=offscreen $(SOAK_BUILD_DIR)/soak/kelvora-soak --runs $(SOAK_RUNS) --seed $(SOAK_SEED)
