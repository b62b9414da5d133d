#!/usr/bin/env bash
# Builds and runs kevra_bench (Release, its own build folder), then writes the raw results to
# bench/results/bench.json and the summary table to bench/RESULTS.md.
# The run writes its ffmpeg-made inputs into a temporary folder of its own (removed at exit)
# and starts the built kevra-recorder for BM_Link; BENCH_BUILD=DIR reuses a build folder.
# Extra arguments go to the benchmark, e.g.: scripts/bench.sh --benchmark_filter=BM_Convert
# Without any, every benchmark runs 3 times in random interleaved order and the summary takes
# each one's median, so that a shared machine's load swings weigh on all sides alike (about
# 7 minutes on 2 cores).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BENCH_BUILD:-build-bench}

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKEVRA_BUILD_BENCH=ON \
      -DKEVRA_BUILD_TESTS=OFF -DKEVRA_BUILD_UI=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target kevra_bench kevra-recorder

if [ $# -eq 0 ]; then
    set -- --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true
fi
mkdir -p bench/results
"$BUILD/bin/kevra_bench" \
    --benchmark_out=bench/results/bench.json --benchmark_out_format=json \
    --kevra_results=bench/RESULTS.md "$@"
echo "bench: wrote bench/results/bench.json and bench/RESULTS.md"
