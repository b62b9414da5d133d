#!/usr/bin/env python3
"""The viewer on three X screens against the simulated recorder, as a user would run it: a 1 + 5
wall on screen 1 shows its six cameras (colours read from a screenshot of that screen), the spot
on screen 2 follows the framed tile, Alt+1 sends the framed camera to the wall's large tile, a
restart brings the walls back, and with screen 1 missing the main window plays and views.ini
keeps the wall. Usage: walls_test.py BIN_DIR"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

BIN = sys.argv[1]
W, H = 1280, 1024
# Background colour of each simulated camera (lower half of its picture), by channel.
COLOURS = [(200, 40, 40), (40, 160, 60), (40, 60, 200), (200, 180, 40), (180, 40, 180),
           (40, 170, 180), (240, 110, 20), (120, 120, 120)]
# A point in the lower half of each picture of a 1 + 5 wall on 1280 x 1024 (tile 0 the large one).
WALL_POINTS = [(426, 600), (1067, 255), (1067, 597), (212, 939), (639, 939), (1067, 939)]
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def write_ini(path, text):
    with open(path, "wb") as f:
        f.write(text.replace("\n", "\r\n").encode("utf-16-le"))


def read_ini(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-16-le").replace("\r\n", "\n")


def grab(display, screen):
    raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "x11grab", "-video_size",
                          f"{W}x{H}", "-i", f":{display}.{screen}", "-frames:v", "1", "-f",
                          "rawvideo", "-pix_fmt", "rgb24", "-"], capture_output=True).stdout
    return raw if len(raw) == W * H * 3 else None


def colour_at(raw, x, y):
    i = (y * W + x) * 3
    return tuple(raw[i:i + 3])


def near(a, b):
    return all(abs(p - q) <= 40 for p, q in zip(a, b))


def shows(display, screen, points, channels, seconds=15):
    """Polls the screen until each point shows its channel's colour; the colours seen."""
    seen = []
    end = time.time() + seconds
    while time.time() < end:
        raw = grab(display, screen)
        if raw:
            seen = [colour_at(raw, x, y) for x, y in points]
            if all(near(c, COLOURS[ch]) for c, ch in zip(seen, channels)):
                return True, seen
        time.sleep(0.5)
    return False, seen


def save_png(display, screen, path):
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
                    f"{W}x{H}", "-i", f":{display}.{screen}", "-frames:v", "1", path])


class Run:
    """One viewer run with its action script; its standard error is followed line by line."""

    def __init__(self, folder, display, script):
        with open(os.path.join(folder, "actions.txt"), "w") as f:
            f.write(script)
        env = dict(os.environ, DISPLAY=f":{display}", XDG_CONFIG_HOME=os.path.join(folder, "cfg"),
                   KEVRA_TEST_ACTIONS=os.path.join(folder, "actions.txt"))
        env.pop("QT_QPA_PLATFORM", None)
        self.log = open(os.path.join(folder, "viewer.log"), "w+")
        self.proc = subprocess.Popen([os.path.join(BIN, "kevra-scripted")], env=env,
                                     stdout=self.log,
                                     stderr=subprocess.STDOUT)

    def until(self, text, seconds=40):
        end = time.time() + seconds
        while time.time() < end:
            self.log.seek(0)
            if text in self.log.read():
                return True
            time.sleep(0.2)
        return False

    def finish(self):
        try:
            return self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return -1


def free_display():
    for d in range(120, 600):
        if not os.path.exists(f"/tmp/.X{d}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{d}"):
            return d
    raise SystemExit("no free X display number")


def start_xvfb(screens):
    d = free_display()
    args = ["Xvfb", f":{d}", "-nolisten", "tcp"]
    for s in range(screens):
        args += ["-screen", str(s), f"{W}x{H}x24"]
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(f"/tmp/.X11-unix/X{d}"):
            time.sleep(0.5)   # the socket is there a moment before the server answers
            return d, proc
        time.sleep(0.1)
    proc.kill()
    raise SystemExit("Xvfb did not start")


