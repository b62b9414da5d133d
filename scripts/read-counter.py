#!/usr/bin/env python3
"""Finds and reads the frame codes that kevra-recorder --frame-code draws into its pictures.

A code is a row of 36 black/white cells between two mid-grey margins:
    1 0 1 | camera (4 bits) | frame number mod 2^20 (20 bits) | one bits of those 24 mod 16 (4) |
    0 1 1 0 1
It is found on any row (or, in a picture turned by 90 degrees, column) of a screenshot, forwards
or backwards, at any scale down to about 1.5 pixels a cell, so one screenshot of a grid gives one
code per tile.

    read-counter.py FILE...          PNG (8 bits a sample, any colour type, not interlaced),
                                     PPM (P6) or PGM (P5): one line "FILE CAMERA FRAME X Y" per
                                     code found (X, Y: the code's left end), nothing when none
    read-counter.py --raw WxH        8-bit grey frames of W x H bytes on standard input (e.g.
                                     ffmpeg ... -pix_fmt gray -f rawvideo -): for each frame, one
                                     line "REAL_US MONO_US CAMERA FRAME" per camera found, stamped
                                     with the time the frame had arrived in full

Only the Python standard library is used.
"""
import queue
import re
import struct
import sys
import threading
import time
import zlib

CELLS = 36
START = (1, 0, 1)
STOP = (0, 1, 1, 0, 1)
# Luma below 80 is black, above 176 white, in between "mid" (the grey margins, colours, edges).
CLASSIFY = bytes((ord("0") if v < 80 else ord("1") if v > 176 else ord("m")) for v in range(256))
# A code: black/white pixels with at most two mid pixels in a row (blurred cell edges).
RUN = re.compile(rb"[01](?:[01]|m{1,2}(?=[01]))*")


def decode_run(cls, start, end):
    """Reads one run of classified pixels; returns (camera, frame) or None."""
    length = end - start
    cell = length / CELLS
    if cell < 1.4:
        return None
    bits = []
    for i in range(CELLS):
        centre = start + (i + 0.5) * cell
        # The centre pixel, or the nearest black/white one within a quarter cell.
        pick = None
        reach = max(1, int(cell / 4))
        for d in [0] + [s * k for k in range(1, reach + 1) for s in (-1, 1)]:
            x = int(centre) + d
            if start <= x < end and cls[x] in (0x30, 0x31):
                pick = cls[x] - 0x30
                break
        if pick is None:
            return None
        bits.append(pick)
    if tuple(bits[:3]) != START or tuple(bits[31:]) != STOP:
        return None
    data = 0
    for b in bits[3:27]:
        data = data << 1 | b
    check = 0
    for b in bits[27:31]:
        check = check << 1 | b
    if check != sum(bits[3:27]) & 15:
        return None
    return data >> 20, data & 0xFFFFF


def scan(lines, step):
    """Codes on the given lines (each a bytes of pixels): (camera, frame, position, line)."""
    strips = []   # [camera, frame, position, first line, last line, lines agreeing]
    for n, pixels in lines:
        cls = pixels.translate(CLASSIFY)
        for m in RUN.finditer(cls):
            if m.end() - m.start() < CELLS * 1.4:
                continue
            # A mirrored or turned picture shows the code backwards.
            code = decode_run(cls, m.start(), m.end())
            if code is None:
                back = cls[m.start():m.end()][::-1]
                code = decode_run(back, 0, len(back))
            if code is None:
                continue
            # Further lines of a strip (same camera, same place) confirm its frame number.
            for s in strips:
                if s[0] == code[0] and abs(s[2] - m.start()) <= 8 and n - s[4] <= 4 * step:
                    s[4] = n
                    s[5] += s[1] == code[1]
                    break
            else:
                strips.append([code[0], code[1], m.start(), n, n, 1])
    # A code read on one line only may be a chance match of its check bits.
    return [s for s in strips if s[5] >= 2]


