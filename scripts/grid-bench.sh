#!/usr/bin/env bash
# Measures the multi-camera view with the real viewer (offscreen) against kevra-recorder:
# pictures per second drawn in every tile, the viewer's CPU use (whole process and per kind of
# thread) and its resident memory, for 4 x 704x576, 16 x 352x288 and 4 x 1920x1080 at 25 fps,
# with the CPU the recorder and every other process used meanwhile (the load it ran under).
# The recorder streams an ffmpeg-made H.264 file (made here, in a temporary folder) so its own
# encoding does not take the viewer's CPU. Writes the table into bench/RESULTS.md between the
# "viewer-measurements" markers. BUILD=DIR picks the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
SECONDS_MEASURED=${SECONDS_MEASURED:-10}
TMP=$(mktemp -d)
REC_PID=""
cleanup() { [ -n "$REC_PID" ] && kill "$REC_PID" 2>/dev/null; rm -rf "$TMP"; }
trap cleanup EXIT
HZ=$(getconf CLK_TCK)
LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)

# CPU ticks of the whole machine, summed over its cores: "busy all" (busy: user, nice, system,
# irq, softirq, steal; all: busy, idle and iowait).
machine_ticks() { awk '/^cpu /{b = $2 + $3 + $4 + $7 + $8 + $9; print b, b + $5 + $6; exit}' /proc/stat; }
CORES=$(grep -c '^cpu[0-9]' /proc/stat)
# CPU ticks (user + system) of one process, its ended threads included.
process_ticks() { awk '{sub(/.*\) /, ""); print $12 + $13}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# CPU ticks (user + system) of a process: "all decode ui timer net", one pass over its threads
# (the kinds count threads alive at both samples; "all" counts every thread).
# Threads made by a named thread inherit its name (libavcodec's helpers: kevra-decode).
ticks() {   # pid
    python3 - "$1" <<'PY'
import glob, sys
sums = {"all": 0, "decode": 0, "ui": 0, "timer": 0, "net": 0}
for t in glob.glob(f"/proc/{sys.argv[1]}/task/*"):
    try:
        comm = open(t + "/comm").read().strip()
        fields = open(t + "/stat").read().rsplit(")", 1)[1].split()
    except OSError:
        continue
    n = int(fields[11]) + int(fields[12])
    sums["all"] += n
    kind = {"kevra-timer": "timer", "kevra-net": "net", "kevra-decode": "decode"}.get(comm, "ui")
    sums[kind] += n
# The whole process from its own line (it keeps the time of threads that ended).
fields = open(f"/proc/{sys.argv[1]}/stat").read().rsplit(")", 1)[1].split()
sums["all"] = int(fields[11]) + int(fields[12])
print(sums["all"], sums["decode"], sums["ui"], sums["timer"], sums["net"])
PY
}

run_case() {   # label tiles size message-size
    local label=$1 tiles=$2 size=$3 msg=$4
    local src="$TMP/$size.h264"
    [ -f "$src" ] || ffmpeg -loglevel error -f lavfi -i "testsrc2=size=$size:rate=25" -t 4 \
        -c:v libx264 -profile:v baseline -preset veryfast -x264-params sliced-threads=0:slices=1 -g 25 -bf 0 \
        -pix_fmt yuv420p -f h264 "$src"
    local names="C1"; for i in $(seq 2 "$tiles"); do names="$names&&C$i"; done
    "$BUILD/bin/kevra-recorder" --port 0 --cameras "$names" --size "$size" --fps 25 \
        --message-size "$msg" --source "$src" > "$TMP/rec.log" 2>&1 &
    REC_PID=$!
    for _ in $(seq 50); do [ -s "$TMP/rec.log" ] && break; sleep 0.1; done
    local port; port=$(head -1 "$TMP/rec.log")
    local keys="key 4"
    [ "$tiles" = 16 ] && keys=$'key 9\nlayout'
    cat > "$TMP/actions.txt" <<ACT
login 127.0.0.1 $port admin 580317
$keys
tiles $tiles
wait 3000
rate $((SECONDS_MEASURED * 1000))
wait 6000
exit
ACT
    QT_QPA_PLATFORM=offscreen KEVRA_TEST_ACTIONS="$TMP/actions.txt" "$BUILD/bin/kevra-scripted" 2> "$TMP/viewer.log" &
    local pid=$!
    until grep -q "^script: rate [0-9]*\$" "$TMP/viewer.log" 2>/dev/null; do
        kill -0 $pid 2>/dev/null || { cat "$TMP/viewer.log"; return 1; }; sleep 0.05; done
    local t0 t1 c0 c1 m0 m1 r0 r1
    m0=($(machine_ticks)); t0=$(date +%s.%N); c0=($(ticks $pid)); r0=$(process_ticks $REC_PID)
    until grep -q "^script: rate 0 " "$TMP/viewer.log"; do sleep 0.05; done
    m1=($(machine_ticks)); t1=$(date +%s.%N); c1=($(ticks $pid)); r1=$(process_ticks $REC_PID)
    # Everything else the machine did in the same window (the load these figures were taken
    # under), as % of one core like the other columns, over the machine's own tick count.
    local other=$(( (m1[0] - m0[0]) - (c1[0] - c0[0]) - (r1 - r0) )); [ "$other" -lt 0 ] && other=0
    local otherPct=$(( 100 * CORES * other / (m1[1] - m0[1] > 0 ? m1[1] - m0[1] : 1) ))
    local rss hwm; rss=$(awk '/VmRSS/{print $2}' /proc/$pid/status); hwm=$(awk '/VmHWM/{print $2}' /proc/$pid/status)
    local status=0; wait $pid || status=$?
    kill $REC_PID 2>/dev/null; wait $REC_PID 2>/dev/null || true; REC_PID=""
    local rates; rates=$(grep "^script: rate [0-9]* " "$TMP/viewer.log" | awk '{print $4}')
    local min max; min=$(echo "$rates" | sort -n | head -1); max=$(echo "$rates" | sort -n | tail -1)
    local wall; wall=$(echo "$t1 - $t0" | bc -l)
    pct() { echo "scale=0; 100 * $1 / $HZ / $wall" | bc -l; }
    echo "| $label | $min | $max | $(pct $((c1[0] - c0[0])))% | $(pct $((c1[1] - c0[1])))% | $(pct $((c1[2] - c0[2])))% | $(pct $((c1[3] - c0[3])))% | $(pct $((c1[4] - c0[4])))% | $((rss / 1024)) | $((hwm / 1024)) | $status | $(pct $((r1 - r0)))% | ${otherPct}% |"
}

ROWS=""
# TILESxWxH[@MEDIA_DATA payload bytes]; 65536-byte messages unless given.
for c in ${CASES:-4x704x576 16x352x288 4x1920x1080 16x1920x1080 4x704x576@4096 4x1920x1080@4096}; do
    size=${c%@*}; msg=65536; [ "$size" != "$c" ] && msg=${c#*@}
    ROWS+=$(run_case "${size%%x*} x ${size#*x}, ${msg}-byte messages" "${size%%x*}" "${size#*x}" "$msg")$'\n'
done
[ -n "${NO_WRITE:-}" ] && { echo "$ROWS"; exit 0; }
# Said only when this run measured it: other work took a tenth of a core or more in some row.
MAX_OTHER=$(echo "$ROWS" | awk -F'|' 'NF > 2 {v = $(NF - 1); gsub(/[ %]/, "", v); if (v + 0 > m) m = v + 0} END {print m + 0}')
OTHER_NOTE=""
[ "$MAX_OTHER" -ge 10 ] && OTHER_NOTE=": up to ${MAX_OTHER}% here, so the viewer's CPU shares are of a busy machine and may vary between runs"

SECTION=$(cat <<MD
<!-- viewer-measurements -->
## Multi-camera view: the real viewer (offscreen) against kevra-recorder

Written by \`scripts/grid-bench.sh\` on $(date -u '+%Y-%m-%d %H:%M') UTC. CPU: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) logical cores; load average (1, 5, 15 min) ${LOAD_START} at the start and $(cut -d' ' -f1-3 /proc/loadavg) at the end. The last column is the CPU every other process on the machine used during each row's window (0% on a machine doing nothing else)${OTHER_NOTE}.
Each camera streams an ffmpeg \`testsrc2\` H.264 clip (baseline, 25 fps) from kevra-recorder on loopback; pictures/s are counted per tile over ${SECONDS_MEASURED} s after a 3 s settle; CPU is % of one core over the same window (200% = both cores). Decode = the decoder threads with libavcodec's helper threads (they inherit the decoder thread's name); paint = the user-interface thread (and Qt's own threads), which paints the small tile pictures; scale = the frame-timer thread, which scales each shown picture once into its tile; net = the network thread. The recorder sends MEDIA_DATA messages of 64 KiB unless the row says otherwise (the 4096-byte rows use its default size, many small messages per picture).

| tiles | slowest tile pictures/s | fastest tile | viewer CPU | decode | paint (UI) | scale (timer) | net | RSS MiB | peak RSS MiB | exit | recorder CPU | other processes' CPU |
|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|
${ROWS}<!-- /viewer-measurements -->
MD
)
echo "$SECTION"
python3 scripts/write-results.py viewer-measurements "$SECTION"
