#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one for
# SECONDS (default 30) on a copy of its seed corpus. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-30}
shift || true
BUILD=build-fuzz
JOBS=$(nproc)

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEVRA_WERROR=ON \
  -DKEVRA_BUILD_FUZZ=ON -DKEVRA_BUILD_UI=OFF -DKEVRA_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target fuzz_all
# FUZZ_BUILD_ONLY=1: only build the targets (the build stage of scripts/test-all.sh).
[ -n "${FUZZ_BUILD_ONLY:-}" ] && exit 0

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets"; exit 0; fi
mkdir -p fuzz/corpus-work
status=0
for t in "${targets[@]}"; do
  work="fuzz/corpus-work/$t"
  mkdir -p "$work"
  [ -d "fuzz/seeds/$t" ] && cp -n fuzz/seeds/"$t"/* "$work"/ 2>/dev/null || true
  echo "--- $t for ${SECONDS_PER_TARGET}s"
  if ! "$BUILD/bin/$t" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="fuzz/corpus-work/$t-" "$work" 2>"fuzz/corpus-work/$t.log"; then
    echo "FAILED: $t (see fuzz/corpus-work/$t.log)"; tail -40 "fuzz/corpus-work/$t.log"; status=1
  else
    grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "fuzz/corpus-work/$t.log" | tail -1
  fi
done
exit $status
