#!/usr/bin/python3
"""Figures of kevra-gateway's live view in a browser (headless Chromium over WebRTC):
glass-to-glass latency against the simulated recorder's send time (steady, and with a 1 s stall
every 5 s), first picture time, and the gateway's CPU and memory per browser viewer (H.264 as
sent), for one MPEG-4 -> H.264 encode, and for ten viewers of one camera.

    scripts/webrtc-bench.py [BIN_DIR] [SECONDS]      (defaults build/bin, 20)

The recorder draws the frame number into the picture (--frame-code); the page reads it back from
its video through a canvas at every new frame (requestVideoFrameCallback) and stamps it with the
wall clock, which the recorder's "sent" events share. Prints a Markdown section.
"""
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

from benchkit import cpu_seconds, pct, rss_mib

BIN = sys.argv[1] if len(sys.argv) > 1 else "build/bin"
SECONDS = int(sys.argv[2]) if len(sys.argv) > 2 else 20
WORK = tempfile.mkdtemp(prefix="kevra-webrtc-bench-")

# Reads the frame code (see testaids/testkit/PatternEncoder.h) from the middle row of its strip.
READER = """
window.codes = []; window.firstFrameMs = 0;
const v = document.getElementById('video'); const c = document.createElement('canvas');
const g = c.getContext('2d', {willReadFrequently: true});
function decode(row) {
  const cls = row.map((y) => y < 80 ? 0 : y > 176 ? 1 : 2);
  let s = cls.findIndex((x) => x !== 2), e = cls.length - 1;
  while (e > s && cls[e] === 2) e--;
  if (s < 0) return -1;
  const cell = (e + 1 - s) / 36, bits = [];
  for (let i = 0; i < 36; i++) { const b = cls[Math.floor(s + (i + 0.5) * cell)]; if (b === 2) return -1; bits.push(b); }
  if (bits.slice(0, 3).join('') !== '101' || bits.slice(31).join('') !== '01101') return -1;
  let data = 0, ones = 0, check = 0;
  for (const b of bits.slice(3, 27)) { data = data * 2 + b; ones += b; }
  for (const b of bits.slice(27, 31)) check = check * 2 + b;
  return check === (ones & 15) ? data & 0xFFFFF : -1;
}
function onFrame(now) {
  const at = performance.timeOrigin + performance.now();
  if (!window.firstFrameMs) window.firstFrameMs = performance.now();
  const w = v.videoWidth, h = v.videoHeight;
  if (w && h) {
    const y = Math.floor(5 * h / 8 + Math.max(h / 8, 8) / 2);
    c.width = w; c.height = 1; g.drawImage(v, 0, y, w, 1, 0, 0, w, 1);
    const px = g.getImageData(0, 0, w, 1).data, row = [];
    for (let x = 0; x < w; x++) row.push(0.299 * px[4 * x] + 0.587 * px[4 * x + 1] + 0.114 * px[4 * x + 2]);
    const f = decode(row);
    if (f >= 0) codes.push([f, at]);
  }
  v.requestVideoFrameCallback(onFrame);
}
v.requestVideoFrameCallback(onFrame);
"""


def start(args, log):
    with open(log, "w") as out:
        return subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT)


def wait_for(path, text, timeout=15):
    end = time.time() + timeout
    while time.time() < end:
        with open(path, errors="replace") as f:
            for line in f:
                if text in line:
                    return line
        time.sleep(0.1)
    raise SystemExit(f"no '{text}' in {path}")


def sent_times(log):
    times = {}
    with open(log, errors="replace") as f:
        for line in f:
            if '"event":"sent"' in line:
                e = json.loads(line)
                times[e["frame"] & 0xFFFFF] = e["real_us"] / 1000
    return times


class Run:
    def __init__(self, name, recorder_args):
        self.recorder_log = f"{WORK}/{name}-recorder.log"
        self.recorder = start([f"{BIN}/kevra-recorder", "--port", "0", "--size", "704x576", "--fps",
                               "25", "--gop", "50", "--frame-code", "--cameras", "A&&B"] + recorder_args,
                              self.recorder_log)
        time.sleep(0.5)
        with open(self.recorder_log) as f:
            port = int(f.readline())
        self.gateway_log = f"{WORK}/{name}-gateway.log"
        self.gateway = start([f"{BIN}/kevra-gateway", "--recorder", f"b=127.0.0.1:{port}",
                              "--rtsp-port", "0", "--http-port", "0", "--no-onvif"], self.gateway_log)
        line = wait_for(self.gateway_log, "\tstatus page")
        self.base = line.split("\t")[0].rstrip("/")

    def stop(self):
        for p in (self.gateway, self.recorder):
            p.terminate()
            p.wait(10)


def browser():
    o = Options()
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=800,700",
              "--autoplay-policy=no-user-gesture-required"]:
        o.add_argument(a)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=o)


