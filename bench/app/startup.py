#!/usr/bin/python3
"""Start-up and peak memory of Kestrine against a minimal Qt Widgets window.

  startup.py BUILD_DIR [RUNS]

Starts a private Xvfb display, launches each program RUNS times (alternating,
so that drift hits both alike) under bench_map_watcher, which times from the
launch to the window's MapNotify and reads VmHWM 300 ms later, just before it
closes the program. Prints table rows: ROW|section|measure|value|goal|verdict.
"""

import os
import random
import statistics
import subprocess
import sys
import time


def row(*cells):
    print("ROW|" + "|".join(str(c) for c in cells), flush=True)


def main():
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 21
    watcher = os.path.join(build, "bench/app/bench_map_watcher")
    programs = {
        "Kestrine": (os.path.join(build, "bin/Kestrine"), "Kestrine Server"),
        "minimal Qt window": (os.path.join(build, "bench/app/bench_minimal_window"), "Minimal Qt Window"),
    }
    if not os.path.exists(programs["Kestrine"][0]):
        programs["Kestrine"] = (os.path.join(build, "src/app/Kestrine"), "Kestrine Server")
    for path in [watcher] + [p for p, _ in programs.values()]:
        if not os.access(path, os.X_OK):
            row("start-up", "not measured", f"{path} is not built", "", "")
            return 0

    display = f":{random.randint(600, 900)}"
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
    try:
        for _ in range(100):
            if subprocess.run(["xdpyinfo"], env=env, capture_output=True).returncode == 0:
                break
            time.sleep(0.1)
        results = {name: ([], []) for name in programs}
        for i in range(runs + 2):  # the first round warms the page cache and is not counted
            for name, (path, title) in programs.items():
                out = subprocess.run([watcher, title, "300", path], env=env, capture_output=True, text=True,
                                     timeout=60)
                if out.returncode != 0:
                    row("start-up", name, "failed: " + out.stderr.strip(), "", "")
                    return 1
                figures = dict(line.split() for line in out.stdout.split("\n") if line)
                if i >= 2:
                    results[name][0].append(float(figures["mapped_ms"]))
                    results[name][1].append(int(figures["vmhwm_kb"]))
    finally:
        xvfb.terminate()
        xvfb.wait(10)

    k_ms, k_kb = (statistics.median(v) for v in results["Kestrine"])
    m_ms, m_kb = (statistics.median(v) for v in results["minimal Qt window"])
    note = f"median of {runs}, launch to MapNotify on Xvfb"
    row("start-up", "minimal Qt window, launch to window mapped", f"{m_ms:.1f} ms", note, "")
    row("start-up", "Kestrine, launch to window mapped", f"{k_ms:.1f} ms", "", "")
    ratio = k_ms / m_ms
    row("start-up", "Kestrine / minimal", f"{ratio:.2f}x", "<= 1.15x", "met" if ratio <= 1.15 else "NOT met")
    row("memory", "minimal Qt window, peak RSS (VmHWM)", f"{m_kb / 1024:.1f} MB", "", "")
    row("memory", "Kestrine, peak RSS (VmHWM)", f"{k_kb / 1024:.1f} MB", "", "")
    ratio = k_kb / m_kb
    row("memory", "Kestrine / minimal", f"{ratio:.2f}x", "<= 1.2x", "met" if ratio <= 1.2 else "NOT met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
