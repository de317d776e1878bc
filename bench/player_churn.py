#!/usr/bin/env python3
"""Churns a playing lumviewer and judges what it is left holding.

usage: player_churn.py SOCKET PID OPENS SEEKS [--rss-growth PCT] SHOW...

Through the control socket: ten warm-up cycles (each show opened, played and
sought a little), then the resident size, open descriptors and threads of
/proc/PID are sampled (five times, the median of each, so that a worker that
comes and goes at the instant of one sample does not count); then OPENS
"open" requests cycling through the shows, SEEKS random "seek" requests
spread over them (a little play between some), and the same sampling after the
player has settled (the first show open, paused at its start, each time).
The resident size is also read after every open. Exit status 0 when
descriptors and threads are no more than at the start, no descriptor is left on the
shows closed, and the median resident size of the last quarter of the opens
exceeds that of the first quarter by at most 2 % (or PCT); 2 when not; 1 when the player could not be driven. CHURN_TRACE=1 in the
environment prints the /proc figures every 30 opens.
"""
import os
import random
import statistics
import sys
import time

sys.dont_write_bytecode = True  # no cache beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from endurance_report import connect, proc_figures  # noqa: E402

RSS_GROWTH = 0.02
SAMPLES = 5
# The allocator's arenas and the GL driver's compiled shader variants settle
# over the first tens of opens: the baseline is taken after them.
WARM_UP_CYCLES = 10


def settled_figures(pid):
    """Median resident bytes, descriptors and threads of a few samples."""
    rows = []
    for _ in range(SAMPLES):
        rows.append(proc_figures(pid))
        time.sleep(0.2)
    return tuple(int(statistics.median(r[i] for r in rows)) for i in range(3))


def closed_show_files(pid, closed):
    """Descriptors the player holds on shows it no longer plays."""
    held = 0
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            held += os.path.realpath(os.readlink(f"/proc/{pid}/fd/{fd}")) in closed
        except OSError:
            pass  # closed meanwhile
    return held


def wait_for(control, done, seconds, what):
    deadline = time.monotonic() + seconds
    while True:
        status = control.ask({"command": "status"})
        if done(status):
            return status
        if time.monotonic() > deadline:
            raise TimeoutError(f"waited {seconds} s for {what}; last status {status}")
        time.sleep(0.02)


def ask_ok(control, request):
    reply = control.ask(request)
    if not reply.get("ok"):
        raise RuntimeError(f"{request} answered {reply}")


def open_show(control, show):
    ask_ok(control, {"command": "open", "show": show})
    # The duration says the show's project is in force.
    return wait_for(control, lambda s: s.get("show") == show and s.get("duration", 0) > 0, 30,
                    f"{show} to open")


def settle(control, show):
    """The same state for every sample: the first show open, paused at its start."""
    open_show(control, show)
    ask_ok(control, {"command": "pause"})
    ask_ok(control, {"command": "seek", "position": 0})
    wait_for(control, lambda s: s.get("paused") and not s.get("active") and s.get("position") == 0,
             30, "the pause at 0")
    time.sleep(1.5)


def churn(control, shows, opens, seeks, rng, pid, trace=False):
    """The resident size after each open."""
    per_open = seeks // opens if opens else 0
    left = seeks - per_open * opens
    rss = []
    for i in range(opens):
        status = open_show(control, shows[i % len(shows)])
        rss.append(proc_figures(pid)[0])
        if trace and i % 30 == 0:
            print("trace", i, proc_figures(pid), flush=True)
        duration = status["duration"]
        n = per_open + (1 if i < left else 0)
        for k in range(n):
            ask_ok(control, {"command": "seek", "position": rng.uniform(0, duration)})
            if k % 5 == 4:  # now and then let the slides of the moment come
                time.sleep(0.01)
                control.ask({"command": "status"})
    return rss


def main(argv):
    if len(argv) < 6:
        print(__doc__, file=sys.stderr)
        return 1
    path, pid, opens, seeks, shows = argv[1], int(argv[2]), int(argv[3]), int(argv[4]), argv[5:]
    limit = RSS_GROWTH
    if shows[0] == "--rss-growth":
        limit, shows = float(shows[1]) / 100, shows[2:]
    control = connect(path)
    if control is None:
        print(f"churn: no control socket at {path}", file=sys.stderr)
        return 1
    rng = random.Random(34)
    try:
        started = time.monotonic()
        churn(control, shows, WARM_UP_CYCLES * len(shows), WARM_UP_CYCLES * 10 * len(shows), rng,
              pid)
        settle(control, shows[0])
        before = settled_figures(pid)
        rss = churn(control, shows, opens, seeks, rng, pid, os.environ.get("CHURN_TRACE") == "1")
        settle(control, shows[0])
        after = settled_figures(pid)
        stale = closed_show_files(pid, {os.path.realpath(s) for s in shows[1:]})
        elapsed = time.monotonic() - started
    except (OSError, ConnectionError, ValueError, TimeoutError, RuntimeError) as e:
        print(f"churn: the player could not be driven: {e}", file=sys.stderr)
        return 1
    # One state sampled twice varies by a few MB with what the allocator
    # holds at that instant: the size is judged by the medians of the first
    # and the last quarter of the opens.
    quarter = max(1, len(rss) // 4)
    first, last = statistics.median(rss[:quarter]), statistics.median(rss[-quarter:])
    growth = (last - first) / first if first else 0.0
    checks = [
        ("resident size", f"{int(first) >> 20} MB -> {int(last) >> 20} MB ({growth:+.1%})",
         f"<= +{limit:.0%}", growth <= limit),
        # Fewer is no leak: a worker of the show opened before the first
        # sample (a clip's decoder) may still have been going then.
        ("open descriptors", f"{before[1]} -> {after[1]}", "no more", after[1] <= before[1]),
        ("threads", f"{before[2]} -> {after[2]}", "no more", after[2] <= before[2]),
        ("closed shows' files", f"{stale} held", "none", stale == 0),
    ]
    print(f"churn: {opens} opens of {len(shows)} shows and {seeks} seeks in {elapsed:.0f} s")
    failed = False
    for name, value, target, ok in checks:
        failed |= not ok
        print(f"  {name:<20} {value:<28} target {target:<8} {'pass' if ok else 'FAIL'}")
    return 2 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