def find_codes(gray, width, height, step=1):
    """All codes in an 8-bit grey picture: a list of (camera, frame, x, y), one per strip. The
    rows are searched first; when they hold none, the columns (a picture turned by 90 degrees)."""
    strips = scan(((y, gray[y * width:(y + 1) * width]) for y in range(0, height, step)), step)
    if strips:
        return [(s[0], s[1], s[2], s[3]) for s in strips]
    strips = scan(((x, gray[x::width]) for x in range(0, width, step)), step)
    return [(s[0], s[1], s[3], s[2]) for s in strips]


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    at = 8
    idat = b""
    width = height = depth = colour = interlace = None
    palette = b""
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if len(body) != length:
            raise ValueError("truncated PNG chunk")
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = body
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        at += 12 + length
    if width is None or depth != 8 or colour not in (0, 2, 3, 4, 6) or interlace != 0:
        raise ValueError("only 8-bit PNG files without interlacing are read")
    if colour == 3 and len(palette) < 3:
        raise ValueError("PNG palette missing")
    if not (0 < width <= 16384 and 0 < height <= 16384):
        raise ValueError("PNG picture size out of range")
    bpp = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    stride = width * bpp
    raw = zlib.decompress(idat)
    if len(raw) < height * (stride + 1):
        raise ValueError("PNG picture data too short")
    rows = []
    prev = bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if f == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 255
        elif f == 2:
            for i in range(stride):
                line[i] = (line[i] + prev[i]) & 255
        elif f == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 255
        elif f == 4:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                upleft = prev[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + paeth(left, prev[i], upleft)) & 255
        elif f != 0:
            raise ValueError("bad PNG filter")
        rows.append(bytes(line))
        prev = line
    pixels = b"".join(rows)
    if colour == 3:
        entries = len(palette) // 3
        grey = bytes((77 * palette[3 * i] + 150 * palette[3 * i + 1] + 29 * palette[3 * i + 2]) >> 8
                     if i < entries else 0 for i in range(256))
        return pixels.translate(grey), width, height
    return to_gray(pixels, width, height, bpp), width, height


def to_gray(pixels, width, height, bpp):
    if bpp == 1:
        return pixels
    if bpp == 2:
        return pixels[0::2]
    r, g, b = pixels[0::bpp], pixels[1::bpp], pixels[2::bpp]
    return bytes((77 * r[i] + 150 * g[i] + 29 * b[i]) >> 8 for i in range(width * height))


def read_pnm(data):
    tokens = []
    at = 2
    while len(tokens) < 3:
        while at < len(data) and data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            while at < len(data) and data[at:at + 1] != b"\n":
                at += 1
            continue
        start = at
        while at < len(data) and not data[at:at + 1].isspace():
            at += 1
        if start == at:
            raise ValueError("truncated PNM header")
        tokens.append(int(data[start:at]))
    at += 1
    width, height, maxval = tokens
    if maxval != 255 or not (0 < width <= 16384 and 0 < height <= 16384):
        raise ValueError("only 8-bit PNM files are read")
    bpp = 3 if data[:2] == b"P6" else 1
    pixels = data[at:at + width * height * bpp]
    if len(pixels) != width * height * bpp:
        raise ValueError("PNM picture data too short")
    return to_gray(pixels, width, height, bpp), width, height


def read_image(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] in (b"P5", b"P6"):
        return read_pnm(data)
    return read_png(data)


def micros(clock):
    return time.clock_gettime_ns(clock) // 1000


def raw_mode(size):
    width, height = (int(v) for v in size.split("x"))
    frame = width * height
    src = sys.stdin.buffer
    out = sys.stdout
    # Frames are stamped by a reader thread the moment they arrive, so a slow search (a busy
    # machine) delays the output, not the times; at most MAX_WAITING frames wait unread.
    max_waiting = 500
    waiting = queue.Queue(max_waiting)
    sys.setswitchinterval(0.001)

    def reader():
        while True:
            data = src.read(frame)
            if len(data) < frame:
                waiting.put(None)
                return
            waiting.put((micros(time.CLOCK_REALTIME), micros(time.CLOCK_MONOTONIC), data))

    threading.Thread(target=reader, daemon=True).start()
    while True:
        item = waiting.get()
        if item is None:
            return 0
        real, mono, data = item
        best = {}
        for camera, number, _, _ in find_codes(data, width, height, 2):
            best[camera] = max(best.get(camera, -1), number)
        for camera, number in sorted(best.items()):
            out.write(f"{real} {mono} {camera} {number}\n")
        out.flush()


def main(argv):
    if len(argv) == 3 and argv[1] == "--raw":
        return raw_mode(argv[2])
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) >= 2 else 2
    status = 0
    for path in argv[1:]:
        try:
            gray, width, height = read_image(path)
        except (OSError, ValueError, zlib.error) as e:
            print(f"read-counter: {path}: {e}", file=sys.stderr)
            status = 1
            continue
        for camera, number, x, y in sorted(find_codes(gray, width, height)):
            print(f"{path} {camera} {number} {x} {y}")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