def main():
    folder = tempfile.mkdtemp(prefix="kevra-walls-")
    shots = os.environ.get("KEVRA_WALL_SHOTS")   # where to keep screenshots (docs)
    recorder = subprocess.Popen([os.path.join(BIN, "kevra-recorder"), "--port", "0", "--size",
                                 "352x288", "--cameras",
                                 "Gate&&Lobby&&Parking&&Yard&&Dock&&Hall&&Shop&&Roof"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = recorder.stdout.readline()   # the port alone, then the listening event
    while not line.startswith("{"):
        line = recorder.stdout.readline()
    port = json.loads(line)["port"]
    xvfb = None
    try:
        os.makedirs(os.path.join(folder, "cfg", "kevra"))
        wall = "[wall1]\nScreen=1\nLayout=1+5\n" + "".join(
            f"Tile{i}={i if i < 6 else -1}\nSource{i}=\n" for i in range(16)) + \
            "Tour=0\nDwell=10\n[spot]\nScreen=2\n"
        # Before the first login the walls come from the settings folder, after it from the
        # folder of login.ini, which a scripted run keeps beside its script.
        write_ini(os.path.join(folder, "views.ini"), wall)
        write_ini(os.path.join(folder, "cfg", "kevra", "views.ini"), wall)
        login = f"login 127.0.0.1 {port} admin 580317\n"

        display, xvfb = start_xvfb(3)
        run = Run(folder, display, login + "key 4\ntiles 4\nwait 15000\nclick 2\nwait 10000\n"
                  "key alt+1\nwait 10000\nshot " + os.path.join(folder, "main.png") + "\nexit\n")
        check(run.until("script: tiles 4"), "the main window's 2 x 2 plays")
        ok, seen = shows(display, 1, WALL_POINTS, [0, 1, 2, 3, 4, 5])
        check(ok, f"the 1 + 5 wall on screen 1 shows cameras 1-6 ({seen})")
        ok, seen = shows(display, 2, [(640, 800)], [0])
        check(ok, f"the spot on screen 2 shows the framed camera 1 ({seen})")
        check(run.until("script: click 2"), "tile 3 framed")
        ok, seen = shows(display, 2, [(640, 800)], [2])
        check(ok, f"the spot follows to camera 3 ({seen})")
        if shots:
            save_png(display, 2, os.path.join(shots, "wall-spot-screen2.png"))
        check(run.until("script: key alt+1"), "Alt+1 pressed")
        ok, seen = shows(display, 1, WALL_POINTS, [2, 1, 0, 3, 4, 5])
        check(ok, f"camera 3 went to the wall's large tile, camera 1 to its place ({seen})")
        if shots:
            save_png(display, 1, os.path.join(shots, "wall-screen1.png"))
            save_png(display, 0, os.path.join(shots, "wall-main-screen0.png"))
        check(run.finish() == 0, "the viewer ends with status 0")

        run = Run(folder, display, login + "tiles 4\nwait 20000\nexit\n")
        check(run.until("script: tiles 4"), "restart: the grid plays")
        ok, seen = shows(display, 1, WALL_POINTS, [2, 1, 0, 3, 4, 5])
        check(ok, f"restart: the same wall ({seen})")
        check(run.finish() == 0, "restart: status 0")
        xvfb.terminate()
        xvfb.wait()

        display, xvfb = start_xvfb(1)
        run = Run(folder, display, login + "tiles 4\nwait 3000\nexit\n")
        check(run.until("script: tiles 4"), "screen 1 missing: the main window plays")
        check(run.finish() == 0, "screen 1 missing: status 0")
        kept = read_ini(os.path.join(folder, "views.ini"))
        check("[wall1]\nScreen=1\nLayout=1+5\n" in kept and "Tile0=2\n" in kept,
              "screen 1 missing: views.ini keeps the wall")
    finally:
        if xvfb:
            xvfb.kill()
        recorder.kill()
        if failures:
            print(open(os.path.join(folder, "viewer.log")).read()[-3000:])
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
