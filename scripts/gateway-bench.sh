#!/usr/bin/env bash
# Figures for kevra-gateway against the simulated recorder: gateway CPU (share of one core),
# resident memory once the clients play and at the end, late-joiner time to the first decoded
# picture (GStreamer's rtspsrc, ffmpeg and ffprobe), and the delay the gateway adds (frame in
# from the recorder -> first RTP packet out, from its --stats line).
#   scripts/gateway-bench.sh [SECONDS] [CAMERAS] [CLIENTS_PER_CAMERA] [SIZE] [GOP]
# e.g. scripts/gateway-bench.sh 180 1 8 704x576; scripts/gateway-bench.sh 180 16 2 352x288
# GOP is the recorder's key-frame interval in frames (default 100, 4 s; 25 is a key frame a
# second).
# Clients are ffmpeg over RTSP/TCP copying the stream without decoding (-c copy -f null).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_RUN=${1:-120}
CAMERAS=${2:-1}
PER_CAMERA=${3:-8}
SIZE=${4:-704x576}
GOP=${5:-100}
BIN=${BIN:-build/bin}
WORK=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"; }
trap cleanup EXIT

names=$(seq -s '&&' -f 'Cam%g' 1 "$CAMERAS")
"$BIN/kevra-recorder" --port 0 --cameras "$names" --size "$SIZE" --fps 25 --gop "$GOP" \
  > "$WORK/recorder.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$WORK/recorder.log" ] && break; sleep 0.1; done
RPORT=$(head -1 "$WORK/recorder.log")

"$BIN/kevra-gateway" --recorder b=127.0.0.1:"$RPORT" --rtsp-port 0 --http-port 0 --no-onvif --stats \
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

# The same for ffmpeg (first decoded picture) and plain ffprobe (the stream described), timed to
# the client's exit: from its start, as a user waits for it, and from its banner (printed once
# its libraries are loaded), which leaves out a start-up that a loaded machine stretches.
join_ms() {
  python3 - "$@" <<'PY'
import subprocess, sys, time
start = time.monotonic()
p = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.PIPE)
p.stderr.readline()
banner = time.monotonic()
p.stderr.read()
if p.wait() == 0:
    end = time.monotonic()
    print(round((end - start) * 1000), round((end - banner) * 1000))
PY
}
quantiles() {
  sort -n | awk '{v[NR] = $1} END {if (NR == 0) {print "none"; exit}
                 printf "p50 %d ms, p95 %d ms", v[int((NR + 1) / 2)], v[int((NR * 95 + 99) / 100)]}'
}
URL1="rtsp://127.0.0.1:$PORT/b/1"
: > "$WORK/ffmpeg.ms"
: > "$WORK/ffprobe.ms"
for i in $(seq 1 20); do
  join_ms timeout 20 ffmpeg -nostdin -rtsp_transport tcp -i "$URL1" -frames:v 1 -f null - >> "$WORK/ffmpeg.ms"
  sleep 0.$(( (i * 53) % 10 ))
  join_ms timeout 20 ffprobe "$URL1" >> "$WORK/ffprobe.ms"
  sleep 0.$(( (i * 37) % 10 ))
done
joined() {
  echo "from start $(cut -d' ' -f1 "$1" | quantiles), from banner $(cut -d' ' -f2 "$1" | quantiles) ($(wc -l < "$1") joins)"
}
FFMPEG_JOIN=$(joined "$WORK/ffmpeg.ms")
FFPROBE_JOIN=$(joined "$WORK/ffprobe.ms")

# 200 connections opened at once (a media server reconnecting its cameras), each asking OPTIONS:
# the time until every one was answered, and the slowest single answer (a connect dropped by a
# full listen queue would wait for TCP's retry, a second or more).
CONNECTS=$(python3 - "$PORT" <<'PY'
import selectors, socket, sys, time
port, n = int(sys.argv[1]), 200
sel = selectors.DefaultSelector()
start = time.monotonic()
done, failed = [], []
for i in range(n):
    s = socket.socket()
    s.setblocking(False)
    s.connect_ex(("127.0.0.1", port))
    sel.register(s, selectors.EVENT_WRITE, [i, b"", False])
while len(done) + len(failed) < n and time.monotonic() - start < 30:
    for key, ev in sel.select(timeout=1):
        s, st = key.fileobj, key.data
        if not st[2]:
            if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR):
                failed.append(time.monotonic() - start)
                sel.unregister(s)
                s.close()
                continue
            s.send(b"OPTIONS rtsp://127.0.0.1:%d/ RTSP/1.0\r\nCSeq: 1\r\n\r\n" % port)
            st[2] = True
            sel.modify(s, selectors.EVENT_READ, st)
            continue
        try:
            got = s.recv(4096) if st[2] else b""
        except OSError:
            got = b""
        st[1] += got
        if not got or b"\r\n\r\n" in st[1]:
            (done if got else failed).append(time.monotonic() - start)
            sel.unregister(s)
            s.close()
done.sort()
print("%d of %d answered, half within %d ms, all within %d ms; %d failed" %
      (len(done), n, done[len(done) // 2] * 1000 if done else 0, done[-1] * 1000 if done else 0,
       len(failed)))
PY
)

kill -INT $GW
wait $GW || true
DELAY=$(grep -o 'delay added.*' "$WORK/gateway.log" || echo "delay: none")
CONNS=$(grep -c '"event":"claim"' "$WORK/recorder.log" || true)

echo "cameras $CAMERAS x $PER_CAMERA clients, $SIZE, 25 fps, key frame every $GOP frames, ${SECONDS_RUN} s"
ISA=$(grep -qw avx512f /proc/cpuinfo && echo "x86-64 with AVX-512" || (grep -qw avx2 /proc/cpuinfo && echo "x86-64 with AVX2" || uname -m))
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs) ($(nproc) cores), $ISA"
echo "gateway CPU: ${CPU}% of one core"
echo "resident memory: ${RSS_IDLE} kB before clients, ${RSS_START} kB playing, ${RSS_END} kB after ${SECONDS_RUN} s (MiB each minute:${RSS_TRACE})"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "late joiner first picture, GStreamer rtspsrc (PLAY -> first decoded picture, $n joins): p50 ${P50} ms, p95 ${P95} ms"
echo "late joiner first picture, ffmpeg -frames:v 1: $FFMPEG_JOIN"
echo "late joiner stream description, ffprobe: $FFPROBE_JOIN"
echo "200 simultaneous connections asking OPTIONS: $CONNECTS"
echo "$DELAY"
echo "recorder media connections: $CONNS"
