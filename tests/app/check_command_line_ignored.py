#!/usr/bin/python3
"""The program reads no command line: Qt's own options must not take effect.
Asked for a display platform that cannot start here ("-platform xcb" with no
X server), Kestrine must still come up on the offscreen platform and keep
running until it is stopped.

Usage: check_command_line_ignored.py KESTRINE_BINARY"""
import sys
import time

from kestrine_driver import Kestrine, OffscreenSession

with Kestrine(OffscreenSession(), sys.argv[1], ["-platform", "xcb", "-style", "windows", "-reverse", "--anything"],
              wait=False) as kestrine:
    time.sleep(3)
    if not kestrine.running():
        sys.exit(f"Kestrine exited with {kestrine.process.returncode} instead of running; it read its arguments:\n"
                 f"{kestrine.output()}")
print("Kestrine ignored its arguments and kept running")