def latency(run, d, seconds):
    d.get(run.base + "/view/b/1")
    d.execute_script(READER)
    time.sleep(seconds)
    codes = d.execute_script("return codes")
    sent = sent_times(run.recorder_log)
    seen = {}
    for frame, at in codes:
        seen.setdefault(frame, at)   # the first time a frame showed
    return [(at - sent[f], sent[f]) for f, at in seen.items() if f in sent]


def summary(lat):
    ms = [l for l, _ in lat]
    return f"p50 {pct(ms, 50):.0f} ms, p95 {pct(ms, 95):.0f} ms, max {max(ms):.0f} ms ({len(ms)} frames)"


def main():
    d = browser()
    out = []
    cpu = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
    model = next((l.split(":", 1)[1].strip() for l in cpu.splitlines() if l.startswith("Model name")), "?")
    out.append(f"CPU: {model}, {os.cpu_count()} cores (shared with other work while measured); "
               f"headless Chromium on the same machine; 704x576 at 25 fps, a key frame every 2 s.\n")

    steady = Run("steady", [])
    try:
        # First picture: page opened -> first frame shown, five loads.
        firsts = []
        for _ in range(5):
            d.get(steady.base + "/view/b/2")
            t0 = time.time()
            while time.time() - t0 < 10 and not d.execute_script(
                    "return window.kevra && kevra.player.frames > 0"):
                time.sleep(0.02)
            firsts.append(d.execute_script(
                "return performance.now() - performance.getEntriesByType('navigation')[0].startTime"))
        out.append(f"- First picture after the page opens: median {statistics.median(firsts):.0f} ms, "
                   f"max {max(firsts):.0f} ms (5 loads; the channel already open)")
        lat = latency(steady, d, SECONDS)
        out.append(f"- Glass-to-glass, steady ({SECONDS} s): {summary(lat)}")

        # CPU and memory: one viewer of an H.264 camera, then ten.
        d.get(steady.base + "/view/b/1")
        time.sleep(3)
        c0, t0 = cpu_seconds(steady.gateway.pid), time.time()
        time.sleep(SECONDS / 2)
        one = (cpu_seconds(steady.gateway.pid) - c0) / (time.time() - t0) * 100
        rss_one = rss_mib(steady.gateway.pid)
        d.execute_script("""window.more = []; for (let i = 0; i < 9; i++) {
            const v = document.createElement('video'); v.muted = true; document.body.append(v);
            more.push(new KevraPlayer(v, '/b/1', () => {})); }""")
        time.sleep(5)
        playing = d.execute_script("return more.filter((p) => p.state === 'playing').length") + 1
        c0, t0 = cpu_seconds(steady.gateway.pid), time.time()
        time.sleep(SECONDS / 2)
        ten = (cpu_seconds(steady.gateway.pid) - c0) / (time.time() - t0) * 100
        rss_ten = rss_mib(steady.gateway.pid)
        out.append(f"- Gateway CPU, H.264 as sent: one browser viewer {one:.1f} % of a core "
                   f"(RSS {rss_one:.0f} MB); {playing} viewers of one camera {ten:.1f} % "
                   f"(RSS {rss_ten:.0f} MB), so about {(ten - one) / max(1, playing - 1):.1f} % per further viewer")
    finally:
        steady.stop()

    mpeg4 = Run("mpeg4", ["--codec", "mpeg4"])
    try:
        d.get(mpeg4.base + "/view/b/1")
        time.sleep(4)
        c0, t0 = cpu_seconds(mpeg4.gateway.pid), time.time()
        time.sleep(SECONDS / 2)
        enc = (cpu_seconds(mpeg4.gateway.pid) - c0) / (time.time() - t0) * 100
        out.append(f"- Gateway CPU with one MPEG-4 camera encoded to H.264 for one browser viewer: "
                   f"{enc:.1f} % of a core (RSS {rss_mib(mpeg4.gateway.pid):.0f} MB); the difference "
                   f"to one H.264 viewer is the encode")
        lat = latency(mpeg4, d, SECONDS)
        out.append(f"- Glass-to-glass, MPEG-4 camera through the encode: {summary(lat)}")
    finally:
        mpeg4.stop()

    stalls = Run("stalls", ["--fault-burst", "1000:5000"])
    try:
        lat = latency(stalls, d, SECONDS)
        out.append(f"- Glass-to-glass with a 1 s stall every 5 s: {summary(lat)}")
        # After each stall: how long until frames are back under 200 ms.
        lat.sort(key=lambda x: x[1])
        recover = []
        for i in range(1, len(lat)):
            if lat[i][1] - lat[i - 1][1] > 500:   # the first frame after a stall
                back = next((s for l, s in lat[i:] if l < 200), None)
                if back is not None:
                    recover.append(back - lat[i][1])
        if recover:
            out.append(f"  - back under 200 ms after a stall within {max(recover):.0f} ms at most "
                       f"({len(recover)} stalls)")
    finally:
        stalls.stop()
        d.quit()
    print("\n".join(out))


if __name__ == "__main__":
    main()
