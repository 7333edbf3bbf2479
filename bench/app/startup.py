#!/usr/bin/python3
"""Start-up, peak memory and the first press of Kestrine, against Qt floors.

  PYTHONPATH=tests/support startup.py BUILD_DIR [RUNS]

Start-up: starts a private Xvfb display and launches, RUNS times in turn (so
that drift and the other load of the machine hit all alike), Kestrine, Kestrine
built the other way (bench_kestrine_linked: Qt Network and GMime linked into
the program instead of opened with the mail module on the first press), the
reference window (the main window's twelve plain widgets with their texts,
built directly with Qt) and an empty Qt window, each under bench_map_watcher,
which times from the launch to the window's MapNotify and reads VmHWM 300 ms
later, just before it closes the program. Ratios are of medians; the spread is
the interquartile range of the per-round ratios.

First press: bench_first_press (built as Kestrine is, opening the mail module
on the first NewMail) pressed RUNS times in fresh processes against a local
aiosmtpd: the first press, then five later ones, click to the OK box. Then
what that first press cannot avoid, each in RUNS fresh processes that show a
window: opening Qt Network alone, GMime alone and the mail module (both and the
engine), and the machine's price for first touching a fresh page.

Prints table rows: ROW|section|measure|value|goal|verdict.
"""

import os
import statistics
import subprocess
import sys
import tempfile

from kestrine_driver import MAIN
from x11_session import XvfbSession

HERE = os.path.dirname(os.path.abspath(__file__))
SMTP_SERVER = os.path.join(HERE, "..", "..", "tests", "support", "smtp_server.py")


LINKED = "Kestrine with Qt Network and GMime linked in"


def row(*cells):
    print("ROW|" + "|".join(str(c) for c in cells), flush=True)


def quartiles(values):
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]


def verdict(met):
    return "met" if met else "NOT met"


def startup(build, runs):
    watcher = os.path.join(build, "bench/app/bench_map_watcher")
    floor = os.path.join(build, "bench/app/bench_minimal_window")
    kestrine = os.path.join(build, "bin/Kestrine")
    linked = os.path.join(build, "bench/app/bench_kestrine_linked")
    programs = {
        "Kestrine": ([kestrine], MAIN),
        LINKED: ([linked], MAIN),
        "reference window, twelve widgets with texts": ([floor, "--twelve"], "Reference Qt Window"),
        "empty Qt window": ([floor], "Minimal Qt Window"),
    }
    for path in [watcher, kestrine, linked, floor]:
        if not os.access(path, os.X_OK):
            row("start-up", "not measured", f"{path} is not built", "", "")
            return
    results = {name: ([], []) for name in programs}
    with XvfbSession(1024, 768) as session:
        for i in range(runs + 2):  # the first two rounds warm the page cache and are not counted
            for name, (command, title) in programs.items():
                out = subprocess.run([watcher, title, "300"] + command, env=session.env, capture_output=True,
                                     text=True, timeout=60)
                if out.returncode != 0:
                    row("start-up", name, "failed: " + out.stderr.strip(), "", "")
                    return
                figures = dict(line.split() for line in out.stdout.split("\n") if line)
                if i >= 2:
                    results[name][0].append(float(figures["mapped_ms"]))
                    results[name][1].append(int(figures["vmhwm_kb"]))

    reference = "reference window, twelve widgets with texts"
    note = f"median of {runs}, launch to MapNotify on Xvfb, alternating"
    for section, index, unit, goal in (("start-up", 0, "ms", 1.10), ("memory", 1, "MB", 1.05)):
        for name in programs:
            values = results[name][index]
            median = statistics.median(values)
            shown = f"{median:.1f} ms" if unit == "ms" else f"{median / 1024:.1f} MB"
            low, high = quartiles(values)
            spread = f"{low:.1f}-{high:.1f} ms" if unit == "ms" else f"{low / 1024:.1f}-{high / 1024:.1f} MB"
            what = "launch to window mapped" if unit == "ms" else "peak RSS (VmHWM)"
            row(section, f"{name}, {what}", f"{shown} (quartiles {spread})", note if section == "start-up" else "", "")
        r = results[reference][index]
        for name in ("Kestrine", LINKED):
            k = results[name][index]
            ratio = statistics.median(k) / statistics.median(r)
            low, high = quartiles([a / b for a, b in zip(k, r)])
            row(section, f"{name} / reference", f"{ratio:.3f}x (per-round quartiles {low:.2f}-{high:.2f})",
                f"<= {goal:.2f}x", verdict(ratio <= goal))
        empty = statistics.median(results["empty Qt window"][index])
        row(section, "Kestrine / empty window", f"{statistics.median(results['Kestrine'][index]) / empty:.2f}x", "",
            "")


