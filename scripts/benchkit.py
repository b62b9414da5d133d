"""What the benchmark scripts share: free ports, percentiles, a process's CPU time and memory,
the line that says where figures were made, the figures table, stopping the children, and
putting a measured section into bench/RESULTS.md."""
import os
import re
import socket
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.environ.get("BIN", os.path.join(ROOT, "build", "bin"))
RESULTS = os.path.join(ROOT, "bench", "RESULTS.md")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def pct(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100 * (len(v) - 1))))]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS"):
                return int(line.split()[1]) / 1024
    return 0


def made_by(script):
    """Which script made the figures, when, and on what machine."""
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    return (f"Made by `scripts/{script}` on {time.strftime('%Y-%m-%d')} on {cpu} "
            f"({os.cpu_count()} cores, shared with other work: load average "
            f"{os.getloadavg()[0]:.1f})")


def table(rows):
    """A two-column Markdown table of (figure, value) rows."""
    return "| figure | value |\n|---|---|\n" + "".join(f"| {a} | {b} |\n" for a, b in rows)


def stop_all(procs):
    """Stops children, the last started first: SIGTERM, then SIGKILL after 15 s."""
    for p in reversed(procs):
        p.terminate()
        try:
            p.wait(15)
        except subprocess.TimeoutExpired:
            p.kill()


def write_results(name, section):
    """Puts SECTION (its "<!-- NAME -->" and "<!-- /NAME -->" markers included) into
    bench/RESULTS.md in place of the text between those markers, or at the end of the file
    when they are not there yet."""
    with open(RESULTS, encoding="utf-8") as f:
        text = f.read()
    section = section.rstrip("\n") + "\n"
    pattern = re.compile(r"<!-- %s -->.*?<!-- /%s -->\n?" % (re.escape(name), re.escape(name)),
                         re.S)
    if pattern.search(text):
        text = pattern.sub(lambda _: section, text, count=1)
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(RESULTS, "w", encoding="utf-8") as f:
        f.write(text)
