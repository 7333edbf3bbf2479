"""Kestrine and its mail module, seen from outside: which shared objects a
running program has mapped, and a press of "Send Email" against a test SMTP
server that listens where the program submits, localhost port 25.

Port 25 belongs to the machine's own mail service, so this runs in a private
network namespace: private_network() moves the calling script into one (as
root), where nothing can leave loopback. Every wait is bounded."""
import contextlib
import os
import re
import runpy
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "windows", "about"))
from x11_session import XvfbSession  # noqa: E402,F401  (re-exported for the callers)

SMTP_SERVER = os.path.join(HERE, "..", "support", "smtp_server.py")
MAIL_LIBRARIES = ("libQt6Network.so", "libgmime-3.0.so", "kestrine-mail.so")
RECIPIENT = "postmaster@module.test"
# The mail stack's program, read as a module from where it lives.
_STACK = runpy.run_path(os.path.join(HERE, "..", "..", "scripts", "lib", "mail_stack.py"))
_network = contextlib.ExitStack()


def stop_process(process):
    """Terminates `process`, killing it when it does not end within 10 s."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def private_network():
    """Moves this process into a private network namespace with loopback up,
    for the rest of its life: True, or False where that is not possible (not
    root, no namespaces)."""
    try:
        _network.enter_context(_STACK["private_network"]())
        return True
    except (OSError, subprocess.SubprocessError):
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


class RunningKestrine:
    """One run of a Kestrine binary on `session`'s display, its main window shown."""

    def __init__(self, session, program):
        self.session = session
        self.program = program

    def __enter__(self):
        self._runtime = tempfile.mkdtemp(prefix="kestrine-runtime.")
        env = dict(self.session.env, XDG_RUNTIME_DIR=self._runtime)
        for name in ("QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        self.process = subprocess.Popen([self.program], env=env, cwd="/", stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        try:
            self.window = self.session.wait_for_window("Kestrine Server")
        except AssertionError:
            self.__exit__()
            raise
        return self

    def __exit__(self, *_):
        stop_process(self.process)
        shutil.rmtree(self._runtime, ignore_errors=True)

    def running(self):
        return self.process.poll() is None

    def _xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.session.env, capture_output=True, timeout=20, check=True)

    def click_twips(self, x, y):
        self.session.click(self.window, x // 15, y // 15)

    def set_recipient(self, text):
        self.click_twips(3000, 740)  # inside txtTo
        self._xdotool("key", "ctrl+a")
        self._xdotool("type", "--delay", "5", text)

    def press_send_email(self):
        """Presses "Send Email" and returns the lines of the box that answers it."""
        self.click_twips(840, 4860)
        box = self.session.wait_for_window("Kestrine", timeout=30)
        self._xdotool("windowfocus", "--sync", box)
        copied = ""
        deadline = time.monotonic() + 5
        while not copied and time.monotonic() < deadline:
            subprocess.run(["xclip", "-selection", "clipboard"], input="", text=True, env=self.session.env,
                           timeout=5)
            self._xdotool("key", "ctrl+c")
            time.sleep(0.2)
            copied = subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=self.session.env,
                                    capture_output=True, text=True, timeout=5).stdout
        self._xdotool("key", "Return")
        self.session.wait_until_gone("Kestrine")
        # The copy frames title, prompt and buttons with rules of dashes.
        parts = re.split(r"^-+$\n?", copied, flags=re.M)
        parts = [part for part in parts if part.strip()]
        if len(parts) < 2:
            raise AssertionError(f"the box could not be read: {copied!r}")
        return parts[1].rstrip("\n").split("\n")
