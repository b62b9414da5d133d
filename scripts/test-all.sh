#!/usr/bin/env bash
# The whole test suite: main build, ASan+UBSan build, TSan build of the threaded
# tests and the viewer program, and a short fuzz pass. Stops at the first failing stage.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
JOBS=$(nproc)

stage() { echo; echo "=== $* ==="; }

# Every ctest run's summary goes through here so the last line can total all stages.
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT
counted() { "$@" 2>&1 | tee -a "$LOG"; return "${PIPESTATUS[0]}"; }

stage "formatting (clang-format 14)"
bash scripts/check-format.sh

stage "every program the README names builds (benchmarks, fuzzers, soak and shots tools)"
# Build-only, so that a target outside the main build's tests cannot break unseen: the benchmark
# as `make bench` configures it (tests off), the fuzz targets as scripts/fuzz.sh does, and the
# soak and shots drivers of the main build. The benchmark then runs one quick case as a smoke.
cmake --build "$BUILD" -j "$JOBS" --target kevra-soak kevractl kevra-gateway kevra-recorder
if cmake --build "$BUILD" --target help | grep -q '^kevra-shots:'; then
  cmake --build "$BUILD" -j "$JOBS" --target kevra-shots
fi
# As scripts/bench.sh configures it. Warnings stay warnings there: GCC 12 at -O3 reports
# overlapping copies inside std::string concatenation that are not there (-Wrestrict).
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKEVRA_BUILD_BENCH=ON \
      -DKEVRA_BUILD_TESTS=OFF -DKEVRA_BUILD_UI=OFF -DKEVRA_WERROR=OFF >/dev/null
cmake --build build-bench -j "$JOBS" --target kevra_bench kevra-recorder
build-bench/bin/kevra_bench --benchmark_filter='BM_Demux/kevra/packet$' --benchmark_min_time=0.01 >/dev/null
FUZZ_BUILD_ONLY=1 bash scripts/fuzz.sh

stage "unit and integration tests"
counted ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" --timeout 300

stage "64-bit ARM: colour converter against the reference, under emulation"
# Cross-compiled statically (no ARM libraries needed) and run by qemu-user; checks the NEON
# path, which no x86 build contains.
ARM_BIN=$(mktemp -d)
aarch64-linux-gnu-g++ -std=c++20 -O2 -static -Wall -Wextra -Werror -Isrc src/video/ColourConverter*.cpp \
  tests/video/standalone/colour_exactness.cpp -o "$ARM_BIN/colour_exactness"
arm_status=0
qemu-aarch64 "$ARM_BIN/colour_exactness" || arm_status=$?
rm -rf "$ARM_BIN"
# Counted with the ctest stages: one test, passed or failed.
echo "$([ $arm_status -eq 0 ] && echo 0 || echo 1) tests failed out of 1" >> "$LOG"
[ $arm_status -eq 0 ]

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKEVRA_SANITIZE=address -DKEVRA_WERROR=ON -DCMAKE_CXX_FLAGS=-O1 >/dev/null
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
  counted ctest --test-dir build-asan --output-on-failure -j "$JOBS" --timeout 600

stage "ThreadSanitizer (threaded tests and the viewer program)"
# The viewer is built too, so its own start-to-exit path runs under the sanitizer (label
# "program"); only the targets those tests need are built.
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKEVRA_SANITIZE=thread -DKEVRA_WERROR=ON -DKEVRA_BUILD_UI=ON -DCMAKE_CXX_FLAGS=-O1 >/dev/null
cmake --build build-tsan -j "$JOBS" --target test_common test_device test_video test_app test_remux test_ui_program colour_exactness test_gateway
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp \
  counted ctest --test-dir build-tsan --output-on-failure -j "$JOBS" --timeout 600 -L 'common|device|video|app|remux|program'
# The gateway's own threads (camera hub fan-out); its end-to-end tests run GStreamer, which is
# not built with the sanitizer, so they (and the RTSP server run in-process, the ONVIF, HTTP and
# browser runs and the WebRTC pipelines) stay in the stages above.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp \
  counted ctest --test-dir build-tsan --output-on-failure -j "$JOBS" --timeout 600 -L gateway \
  -E 'GatewayRun|RtspFrontListen|OnvifRun|WebrtcOffer|gateway_http|gateway_browser'

if [ -f fuzz/CMakeLists.txt ]; then
  stage "fuzz pass"
  bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
fi

# One closing line over every stage: tests run and tests failed.
total=$(grep -oE 'tests failed out of [0-9]+' "$LOG" | awk '{s+=$5} END {print s+0}')
failed=$(grep -oE '[0-9]+ tests failed out of' "$LOG" | awk '{s+=$1} END {print s+0}')
echo
echo "total: $((total - failed)) passed, $failed failed"
