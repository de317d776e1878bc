#!/usr/bin/env python3
"""Samples a playing lumviewer and judges the run.

usage: endurance_report.py sample SOCKET PID SECONDS CSV [--every S]
       endurance_report.py judge CSV PNG [--timing report|check] [--rss-growth PCT]

sample: every S seconds (default 5) asks the control socket for "status" and
reads /proc/PID for the resident size, open descriptors and threads; one CSV
row per sample. Stops after SECONDS or when the player ends.

judge: draws frame time, RSS and A/V offset over time into PNG and prints a
summary with pass/fail against the targets. Exit status 0 when every checked
target holds, 2 when one is missed, 1 when the samples cannot be judged.
With --timing report the timing targets (slide changes, A/V, late video) are
printed but not checked: a short run on a loaded machine measures the
machine, not the player. --rss-growth sets how much the peak resident size
after the first pass may exceed the first pass's (default 2 %); "report"
prints it unjudged: within a minute the decoded-picture cache is still
filling (a 3-minute run settles in its third pass).
"""
import csv
import json
import os
import socket
import statistics
import struct
import sys
import time
import zlib

FIELDS = ["t", "position", "duration", "slide", "framesDrawn", "fps", "maxFrameIntervalMs",
          "lateVideoFrames", "videoFramesShown", "audioOffsetMs", "textureBytes", "pictureBytes",
          "rssBytes", "procRss", "fds", "threads"]

# Targets of the endurance run.
SLIDE_CHANGE_RATIO = 1.5
RSS_GROWTH = 0.02
RSS_PEAK = 400 << 20
AV_OFFSET_MS = 20
LATE_VIDEO_SHARE = 0.01


class Control:
    """One connection to the player's control socket, JSON lines."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(10)
        self.sock.connect(path)
        self.buffer = b""

    def ask(self, request):
        self.sock.sendall(json.dumps(request).encode() + b"\n")
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("the player closed the control socket")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)


def proc_figures(pid):
    """Resident bytes, open descriptors and threads of a running process."""
    rss = threads = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1]) * 1024
            elif line.startswith("Threads:"):
                threads = int(line.split()[1])
    return rss, len(os.listdir(f"/proc/{pid}/fd")), threads


def connect(path, seconds=15):
    """The player's control socket once it has made it; None after seconds."""
    for _ in range(int(seconds * 10)):
        try:
            return Control(path)
        except OSError:
            time.sleep(0.1)
    return None


def sample(path, pid, seconds, out, every):
    deadline = time.monotonic() + seconds
    start = time.monotonic()
    control = connect(path, 10)
    if control is None:
        print(f"endurance: no control socket at {path}", file=sys.stderr)
        return 1
    with open(out, "w", newline="") as f:
        writer = csv.DictWriter(f, FIELDS)
        writer.writeheader()
        while time.monotonic() < deadline:
            try:
                status = control.ask({"command": "status"})
                rss, fds, threads = proc_figures(pid)
            except (OSError, ConnectionError, ValueError) as e:
                print(f"endurance: the player stopped answering: {e}", file=sys.stderr)
                return 1
            row = {k: status.get(k, "") for k in FIELDS}
            row.update(t=round(time.monotonic() - start, 2), procRss=rss, fds=fds,
                       threads=threads)
            writer.writerow(row)
            f.flush()
            if status.get("ended"):
                break
            time.sleep(max(0.0, every - (time.monotonic() - start) % every))
    return 0


def number(row, key):
    v = row.get(key, "")
    return float(v) if v not in ("", None) else None


