#!/usr/bin/env bash
# Starts the simulated recorder on 127.0.0.1:34567, runs the viewer against it, and stops the
# recorder when the viewer exits. Usage: scripts/run-viewer.sh BIN_DIR
set -u
BIN=${1:?usage: run-viewer.sh BIN_DIR}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set); run it under a virtual one: xvfb-run -s \"-screen 0 240x320x24\" make run"
  exit 1
fi
for exe in kevra-recorder kevra; do
  if [ ! -x "$BIN/$exe" ]; then
    echo "$BIN/$exe is missing; build first (make build)" >&2
    exit 1
  fi
done

"$BIN/kevra-recorder" --listen 127.0.0.1 --port 34567 >/dev/null &
REC=$!
cleanup() { kill "$REC" 2>/dev/null; wait "$REC" 2>/dev/null; }
trap cleanup EXIT INT TERM

# Give the recorder a moment to listen before the viewer's first login.
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/34567) 2>/dev/null && break
  kill -0 "$REC" 2>/dev/null || { echo "kevra-recorder did not start (port 34567 in use?)" >&2; exit 1; }
  sleep 0.1
done

"$BIN/kevra"
