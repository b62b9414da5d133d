#!/usr/bin/env bash
# Several recorders in one viewer: three kevra-recorders of four cameras each, all twelve
# cameras in the real viewer's 4 x 4 grid (offscreen). Measures the viewer's CPU and memory
# while every tile plays, then kills the second recorder, starts it again on its port after
# RESTART_AFTER seconds and measures the time from its return to each of its tiles' first
# picture, and whether any tile of the other two recorders went a second without a picture.
# Writes the table into bench/RESULTS.md between the "recorders-measurements" markers
# (NO_WRITE=1: print only). BUILD=DIR picks the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
SIZE=${SIZE:-704x576}
SECONDS_MEASURED=${SECONDS_MEASURED:-10}
RESTART_AFTER=${RESTART_AFTER:-5}
TMP=$(mktemp -d); [ -n "${KEEP:-}" ] && echo "temporary folder: $TMP"
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$TMP"; }
trap cleanup EXIT
HZ=$(getconf CLK_TCK)
LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)
process_ticks() { awk '{sub(/.*\) /, ""); print $12 + $13}' "/proc/$1/stat" 2>/dev/null || echo 0; }

SRC="$TMP/src.h264"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=$SIZE:rate=25" -t 4 -c:v libx264 \
    -profile:v baseline -preset veryfast -g 25 -bf 0 -pix_fmt yuv420p -f h264 "$SRC"

PORTS=()
start_recorder() {   # index port: PIDS[index], PORTS[index]
    "$BUILD/bin/kevra-recorder" --port "$2" --cameras "A$1&&B$1&&C$1&&D$1" --size "$SIZE" \
        --fps 25 --message-size 65536 --source "$SRC" > "$TMP/rec$1.log" 2>&1 &
    PIDS[$1]=$!
    for _ in $(seq 100); do [ -s "$TMP/rec$1.log" ] && break; sleep 0.05; done
    PORTS[$1]=$(head -1 "$TMP/rec$1.log")
}
for i in 0 1 2; do start_recorder $i 0; done

# The viewer's settings: recorders 1 and 2 in login.ini beside the first (UTF-16LE, CR LF);
# a scripted run keeps its settings beside its actions file.
export XDG_CONFIG_HOME="$TMP/config"
python3 - "$TMP/login.ini" "${PORTS[@]}" <<'PY'
import sys
path, p0, p1, p2 = sys.argv[1:]
lines = ["[login]", f"IP0=127.0.0.1", f"Port0={p0}", "User0=admin", "Pwd0=580317"]
for i, (port, name) in enumerate([(p1, "Shop"), (p2, "Depot")], 1):
    lines += [f"IP{i}=127.0.0.1", f"Port{i}={port}", f"User{i}=admin", f"Pwd{i}=580317", f"Name{i}={name}"]
