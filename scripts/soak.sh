#!/usr/bin/env bash
# Soak run, by hand (make soak, make soak-short): the real viewer (offscreen, driven by its
# test-only action script) logs in to the simulated recorder and plays camera 1 (704x576, 25 fps)
# for SOAK_MINUTES while the recorder is stopped and started again on the same port every
# SOAK_RESTART_MINUTES. Nobody touches the viewer: it must come back by itself every time.
# Samples the viewer's resident memory every SOAK_SAMPLE_SECONDS into a CSV and prints a summary:
# recoveries without input, time from the recorder's return to the first picture after it
# (median and max), resident memory at start, peak and end.
# Usage: scripts/soak.sh BIN_DIR   (environment: SOAK_MINUTES=30 SOAK_RESTART_MINUTES=5
#        SOAK_SAMPLE_SECONDS=10 SOAK_OUT=<folder for the CSV and logs>)
set -euo pipefail
BIN=$(cd "${1:?usage: soak.sh BIN_DIR}" && pwd)
MINUTES=${SOAK_MINUTES:-30}
RESTART_MINUTES=${SOAK_RESTART_MINUTES:-5}
SAMPLE=${SOAK_SAMPLE_SECONDS:-10}
OUT=${SOAK_OUT:-$(mktemp -d /tmp/kevra-soak-XXXXXX)}
mkdir -p "$OUT"
FPS=25
RECORDER_ARGS=(--size 704x576 --fps "$FPS" --bitrate 1000000 --gop 50)

for exe in kevra-recorder kevra-scripted; do
  [ -x "$BIN/$exe" ] || { echo "missing $BIN/$exe (build it first)"; exit 1; }
done

stamp() { while IFS= read -r line; do printf '%s %s\n' "$(date +%s.%N)" "$line"; done; }

rec_pid=""
rec_count=0
start_recorder() {   # $1 = port (0 = any free port)
  rec_count=$((rec_count + 1))
  local log="$OUT/recorder-$rec_count.log"
  "$BIN/kevra-recorder" --port "$1" "${RECORDER_ARGS[@]}" > >(stamp > "$log") 2>>"$OUT/recorder.err" &
  rec_pid=$!
  for _ in $(seq 100); do
    [ -s "$log" ] && break
    sleep 0.1
  done
}
stop_recorder() {
  [ -n "$rec_pid" ] || return 0
  kill -TERM "$rec_pid" 2>/dev/null || true
  wait "$rec_pid" 2>/dev/null || true
  rec_pid=""
}

start_recorder 0
PORT=$(head -1 "$OUT/recorder-1.log" | awk '{print $2}')
[[ "$PORT" =~ ^[0-9]+$ ]] || { echo "recorder did not report its port"; cat "$OUT/recorder.err"; exit 1; }

# The action script: log in, play camera 1, then hands off until the end, then EXIT.
WAIT_MS=$(awk -v m="$MINUTES" 'BEGIN { printf "%d", m * 60000 }')
printf 'login 127.0.0.1 %s admin 580317\nplay 0\nwait %s\nexit\n' "$PORT" "$WAIT_MS" > "$OUT/actions.txt"
QT_QPA_PLATFORM=offscreen KEVRA_TEST_ACTIONS="$OUT/actions.txt" "$BIN/kevra-scripted" 2> "$OUT/viewer.log" &
viewer=$!
trap 'kill -TERM $viewer 2>/dev/null || true; stop_recorder' EXIT

CSV="$OUT/memory.csv"
echo "seconds,rss_kb,recorder_starts" > "$CSV"
t0=$(date +%s)
RESTART_SECONDS=$(awk -v m="$RESTART_MINUTES" 'BEGIN { printf "%d", m * 60 }')
next_restart=$((t0 + RESTART_SECONDS))
echo "soak: $MINUTES min, recorder on port $PORT restarted every $RESTART_MINUTES min, output in $OUT"
while kill -0 "$viewer" 2>/dev/null; do
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$viewer/status" 2>/dev/null || echo "")
  [ -n "$rss" ] || break
  now=$(date +%s)
  echo "$((now - t0)),$rss,$rec_count" >> "$CSV"
  if [ "$now" -ge "$next_restart" ]; then
    stop_recorder
    sleep 0.5   # the recorder is away for a moment, as a real restart would be
    start_recorder "$PORT"
    next_restart=$((now + RESTART_SECONDS))
  fi
  sleep "$SAMPLE"
done
wait "$viewer" && viewer_status=0 || viewer_status=$?
stop_recorder
trap - EXIT

# Each restarted recorder's return (its first line) against the viewer's first picture after it.
returns=$(for log in "$OUT"/recorder-*.log; do
  n=${log##*/recorder-}; n=${n%.log}
  [ "$n" -gt 1 ] && head -1 "$log" | awk '{print $1}'
done | sort -n)
pictures=$(awk '/^script: picture after/ {print $NF}' "$OUT/viewer.log")
latencies=$(for r in $returns; do
  for p in $pictures; do
    awk -v r="$r" -v p="$p" 'BEGIN { if (p >= r) { printf "%.0f\n", (p - r) * 1000; exit 0 } exit 1 }' && break
  done
done | sort -n)
recovered=$(grep -c '^script: reconnected' "$OUT/viewer.log" || true)
lost=$(grep -c '^script: connection lost' "$OUT/viewer.log" || true)

echo
echo "== soak summary =="
echo "duration:          $MINUTES min, recorder starts: $rec_count, viewer exit status: $viewer_status"
echo "sessions lost:     $lost, recovered without input: $recovered"
if [ -n "$latencies" ]; then
  echo "$latencies" | awk '{ v[NR] = $1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "recorder back -> first picture: median %d ms, max %d ms over %d returns\n", m, v[NR], NR }'
else
  echo "recorder back -> first picture: no restart was followed by a picture"
fi
# "Start" is the first sample once the viewer has been up for 10 s (logged in and playing).
awk -F, 'NR > 1 && $1 >= 10 && first == "" { first = $2 } NR > 1 { if ($2 > max) max = $2; last = $2; n++ }
  END { printf "resident memory:   start %d kB, peak %d kB, end %d kB over %d samples\n", first, max, last, n }' "$CSV"
echo "CSV: $CSV, viewer log: $OUT/viewer.log"
[ "$viewer_status" -eq 0 ] && [ "$recovered" -ge $((rec_count - 1)) ]
