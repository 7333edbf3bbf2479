#!/usr/bin/python3
"""Start-up and peak memory of Kestrine against a minimal Qt Widgets window.

  startup.py BUILD_DIR [RUNS]

Starts a private Xvfb display, launches each program RUNS times (in turn,
so that drift hits all alike) under bench_map_watcher, which times from the
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
    minimal = os.path.join(build, "bench/app/bench_minimal_window")
    kestrine = os.path.join(build, "bin/Kestrine")
    if not os.path.exists(kestrine):
        kestrine = os.path.join(build, "src/app/Kestrine")
    # The floors between the minimal window and Kestrine: text on the window
    # (fonts), then the mail libraries Kestrine links, preloaded.
    linked = subprocess.run(["ldd", kestrine], capture_output=True, text=True).stdout.split("\n")
    mail_libraries = " ".join(line.split("=>")[1].split()[0] for line in linked
                              if line.strip().startswith(("libcurl.so", "libgmime-3.0.so")))
    programs = {
        "Kestrine": ([kestrine], "Kestrine Server", {}),
        "minimal Qt window": ([minimal], "Minimal Qt Window", {}),
        "minimal window with one label": ([minimal, "--label"], "Minimal Qt Window", {}),
        "the same with libcurl and GMime loaded": ([minimal, "--label"], "Minimal Qt Window",
                                                   {"LD_PRELOAD": mail_libraries}),
    }
    for path in [watcher, kestrine, minimal]:
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
            for name, (command, title, extra) in programs.items():
                out = subprocess.run([watcher, title, "300"] + command, env=dict(env, **extra), capture_output=True,
                                     text=True, timeout=60)
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

    medians = {name: tuple(statistics.median(v) for v in figures) for name, figures in results.items()}
    k_ms, k_kb = medians["Kestrine"]
    m_ms, m_kb = medians["minimal Qt window"]
    note = f"median of {runs}, launch to MapNotify on Xvfb"
    for name in programs:
        row("start-up", f"{name}, launch to window mapped", f"{medians[name][0]:.1f} ms",
            note if name == "minimal Qt window" else "", "")
    ratio = k_ms / m_ms
    row("start-up", "Kestrine / minimal", f"{ratio:.2f}x", "<= 1.15x", "met" if ratio <= 1.15 else "NOT met")
    for name in programs:
        row("memory", f"{name}, peak RSS (VmHWM)", f"{medians[name][1] / 1024:.1f} MB", "", "")
    ratio = k_kb / m_kb
    row("memory", "Kestrine / minimal", f"{ratio:.2f}x", "<= 1.2x", "met" if ratio <= 1.2 else "NOT met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
