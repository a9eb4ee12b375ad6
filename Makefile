# The two set-up commands are `make run` and `make test`; both install what is missing.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_DIR ?= build
TEST_BUILD_DIR ?= build-test

.PHONY: run test deps build build-test

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
