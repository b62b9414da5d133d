#!/usr/bin/env bash
# Soak run, by hand (make soak): the client plays the simulated recorder's camera 1 (704x576,
# 25 fps) for SOAK_MINUTES while the recorder is restarted every SOAK_RESTART_MINUTES. Samples
# the client's resident memory every SOAK_SAMPLE_SECONDS into a CSV and prints a summary:
# memory over time, pictures shown versus sent, reconnections.
# Usage: scripts/soak.sh BIN_DIR   (environment: SOAK_MINUTES=30 SOAK_RESTART_MINUTES=5
#        SOAK_SAMPLE_SECONDS=10 SOAK_OUT=<folder for the CSV and logs>)
# The viewer has no unattended login, so the client is kevra-soak (tools/kevra-soak): device
# session, decoder worker and a 40 ms frame timer, as in the viewer.
set -euo pipefail
BIN=$(cd "${1:?usage: soak.sh BIN_DIR}" && pwd)
MINUTES=${SOAK_MINUTES:-30}
RESTART_MINUTES=${SOAK_RESTART_MINUTES:-5}
SAMPLE=${SOAK_SAMPLE_SECONDS:-10}
OUT=${SOAK_OUT:-$(mktemp -d /tmp/kevra-soak-XXXXXX)}
mkdir -p "$OUT"
FPS=25
RECORDER_ARGS=(--size 704x576 --fps "$FPS" --bitrate 1000000 --gop 50)

for exe in kevra-recorder kevra-soak; do
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
  sleep 0.5   # let the stamped log catch up
}

start_recorder 0
PORT=$(head -1 "$OUT/recorder-1.log" | awk '{print $2}')
[[ "$PORT" =~ ^[0-9]+$ ]] || { echo "recorder did not report its port"; cat "$OUT/recorder.err"; exit 1; }

STATUS="$OUT/status"
"$BIN/kevra-soak" --port "$PORT" --minutes "$MINUTES" --status "$STATUS" > "$OUT/client.log" 2>&1 &
client=$!
trap 'kill -TERM $client 2>/dev/null || true; stop_recorder' EXIT

CSV="$OUT/memory.csv"
echo "seconds,rss_kb,pictures_shown,media_bytes,reconnections,recorder_starts" > "$CSV"
t0=$(date +%s)
RESTART_SECONDS=$(awk -v m="$RESTART_MINUTES" 'BEGIN { printf "%d", m * 60 }')
next_restart=$((t0 + RESTART_SECONDS))
echo "soak: $MINUTES min, recorder on port $PORT restarted every $RESTART_MINUTES min, output in $OUT"
while kill -0 "$client" 2>/dev/null; do
  sleep "$SAMPLE"
  now=$(date +%s)
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$client/status" 2>/dev/null || echo "")
  [ -n "$rss" ] || break
  read -r _ shown media reconnects _ < "$STATUS" 2>/dev/null || { shown=0; media=0; reconnects=0; }
  echo "$((now - t0)),$rss,$shown,$media,$reconnects,$rec_count" >> "$CSV"
  if [ "$now" -ge "$next_restart" ]; then
    stop_recorder
    start_recorder "$PORT"
    next_restart=$((now + RESTART_SECONDS))
  fi
done
wait "$client" && client_status=0 || client_status=$?
stop_recorder
trap - EXIT

# Pictures sent: each streaming period of a recorder, from its "streaming" line to its "idle"
# line (its frame count) or, when it was stopped first, to its last line at 25 per second.
sent=0
for log in "$OUT"/recorder-*.log; do
  n=$(awk -v fps=$FPS '
    /"state":"streaming"/ { s = $1 }
    /"state":"idle"/ { match($0, /"frames":[0-9]+/); total += substr($0, RSTART + 9, RLENGTH - 9); s = 0 }
    { last = $1 }
    END { if (s > 0) total += int((last - s) * fps); print total + 0 }' "$log")
  sent=$((sent + n))
done
summary=$(grep -o 'soak-summary.*' "$OUT/client.log" || echo "soak-summary missing (client status $client_status)")
echo
echo "== soak summary =="
echo "duration:          $MINUTES min, recorder starts: $rec_count"
echo "client:            $summary"
echo "pictures sent:     $sent (recorder side)"
awk -F, 'NR == 2 { first = $2 } NR > 1 { if ($2 > max) max = $2; last = $2; n++ }
  END { printf "resident memory:   first %d kB, last %d kB, peak %d kB over %d samples\n", first, last, max, n }' "$CSV"
echo "memory curve (every 6th sample):"
awk -F, 'NR > 1 && (NR - 2) % 6 == 0 { printf "  %5d s  %7d kB  shown %d\n", $1, $2, $3 }' "$CSV"
echo "CSV: $CSV"
exit "$client_status"
