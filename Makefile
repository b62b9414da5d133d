# KEVRA developer entry points. `make run` and `make test` install what is
# missing, build, and then run the viewer or the whole test suite.
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: deps build run test check bench fuzz soak soak-short latency clean

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Starts the simulated recorder and the viewer logged in to it.
run: build
	@bash scripts/run-viewer.sh $(BUILD)/bin

# The whole suite: unit and integration tests, then the sanitizer builds and a short fuzz pass.
# Every build of the suite treats compiler warnings as errors.
test: CMAKE_FLAGS += -DKEVRA_WERROR=ON
test: build
	@bash scripts/test-all.sh $(BUILD)

# Only the main build's tests (quick loop while developing).
check: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: deps
	@bash scripts/bench.sh

fuzz: deps
	@bash scripts/fuzz.sh $(or $(SECONDS_PER_TARGET),60)

soak: build
	@bash scripts/soak.sh $(BUILD)/bin

# Three minutes, the recorder restarted every minute.
soak-short: build
	@SOAK_MINUTES=3 SOAK_RESTART_MINUTES=1 SOAK_SAMPLE_SECONDS=5 bash scripts/soak.sh $(BUILD)/bin

# Network-to-screen and arrow-key latency of the viewer against the simulated recorder.
latency: build
	@BUILD=$(BUILD) bash scripts/latency.sh

clean:
	rm -rf build build-*
