#!/usr/bin/python3
"""Press to answer, endurance and the body sweep, against running SMTP servers.

  press.py BUILD_DIR RUNS LABEL=HOST:PORT:RECIPIENT [LABEL=HOST:PORT:RECIPIENT ...]
           [--endurance N] [--asan-build DIR] [--sweep]

For each server: Kestrine's press of "Send Email" to its "Send Email OK" box
(measured inside the process, bench_press, with the window's own click), next to
the whole-process time of curl and swaks submitting the same message, and curl's
own time_total: the bare SMTP dialogue. Endurance and the sweep use the first
server. Prints table rows: ROW|section|measure|value|goal|verdict.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SENDER = "kestrine@brimvale.example"


def row(*cells):
    print("ROW|" + "|".join(str(c) for c in cells), flush=True)


def timed(command):
    started = time.perf_counter()
    out = subprocess.run(command, capture_output=True, text=True, timeout=60)
    elapsed = (time.perf_counter() - started) * 1000
    if out.returncode != 0:
        raise RuntimeError(f"{command[0]} failed: {out.stderr.strip() or out.stdout.strip()}")
    return elapsed, out.stdout


def press(build, runs, label, host, port, recipient):
    bench = os.path.join(build, "bench/press/bench_press")
    message = tempfile.NamedTemporaryFile(suffix=".eml", delete=False).name
    subprocess.run([bench, "message", message, recipient], check=True, timeout=60,
                   env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    url_host = f"[{host}]" if ":" in host else host
    curl = ["curl", "-sS", "-o", "/dev/null", "-w", "%{time_total}", "--url", f"smtp://{url_host}:{port}/bench",
            "--mail-from", SENDER, "--mail-rcpt", recipient, "-T", message]
    swaks = ["swaks", "--silent", "2", "--server", host, "--port", str(port), "--from", SENDER, "--to", recipient,
             "--data", "@" + message]
    curl_process, curl_dialogue, swaks_process = [], [], []
    try:
        for _ in range(3):  # warm-up
            timed(curl)
            if shutil.which("swaks"):
                timed(swaks)
        for _ in range(runs):
            elapsed, out = timed(curl)
            curl_process.append(elapsed)
            curl_dialogue.append(float(out) * 1000)
            if shutil.which("swaks"):
                swaks_process.append(timed(swaks)[0])
        out = subprocess.run([bench, "press", host, str(port), recipient, str(runs)], capture_output=True,
                             text=True, timeout=600, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        if out.returncode != 0:
            raise RuntimeError("bench_press failed: " + out.stderr.strip())
        kestrine = [float(v) for v in out.stdout.split("press_ms", 1)[1].split()]
    except RuntimeError as failure:
        row("press to answer", label, f"not measured: {failure}", "", "")
        return
    finally:
        os.unlink(message)

    bare = statistics.median(curl_dialogue)
    k = statistics.median(kestrine)
    section = f"press to answer, {label}"
    row(section, "bare SMTP dialogue (curl time_total)", f"{bare:.2f} ms", f"median of {runs}", "")
    row(section, "curl, whole process", f"{statistics.median(curl_process):.2f} ms", "", "")
    if swaks_process:
        row(section, "swaks, whole process", f"{statistics.median(swaks_process):.2f} ms", "", "")
    else:
        row(section, "swaks, whole process", "not measured: swaks is not installed", "", "")
    goal = 1.2 * bare + 2
    row(section, "Kestrine, press to Send Email OK (in process)", f"{k:.2f} ms", f"<= {goal:.2f} ms (1.2x + 2 ms)",
        "met" if k <= goal else "NOT met")


def endurance(build, asan_build, count, host, port, recipient):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    bench = os.path.join(build, "bench/press/bench_press")
    out = subprocess.run([bench, "endurance", host, str(port), recipient, str(count)], capture_output=True,
                         text=True, timeout=1800, env=env)
    if out.returncode != 0:
        row("endurance", f"{count} submissions", "failed: " + out.stderr.strip()[-300:], "", "")
        return
    figures = dict(line.split() for line in out.stdout.split("\n") if line)
    growth = (int(figures["rss_after_kb"]) - int(figures["rss_before_kb"])) / 1024
    row("endurance", f"{count} submissions through SendEmail, one process",
        f"{figures['endurance_seconds']} s", "", "")
    row("endurance", "resident memory growth (after 50 warm-up)", f"{growth:.2f} MB", "<= 1 MB",
        "met" if growth <= 1 else "NOT met")
    bench = os.path.join(asan_build or "", "bench/press/bench_press")
    if not asan_build or not os.access(bench, os.X_OK):
        row("endurance", "leaks (LeakSanitizer)", "not measured: build the asan preset", "none", "")
        return
    supp = os.path.join(os.path.dirname(__file__), "../../tests/lsan.supp")
    env.update(ASAN_OPTIONS="detect_leaks=1:halt_on_error=1", LSAN_OPTIONS=f"suppressions={supp}:print_suppressions=0")
    out = subprocess.run([bench, "endurance", host, str(port), recipient, str(count)], capture_output=True,
                         text=True, timeout=3600, env=env)
    leaked = "LeakSanitizer" in out.stderr
    verdict = "met" if out.returncode == 0 and not leaked else "NOT met"
    what = "none reported" if verdict == "met" else ("leaks reported" if leaked else "run failed")
    row("endurance", f"leaks over {count} submissions (ASan+LSan build)", what, "none", verdict)
    if verdict != "met":
        sys.stderr.write(out.stderr[-4000:])


def sweep(build, host, port, recipient):
    bench = os.path.join(build, "bench/press/bench_press")
    out = subprocess.run([bench, "sweep", host, str(port), recipient], capture_output=True, text=True, timeout=1800,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    if out.returncode != 0:
        row("body sweep", "failed", out.stderr.strip()[-300:], "", "")
        return
    points = []
    for line in out.stdout.split("\n"):
        parts = line.split()
        if parts and parts[0] == "sweep":
            size, set_ms, press_ms, peak_kb = int(parts[1]), float(parts[2]), float(parts[3]), int(parts[4])
            points.append((size, set_ms, press_ms, peak_kb))
            row("body sweep", f"{size // 1024} kB body: set in field, press to OK, peak memory added",
                f"{set_ms:.1f} ms, {press_ms:.1f} ms, {peak_kb / 1024:.1f} MB", "", "")
        elif parts and parts[0] in ("paste_10mb_ms", "key_after_10mb_ms"):
            points.append((parts[0], float(parts[1])))
    sized = [p for p in points if isinstance(p[0], int)]
    (s1, _, p1, m1), (s10, _, p10, m10) = sized[-2], sized[-1]
    factor = s10 / s1
    # Linear or better: tenfold the size costs at most 1.5 times tenfold.
    row("body sweep", "press to OK, 10 MB / 1 MB", f"{p10 / p1:.1f}x", f"<= {1.5 * factor:.0f}x (linear)",
        "met" if p10 / p1 <= 1.5 * factor else "NOT met")
    row("body sweep", "peak memory added, 10 MB / 1 MB", f"{m10 / max(m1, 1):.1f}x", f"<= {1.5 * factor:.0f}x (linear)",
        "met" if m10 / max(m1, 1) <= 1.5 * factor else "NOT met")
    extra = dict(p for p in points if isinstance(p[0], str))
    row("body sweep", "paste 10 MB into the message field", f"{extra['paste_10mb_ms']:.0f} ms", "<= 2000 ms",
        "met" if extra["paste_10mb_ms"] <= 2000 else "NOT met")
    row("body sweep", "a key typed after it (worst of 5)", f"{extra['key_after_10mb_ms']:.1f} ms", "<= 100 ms",
        "met" if extra["key_after_10mb_ms"] <= 100 else "NOT met")


def main():
    args = sys.argv[1:]
    build, runs = os.path.abspath(args[0]), int(args[1])
    servers, count, asan_build, do_sweep = [], 0, None, False
    i = 2
    while i < len(args):
        if args[i] == "--endurance":
            count, i = int(args[i + 1]), i + 2
        elif args[i] == "--asan-build":
            asan_build, i = os.path.abspath(args[i + 1]), i + 2
        elif args[i] == "--sweep":
            do_sweep, i = True, i + 1
        else:
            label, target = args[i].split("=", 1)
            host, port, recipient = target.rsplit(":", 2)
            servers.append((label, host, int(port), recipient))
            i += 1
    for label, host, port, recipient in servers:
        press(build, runs, label, host, port, recipient)
    if count:
        endurance(build, asan_build, count, *servers[0][1:])
    if do_sweep:
        sweep(build, *servers[0][1:])
    return 0


if __name__ == "__main__":
    sys.exit(main())
