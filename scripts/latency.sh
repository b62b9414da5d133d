#!/usr/bin/env bash
# Network-to-screen latency of the real viewer, measured from outside: the simulated recorder
# draws a frame code into every picture and logs when it sent each frame; the viewer runs on a
# virtual X screen, logged in, and the screen is grabbed at GRAB_FPS; every grabbed screen's
# codes are read (scripts/read-counter.py) and the first time a frame number is seen on screen
# is compared with the time the recorder sent it. On the single view, arrow keys are pressed
# too, and the time from the key to the first frame drawn after the pan is reported.
#
#   scripts/latency.sh                 every configuration below, printed as a table
#   CASES="single:704x576" MODES=low SECONDS_MEASURED=20 scripts/latency.sh
#
# A case is LAYOUT:SIZE[:burst], LAYOUT single (one camera, full screen) or grid16 (16 cameras
# in the 4 x 4 grid); "burst" starts the recorder with --fault-burst $BURST (sending stalls for
# 1 s every 5 s, then the frames due go out at once). Figures: milliseconds, p50 / p95 / max over
# every frame seen (one tile per grid case: all 16 tiles are pooled). The grab adds up to one
# grab interval (20 ms at 50 fps) to each figure.
#
# Every case runs in each mode of MODES: "default" (the viewer's defaults) and "low" (login.ini
# [login] LowLatency=1). Next to the outside figures stand the viewer's own (its log line of
# every stream's last 10 s, written when the stream stops: last byte received -> drawn p50/p95,
# pooled over a grid's streams as the median of the p50s and the largest p95, and the median
# stage times decoded / converted / waited to be drawn), the frames it passed over, and, for
# the burst cases, the longest time after a stall until every frame was on screen within 100 ms
# of its sending. The load average (1 min) at the end of each case says how busy the machine was.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
BIN=$BUILD/bin
SCREEN=${SCREEN:-1024x768}

if [ -z "${LATENCY_INNER:-}" ]; then
    for exe in kevra-scripted kevra-recorder; do
        [ -x "$BIN/$exe" ] || { echo "$BIN/$exe is missing; build first (make build)" >&2; exit 1; }
    done
    for tool in xvfb-run ffmpeg xdotool python3; do
        command -v $tool >/dev/null || { echo "$tool is missing (make deps)" >&2; exit 1; }
    done
    LATENCY_INNER=1 exec xvfb-run -a -s "-screen 0 ${SCREEN}x24" "$0" "$@"
fi

SECONDS_MEASURED=${SECONDS_MEASURED:-12}
GRAB_FPS=${GRAB_FPS:-50}
BURST=${BURST:-1000:5000}
TMP=$(mktemp -d)
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "${KEEP:-}" ] && echo "files kept in $TMP" >&2 || rm -rf "$TMP"
}
trap cleanup EXIT

now_us() { date +%s%6N; }

write_login_ini() {   # folder low(0|1): login.ini as the viewer writes it (UTF-16LE, CR LF)
    mkdir -p -m 700 "$1/kevra"
    python3 -c 'import sys; open(sys.argv[1], "wb").write(("[login]\r\nLowLatency=%s\r\n" % sys.argv[2]).encode("utf-16-le"))' \
        "$1/kevra/login.ini" "$2"
    chmod 600 "$1/kevra/login.ini"
}

