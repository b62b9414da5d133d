#!/usr/bin/env bash
# Several recorders in one viewer: three kevra-recorders of four cameras each, all twelve
# cameras in the real viewer's 4 x 4 grid (offscreen), beside one recorder of twelve cameras in
# the same grid (the same streams over one session), in one run. Measures the viewer's CPU and
# memory while every tile plays; with three recorders it then kills the second, starts it again
# on its port after RESTART_AFTER seconds and measures the time from its return to each of its
# tiles' first picture, and whether any tile of the other two recorders went a second without a
# picture meanwhile. Writes the table into bench/RESULTS.md between the "recorders-measurements"
# markers (NO_WRITE=1: print only; KEEP=1: keep the temporary folder). BUILD=DIR picks the build
# folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
SIZE=${SIZE:-704x576}
SECONDS_MEASURED=${SECONDS_MEASURED:-10}
RESTART_AFTER=${RESTART_AFTER:-5}
TMP=$(mktemp -d)
[ -n "${KEEP:-}" ] && echo "temporary folder: $TMP"
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    [ -n "${KEEP:-}" ] || rm -rf "$TMP"
}
trap cleanup EXIT
HZ=$(getconf CLK_TCK)
LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)
process_ticks() { awk '{sub(/.*\) /, ""); print $12 + $13}' "/proc/$1/stat" 2>/dev/null || echo 0; }

SRC="$TMP/src.h264"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=$SIZE:rate=25" -t 4 -c:v libx264 \
    -profile:v baseline -preset veryfast -g 25 -bf 0 -pix_fmt yuv420p -f h264 "$SRC"

PORTS=()
start_recorder() {   # index cameras port: PIDS[index], PORTS[index]
    local names="C1-$1"; for c in $(seq 2 "$2"); do names="$names&&C$c-$1"; done
    "$BUILD/bin/kevra-recorder" --port "$3" --cameras "$names" --size "$SIZE" \
        --fps 25 --message-size 65536 --source "$SRC" > "$TMP/rec$1.log" 2>&1 &
    PIDS[$1]=$!
    for _ in $(seq 100); do [ -s "$TMP/rec$1.log" ] && break; sleep 0.05; done
    PORTS[$1]=$(head -1 "$TMP/rec$1.log")
}