open(path, "wb").write(("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
PY

TOTAL=$((3000 + SECONDS_MEASURED * 1000 + 2000 + RESTART_AFTER * 1000 + 15000))
cat > "$TMP/actions.txt" <<ACT
login 127.0.0.1 ${PORTS[0]} admin 580317
key 9
layout
tiles 12
wait 3000
rate $((SECONDS_MEASURED * 1000))
wait $TOTAL
exit
ACT
QT_QPA_PLATFORM=offscreen KEVRA_TEST_ACTIONS="$TMP/actions.txt" "$BUILD/bin/kevra" 2> "$TMP/viewer.log" &
VIEWER=$!
PIDS+=("$VIEWER")
until grep -q "^script: rate [0-9]*\$" "$TMP/viewer.log" 2>/dev/null; do
    kill -0 $VIEWER 2>/dev/null || { cat "$TMP/viewer.log"; exit 1; }; sleep 0.05; done
t0=$(date +%s.%N); c0=$(process_ticks $VIEWER)
until grep -q "^script: rate 0 " "$TMP/viewer.log"; do sleep 0.05; done
t1=$(date +%s.%N); c1=$(process_ticks $VIEWER)
RSS=$(awk '/VmRSS/{print $2}' /proc/$VIEWER/status); HWM=$(awk '/VmHWM/{print $2}' /proc/$VIEWER/status)
CPU=$(echo "scale=0; 100 * ($c1 - $c0) / $HZ / ($t1 - $t0)" | bc -l)
RATES=$(grep "^script: rate [0-9]* " "$TMP/viewer.log" | awk '$3 < 12 {print $4}')   # tiles 12..15 are empty
MIN=$(echo "$RATES" | sort -n | head -1); MAX=$(echo "$RATES" | sort -n | tail -1)

# The second recorder goes away and comes back on its port.
kill -9 "${PIDS[1]}"; wait "${PIDS[1]}" 2>/dev/null || true
KILLED=$(date +%s.%N)
sleep "$RESTART_AFTER"
start_recorder 1 "${PORTS[1]}"
BACK=$(date +%s.%N)
sleep 12
kill -TERM $VIEWER 2>/dev/null || true; wait $VIEWER 2>/dev/null || true
# Tiles 4..7 are the second recorder's: their first picture after its return.
FIRSTS=$(awk -v back="$BACK" '/^script: tile [4-7] picture after/ {t = $NF; if (t > back) print int((t - back) * 1000)}' "$TMP/viewer.log" | sort -n)
FIRST=$(echo "$FIRSTS" | head -1); LAST=$(echo "$FIRSTS" | tail -1)
COUNT=$(echo "$FIRSTS" | grep -c . || true)
# Any gap of a second or more at another recorder's tile while the second was away.
OTHER_GAPS=$(awk -v killed="$KILLED" '/^script: tile ([0-3]|8|9|1[01]) picture after/ {if ($NF > killed) print $4 ":" $7 "ms"}' "$TMP/viewer.log" | tr '\n' ' ')
[ -z "$OTHER_GAPS" ] && OTHER_GAPS="none"

ROW="| 3 recorders x 4 cameras, $SIZE, 4 x 4 grid | $MIN | $MAX | ${CPU}% | $((RSS / 1024)) | $((HWM / 1024)) | ${FIRST:-?}-${LAST:-?} ms ($COUNT of 4 tiles) | $OTHER_GAPS |"
SECTION=$(cat <<MD
<!-- recorders-measurements -->
## Several recorders in one viewer

Written by \`scripts/recorders-bench.sh\` on $(date -u '+%Y-%m-%d %H:%M') UTC. CPU: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) logical cores ($(grep -o -w 'avx512f\|avx2' /proc/cpuinfo | sort -u | paste -sd, -)); load average (1, 5, 15 min) ${LOAD_START} at the start and $(cut -d' ' -f1-3 /proc/loadavg) at the end; the three recorders ran on the same machine.
Three kevra-recorders of four cameras each stream an ffmpeg \`testsrc2\` H.264 clip (baseline, 25 fps); the viewer (offscreen) shows all twelve cameras in its 4 x 4 grid, filled in tree order. Pictures/s are counted per tile over ${SECONDS_MEASURED} s; CPU is % of one core over the same window (200% = both cores). Then the second recorder is killed, started again on its port ${RESTART_AFTER} s later, and the time from its return to each of its four tiles' first picture is taken (the retry schedule's wait is part of it); the last column lists any tile of the other two recorders that went a second or more without a picture meanwhile.

| case | slowest tile pictures/s | fastest tile | viewer CPU | RSS MiB | peak RSS MiB | return to first picture | other recorders' gaps >= 1 s |
|---|---:|---:|---:|---:|---:|---|---|
${ROW}
<!-- /recorders-measurements -->
MD
)
echo "$SECTION"
[ -n "${NO_WRITE:-}" ] && exit 0
python3 scripts/write-results.py recorders-measurements "$SECTION"
