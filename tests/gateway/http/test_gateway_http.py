#!/usr/bin/python3
"""kevra-gateway's HTTP side as its users' tools see it: two simulated recorders behind one
gateway; the API, snapshots (their colours), metrics (parsed as Prometheus text), the limits,
hostile clients on the HTTP and RTSP ports, and the status page in headless Chromium.

usage: test_gateway_http.py BIN_DIR {api|hostile|browser} [--shots DIR]
"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

BIN = sys.argv[1] if len(sys.argv) > 1 else "build/bin"
MODE = sys.argv[2] if len(sys.argv) > 2 else "api"
SHOTS = sys.argv[sys.argv.index("--shots") + 1] if "--shots" in sys.argv else None

# Background colour of camera index c (see testaids/testkit/PatternEncoder.h).
COLOURS = [(200, 40, 40), (40, 160, 60), (40, 60, 200), (200, 180, 40), (180, 40, 180),
           (40, 170, 180), (240, 110, 20), (120, 120, 120)]
RTSP_USER, RTSP_PASSWORD = "viewer", "long-secret-42"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def outside_address():
    """An address of this machine other than loopback, or None."""
    out = subprocess.run(["hostname", "-I"], capture_output=True, text=True).stdout.split()
    return next((a for a in out if re.fullmatch(r"\d+\.\d+\.\d+\.\d+", a)
                 and not a.startswith("127.")), None)


class Site:
    """Recorders r1 (4 H.264 cameras) and r2 (2 MPEG-4 cameras) behind one gateway."""

    def __init__(self, extra=()):
        self.tmp = tempfile.mkdtemp(prefix="kevra-http-")
        self.procs = {}
        self.recorder_ports = {"r1": free_port(), "r2": free_port()}
        self.recorder("r1", ["--channels", "4"])
        self.recorder("r2", ["--channels", "2", "--codec", "mpeg4", "--format", "ps"])
        secrets = os.path.join(self.tmp, "secrets.ini")
        with open(secrets, "w") as f:
            f.write(f"[rtsp]\nuser = {RTSP_USER}\npassword = {RTSP_PASSWORD}\n"
                    "[recorder r1]\nuser = admin\npassword = 580317\n")
        os.chmod(secrets, 0o600)
        self.http_port, self.rtsp_port = free_port(), free_port()
        self.listen = "0.0.0.0" if outside_address() else "127.0.0.1"
        args = [os.path.join(BIN, "kevra-gateway"), "--listen", self.listen, "--secrets", secrets,
                "--http-port", str(self.http_port), "--rtsp-port", str(self.rtsp_port),
                "--idle-close", "3", "--no-onvif", *extra]
        for name, port in self.recorder_ports.items():
            args += ["--recorder", f"{name}=127.0.0.1:{port}"]
        self.log = open(os.path.join(self.tmp, "gateway.log"), "w+")
        self.procs["gateway"] = subprocess.Popen(args, stdout=subprocess.PIPE,
                                                 stderr=self.log, text=True)
        for line in self.procs["gateway"].stdout:
            if line.startswith("http://"):
                break
        self.base = f"http://127.0.0.1:{self.http_port}"

    def recorder(self, name, args):
        self.procs[name] = subprocess.Popen(
            [os.path.join(BIN, "kevra-recorder"), "--port", str(self.recorder_ports[name]),
             "--size", "352x288", "--gop", "25", *args],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.3)

    def stop(self, name):
        p = self.procs.pop(name)
        p.terminate()
        try:
            # A gateway whose recorder is away may be inside a login attempt (up to 10 s).
            p.wait(15)
        except subprocess.TimeoutExpired:
            p.kill()
            raise

    def alive(self):
        return self.procs["gateway"].poll() is None

    def close(self):
        for name in list(self.procs):
            self.stop(name)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def get(self, path, headers=None, base=None):
        req = urllib.request.Request((base or self.base) + path, headers=headers or {})
        try:
            with urllib.request.urlopen(req, timeout=10) as r:
                return r.status, r.read(), dict(r.headers)
        except urllib.error.HTTPError as e:
            return e.code, e.read(), dict(e.headers)

    def json(self, path):
        status, body, _ = self.get(path)
        assert status == 200, (path, status)
        return json.loads(body)


def jpeg_colour(data):
    """RGB at the middle of the picture's lower half (decoded by ffmpeg, not by us)."""
    rgb = subprocess.run(["ffmpeg", "-v", "error", "-i", "-", "-f", "rawvideo", "-pix_fmt",
                          "rgb24", "-vf", "scale=352:288", "-"], input=data,
                         capture_output=True, check=True).stdout
    at = ((288 * 3 // 4) * 352 + 176) * 3
    return tuple(rgb[at:at + 3])


def send_raw(port, data, host="127.0.0.1", wait=3.0):
    """Sends bytes, returns what came back before the server closed (or the wait ran out)."""
    with socket.create_connection((host, port), timeout=wait) as s:
        try:
            s.sendall(data)
        except OSError:
            pass
        out = b""
        try:
            while len(out) < 65536:
                chunk = s.recv(4096)
                if not chunk:
                    break
                out += chunk
        except OSError:
            pass
        return out


class SiteTest(unittest.TestCase):
    extra = ()

    @classmethod
    def setUpClass(cls):
        cls.site = Site(cls.extra)

    @classmethod
    def tearDownClass(cls):
        cls.site.close()

    def assertColour(self, got, want, what):
        self.assertTrue(all(abs(g - w) <= 20 for g, w in zip(got, want)), f"{what}: {got} != {want}")


class Api(SiteTest):
    def test_cameras_recorders_snapshots(self):
        cams = self.site.json("/api/cameras")
        self.assertEqual([(c["recorder"], c["camera"]) for c in cams],
                         [("r1", 1), ("r1", 2), ("r1", 3), ("r1", 4), ("r2", 1), ("r2", 2)])
        for c in cams:
            self.assertTrue({"name", "state", "codec", "width", "height", "fps", "viewers",
                             "rtsp"} <= c.keys())
            self.assertRegex(c["rtsp"], rf"^rtsp://127\.0\.0\.1:{self.site.rtsp_port}/"
                                        rf"{c['recorder']}/{c['camera']}$")
        recs = self.site.json("/api/recorders")
        self.assertEqual([(r["recorder"], r["state"]) for r in recs], [("r1", "up"), ("r2", "up")])
        self.assertNotIn(b"580317", self.site.get("/api/recorders")[1])
        # Idle cameras: each snapshot opens the channel and answers with its first picture.
        for c in cams:
            t = time.monotonic()
            status, body, headers = self.site.get(f"/snapshot/{c['recorder']}/{c['camera']}.jpg")
            self.assertEqual((status, headers.get("Content-Type")), (200, "image/jpeg"), c)
            self.assertLess(time.monotonic() - t, 3.0)
            self.assertColour(jpeg_colour(body), COLOURS[c["camera"] - 1], c["rtsp"])
        cams = self.site.json("/api/cameras")
        self.assertEqual({(c["state"], c["codec"], c["width"]) for c in cams},
                         {("streaming", "H.264", 352), ("streaming", "MPEG-4", 352)})

    def test_metrics_parse_as_prometheus_text(self):
        from prometheus_client.parser import text_string_to_metric_families
        self.site.get("/snapshot/r1/1.jpg")
        status, body, headers = self.site.get("/metrics")
        self.assertEqual(status, 200)
        self.assertTrue(headers["Content-Type"].startswith("text/plain; version=0.0.4"))
        fams = {f.name: f for f in text_string_to_metric_families(body.decode())}
        for name in ("kevra_gateway_camera_viewers", "kevra_gateway_camera_frames",
                     "kevra_gateway_camera_bytes", "kevra_gateway_camera_dropped_clients",
                     "kevra_gateway_camera_delay_added_seconds",
                     "kevra_gateway_camera_first_frame_seconds", "kevra_gateway_recorder_up",
                     "kevra_gateway_recorder_logins", "kevra_gateway_recorder_login_failures"):
            self.assertIn(name, fams)
        up = {s.labels["recorder"]: s.value for s in fams["kevra_gateway_recorder_up"].samples}
        self.assertEqual(up, {"r1": 1.0, "r2": 1.0})
        frames = {(s.labels["recorder"], s.labels["camera"]): s.value
                  for s in fams["kevra_gateway_camera_frames"].samples}
        self.assertEqual(len(frames), 6)
        self.assertGreater(frames[("r1", "1")], 0)

    def test_unknown_and_odd_paths(self):
        refused = (400, 404)   # libsoup refuses some itself (NUL), we refuse the rest
        for path, want in [("/snapshot/r1/9.jpg", refused), ("/snapshot/nope/1.jpg", refused),
                           ("/snapshot/r1/01.jpg", refused), ("/snapshot/r1/1.png", refused),
                           ("/snapshot/%2e%2e/r1/1.jpg", refused),
                           ("/snapshot/../../../etc/passwd", refused),
                           ("/snapshot/r1/../r1/1.jpg", (200,)),   # dot segments resolve first
                           ("/snapshot/r1/1.jpg%00", refused), ("/snapshot/r1%00/1.jpg", refused),
                           ("/" + "a" * 8000, refused), ("/snapshot/" + "r" * 5000 + "/1.jpg",
                                                         refused), ("/nothing", refused),
                           ("/api/cameras/", refused), ("/?lang=" + "x" * 3000, (200,))]:
            self.assertIn(self.site.get(path)[0], want, path)
        page = self.site.get("/", {"Accept-Language": "zh-CN,zh;q=0.9,en;q=0.8"})[1].decode()
        self.assertIn("<title>KEVRA 网关</title>", page)
        self.assertIn("<title>KEVRA gateway</title>", self.site.get("/")[1].decode())


class Hostile(SiteTest):
    extra = ("--request-timeout", "2", "--max-clients-per-address", "20")

    def test_garbage_truncated_oversized_on_both_ports(self):
        http, rtsp = self.site.http_port, self.site.rtsp_port
        describe = f"DESCRIBE rtsp://127.0.0.1:{rtsp}/r1/1 RTSP/1.0\r\nCSeq: 1\r\n".encode()
        cases = [(http, b"\x00\xff garbage\r\n\r\n", b" 400 "),
                 (http, b"GET / HTTP/1.1\r\nHost: x\r\nX: " + b"a" * 20000 + b"\r\n\r\n",
                  b" 431 "),
                 (http, b"G" * 30000, b" 431 "),
                 (http, b"POST /api/cameras HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999"
                  b"\r\n\r\n", b" 413 "),
                 (http, b"GET / HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n",
                  b"HTTP/1.1 "),
                 (http, b"GET /snapshot/r1/1.jpg HTTP/1.1\r\nHost: <script>\r\n\r\n",
                  b"HTTP/1.1 "),
                 (http, b"GET / HTTP/1.1\r\nHost", b""),   # truncated: closed at the deadline
                 (rtsp, b"\x00\xff garbage\r\n\r\n", b""),
                 (rtsp, describe + b"X: " + b"a" * 20000 + b"\r\n\r\n", b"RTSP/1.0 400"),
                 (rtsp, describe + b"X-Junk: aaaa\r\n" * 2000, b"RTSP/1.0 400"),
                 (rtsp, describe + b"Content-Length: 99999999\r\n\r\nabc", b"RTSP/1.0 413"),
                 (rtsp, describe[:20], b"")]
        for port, data, want in cases:
            t = time.monotonic()
            got = send_raw(port, data, wait=5)
            self.assertIn(want, got[:200], data[:60])
            self.assertLess(time.monotonic() - t, 4.5, data[:60])
        self.assertTrue(self.site.alive())

    def test_malformed_digest_on_both_ports(self):
        bad = ["Digest", "Digest ,,,,", 'Digest username="', 'Digest username="viewer", realm=',
               'Digest username="viewer", nonce="' + "n" * 5000 + '", uri="/", response="x"',
               'Digest username="viewer", realm="kevra-gateway", nonce="1", uri="/r1/1", '
               'response="00000000000000000000000000000000", qop=auth, nc=zz, cnonce="',
               "Digest " + "a=b," * 2000, 'Digest username="\x01\x02", response=""',
               "Basic !!!!", "Digest username=viewer realm=x nonce=y uri=/ response=z"]
        outside = outside_address()
        for header in bad:
            got = send_raw(self.site.rtsp_port,
                           f"DESCRIBE rtsp://127.0.0.1:{self.site.rtsp_port}/r1/1 RTSP/1.0\r\n"
                           f"CSeq: 1\r\nAuthorization: {header}\r\n\r\n".encode("latin-1"))
            self.assertIn(b"RTSP/1.0 401", got, header[:40])
            if outside:
                got = send_raw(self.site.http_port,
                               f"GET /api/cameras HTTP/1.1\r\nHost: x\r\nAuthorization: {header}"
                               f"\r\n\r\n".encode("latin-1"), host=outside)
                self.assertRegex(got[:20], rb"HTTP/1.1 40[01]", header[:40])
        self.assertTrue(self.site.alive())
        if outside:   # and the right credentials still work from outside
            mgr = urllib.request.HTTPPasswordMgrWithDefaultRealm()
            mgr.add_password(None, f"http://{outside}:{self.site.http_port}/", RTSP_USER,
                             RTSP_PASSWORD)
            opener = urllib.request.build_opener(urllib.request.HTTPDigestAuthHandler(mgr))
            with opener.open(f"http://{outside}:{self.site.http_port}/api/recorders") as r:
                self.assertEqual(r.status, 200)

    def rtsp(self, sock, request, session=None):
        self.cseq = getattr(self, "cseq", 0) + 1
        auth = self.digest(request.split()[0], request.split()[1])
        text = f"{request} RTSP/1.0\r\nCSeq: {self.cseq}\r\n{auth}"
        if session:
            text += f"Session: {session}\r\n"
        sock.sendall((text + "\r\n").encode())
        data = b""
        while b"\r\n\r\n" not in data:
            data += sock.recv(4096)
        head, _, rest = data.partition(b"\r\n\r\n")
        length = re.search(rb"Content-Length: (\d+)", head)
        need = int(length.group(1)) if length else 0
        while len(rest) < need:
            rest += sock.recv(4096)
        return head.decode(), rest[:need].decode()

    def digest(self, method, uri):
        import hashlib
        if not getattr(self, "nonce", None):
            return ""
        h = lambda s: hashlib.md5(s.encode()).hexdigest()
        ha1 = h(f"{RTSP_USER}:{self.realm}:{RTSP_PASSWORD}")
        resp = h(f"{ha1}:{self.nonce}:{h(f'{method}:{uri}')}")
        return (f'Authorization: Digest username="{RTSP_USER}", realm="{self.realm}", '
                f'nonce="{self.nonce}", uri="{uri}", response="{resp}"\r\n')

    def test_rtsp_session_of_another_client(self):
        url = f"rtsp://127.0.0.1:{self.site.rtsp_port}/r1/2"
        a = socket.create_connection(("127.0.0.1", self.site.rtsp_port), timeout=10)
        self.nonce = None
        head, _ = self.rtsp(a, f"DESCRIBE {url}")
        self.realm = re.search(r'realm="([^"]+)"', head).group(1)
        self.nonce = re.search(r'nonce="([^"]+)"', head).group(1)
        head, sdp = self.rtsp(a, f"DESCRIBE {url}")
        self.assertIn("200 OK", head)
        control = re.search(r"a=control:(\S+)", sdp.split("m=video")[1]).group(1)
        track = control if control.startswith("rtsp:") else f"{url}/{control}"
        transport = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"
        self.cseq += 1
        a.sendall(f"SETUP {track} RTSP/1.0\r\nCSeq: {self.cseq}\r\n{self.digest('SETUP', track)}"
                  f"{transport}\r\n".encode())
        head = a.recv(4096).decode()
        session = re.search(r"Session: ([^;\r]+)", head).group(1)
        head, _ = self.rtsp(a, f"PLAY {url}", session)
        self.assertIn("200 OK", head)
        b = socket.create_connection(("127.0.0.1", self.site.rtsp_port), timeout=10)
        for request in (f"TEARDOWN {url}", f"PLAY {url}", f"SETUP {track}"):
            self.cseq += 1
            b.sendall(f"{request} RTSP/1.0\r\nCSeq: {self.cseq}\r\n"
                      f"{self.digest(request.split()[0], request.split()[1])}"
                      f"Session: {session}\r\n{transport}\r\n".encode())
            reply = b.recv(4096)
            self.assertNotIn(b"200 OK", reply, request)   # another client's session is not its
        # A second SETUP of the same track by its own client is answered, and A still streams.
        self.cseq += 1
        a.sendall(f"SETUP {track} RTSP/1.0\r\nCSeq: {self.cseq}\r\n{self.digest('SETUP', track)}"
                  f"Session: {session}\r\n{transport}\r\n".encode())
        got, t = b"", time.monotonic()
        while len(got) < 20000 and time.monotonic() - t < 5:
            got += a.recv(65536)
        self.assertGreaterEqual(len(got), 20000)
        a.close()
        b.close()
        self.assertTrue(self.site.alive())

    def test_connection_limits_and_deadline(self):
        # One attacker address fills its share (20) with silent connections on both ports: the
        # next one is closed at once, the held ones at the request deadline (2 s), and a real
        # client from another address is served meanwhile.
        held = []
        for port in (self.site.http_port, self.site.rtsp_port):
            for _ in range(10):
                s = socket.socket()
                s.bind(("127.0.0.2", 0))
                s.connect(("127.0.0.1", port))
                held.append(s)
        time.sleep(0.2)
        for port in (self.site.http_port, self.site.rtsp_port):
            s = socket.socket()
            s.bind(("127.0.0.2", 0))
            s.connect(("127.0.0.1", port))
            s.settimeout(1)   # well before the deadline
            self.assertEqual(s.recv(10), b"")
            s.close()
        t = time.monotonic()
        status, body, _ = self.site.get("/snapshot/r1/3.jpg")
        self.assertEqual(status, 200)
        self.assertLess(time.monotonic() - t, 3)
        for h in held:
            h.settimeout(4)
            self.assertEqual(h.recv(10), b"")   # closed by the gateway, not by us
            h.close()
        # A connection that has gone no longer counts: more than the share, one after another.
        for i in range(25):
            with socket.socket() as s:
                s.bind(("127.0.0.2", 0))
                s.settimeout(3)
                s.connect(("127.0.0.1", self.site.rtsp_port))
                s.sendall(b"OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n\r\n")
                self.assertIn(b"RTSP/1.0 200", s.recv(4096), i)
        self.assertTrue(self.site.alive())


class Browser(SiteTest):
    def driver(self, width, height, lang="en-US"):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        opts = webdriver.ChromeOptions()
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    f"--window-size={width},{height}", f"--lang={lang}"):
            opts.add_argument(arg)
        opts.add_experimental_option("prefs", {"intl.accept_languages": lang})
        opts.binary_location = "/usr/bin/chromium"
        d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)
        # A window cannot be as narrow as a phone: the page is laid out as on one.
        d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 500})
        return d

    # Every thumbnail's colour in the middle of its lower half, read through a canvas.
    COLOURS_JS = """
        return [...document.querySelectorAll('img.thumb')].map(img => {
          if (!img.dataset.loaded) return null;
          const c = document.createElement('canvas');
          c.width = img.naturalWidth; c.height = img.naturalHeight;
          const g = c.getContext('2d'); g.drawImage(img, 0, 0);
          const d = g.getImageData(c.width / 2, c.height * 3 / 4, 1, 1).data;
          return [img.closest('.card').id, d[0], d[1], d[2]];
        });"""

    def wait(self, what, fn, seconds):
        end = time.monotonic() + seconds
        while True:
            got = fn()
            if got or time.monotonic() > end:
                return got
            time.sleep(0.2)

    def test_status_page_desktop_phone_and_loss(self):
        for width, height, shot in ((1280, 900, "gateway-status-desktop.png"),
                                    (360, 640, "gateway-status-phone.png")):
            d = self.driver(width, height)
            try:
                d.get(self.site.base + "/")
                thumbs = self.wait("thumbnails", lambda: (lambda t: t if len(t) == 6 and all(t)
                                   else None)(d.execute_script(self.COLOURS_JS)), 15)
                self.assertTrue(thumbs, d.execute_script(self.COLOURS_JS))
                for card, *rgb in thumbs:
                    camera = int(card.rsplit("-", 1)[1])
                    self.assertColour(rgb, COLOURS[camera - 1], card)
                self.assertLessEqual(d.execute_script(
                    "return document.documentElement.scrollWidth"), width)   # no sideways scroll
                if SHOTS:
                    time.sleep(2.5)
                    d.save_screenshot(os.path.join(SHOTS, shot))
            finally:
                d.quit()
        d = self.driver(1280, 900)
        try:
            d.get(self.site.base + "/")
            self.wait("r2 up", lambda: d.execute_script(
                "const c = document.getElementById('rec-r2'); return c && c.dataset.state"), 10)
            self.site.stop("r2")
            t = time.monotonic()
            lost = self.wait("r2 lost", lambda: d.execute_script(
                "const c = document.getElementById('rec-r2');"
                "return c.dataset.state == 'down' && c.innerText"), 5)
            self.assertTrue(lost, "recorder r2's loss not shown within 5 s")
            self.assertIn("Lost", lost)
            self.assertLess(time.monotonic() - t, 5)
        finally:
            d.quit()
        d = self.driver(360, 640, "zh-CN")
        try:
            d.get(self.site.base + "/")
            self.assertEqual(d.title, "KEVRA 网关")
        finally:
            d.quit()


if __name__ == "__main__":
    cls = {"api": Api, "hostile": Hostile, "browser": Browser}[MODE]
    suite = unittest.TestLoader().loadTestsFromTestCase(cls)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
