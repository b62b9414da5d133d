#!/usr/bin/python3
"""Figures for kevra-gateway's ONVIF side against the simulated recorder (48 cameras): the
WS-Discovery answer time (a probe sent straight to the gateway, to the first and to the 48th
ProbeMatches), ContinuousMove -> the recorder's PTZ command (from the request leaving to the
recorder's "ptz" event, both CLOCK_REALTIME), GetProfiles and GetStreamUri round trips, and the
gateway's CPU with 48 cameras published while one client polls GetStatus every 100 ms.

usage: scripts/gateway-onvif-bench.py [--write]   (--write puts the table into bench/RESULTS.md)
"""
import json
import re
import socket
import subprocess
import sys
import threading
import time
import urllib.request
import uuid

from benchkit import BIN, cpu_seconds, made_by, pct, stop_all, table, write_results

CAMERAS = 48
NS = {"device": "http://www.onvif.org/ver10/device/wsdl",
      "media": "http://www.onvif.org/ver10/media/wsdl",
      "ptz": "http://www.onvif.org/ver20/ptz/wsdl"}


def soap(port, service, body):
    data = ('<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" '
            'xmlns:tt="http://www.onvif.org/ver10/schema"><s:Body>' +
            body.replace("NS", NS[service]) + "</s:Body></s:Envelope>").encode()
    req = urllib.request.Request(f"http://127.0.0.1:{port}/onvif/{service}_service", data,
                                 {"Content-Type": "application/soap+xml"})
    t = time.perf_counter()
    with urllib.request.urlopen(req, timeout=10) as r:
        r.read()
    return (time.perf_counter() - t) * 1000


class Lines(threading.Thread):
    """Collects a child's output lines."""

    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream, self.lines, self.cv = stream, [], threading.Condition()
        self.start()

    def run(self):
        for line in self.stream:
            with self.cv:
                self.lines.append(line.decode(errors="replace").rstrip("\n"))
                self.cv.notify_all()

    def wait(self, pattern, timeout, start=0):
        end = time.time() + timeout
        with self.cv:
            while True:
                for i in range(start, len(self.lines)):
                    if re.search(pattern, self.lines[i]):
                        return i, self.lines[i]
                if time.time() > end:
                    raise RuntimeError(f"no line matching {pattern!r}")
                self.cv.wait(0.2)


