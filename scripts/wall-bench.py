#!/usr/bin/env python3
"""Measures a control room on one PC with the real viewer under Xvfb: the main window's 2 x 2
grid on screen 0, a 4 x 4 wall of 352x288 cameras on screen 1 and a 1920x1080 spot monitor on
screen 2 (following the framed tile, a camera of a second recorder), all at 25 fps from two
kevra-recorder processes streaming ffmpeg-made H.264 files. Prints and writes into
bench/RESULTS.md (between the "wall-measurements" markers): pictures per second drawn in each
tile (slowest-fastest per window), the viewer's CPU and resident memory, its threads, and the
cold start from launch to every tile of every window having drawn a picture. BUILD=DIR picks the
build folder (default build); SECONDS_MEASURED (default 10)."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
BUILD = os.environ.get("BUILD", "build")
MEASURED = int(os.environ.get("SECONDS_MEASURED", "10"))
HZ = os.sysconf("SC_CLK_TCK")


def ini(path, lines):
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("utf-16-le"))


def source(tmp, size):
    path = os.path.join(tmp, size + ".h264")
    subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                    f"testsrc2=size={size}:rate=25", "-t", "4", "-c:v", "libx264", "-profile:v",
                    "baseline", "-preset", "veryfast", "-g", "25", "-bf", "0", "-pix_fmt",
                    "yuv420p", "-f", "h264", path], check=True)
    return path


def recorder(tmp, cameras, size):
    names = "&&".join(f"C{i + 1}" for i in range(cameras))
    p = subprocess.Popen([f"{BUILD}/bin/kevra-recorder", "--port", "0", "--cameras", names,
                          "--size", size, "--fps", "25", "--source", source(tmp, size)],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = p.stdout.readline()
    while not line.startswith("{"):
        line = p.stdout.readline()
    return p, json.loads(line)["port"]


def ticks(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def status(pid, key):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith(key + ":"):
            return int(line.split()[1])
    return 0


def main():
    tmp = tempfile.mkdtemp(prefix="kevra-wall-bench-")
    procs = []
    try:
        small, pa = recorder(tmp, 16, "352x288")
        big, pb = recorder(tmp, 1, "1920x1080")
        procs += [small, big]
        ini(os.path.join(tmp, "login.ini"),
            ["[login]", "IP0=127.0.0.1", f"Port0={pa}", "User0=admin", "Pwd0=580317",
             "IP1=127.0.0.1", f"Port1={pb}", "User1=admin", "Pwd1=580317", "Name1=Spot"])
        views = ["[view]", f"Recorder=127.0.0.1:{pa}", "Layout=4", "Tile0=0",
                 f"Source0=127.0.0.1:{pb}"]
        views += [f"Tile{i}={i - 1}\r\nSource{i}=" for i in range(1, 4)]
        views += [f"Tile{i}=-1\r\nSource{i}=" for i in range(4, 16)]
        views += ["[wall1]", "Screen=1", "Layout=16"]
        views += [f"Tile{i}={i}\r\nSource{i}=" for i in range(16)]
        views += ["Tour=0", "Dwell=10", "[spot]", "Screen=2"]
        ini(os.path.join(tmp, "views.ini"), views)
        os.makedirs(os.path.join(tmp, "cfg", "kevra"))
        shutil.copy(os.path.join(tmp, "views.ini"), os.path.join(tmp, "cfg", "kevra"))
        with open(os.path.join(tmp, "actions.txt"), "w") as f:
            f.write(f"login 127.0.0.1 {pa} admin 580317\ntiles 4\nwalltiles\nwait 3000\n"
                    f"rate {MEASURED * 1000}\nwait 1000\nexit\n")

        display = next(d for d in range(130, 600) if not os.path.exists(f"/tmp/.X{d}-lock"))
        xvfb = subprocess.Popen(["Xvfb", f":{display}", "-nolisten", "tcp", "-screen", "0",
                                 "1280x1024x24", "-screen", "1", "1920x1080x24", "-screen", "2",
                                 "1920x1080x24"], stderr=subprocess.DEVNULL)
        procs.append(xvfb)
        while not os.path.exists(f"/tmp/.X11-unix/X{display}"):
            time.sleep(0.1)
        time.sleep(0.5)   # the socket is there a moment before the server answers
        log_path = os.path.join(tmp, "viewer.log")
        env = dict(os.environ, DISPLAY=f":{display}", XDG_CONFIG_HOME=os.path.join(tmp, "cfg"),
                   KEVRA_TEST_ACTIONS=os.path.join(tmp, "actions.txt"))
        env.pop("QT_QPA_PLATFORM", None)
        log = open(log_path, "w")
        start = time.time()
        viewer = subprocess.Popen([f"{BUILD}/bin/kevra-scripted"], env=env, stdout=log,
                                  stderr=subprocess.STDOUT)
        procs.append(viewer)

        def wait_for(pattern, limit=90):
            end = time.time() + limit
            while time.time() < end:
                if re.search(pattern, open(log_path, errors="replace").read(), re.M):
                    return time.time()
                if viewer.poll() is not None:
                    break
                time.sleep(0.02)
            sys.exit("viewer: " + open(log_path, errors="replace").read()[-2000:])

        cold = wait_for(r"^script: wait 3000$") - start
        wait_for(r"^script: rate \d+$")
        t0, c0 = time.time(), ticks(viewer.pid)
        wait_for(r"^script: rate 0 ")
        t1, c1 = time.time(), ticks(viewer.pid)
        rss = status(viewer.pid, "VmRSS") // 1024
        threads = status(viewer.pid, "Threads")
        wait_for(r"^script: rate spot ")
        viewer.wait(timeout=60)
        text = open(log_path, errors="replace").read()
        rates = {}
        for where, value in re.findall(r"^script: rate (?:(wall1|spot) )?\d+ ([\d.]+)$", text, re.M):
            rates.setdefault(where or "main", []).append(float(value))
        # Each stream's figures are logged when it ends (at exit): its picture size.
        sizes = re.findall(r"stats camera .*?: H\.264 (\d+x\d+)", text)
        streams = ", ".join(f"{sizes.count(z)} × {z}" for z in sorted(set(sizes)))
        cpu = 100.0 * (c1 - c0) / HZ / (t1 - t0)
        model = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo")
                      if l.startswith("model name")), "unknown CPU")
        cores = os.cpu_count()

        def span(values):
            return f"{min(values):.1f}–{max(values):.1f}" if values else "–"

        section = "\n".join([
            "<!-- wall-measurements -->",
            "## A video wall and a spot monitor beside the main window",
            "",
            f"`scripts/wall-bench.py` on {model} ({cores} cores shared with other work), "
            f"Xvfb with three screens, {MEASURED} s measured: the main window's 2 × 2 on "
            "screen 0 (1280 × 1024), a 4 × 4 wall of 352 × 288 cameras on screen 1 "
            "(1920 × 1080) and the spot monitor on screen 2 (1920 × 1080) following the framed "
            "tile, a 1920 × 1080 camera of a second recorder; every camera 25 fps H.264. Three "
            "of the main window's cameras are on the wall too: 17 streams in all.",
            "",
            "| window | tiles | pictures/s per tile (slowest–fastest) |",
            "|---|---|---|",
            f"| main window 2 × 2 | 4 | {span(rates.get('main', []))} |",
            f"| wall 4 × 4 | 16 | {span(rates.get('wall1', []))} |",
            f"| spot 1920 × 1080 | 1 | {span(rates.get('spot', []))} |",
            "",
            f"Viewer: {cpu:.0f} % of one core, {rss} MiB resident, {threads} threads; cold start "
            f"(launch, login, both recorders, every tile of the three windows drawn): {cold:.1f} s. "
            f"Streams the viewer ran: {streams}.",
            "<!-- /wall-measurements -->",
        ])
        print(section)
        subprocess.run([sys.executable, "scripts/write-results.py", "wall-measurements", section],
                       check=True)
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
