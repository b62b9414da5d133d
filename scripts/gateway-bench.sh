#!/usr/bin/env bash
# Figures for kevra-gateway against the simulated recorder: gateway CPU (share of one core),
# resident memory once the clients play and at the end, late-joiner time to the first decoded
# picture, and the delay the gateway adds (frame in from the recorder -> first RTP packet out,
# from its --stats line).
#   scripts/gateway-bench.sh [SECONDS] [CAMERAS] [CLIENTS_PER_CAMERA] [SIZE]
# e.g. scripts/gateway-bench.sh 180 1 8 704x576; scripts/gateway-bench.sh 180 16 2 352x288
# Clients are ffmpeg over RTSP/TCP copying the stream without decoding (-c copy -f null).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_RUN=${1:-120}
CAMERAS=${2:-1}
PER_CAMERA=${3:-8}
SIZE=${4:-704x576}
BIN=${BIN:-build/bin}
WORK=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"; }
trap cleanup EXIT

names=$(seq -s '&&' -f 'Cam%g' 1 "$CAMERAS")
"$BIN/kevra-recorder" --port 0 --cameras "$names" --size "$SIZE" --fps 25 --gop 100 \
  > "$WORK/recorder.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$WORK/recorder.log" ] && break; sleep 0.1; done
RPORT=$(head -1 "$WORK/recorder.log")

"$BIN/kevra-gateway" --recorder b=127.0.0.1:"$RPORT" --rtsp-port 0 --http-port 0 --stats \
  > "$WORK/urls.txt" 2> "$WORK/gateway.log" &
GW=$!
pids+=($GW)
for _ in $(seq 100); do grep -q "rtsp://" "$WORK/urls.txt" 2>/dev/null && break; sleep 0.1; done
PORT=$(grep -o 'listening on rtsp://[^ ]*' "$WORK/gateway.log" | sed 's/.*://')

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
RSS_IDLE=$(rss_kb $GW)

for c in $(seq 1 "$CAMERAS"); do
  for _ in $(seq 1 "$PER_CAMERA"); do
    ffmpeg -nostdin -v error -rtsp_transport tcp -i "rtsp://127.0.0.1:$PORT/b/$c" -c copy \
      -t "$((SECONDS_RUN + 10))" -f null - > /dev/null 2>&1 &
    pids+=($!)
  done
done
sleep 5
RSS_START=$(rss_kb $GW)
T0=$(cpu_ticks $GW)
S0=$(date +%s.%N)
# Resident memory once a minute, to see it stay flat.
RSS_TRACE=""
left=$SECONDS_RUN
while [ "$left" -gt 0 ]; do
  step=$(( left < 60 ? left : 60 ))
  sleep "$step"
  left=$(( left - step ))
  RSS_TRACE="$RSS_TRACE $(( $(rss_kb $GW) / 1024 ))"
done
T1=$(cpu_ticks $GW)
S1=$(date +%s.%N)
RSS_END=$(rss_kb $GW)
HZ=$(getconf CLK_TCK)
CPU=$(awk -v t="$((T1 - T0))" -v hz="$HZ" -v a="$S0" -v b="$S1" 'BEGIN {printf "%.1f", 100 * t / hz / (b - a)}')

# Late joiners on camera 1, spread over the key-frame interval (4 s): GStreamer's rtspsrc with
# its depayloader and decoder built up front, timed from its PLAY to the first decoded picture
# reaching its sink (from the client's own debug log).
joins=()
for i in $(seq 1 20); do
  t=$(GST_DEBUG_NO_COLOR=1 GST_DEBUG="rtspsrc:5,basesink:7" timeout 20 gst-launch-1.0 -q \
        rtspsrc protocols=tcp latency=0 location="rtsp://127.0.0.1:$PORT/b/1" ! rtph264depay ! \
        avdec_h264 ! fakesink num-buffers=1 2>&1 |
      grep -E 'gst_rtspsrc_play:.*PLAY\.\.\.|fakesink0.*(preroll buffer|do_render|rendering)' |
      head -2 | awk '{split($1, p, ":"); s[NR] = p[1] * 3600 + p[2] * 60 + p[3]}
                     END {if (NR == 2) printf "%d", (s[2] - s[1]) * 1000; else print "x"}')
  [ "$t" != x ] && joins+=("$t")
  sleep 0.$(( (i * 37) % 10 ))
done
sorted=$(printf '%s\n' "${joins[@]}" | sort -n)
n=${#joins[@]}
P50=$(echo "$sorted" | sed -n "$(( (n + 1) / 2 ))p")
P95=$(echo "$sorted" | sed -n "$(( (n * 95 + 99) / 100 ))p")

kill -INT $GW
wait $GW || true
DELAY=$(grep -o 'delay added.*' "$WORK/gateway.log" || echo "delay: none")
CONNS=$(grep -c '"event":"claim"' "$WORK/recorder.log" || true)

echo "cameras $CAMERAS x $PER_CAMERA clients, $SIZE, 25 fps, ${SECONDS_RUN} s"
ISA=$(grep -qw avx512f /proc/cpuinfo && echo "x86-64 with AVX-512" || (grep -qw avx2 /proc/cpuinfo && echo "x86-64 with AVX2" || uname -m))
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs) ($(nproc) cores), $ISA"
echo "gateway CPU: ${CPU}% of one core"
echo "resident memory: ${RSS_IDLE} kB before clients, ${RSS_START} kB playing, ${RSS_END} kB after ${SECONDS_RUN} s (MiB each minute:${RSS_TRACE})"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "late joiner first picture (PLAY -> first decoded picture, $n joins): p50 ${P50} ms, p95 ${P95} ms"
echo "$DELAY"
echo "recorder media connections: $CONNS"