run_case() {   # layout size burst mode
    local layout=$1 size=$2 burst=$3 mode=$4 cams=1 names="Cam1"
    [ "$layout" = grid16 ] && { cams=16; for i in $(seq 2 16); do names="$names&&Cam$i"; done; }
    local extra=()
    [ -n "$burst" ] && extra=(--fault-burst "$BURST")
    local bitrate=512000
    [ "${size%x*}" -ge 1280 ] && bitrate=2000000
    "$BIN/kevra-recorder" --port 0 --cameras "$names" --size "$size" --fps 25 --frame-code \
        --bitrate $bitrate "${extra[@]}" > "$TMP/rec.log" 2> "$TMP/rec.err" &
    PIDS+=($!)
    local rec=$!
    for _ in $(seq 100); do [ -s "$TMP/rec.log" ] && break; sleep 0.1; done
    local port; port=$(head -1 "$TMP/rec.log")

    if [ "$layout" = grid16 ]; then
        printf 'login 127.0.0.1 %s admin 580317\nkey 9\nlayout\ntiles 16\nwait 100000000\n' \
            "$port" > "$TMP/actions.txt"
    else
        printf 'login 127.0.0.1 %s admin 580317\nplay 0\nfull\nwaitpicture\nwait 100000000\n' \
            "$port" > "$TMP/actions.txt"
    fi
    # A settings folder of its own: every case starts from the viewer's defaults.
    # A scripted login keeps its login.ini beside the actions file.
    rm -rf "$TMP/config" "$TMP/login.ini" "$TMP/views.ini"
    if [ "$mode" = low ]; then
        write_login_ini "$TMP/config" 1
        cp "$TMP/config/kevra/login.ini" "$TMP/login.ini"
    fi
    XDG_CONFIG_HOME="$TMP/config" KEVRA_TEST_ACTIONS="$TMP/actions.txt" "$BIN/kevra-scripted" \
        2> "$TMP/viewer.log" &
    PIDS+=($!)
    local viewer=$!
    # Ready when the script waits for good (the last action has begun).
    until grep -q "script: wait 100000000" "$TMP/viewer.log" 2>/dev/null; do
        kill -0 $viewer 2>/dev/null || { echo "viewer ended early:" >&2; cat "$TMP/viewer.log" >&2; return 1; }
        sleep 0.1
    done
    sleep 2   # let the stream settle

    ffmpeg -loglevel error -fflags nobuffer -flags low_delay -probesize 32 -analyzeduration 0 \
        -f x11grab -draw_mouse 0 -framerate "$GRAB_FPS" -video_size "$SCREEN" \
        -i "$DISPLAY" -t "$SECONDS_MEASURED" -fps_mode passthrough -pix_fmt gray -f rawvideo - 2> "$TMP/grab.err" |
        python3 scripts/read-counter.py --raw "$SCREEN" > "$TMP/seen.txt" &
    local grab=$!
    : > "$TMP/keys.txt"
    if [ "$layout" = single ]; then
        xdotool mousemove 400 300 2>/dev/null || true
        local keys=(Left Right Up Down)
        for i in $(seq 1 $((SECONDS_MEASURED / 2 - 1))); do
            sleep 1.7
            now_us >> "$TMP/keys.txt"
            xdotool key "${keys[$((i % 4))]}"
        done
    fi
    wait $grab || true
    [ -n "${SHOT:-}" ] && import -window root "$SHOT.$layout.$size${burst:+.burst}.png"
    # The viewer ends as on Exit: every stream stops and logs its figures.
    kill $viewer 2>/dev/null || true
    wait $viewer 2>/dev/null || true
    kill $rec 2>/dev/null || true
    wait $rec 2>/dev/null || true
    PIDS=()
    local load; load=$(cut -d' ' -f1 /proc/loadavg)

    python3 - "$TMP/rec.log" "$TMP/seen.txt" "$TMP/keys.txt" "$layout $size${burst:+ burst}" \
        "$mode" "$TMP/viewer.log" "$load" <<'PY'
import json, re, sys
log, seen_path, keys_path, label, mode, viewer_log, load = sys.argv[1:8]
sent, ptz, sizes = {}, [], []
for line in open(log):
    if not line.startswith("{"):
        continue
    e = json.loads(line)
    if e["event"] == "sent" and e["stream"] == 1:
        sent[(e["channel"] & 15, e["frame"] & 0xFFFFF)] = e["real_us"]
        sizes.append((e["real_us"], e["channel"], e.get("bytes", 0)))
    elif e["event"] == "ptz":
        ptz.append(e)
first = {}
seen = []
for line in open(seen_path):
    real, mono, cam, frame = (int(v) for v in line.split())
    seen.append((real, cam, frame))
    first.setdefault((cam, frame), real)
# A frame "seen" before it was sent is a misread code.
lat = sorted((t - sent[k]) / 1000 for k, t in first.items() if k in sent and t >= sent[k])
keys = [int(l) for l in open(keys_path) if l.strip()]
turn = []
for k in keys:
    p = next((e for e in ptz if e["real_us"] >= k), None)
    if not p or p["frame"] < 0:
        continue
    shown = next((t for t, cam, f in seen if cam == p["channel"] and f >= p["frame"] and t >= k), None)
    if shown:
        turn.append((shown - k) / 1000)
turn.sort()
def stats(v):
    if not v:
        return "- | - | -"
    pick = lambda q: v[min(len(v) - 1, int(q * len(v)))]
    return f"{pick(0.5):.0f} | {pick(0.95):.0f} | {v[-1]:.0f}"
grabs = len({r for r, c, f in seen})

# After each stall (a pause of over 500 ms in sending), how long until every frame reached the
# screen within 100 ms of its sending: the last late frame's time after the stall ended ("never"
# when frames were still late 4 s after it, shortly before the next stall).
sends = sorted(set(sent.values()))
stalls = [b for a, b in zip(sends, sends[1:]) if b - a > 500_000]
by_time = sorted((t, t - sent[k]) for k, t in first.items() if k in sent and t >= sent[k])
recover = []
for i, s in enumerate(stalls):
    end = stalls[i + 1] if i + 1 < len(stalls) else float("inf")
    late = [t for t, l in by_time if s <= t < end and l > 100_000]
    if not late:
        recover.append(0.0)
    elif late[-1] - s > 4_000_000:
        recover.append(float("inf"))
    else:
        recover.append((late[-1] - s) / 1000)
rec_text = "-" if not stalls else (
    f"{max(recover):.0f}" if max(recover) != float("inf") else "never")

# The viewer's own figures: one line per stream, written when it stopped.
own = []
viewer_rate = {}
for line in open(viewer_log, errors="replace"):
    r = re.search(r"stats camera (\d+): .*?, ([\d.]+) frames/s received, [\d.]+ shown, (\d+) bit/s", line)
    if r:
        viewer_rate[int(r.group(1)) - 1] = (float(r.group(2)), int(r.group(3)))
    m = re.search(r"stats camera (\d+): .*?, ([\d.]+) shown, \d+ bit/s, (\d+) dropped.*"
                  r"p50 ([\d.]+) ms, p95 ([\d.]+) ms, max [\d.]+ ms \(decoded ([\d.]+), "
                  r"converted ([\d.]+), waited to be drawn ([\d.]+)", line)
    if m:
        own.append([float(v) for v in m.groups()])
if own:
    med = lambda v: sorted(v)[len(v) // 2]
    inside = (f"{med([o[3] for o in own]):.0f} | {max(o[4] for o in own):.0f} | "
              f"{med([o[5] for o in own]):.1f} / {med([o[6] for o in own]):.1f} / "
              f"{med([o[7] for o in own]):.1f} | {sum(o[2] for o in own):.0f}")
else:
    inside = "- | - | - | -"
# The recorder's frames and bytes of camera 1 over the last 10 s it sent, against the viewer's.
agree = "-"
if sizes and 0 in viewer_rate:
    end = max(t for t, c, b in sizes)
    last = [(t, b) for t, c, b in sizes if c == 0 and t > end - 10_000_000]
    fps, bits = viewer_rate[0]
    sent_bits = sum(b for t, b in last) * 8 / 10
    agree = f"{len(last) / 10:.1f} / {fps:.1f}, {sent_bits / 1000:.0f} / {bits / 1000:.0f}"
print(f"| {label} | {mode} | {len(lat)} | {stats(lat)} | {inside} | {agree} | {rec_text} | "
      f"{len(turn)} | {stats(turn)} | {grabs} | {load} |")
PY
}

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) logical cores"
echo
echo "| case | mode | frames seen | network->screen p50 ms | p95 | max | viewer p50 ms | viewer p95 ms | viewer decoded / converted / drawn-wait ms | passed over | camera 1 fps, kbit/s: recorder / viewer | all <=100 ms again after a stall (ms) | arrow keys | key->moved p50 ms | p95 | max | grabs with a code | load (1 min) |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for c in ${CASES:-single:704x576 single:1920x1080 grid16:352x288 single:704x576:burst single:1920x1080:burst grid16:352x288:burst}; do
    IFS=: read -r layout size burst <<< "$c"
    for mode in ${MODES:-default low}; do
        run_case "$layout" "$size" "${burst:-}" "$mode"
    done
done
