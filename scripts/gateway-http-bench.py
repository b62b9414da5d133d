#!/usr/bin/python3
"""Figures for kevra-gateway's HTTP side against the simulated recorder (48 cameras, 352x288,
25 frames/s, a key frame every 2 s): snapshot time (idle camera: the first picture after the
channel opens; streaming camera), /metrics scrape time, and the gateway holding out against
500 half-open HTTP and 500 half-open RTSP connections from one attacker address: its CPU and
memory meanwhile, a real client's first picture (RTSP, decoded by ffmpeg; and a snapshot), and
the longest gap an existing viewer sees.

usage: scripts/gateway-http-bench.py [--write]   (--write puts the table into bench/RESULTS.md)
"""
import re
import socket
import subprocess
import sys
import threading
import time
import urllib.request

from benchkit import (BIN, cpu_seconds, free_port, made_by, pct, rss_mib, stop_all, table,
                      write_results)

CAMERAS = 48


def timed_get(url):
    t = time.perf_counter()
    with urllib.request.urlopen(url, timeout=10) as r:
        r.read()
        assert r.status == 200
    return (time.perf_counter() - t) * 1000


class Viewer(threading.Thread):
    """A minimal RTSP/TCP viewer that notes the longest gap between two frames' last packets."""

    def __init__(self, url):
        super().__init__(daemon=True)
        self.url, self.gaps, self.stop, self.first_ms = url, [], False, None

    def request(self, s, text):
        s.sendall(text.encode())
        data = b""
        while b"\r\n\r\n" not in data:
            data += s.recv(4096)
        head, _, rest = data.partition(b"\r\n\r\n")
        m = re.search(rb"Content-Length: (\d+)", head)
        while m and len(rest) < int(m.group(1)):
            rest += s.recv(4096)
        return head.decode(), rest

    def run(self):
        start = time.perf_counter()
        s = socket.create_connection(("127.0.0.1", int(self.url.split(":")[2].split("/")[0])))
        _, sdp = self.request(s, f"DESCRIBE {self.url} RTSP/1.0\r\nCSeq: 1\r\n\r\n")
        control = re.search(rb"a=control:(\S+)", sdp.split(b"m=video")[1]).group(1).decode()
        track = control if control.startswith("rtsp:") else f"{self.url}/{control}"
        head, _ = self.request(s, f"SETUP {track} RTSP/1.0\r\nCSeq: 2\r\nTransport: "
                                  "RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n")
        session = re.search(r"Session: ([^;\r]+)", head).group(1)
        s.sendall(f"PLAY {self.url} RTSP/1.0\r\nCSeq: 3\r\nSession: {session}\r\n\r\n".encode())
        buf, last = b"", None
        while not self.stop:
            buf += s.recv(65536)
            while True:
                if buf.startswith(b"RTSP/"):
                    end = buf.find(b"\r\n\r\n")
                    if end < 0:
                        break
                    buf = buf[end + 4:]
                    continue
                if len(buf) < 4 or buf[0] != 0x24:
                    break
                n = int.from_bytes(buf[2:4], "big")
                if len(buf) < 4 + n:
                    break
                channel, packet, buf = buf[1], buf[4:4 + n], buf[4 + n:]
                if channel == 0 and len(packet) > 1 and packet[1] & 0x80:   # a frame's end
                    now = time.perf_counter()
                    if self.first_ms is None:
                        self.first_ms = (now - start) * 1000
                    if last is not None:
                        self.gaps.append((now - last) * 1000)
                    last = now
        s.close()


def watch(url, pipe):
    """A viewer in a process of its own, so the attack's Python work cannot delay its reading."""
    viewer = Viewer(url)
    viewer.start()
    pipe.recv()   # the attack starts
    viewer.gaps.clear()
    pipe.recv()   # report
    pipe.send(list(viewer.gaps))


