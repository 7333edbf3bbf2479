"""Kestrine and its mail module, seen from outside: which shared objects a
running program has mapped, and a test SMTP server that listens where the
program submits, localhost port 25.

Port 25 belongs to the machine's own mail service, so this runs in a private
network namespace: private_network() moves the calling script into one (as
root), where nothing can leave loopback. Every wait is bounded."""
import ctypes
import os
import re
import shutil
import subprocess
import sys
import tempfile

from kestrine_driver import stop_process

HERE = os.path.dirname(os.path.abspath(__file__))
SMTP_SERVER = os.path.join(HERE, "..", "support", "smtp_server.py")
MAIL_LIBRARIES = ("libQt6Network.so", "libgmime-3.0.so", "kestrine-mail.so")
RECIPIENT = "postmaster@module.test"
CLONE_NEWNET = 0x40000000


def private_network():
    """Moves this process into a private network namespace with loopback up,
    for the rest of its life: True, or False where that is not possible (not
    root, no namespaces)."""
    libc = ctypes.CDLL(None, use_errno=True)
    with open("/proc/self/ns/net") as home:
        if libc.unshare(CLONE_NEWNET) != 0:
            return False
        try:
            subprocess.run(["ip", "link", "set", "lo", "up"], timeout=10, check=True)
            return True
        except (OSError, subprocess.SubprocessError):
            libc.setns(home.fileno(), CLONE_NEWNET)  # back where it was
            return False


def linked_mail_libraries(program):
    """The mail libraries the program file itself names as needed (readelf -d)."""
    # readelf speaks the user's language; its field names are matched in English.
    dynamic = subprocess.run(["readelf", "-d", program], capture_output=True, text=True, check=True,
                             timeout=30, env=dict(os.environ, LC_ALL="C")).stdout
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)
    return [name for name in needed if name.startswith(("libcurl", "libQt6Network", "libgmime"))]


def mapped_mail_libraries(pid):
    """Which of Qt Network, GMime and the mail module process `pid` has loaded."""
    with open(f"/proc/{pid}/maps") as maps:
        paths = {line.split()[-1] for line in maps if "/" in line}
    return sorted({name for name in MAIL_LIBRARIES for path in paths if os.path.basename(path).startswith(name)})


class MailServer:
    """The aiosmtpd test server on localhost port 25, saving what it accepts."""

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="kestrine-module.")
        self._process = subprocess.Popen(
            ["/usr/bin/python3", SMTP_SERVER, "--host", "localhost", "--port", "25", "--dir", self.dir],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self._process.stdout.readline()  # "PORT 25", or nothing when it failed
        if not line.startswith("PORT"):
            self.__exit__()
            raise RuntimeError("the test SMTP server did not start on port 25")
        return self

    def __exit__(self, *_):
        stop_process(self._process)
        shutil.rmtree(self.dir, ignore_errors=True)

    def messages(self):
        return sorted(name for name in os.listdir(self.dir) if name.endswith(".eml"))

    def connections(self):
        path = os.path.join(self.dir, "connections.log")
        return sum(1 for _ in open(path)) if os.path.exists(path) else 0
