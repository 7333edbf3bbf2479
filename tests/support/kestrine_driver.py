#!/usr/bin/python3
"""The real Kestrine driven from outside, as a user drives it: started on a
display (X11 under Xvfb, with or without a window manager; Wayland under a
headless weston; offscreen), its windows waited for by title, its controls
found by their rectangles in the window tables of src/windows, pressed, its
message boxes read as Ctrl+C copies them, and its windows closed. Every wait
is bounded.

As a command, for the shell tests, `kestrine_driver.py run PROGRAM` becomes
PROGRAM, started as an X11 desktop starts it (so that $! is its id), and
`kestrine_driver.py METHOD ARGUMENT...` calls a method of Kestrine on the
program showing its main window on DISPLAY and prints what it returns, as in
`fill txtTo TEXT`, `click cmdSendEmail`, `key End`, `box`, `close-box n`,
`no-box 2`, `focused-text`, `wait TITLE`, `close TITLE`; `kestrine_driver.py
title main|about|box` prints a window's title, for the scripts that wait for
one."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from x11_session import X11Display, XvfbSession, stop_process, wait_for  # noqa: F401  (for the callers)

# The titles the scripts, benchmarks and tests wait for and compare against.
MAIN = "Kestrine Server"
ABOUT = "About Kestrine"
BOX = "Kestrine"  # the executable's name
TITLES = {"main": MAIN, "about": ABOUT, "box": BOX}
TWIPS_PER_PIXEL = 15
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src")
WINDOW_TABLES = ("windows/main/frmKestrine.cpp", "windows/about/frmAbout.cpp")
# Scaling from the caller's environment would move the controls off their twips.
NOT_INHERITED = ("QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING")


def middle(name):
    """The middle of a control, in the window's pixels, from its rectangle in
    twips in the window table that builds it: a test clicks where the program
    puts it."""
    row = re.compile(r'\{"' + re.escape(name) + r'",\s*Kind::\w+,\s*\{\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)\s*\}')
    for table in WINDOW_TABLES:
        if found := row.search(open(os.path.join(SOURCE, table)).read()):
            left, top, width, height = (int(value) for value in found.groups())
            return (left + width // 2) // TWIPS_PER_PIXEL, (top + height // 2) // TWIPS_PER_PIXEL
    raise LookupError(f"no control {name} in the window tables {WINDOW_TABLES}")


class OffscreenSession:
    """No display: Qt's offscreen platform, where no window can be seen or found."""

    def __init__(self):
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env["QT_QPA_PLATFORM"] = "offscreen"