def first_press(build, runs):
    bench = os.path.join(build, "bin/bench_first_press")
    if not os.access(bench, os.X_OK):
        row("first press", "not measured", f"{bench} is not built", "", "")
        return
    work = tempfile.mkdtemp(prefix="kestrine-first-press.")
    server = subprocess.Popen(["/usr/bin/python3", SMTP_SERVER, "--dir", work, "--discard"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    firsts, laters, differences = [], [], []
    try:
        port = server.stdout.readline().split()[1]
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        env.pop("DISPLAY", None)
        for i in range(runs + 1):  # the first run warms the page cache and is not counted
            out = subprocess.run([bench, "127.0.0.1", port, "postmaster@localhost", "5"], env=env,
                                 capture_output=True, text=True, timeout=120)
            if out.returncode != 0:
                row("first press", "not measured", "bench_first_press failed: " + out.stderr.strip()[-300:], "", "")
                return
            figures = {line.split()[0]: line.split()[1:] for line in out.stdout.split("\n") if line}
            if figures["loaded_before"] != ["0"] or figures["loaded_after"] != ["1"]:
                row("first press", "not measured", "the module was not opened by the first press", "", "")
                return
            if i == 0:
                continue
            first = float(figures["first_ms"][0])
            later = statistics.median(float(v) for v in figures["later_ms"])
            firsts.append(first)
            laters.append(later)
            differences.append(first - later)
    finally:
        server.terminate()
        server.wait(10)
        for name in os.listdir(work):
            os.unlink(os.path.join(work, name))
        os.rmdir(work)

    note = f"median of {runs} processes; Send Email clicked, timed to the Send Email OK box; aiosmtpd"
    for name, values in (("first press (opens the mail module)", firsts), ("a later press", laters)):
        low, high = quartiles(values)
        row("first press", name, f"{statistics.median(values):.1f} ms (quartiles {low:.1f}-{high:.1f})",
            note if values is firsts else "", "")
    difference = statistics.median(differences)
    low, high = quartiles(differences)
    row("first press", "first minus later", f"{difference:.1f} ms (quartiles {low:.1f}-{high:.1f})", "<= 10 ms",
        verdict(difference <= 10))


def library_open(build, runs):
    bench = os.path.join(build, "bench/app/bench_library_open")
    module = os.path.join(build, "lib/kestrine/kestrine-mail.so")
    if not os.access(bench, os.X_OK):
        row("first press", "not measured", f"{bench} is not built", "", "")
        return
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    env.pop("DISPLAY", None)
    libraries = {"libQt6Network.so.6": "Qt Network and its libraries", "libgmime-3.0.so.0": "GMime and its libraries",
                 module: "the mail module: both, and the engine"}
    opened = {library: [] for library in libraries}
    faults = []
    for i in range(runs + 1):  # the first round warms the page cache and is not counted
        for library in libraries:
            out = subprocess.run([bench, library], env=env, capture_output=True, text=True, timeout=60)
            if out.returncode != 0:
                row("first press", "not measured", "bench_library_open failed: " + out.stderr.strip()[-300:], "", "")
                return
            figures = {line.split()[0]: line.split()[1:] for line in out.stdout.split("\n") if line}
            if i > 0:
                opened[library].append(float(figures["open"][1]))
                faults.append(float(figures["page_fault_us"][0]))
    note = f"median of {runs} fresh processes showing a window; dlopen alone"
    for library, name in libraries.items():
        low, high = quartiles(opened[library])
        row("first press", f"opening {name}", f"{statistics.median(opened[library]):.1f} ms "
            f"(quartiles {low:.1f}-{high:.1f})", note if library == "libQt6Network.so.6" else "", "")
    low, high = quartiles(faults)
    row("first press", "first touch of a fresh page", f"{statistics.median(faults):.2f} us (quartiles "
        f"{low:.2f}-{high:.2f})", "the machine's price for memory", "")


def main():
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 21
    startup(build, runs)
    first_press(build, runs)
    library_open(build, runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