def main():
    procs = []
    try:
        rec = subprocess.Popen([f"{BIN}/kevra-recorder", "--port", "0", "--channels", str(CAMERAS),
                                "--size", "352x288"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
        procs.append(rec)
        rec_port = int(rec.stdout.readline())
        events = Lines(rec.stdout)
        gw = subprocess.Popen([f"{BIN}/kevra-gateway", "--recorder", f"r=127.0.0.1:{rec_port}",
                               "--rtsp-port", "0", "--http-port", "0", "--onvif-port", "0",
                               "--discovery-port", "0"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        procs.append(gw)
        out = Lines(gw.stdout)
        _, line = out.wait(r"WS-Discovery on UDP port", 30)
        disc_port = int(line.rsplit(" ", 1)[1])
        ports = []
        for k in range(1, CAMERAS + 1):
            _, line = out.wait(rf"/r/{k}\t", 10)
            ports.append(int(line.rsplit(":", 1)[1].split("/")[0]))

        # Discovery: a directed probe, to the first and the last of the 48 answers.
        first, last = [], []
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.settimeout(2)
        for _ in range(50):
            probe = ('<e:Envelope xmlns:e="http://www.w3.org/2003/05/soap-envelope" '
                     'xmlns:w="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
                     'xmlns:d="http://schemas.xmlsoap.org/ws/2005/04/discovery" '
                     'xmlns:dn="http://www.onvif.org/ver10/network/wsdl"><e:Header><w:MessageID>'
                     f'urn:uuid:{uuid.uuid4()}</w:MessageID></e:Header><e:Body><d:Probe><d:Types>'
                     'dn:NetworkVideoTransmitter</d:Types></d:Probe></e:Body></e:Envelope>')
            t = time.perf_counter()
            s.sendto(probe.encode(), ("127.0.0.1", disc_port))
            got = 0
            while got < CAMERAS:
                s.recv(65536)
                got += 1
                if got == 1:
                    first.append((time.perf_counter() - t) * 1000)
            last.append((time.perf_counter() - t) * 1000)
            time.sleep(0.05)

        # Round trips.
        profiles = [soap(ports[i % CAMERAS], "media", "<GetProfiles xmlns=\"NS\"/>")
                    for i in range(300)]
        streams = [soap(ports[i % CAMERAS], "media", "<GetStreamUri xmlns=\"NS\"><ProfileToken>"
                        "main</ProfileToken></GetStreamUri>") for i in range(300)]

        # ContinuousMove -> the recorder's PTZ command, camera 1 (its channel opened by a
        # first move that is not counted).
        move = ('<ContinuousMove xmlns="NS"><ProfileToken>main</ProfileToken><Velocity>'
                '<tt:PanTilt x="-1" y="0"/></Velocity></ContinuousMove>')
        stop = '<Stop xmlns="NS"><ProfileToken>main</ProfileToken></Stop>'
        ptz = []
        for i in range(41):
            with events.cv:
                mark = len(events.lines)
            sent = time.time() * 1e6
            soap(ports[0], "ptz", move)
            _, line = events.wait(r'"event":"ptz"', 10, mark)
            soap(ports[0], "ptz", stop)
            if i > 0:
                ptz.append((json.loads(line)["real_us"] - sent) / 1000)
            time.sleep(0.4)

        # CPU: 48 cameras published, nobody watching; then one client polling GetStatus.
        time.sleep(2)
        c0, t0 = cpu_seconds(gw.pid), time.time()
        time.sleep(20)
        idle = (cpu_seconds(gw.pid) - c0) / (time.time() - t0) * 100
        status = '<GetStatus xmlns="NS"><ProfileToken>main</ProfileToken></GetStatus>'
        c0, t0 = cpu_seconds(gw.pid), time.time()
        polls = []
        while time.time() - t0 < 30:
            polls.append(soap(ports[5], "ptz", status))
            time.sleep(0.1)
        polling = (cpu_seconds(gw.pid) - c0) / (time.time() - t0) * 100

        rows = [
            ("WS-Discovery: directed probe to the first / the 48th ProbeMatches, 50 probes",
             f"p50 {pct(first, 50):.1f} / {pct(last, 50):.1f} ms, "
             f"p95 {pct(first, 95):.1f} / {pct(last, 95):.1f} ms"),
            ("ContinuousMove sent -> recorder's PTZ command (its log), 40 moves",
             f"p50 {pct(ptz, 50):.1f} ms, p95 {pct(ptz, 95):.1f} ms"),
            ("GetProfiles round trip (new connection each), 300 requests",
             f"p50 {pct(profiles, 50):.1f} ms, p95 {pct(profiles, 95):.1f} ms"),
            ("GetStreamUri round trip (new connection each), 300 requests",
             f"p50 {pct(streams, 50):.1f} ms, p95 {pct(streams, 95):.1f} ms"),
            ("gateway CPU, 48 cameras published, nobody watching (20 s)",
             f"{idle:.1f} % of one core"),
            ("gateway CPU, same, one client polling GetStatus every 100 ms (30 s)",
             f"{polling:.1f} % of one core (GetStatus p95 {pct(polls, 95):.1f} ms)"),
        ]
        text = (made_by("gateway-onvif-bench.py") + ", against the simulated recorder on the "
                "same machine; requests from Python's urllib.\n\n" + table(rows))
        print(text)
        if "--write" in sys.argv:
            write_results("gateway-onvif-measurements",
                          "<!-- gateway-onvif-measurements -->\n## kevra-gateway: ONVIF side\n\n" +
                          text + "<!-- /gateway-onvif-measurements -->\n")
    finally:
        stop_all(procs)


if __name__ == "__main__":
    main()
