# The two set-up commands are `make run` and `make test`; both install what is missing.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_DIR ?= build
TEST_BUILD_DIR ?= build-test
SOAK_BUILD_DIR ?= build-soak
FUZZ_SECONDS ?= 60
SOAK_RUNS ?= 200
SOAK_SEED ?= 1
BENCH_BUILD_DIR ?= build-bench
PACKAGE_BUILD_DIR ?= build-package
# Debian's compiler and linker flags (hardening) for the package, read when it is built.
DEB_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get

.PHONY: run test deps build build-test fuzz soak bench package package-check package-install-check

deps:
	@scripts/install-deps.sh

# Only the programs `make run` needs, the fleet program the README walks through and every
# program's man page in $(BUILD_DIR)/man/ (target kelvora-run-programs in CMakeLists.txt); the
# test programs are built by `make test`.
build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS) --target kelvora-run-programs

# Line tables only (-g1): the sanitizers' reports still name file and line, at a fraction of
# the full debug information's compile and link time.
build-test:
	@scripts/install-deps.sh test
	cmake -S . -B $(TEST_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DKELVORA_SANITIZE=ON
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
# resident memory is the tool's own. SOAK_FLEET=N updates N simulated cameras at a time with
# the fleet's driver instead of one through the window.
soak: deps
	cmake -S . -B $(SOAK_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVORA_SANITIZE=OFF
	cmake --build $(SOAK_BUILD_DIR) -j $(JOBS) --target kelvora-soak
	QT_QPA_PLATFORM=offscreen $(SOAK_BUILD_DIR)/soak/kelvora-soak --runs $(SOAK_RUNS) --seed $(SOAK_SEED) \
		$(if $(SOAK_FLEET),--fleet $(SOAK_FLEET))

# The Debian package kelvora_<version>_amd64.deb in $(PACKAGE_BUILD_DIR): an optimised tree of its
# own, installing under /usr; builds only what the package holds (target kelvora-programs).
package:
	@scripts/install-deps.sh package
	cmake -S . -B $(PACKAGE_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DKELVORA_SANITIZE=OFF \
		-DKELVORA_PACKAGING=ON -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
		"-DCMAKE_CXX_FLAGS=$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CXXFLAGS)" \
		"-DCMAKE_EXE_LINKER_FLAGS=$$($(DEB_FLAGS) LDFLAGS)"
	cmake --build $(PACKAGE_BUILD_DIR) -j $(JOBS) --target kelvora-programs
	cd $(PACKAGE_BUILD_DIR) && cpack -G DEB

# Unpacks the package and checks its files, desktop entry, metainfo and lintian's verdict.
package-check: package
	scripts/package-check.sh $(PACKAGE_BUILD_DIR)

# The same, then installs the package with apt, runs the programs from PATH and purges it again
# (root; leaves the machine as it was when kelvora was not installed before).
package-install-check: package
	scripts/package-check.sh --install $(PACKAGE_BUILD_DIR)