class WestonSession:
    """A headless weston compositor with a session bus, as a Wayland desktop
    has. What the program asked the compositor to show is read from its own
    Wayland protocol log (WAYLAND_DEBUG): a window counts as shown once a
    buffer has been attached to its surface."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="kestrine-wayland-")
        os.chmod(self.dir, 0o700)  # a runtime directory must be private
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(XDG_RUNTIME_DIR=self.dir, QT_QPA_PLATFORM="wayland", WAYLAND_DEBUG="client")
        self.log = os.path.join(self.dir, "kestrine-protocol.log")
        self._processes = []

    def __enter__(self):
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], env=self.env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self._processes.append(bus)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        with open(os.path.join(self.dir, "weston.log"), "w") as log:
            self._processes.append(subprocess.Popen(
                ["weston", "--backend=headless-backend.so", "--socket=kestrine-wl", "--no-config", "--width=1024",
                 "--height=768", "--idle-time=0"], env=self.env, stdout=subprocess.DEVNULL, stderr=log))
        wait_for("weston's socket", lambda: os.path.exists(os.path.join(self.dir, "kestrine-wl")))
        self.env["WAYLAND_DISPLAY"] = "kestrine-wl"
        return self

    def __exit__(self, *_):
        for process in reversed(self._processes):
            stop_process(process)
        shutil.rmtree(self.dir, ignore_errors=True)

    def windows(self):
        """Titles of the program's toplevel surfaces that got a buffer, with their parents' titles."""
        surface_of_xdg, xdg_of_toplevel, title, parent, shown = {}, {}, {}, {}, set()
        if not os.path.exists(self.log):
            return shown
        for line in open(self.log, errors="replace"):
            if " -> " not in line:
                continue
            if m := re.search(r"get_xdg_surface\(new id xdg_surface@(\d+), wl_surface@(\d+)\)", line):
                surface_of_xdg[m[1]] = m[2]
            elif m := re.search(r"xdg_surface@(\d+)\.get_toplevel\(new id xdg_toplevel@(\d+)\)", line):
                xdg_of_toplevel[m[2]] = m[1]
                title.pop(m[2], None)
                parent.pop(m[2], None)
            elif m := re.search(r'xdg_toplevel@(\d+)\.set_title\("(.*)"\)', line):
                title[m[1]] = m[2]
            elif m := re.search(r"xdg_toplevel@(\d+)\.set_parent\(xdg_toplevel@(\d+)\)", line):
                parent[m[1]] = m[2]
            elif m := re.search(r"wl_surface@(\d+)\.attach\(wl_buffer@\d+", line):
                for toplevel, xdg in xdg_of_toplevel.items():
                    if surface_of_xdg.get(xdg) == m[1] and toplevel in title:
                        shown.add((title[toplevel], title.get(parent.get(toplevel))))
            elif m := re.search(r"xdg_toplevel@(\d+)\.destroy\(\)", line):
                xdg_of_toplevel.pop(m[1], None)
        return shown

    def wait_for_window(self, title, timeout=20, parent=None):
        return wait_for(f"the window {title!r} shown", lambda: (title, parent) in self.windows(), timeout)


def passes(name, check, *args):
    """Runs one checked scenario and prints PASS or FAIL with what failed; returns whether it passed."""
    try:
        check(*args)
    except AssertionError as failure:
        print(f"FAIL {name}: {failure}")
        return False
    print(f"PASS {name}")
    return True


class Kestrine:
    """One run of the program on `session`'s display, from the start to its main
    window shown (unless `wait` is false) and stopped at the end; with no
    program, the Kestrine already showing its main window there. Its output
    goes to `log`: the session's where it has one, else a private file."""

    def __init__(self, session, program=None, args=(), env=None, wait=True):
        self.session, self.program, self.args, self.extra_env, self._wait = session, program, args, env or {}, wait
        self.process = None

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="kestrine-run.")
        self.log = getattr(self.session, "log", None) or os.path.join(self.dir, "output.log")
        if self.program:
            env = {k: v for k, v in self.session.env.items() if k not in NOT_INHERITED}
            if "WAYLAND_DISPLAY" not in env:  # a Wayland session's runtime directory holds its socket
                os.mkdir(os.path.join(self.dir, "runtime"), 0o700)
                env["XDG_RUNTIME_DIR"] = os.path.join(self.dir, "runtime")
            with open(self.log, "w") as log:
                self.process = subprocess.Popen([self.program, *self.args], env=dict(env, **self.extra_env), cwd="/",
                                                stdout=log, stderr=subprocess.STDOUT)
        try:
            self.main = self.session.wait_for_window(MAIN) if self._wait else None
        except AssertionError:
            self.__exit__()
            raise
        return self

    def __exit__(self, *_):
        if self.process:
            stop_process(self.process)
        shutil.rmtree(self.dir, ignore_errors=True)

    def running(self):
        return self.process.poll() is None

    def output(self):
        return open(self.log, errors="replace").read()

    def click(self, control):
        self.session.click(self.main, *middle(control))

    def fill(self, control, text):
        """Replaces a text field's text, typing it as a user does."""
        self.click(control)
        self.session.key("ctrl+a")
        self.session.type(text)

    def key(self, *keys):
        self.session.key(*keys)

    def wait(self, title):
        """The id of the window titled `title`, once it shows (within 20 s)."""
        return self.session.wait_for_window(title)

    def close(self, title):
        """Asks the window titled `title` to close, as a window manager's close button does."""
        self.session.request_close(self.session.wait_for_window(title, timeout=5))

    def box(self, timeout=15):
        """The box that shows within `timeout` s as Ctrl+C copies it: its title,
        prompt, buttons and details (when it has them), framed by rules of
        dashes. The box stays open."""
        box = self.session.wait_for_window(BOX, float(timeout))
        copied = ""
        deadline = time.monotonic() + 10
        while not copied and time.monotonic() < deadline:
            self.session.xdotool("windowfocus", "--sync", box)  # a box just shown may not take it at once
            self.session.clipboard("")
            self.session.key("ctrl+c")
            time.sleep(0.2)
            copied = self.session.clipboard()
        if len(re.findall(r"^-+$", copied, flags=re.M)) < 4:
            raise AssertionError(f"the box could not be read: {copied!r}")
        return copied.rstrip("\n")

    def close_box(self, key="Return"):
        """Answers the box with `key` and waits until it is gone."""
        self.session.key(key)
        self.session.wait_until_gone(BOX)

    def no_box(self, seconds):
        """Fails, showing the box, when one shows within `seconds`."""
        try:
            copied = self.box(seconds)
        except AssertionError:
            return
        raise AssertionError(f"an unexpected box showed:\n{copied}")

    def press(self, control, timeout=30):
        """Presses a button, dismisses the box that answers it with Return and returns the box's prompt lines."""
        self.click(control)
        copied = self.box(timeout)
        self.close_box()
        return re.split(r"^-+$\n?", copied, flags=re.M)[2].rstrip("\n").split("\n")

    def focused_text(self):
        """What the focused control copies on Ctrl+A, Ctrl+C: the whole text of a text field, else nothing."""
        self.session.clipboard("")
        self.session.key("ctrl+a", "ctrl+c")
        time.sleep(0.3)
        return self.session.clipboard()


if __name__ == "__main__":
    if sys.argv[1] == "run":
        env = {k: v for k, v in os.environ.items() if k not in NOT_INHERITED + ("WAYLAND_DISPLAY",)}
        os.execve(sys.argv[2], sys.argv[2:], dict(env, QT_QPA_PLATFORM="xcb"))
    if sys.argv[1] == "title":
        sys.exit(print(TITLES[sys.argv[2]]))
    try:
        with Kestrine(X11Display(os.environ["DISPLAY"])) as kestrine:
            answer = getattr(kestrine, sys.argv[1].replace("-", "_"))(*sys.argv[2:])
        if answer is not None:
            print(answer)
    except (AssertionError, RuntimeError, LookupError) as failure:
        sys.exit(f"kestrine_driver: {failure}")