def main():
    procs = []
    try:
        rport = free_port()
        names = "&&".join(f"Cam{i}" for i in range(1, CAMERAS + 1))
        procs.append(subprocess.Popen(
            [f"{BIN}/kevra-recorder", "--port", str(rport), "--cameras", names, "--size",
             "352x288", "--fps", "25", "--gop", "50"], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL))
        time.sleep(0.5)
        hport, sport = free_port(), free_port()
        gw = subprocess.Popen(
            [f"{BIN}/kevra-gateway", "--recorder", f"b=127.0.0.1:{rport}", "--http-port",
             str(hport), "--rtsp-port", str(sport), "--idle-close", "5", "--max-clients", "2000",
             "--max-clients-per-address", "1100", "--no-onvif"], stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True)
        procs.append(gw)
        for line in gw.stdout:
            if line.startswith("http://"):
                break
        base, rtsp = f"http://127.0.0.1:{hport}", f"rtsp://127.0.0.1:{sport}/b"
        rss_idle = rss_mib(gw.pid)

        idle = [timed_get(f"{base}/snapshot/b/{c}.jpg") for c in range(1, 31)]
        import multiprocessing
        pipe, child = multiprocessing.Pipe()
        viewer = multiprocessing.Process(target=watch, args=(f"{rtsp}/40", child), daemon=True)
        viewer.start()
        time.sleep(3)
        streaming = []
        for _ in range(200):
            streaming.append(timed_get(f"{base}/snapshot/b/40.jpg"))
            time.sleep(0.02)
        metrics = [timed_get(f"{base}/metrics") for _ in range(200)]

        def first_picture(camera):
            t = time.perf_counter()
            subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "tcp", "-i",
                            f"{rtsp}/{camera}", "-frames:v", "1", "-f", "null", "-"], check=True)
            return (time.perf_counter() - t) * 1000

        def first_frame(camera):
            v = Viewer(f"{rtsp}/{camera}")
            v.start()
            while v.first_ms is None and v.is_alive():
                time.sleep(0.005)
            v.stop = True
            return v.first_ms

        first_before = first_picture(44)
        wire_before = first_frame(43)
        # The attack: half-open connections (connected, nothing or half a request sent).
        pipe.send("attack")
        held = []
        for port in (hport, sport):
            for i in range(500):
                s = socket.socket()
                s.bind(("127.0.0.2", 0))
                s.connect(("127.0.0.1", port))
                if i % 2:
                    s.send(b"GET / HTTP/1.1\r\nHost: x\r\n" if port == hport else
                           b"OPTIONS * RTSP/1.0\r\n")
                held.append(s)
        time.sleep(0.5)
        c0, t0 = cpu_seconds(gw.pid), time.perf_counter()
        first_rtsp = first_picture(45)
        wire_attack = first_frame(42)
        first_snapshot = timed_get(f"{base}/snapshot/b/46.jpg")
        time.sleep(5)
        cpu = (cpu_seconds(gw.pid) - c0) / (time.perf_counter() - t0) * 100
        rss_attack = rss_mib(gw.pid)
        pipe.send("report")
        gaps = pipe.recv()
        closed = 0
        time.sleep(6)   # past the 10 s request deadline
        for s in held:
            s.setblocking(False)
            try:
                closed += s.recv(1) == b""
            except ConnectionResetError:
                closed += 1
            except BlockingIOError:
                pass
            s.close()
        viewer.terminate()
        rows = [
            ("snapshot, idle camera (channel opens; key frame every 2 s), 30 cameras",
             f"p50 {pct(idle, 50):.0f} ms, p95 {pct(idle, 95):.0f} ms"),
            ("snapshot, streaming camera, 200 requests",
             f"p50 {pct(streaming, 50):.1f} ms, p95 {pct(streaming, 95):.1f} ms"),
            (f"/metrics scrape, {CAMERAS} cameras, 200 scrapes",
             f"p50 {pct(metrics, 50):.1f} ms, p95 {pct(metrics, 95):.1f} ms"),
            ("gateway CPU / RSS with 1,000 half-open connections held (500 HTTP + 500 RTSP)",
             f"{cpu:.1f} % of one core / {rss_attack:.0f} MiB (idle before: {rss_idle:.0f} MiB)"),
            ("meanwhile: new RTSP client's first decoded picture (ffmpeg, incl. its start-up)",
             f"{first_rtsp:.0f} ms (without the attack: {first_before:.0f} ms)"),
            ("meanwhile: new RTSP client's first whole frame on the wire (idle camera)",
             f"{wire_attack:.0f} ms (without the attack: {wire_before:.0f} ms)"),
            ("meanwhile: snapshot of an idle camera", f"{first_snapshot:.0f} ms"),
            ("meanwhile: existing viewer's longest gap between frames",
             f"{max(gaps):.0f} ms over {len(gaps)} frames" if gaps else "no frames"),
            ("half-open connections closed by the gateway at the 10 s deadline",
             f"{closed} of {len(held)}"),
        ]
        text = (made_by("gateway-http-bench.py") + ", against the simulated recorder on the "
                "same machine.\n\n" + table(rows) +
                "\nThe attacker (127.0.0.2) is let hold all 1,000 connections here "
                "(`--max-clients 2000 --max-clients-per-address 1100`); with the defaults (32 per "
                "address) all but 32 are closed at once. Half of them send part of a request, "
                "half nothing. ffmpeg's first decoded picture includes its own start-up and "
                "stream probing, with or without the attack; the first whole frame on the wire "
                "is the part the gateway controls.\n")
        print(text)
        if "--write" in sys.argv:
            write_results("gateway-http-measurements",
                          "<!-- gateway-http-measurements -->\n## kevra-gateway: HTTP side and "
                          "hostile connections\n\n" + text +
                          "<!-- /gateway-http-measurements -->\n")
    finally:
        stop_all(procs)


if __name__ == "__main__":
    main()