class Judge:
    def __init__(self, rows, check_timing, rss_growth):
        self.rows = rows
        self.check_timing = check_timing
        self.rss_growth = rss_growth
        self.failed = False

    def line(self, name, value, target, ok, timing=False):
        checked = self.check_timing or not timing
        verdict = ("pass" if ok else "FAIL") if checked else ("ok" if ok else "over (not checked)")
        if checked and not ok:
            self.failed = True
        print(f"  {name:<34} {value:<22} target {target:<18} {verdict}")

    def first_pass_end(self):
        """Index of the first sample after the show went round once."""
        # A repeating show's clock runs on past its duration; another may start over.
        for i in range(1, len(self.rows)):
            a, b = number(self.rows[i - 1], "position"), number(self.rows[i], "position")
            duration = number(self.rows[i], "duration") or float("inf")
            if a is not None and b is not None and (b < a or b >= duration):
                return i
        return None

    def passes(self):
        """The pass through the show of each sample (a repeating show's clock
        runs on past its duration); empty when a sample lacks one."""
        out = []
        for r in self.rows:
            position, duration = number(r, "position"), number(r, "duration")
            if position is None or not duration:
                return []
            out.append(int(position // duration))
        return out

    def slide_changes(self):
        intervals = [1000.0 / f for f in (number(r, "fps") for r in self.rows) if f and f > 0]
        if not intervals:
            return self.line("slide changes", "no frame rate", "", False, timing=True)
        median = statistics.median(intervals)
        # A sample whose slide differs from the one before holds a change; its
        # longest interval spans the whole 5 s around it (stricter than 500 ms).
        worst = 0.0
        for a, b in zip(self.rows, self.rows[1:]):
            if a["slide"] != b["slide"]:
                worst = max(worst, number(b, "maxFrameIntervalMs") or 0)
        self.line("longest interval at slide changes", f"{worst:.1f} ms",
                  f"<= {SLIDE_CHANGE_RATIO} x {median:.1f} ms",
                  worst <= SLIDE_CHANGE_RATIO * median, timing=True)

    def memory(self):
        rss = [number(r, "procRss") for r in self.rows]
        peak = max(v for v in rss if v is not None)
        self.line("peak RSS", f"{peak / 2**20:.0f} MB", f"<= {RSS_PEAK >> 20} MB", peak <= RSS_PEAK)
        i = self.first_pass_end()
        if i is None or i >= len(self.rows) - 1:
            return self.line("RSS after the first pass", "the show did not go round", "", False)
        # Peaks, not single samples: where in its cycle a sample falls moves
        # RSS by more than a leak would in a minute. The first pass warms up
        # (each transition's shader variants, decoders, allocator arenas), so
        # when the run holds two whole passes after it, the second pass is
        # the base; else the first.
        passes = self.passes()
        if passes and max(passes) >= 3:
            name = "RSS peak after the second pass"
            base = max(v for v, n in zip(rss, passes) if n == 1)
            later = max(v for v, n in zip(rss, passes) if n >= 2)
        else:
            name = "RSS peak after the first pass"
            base, later = max(rss[:i]), max(rss[i:])
        growth = (later - base) / base
        if self.rss_growth is None:
            print(f"  {name:<34} {growth * 100:+.1f} %   (not judged)")
        else:
            self.line(name, f"{growth * 100:+.1f} % ({base / 2**20:.0f} -> {later / 2**20:.0f} MB)",
                      f"<= {self.rss_growth * 100:.0f} %", growth <= self.rss_growth)
        for key in ("fds", "threads"):
            # Clips open decoders and workers come and go: flat is the usual
            # count after the first pass no higher than the most it used.
            a = max(number(r, key) for r in self.rows[:i])
            b = statistics.median(number(r, key) for r in self.rows[i:])
            self.line(f"{key} after the first pass", f"most {a:.0f}, then {b:.0f}", "flat", b <= a)

    def av(self):
        offsets = [abs(v) for v in (number(r, "audioOffsetMs") for r in self.rows) if v is not None]
        worst = max(offsets) if offsets else float("nan")
        self.line("largest |audioOffsetMs|", f"{worst:.1f} ms", f"<= {AV_OFFSET_MS} ms",
                  bool(offsets) and worst <= AV_OFFSET_MS, timing=True)
        late = number(self.rows[-1], "lateVideoFrames") or 0
        shown = number(self.rows[-1], "videoFramesShown") or 0
        share = late / shown if shown else 0.0
        self.line("late video frames", f"{late:.0f} of {shown:.0f}",
                  f"<= {LATE_VIDEO_SHARE * 100:.0f} %", share <= LATE_VIDEO_SHARE, timing=True)


def png(path, width, height, pixels):
    raw = b"".join(b"\0" + bytes(pixels[y * width * 3:(y + 1) * width * 3]) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


# A 3 x 5 font for the chart's labels.
GLYPHS = {
    "0": "111101101101111", "1": "010110010010111", "2": "111001111100111",
    "3": "111001111001111", "4": "101101111001001", "5": "111100111001111",
    "6": "111100111101111", "7": "111001001001001", "8": "111101111101111",
    "9": "111101111001111", ".": "000000000000010", "-": "000000111000000",
    " ": "000000000000000", "/": "001001010100100", ":": "000010000010000",
    "A": "010101111101101", "B": "110101110101110", "E": "111100110100111",
    "F": "111100110100100", "M": "101111111101101", "R": "110101110101101",
    "S": "111100111001111", "T": "111010010010010", "V": "101101101101010",
    "X": "101101010101101", "O": "111101101101111", "N": "110101101101101",
}


def label(put, x, y, text, colour, scale=2):
    for ch in text.upper():
        bits = GLYPHS.get(ch, GLYPHS[" "])
        for i, bit in enumerate(bits):
            if bit == "1":
                for dx in range(scale):
                    for dy in range(scale):
                        put(x + (i % 3) * scale + dx, y + (i // 3) * scale + dy, colour)
        x += 4 * scale


def chart(rows, path):
    """Three bands over time: frame time (ms), RSS (MB), A/V offset (ms)."""
    width, band, gap = 900, 150, 20
    series = [("maxFrameIntervalMs", 1, (200, 40, 40), "FRAME MS"),
              ("procRss", 2**20, (40, 90, 200), "RSS MB"),
              ("audioOffsetMs", 1, (40, 150, 60), "A/V MS")]
    height = len(series) * (band + gap) + gap
    pixels = bytearray([255]) * (width * height * 3)

    def put(x, y, colour):
        if 0 <= x < width and 0 <= y < height:
            pixels[(y * width + x) * 3:(y * width + x) * 3 + 3] = bytes(colour)

    times = [number(r, "t") or 0 for r in rows]
    span = max(times[-1], 1e-9)
    for n, (key, scale, colour, name) in enumerate(series):
        top = gap + n * (band + gap)
        for x in range(width):
            put(x, top + band, (160, 160, 160))
        values = [(t, number(r, key)) for t, r in zip(times, rows)]
        values = [(t, v / scale) for t, v in values if v is not None]
        if not values:
            label(put, 6, top + 4, f"{name} NONE", colour)
            continue
        lo, hi = min(0.0, min(v for _, v in values)), max(v for _, v in values)
        hi = hi if hi > lo else lo + 1
        label(put, 6, top + 4, f"{name} MAX {hi:.1f}", colour)
        label(put, width - 120, top + band + 4, f"T {span:.0f} S", (90, 90, 90))
        last = None
        for t, v in values:
            point = (int(t / span * (width - 1)), top + band - int((v - lo) / (hi - lo) * band))
            if last:  # a straight line, as many steps as the longer side
                steps = max(abs(point[0] - last[0]), abs(point[1] - last[1]), 1)
                for s in range(steps + 1):
                    put(last[0] + (point[0] - last[0]) * s // steps,
                        last[1] + (point[1] - last[1]) * s // steps, colour)
            last = point
    png(path, width, height, pixels)


def judge(csv_path, png_path, check_timing, rss_growth):
    with open(csv_path, newline="") as f:
        rows = list(csv.DictReader(f))
    if len(rows) < 3:
        print(f"endurance: only {len(rows)} sample(s) in {csv_path}", file=sys.stderr)
        return 1
    chart(rows, png_path)
    print(f"endurance: {len(rows)} samples over {float(rows[-1]['t']):.0f} s; chart {png_path}")
    j = Judge(rows, check_timing, rss_growth)
    j.slide_changes()
    j.memory()
    j.av()
    print("endurance: " + ("a target was missed" if j.failed else "every checked target holds"))
    return 2 if j.failed else 0


def main(argv):
    if len(argv) >= 6 and argv[1] == "sample":
        every = float(argv[7]) if len(argv) >= 8 and argv[6] == "--every" else 5.0
        return sample(argv[2], int(argv[3]), float(argv[4]), argv[5], every)
    if len(argv) >= 4 and argv[1] == "judge":
        options = dict(zip(argv[4::2], argv[5::2]))
        timing = options.get("--timing", "check") != "report"
        growth = options.get("--rss-growth", str(RSS_GROWTH * 100))
        growth = None if growth == "report" else float(growth) / 100
        return judge(argv[2], argv[3], timing, growth)
    print(__doc__, file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
