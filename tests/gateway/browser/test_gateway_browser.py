#!/usr/bin/python3
"""kevra-gateway's live pages in a real browser (headless Chromium): the simulated recorders
behind the gateway, one of H.264 and one of MPEG-4 cameras. Each check reads the page as a user
sees it: the video's colour through a canvas, the state line, and what reaches the recorder."""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

BIN = os.environ.get("KEVRA_BIN_DIR", "build/bin")
# Background colours of cameras 1 and 2 (testaids/testkit/PatternEncoder.h).
RED, GREEN = (200, 40, 40), (40, 160, 60)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait(what, timeout=15.0, step=0.2):
    end = time.time() + timeout
    while time.time() < end:
        value = what()
        if value:
            return value
        time.sleep(step)
    return what()


class Process:
    def __init__(self, args, log):
        self.args, self.log = args, log
        self.start()

    def start(self):
        with open(self.log, "a") as out:
            self.proc = subprocess.Popen(self.args, stdout=out, stderr=subprocess.STDOUT)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(10)

    def text(self):
        with open(self.log, encoding="utf-8", errors="replace") as f:
            return f.read()

    def count(self, *parts):
        return sum(all(p in line for p in parts) for line in self.text().splitlines())


class Browser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kevra-browser-")
        cls.port = free_port()
        cls.recorder = Process([f"{BIN}/kevra-recorder", "--port", str(cls.port), "--size", "352x288",
                                "--cameras", "Gate&&Yard"], f"{cls.dir}/h264.log")
        cls.mpeg4 = Process([f"{BIN}/kevra-recorder", "--port", "0", "--size", "352x288",
                             "--codec", "mpeg4", "--cameras", "Old"], f"{cls.dir}/mpeg4.log")
        mpeg4_port = wait(lambda: cls.mpeg4.text().split("\n")[0].strip().isdigit() and
                          int(cls.mpeg4.text().split("\n")[0]))
        wait(lambda: "listening" in cls.recorder.text())
        cls.gateway = Process([f"{BIN}/kevra-gateway", "--recorder", f"r=127.0.0.1:{cls.port}",
                               "--recorder", f"m=127.0.0.1:{mpeg4_port}", "--rtsp-port", "0",
                               "--http-port", "0", "--no-onvif", "--idle-close", "2"], f"{cls.dir}/gateway.log")
        line = wait(lambda: next((l for l in cls.gateway.text().splitlines() if "\tstatus page" in l), ""))
        cls.base = line.split("\t")[0].rstrip("/")
        options = Options()
        for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=360,640",
                  "--autoplay-policy=no-user-gesture-required"]:
            options.add_argument(a)
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        for p in (cls.gateway, cls.recorder, cls.mpeg4):
            p.stop()

    def open(self, path):
        self.browser.get(self.base + path)
        self.assertTrue(wait(lambda: self.state() == "playing", 15), self.browser.page_source[-600:])

    def state(self):
        return self.browser.execute_script("return window.kevra && kevra.player.state")

    def colour(self):
        return self.browser.execute_script("""const v = document.getElementById('video');
            const c = document.createElement('canvas'); c.width = v.videoWidth; c.height = v.videoHeight;
            const g = c.getContext('2d'); g.drawImage(v, 0, 0);
            return Array.from(g.getImageData(v.videoWidth / 2, v.videoHeight * 3 / 4, 1, 1).data).slice(0, 3);""")

    def assertColour(self, got, want):
        self.assertTrue(all(abs(a - b) <= 24 for a, b in zip(got, want)), f"{got} is not {want}")

    def test_plays_both_codecs_with_the_cameras_colour(self):
        for path, colour in (("/view/r/2", GREEN), ("/view/m/1", RED)):
            with self.subTest(path=path):
                self.open(path)
                self.assertColour(self.colour(), colour)
        self.assertIn("/m/1: H.264 encode for browsers started", self.gateway.text())

    def test_status_page_thumbnail_opens_the_live_view(self):
        self.browser.get(self.base + "/")
        link = wait(lambda: self.browser.find_elements("css selector", 'a[href="/view/r/2"]'))
        self.assertTrue(link)
        link[0].click()
        self.assertTrue(wait(lambda: self.state() == "playing", 15))
        self.assertColour(self.colour(), GREEN)

    def test_held_arrow_key_steps_the_camera_and_release_stops_it(self):
        self.open("/view/r/1")
        before = self.recorder.count('"event":"ptz"', '"channel":0', '"action":2')
        actions = ActionChains(self.browser)
        actions.key_down(Keys.ARROW_LEFT).perform()
        time.sleep(1.2)
        actions.key_up(Keys.ARROW_LEFT).perform()
        held = self.recorder.count('"event":"ptz"', '"channel":0', '"action":2') - before
        # One step at once and one every 150 ms: about 8 in 1.2 s; a stall of the pace shows.
        self.assertGreaterEqual(held, 5)
        self.assertLessEqual(held, 10)
        time.sleep(1.0)
        after = self.recorder.count('"event":"ptz"', '"channel":0', '"action":2') - before
        self.assertLessEqual(after - held, 1, "steps went on after the key was released")

    def test_ten_viewers_share_one_media_connection(self):
        self.open("/view/r/2")
        claims = self.recorder.count('"event":"claim"', '"channel":1', '"ok":true')
        self.browser.execute_script("""window.more = [];
            for (let i = 0; i < 9; i++) { const v = document.createElement('video'); v.muted = true;
              document.body.append(v); more.push(new KevraPlayer(v, '/r/2', () => {})); }""")
        self.assertTrue(wait(lambda: self.browser.execute_script(
            "return more.every((p) => p.state === 'playing')"), 20))
        self.assertEqual(self.recorder.count('"event":"claim"', '"channel":1', '"ok":true'), claims)

    def test_recorder_and_gateway_restarts_show_and_the_page_plays_again_by_itself(self):
        self.open("/view/r/1")
        self.recorder.stop()
        text = lambda: self.browser.find_element("id", "state").text
        self.assertTrue(wait(lambda: "No picture" in text() or "Recorder lost" in text(), 10), text())
        self.assertTrue(wait(lambda: self.browser.execute_script(
            "return document.getElementById('stage').className") in ("stalled", "lost"), 5))
        self.recorder.start()
        self.assertTrue(wait(lambda: self.state() == "playing", 30), text())
        self.assertColour(self.colour(), RED)

        # The gateway restarts on its port: the page says so and comes back without a reload.
        self.gateway.stop()
        self.assertTrue(wait(lambda: "gateway does not answer" in text(), 10), text())
        http_port = self.base.rsplit(":", 1)[1]
        self.gateway.args = [http_port if a == "0" and self.gateway.args[i - 1] == "--http-port" else a
                             for i, a in enumerate(self.gateway.args)]
        self.gateway.start()
        self.assertTrue(wait(lambda: self.state() == "playing", 30), text())
        self.assertColour(self.colour(), RED)


if __name__ == "__main__":
    unittest.main(verbosity=2)