run_case() {   # recorders cameras-each
    local recorders=$1 each=$2 i
    for i in $(seq 0 $((recorders - 1))); do start_recorder "$i" "$each" 0; done
    # The further recorders in login.ini beside the first (UTF-16LE, CR LF); a scripted run
    # keeps its settings beside its actions file.
    python3 - "$TMP/login.ini" "${PORTS[@]:0:$recorders}" <<'PY'
import sys
path, ports = sys.argv[1], sys.argv[2:]
lines = ["[login]", "IP0=127.0.0.1", f"Port0={ports[0]}", "User0=admin", "Pwd0=580317"]
for i, port in enumerate(ports[1:], 1):
    lines += [f"IP{i}=127.0.0.1", f"Port{i}={port}", f"User{i}=admin", f"Pwd{i}=580317", f"Name{i}=R{i}"]
open(path, "wb").write(("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
PY
    local total=$((3000 + SECONDS_MEASURED * 1000 + 2000 + RESTART_AFTER * 1000 + 15000))
    [ "$recorders" -gt 1 ] || total=1000
    cat > "$TMP/actions.txt" <<ACT
login 127.0.0.1 ${PORTS[0]} admin 580317
key 9
layout
tiles 12
wait 3000
rate $((SECONDS_MEASURED * 1000))
wait $total
exit
ACT
    QT_QPA_PLATFORM=offscreen KEVRA_TEST_ACTIONS="$TMP/actions.txt" "$BUILD/bin/kevra-scripted" \
        2> "$TMP/viewer.log" &
    local viewer=$!
    until grep -q "^script: rate [0-9]*\$" "$TMP/viewer.log" 2>/dev/null; do
        kill -0 $viewer 2>/dev/null || { cat "$TMP/viewer.log" >&2; return 1; }; sleep 0.05; done
    local t0 c0 t1 c1
    t0=$(date +%s.%N); c0=$(process_ticks $viewer)
    until grep -q "^script: rate 0 " "$TMP/viewer.log"; do sleep 0.05; done
    t1=$(date +%s.%N); c1=$(process_ticks $viewer)
    local rss hwm cpu rates min max threads
    rss=$(awk '/VmRSS/{print $2}' /proc/$viewer/status); hwm=$(awk '/VmHWM/{print $2}' /proc/$viewer/status)
    threads=$(awk '/Threads/{print $2}' /proc/$viewer/status)
    cpu=$(echo "scale=0; 100 * ($c1 - $c0) / $HZ / ($t1 - $t0)" | bc -l)
    # Tiles 12..15 are empty.
    rates=$(grep "^script: rate [0-9]* " "$TMP/viewer.log" | awk '$3 < 12 {print $4}')
    min=$(echo "$rates" | sort -n | head -1); max=$(echo "$rates" | sort -n | tail -1)
    local back="—" gaps="—"
    if [ "$recorders" -gt 1 ]; then
        # The second recorder goes away and comes back on its port.
        kill -9 "${PIDS[1]}"; wait "${PIDS[1]}" 2>/dev/null || true
        local killed returned
        killed=$(date +%s.%N)
        sleep "$RESTART_AFTER"
        start_recorder 1 "$each" "${PORTS[1]}"
        returned=$(date +%s.%N)
        sleep 12
        # Its tiles (4..7, tree order) and their first picture after its return.
        local firsts first last count
        firsts=$(awk -v back="$returned" '/^script: tile [4-7] picture after/ {t = $NF; if (t > back) print int((t - back) * 1000)}' "$TMP/viewer.log" | sort -n)
        first=$(echo "$firsts" | head -1); last=$(echo "$firsts" | tail -1)
        count=$(echo "$firsts" | grep -c . || true)
        back="${first:-?}-${last:-?} ms ($count of 4 tiles)"
        # Any gap of a second or more at another recorder's tile while the second was away.
        gaps=$(awk -v killed="$killed" '/^script: tile ([0-3]|8|9|1[01]) picture after/ {if ($NF > killed) print "tile " $3 ": " $6 " ms"}' "$TMP/viewer.log" | paste -sd, -)
        [ -n "$gaps" ] || gaps="none"
    fi
    kill -TERM $viewer 2>/dev/null || true; wait $viewer 2>/dev/null || true
    for i in $(seq 0 $((recorders - 1))); do kill "${PIDS[$i]}" 2>/dev/null || true; wait "${PIDS[$i]}" 2>/dev/null || true; done
    echo "| $recorders x $each cameras, $SIZE, 4 x 4 grid | $min | $max | ${cpu}% | $((rss / 1024)) | $((hwm / 1024)) | $threads | $back | $gaps |"
}

ROWS=""
for c in ${CASES:-3x4 1x12}; do
    ROWS+=$(run_case "${c%x*}" "${c#*x}")$'\n'
done

SECTION=$(cat <<MD
<!-- recorders-measurements -->
## Several recorders in one viewer

Written by \`scripts/recorders-bench.sh\` on $(date -u '+%Y-%m-%d %H:%M') UTC. CPU: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) logical cores ($(grep -o -w 'avx512f\|avx2' /proc/cpuinfo | sort -u | paste -sd, -)); load average (1, 5, 15 min) ${LOAD_START} at the start and $(cut -d' ' -f1-3 /proc/loadavg) at the end; the recorders ran on the same machine.
Each camera streams an ffmpeg \`testsrc2\` H.264 clip (baseline, 25 fps) from kevra-recorder on loopback; the viewer (offscreen) shows all twelve cameras in its 4 x 4 grid, filled in tree order: three recorders of four cameras, then, in the same run, one recorder of twelve (the same streams over one session). Pictures/s are counted per tile over ${SECONDS_MEASURED} s; CPU is % of one core over the same window (200% = both cores). With three recorders the second is then killed and started again on its port ${RESTART_AFTER} s later: "return to first picture" is the time from its return to each of its four tiles' first picture, which includes the wait for the next try of its retry schedule (tries 1, 2, 4, 8 s apart: the try after a 5 s absence comes about 2 s after the return); the last column lists any tile of the other two recorders that went a second or more without a picture meanwhile.

| case | slowest tile pictures/s | fastest tile | viewer CPU | RSS MiB | peak RSS MiB | threads | return to first picture | other recorders' gaps >= 1 s |
|---|---:|---:|---:|---:|---:|---:|---|---|
${ROWS}<!-- /recorders-measurements -->
MD
)
echo "$SECTION"
[ -n "${NO_WRITE:-}" ] && exit 0
python3 scripts/write-results.py recorders-measurements "$SECTION"
