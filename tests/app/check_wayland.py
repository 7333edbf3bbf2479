"""The real program under a real Wayland compositor (weston, headless), driven
from outside the way a screen reader drives it, through the AT-SPI
accessibility bus: it starts on Qt's Wayland plugin, shows its main window,
opens the About window and a question, and each box names its kind.

What the compositor was asked to show is read from the client's own Wayland
protocol log (WAYLAND_DEBUG): a window counts as shown once a buffer has been
attached to its surface. The accessibility tree tells what each window holds.

Usage: check_wayland.py KESTRINE_BINARY DESKTOP_ENTRY"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import dbus

from mail_module import stop_process

TIMEOUT = 20
BAD_RECIPIENT = "someone@@example.com"


def wait_for(what, probe, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            value = probe()
        except dbus.exceptions.DBusException:
            value = None  # an object went away while the tree was read: read it again
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"{what}: not within {timeout} s")


class Accessible:
    """One node of the program's accessibility tree on the AT-SPI bus."""

    def __init__(self, bus, name, path):
        self._object = bus.get_object(name, path)
        self._bus = bus
        self.path = path

    def _call(self, interface, method, *args):
        return getattr(self._object, method)(*args, dbus_interface=f"org.a11y.atspi.{interface}")

    @property
    def name(self):
        return str(self._object.Get("org.a11y.atspi.Accessible", "Name",
                                    dbus_interface="org.freedesktop.DBus.Properties"))

    @property
    def role(self):
        return str(self._call("Accessible", "GetRoleName"))

    def children(self):
        return [Accessible(self._bus, n, p) for n, p in self._call("Accessible", "GetChildren")]

    def descendants(self):
        for child in self.children():
            yield child
            yield from child.descendants()

    def find(self, role, name=None):
        return [a for a in self.descendants() if a.role == role and (name is None or a.name == name)]

    def text(self):
        return str(self._call("Text", "GetText", 0, -1))

    def press(self):
        self._call("Action", "DoAction", 0)


class Session:
    def __init__(self, binary):
        self.binary = binary
        self.dir = tempfile.mkdtemp(prefix="kestrine-wayland-")
        os.chmod(self.dir, 0o700)  # a runtime directory must be private
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env["XDG_RUNTIME_DIR"] = self.dir
        self.processes = []
        self.protocol = os.path.join(self.dir, "kestrine-protocol.log")

    def _start(self, args, **kwargs):
        kwargs.setdefault("env", self.env)
        process = subprocess.Popen(args, **kwargs)
        self.processes.append(process)
        return process

    def __enter__(self):
        bus = self._start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        self._start(["weston", "--backend=headless-backend.so", "--socket=kestrine-wl", "--no-config",
                     "--width=1024", "--height=768", "--idle-time=0"],
                    stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.dir, "weston.log"), "w"))
        wait_for("weston's socket", lambda: os.path.exists(os.path.join(self.dir, "kestrine-wl")))
        # What a screen reader does when it starts: ask applications to be accessible.
        session = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
        launcher = session.get_object("org.a11y.Bus", "/org/a11y/bus")
        launcher.Set("org.a11y.Status", "IsEnabled", True, dbus_interface="org.freedesktop.DBus.Properties")
        self.a11y = dbus.bus.BusConnection(launcher.GetAddress(dbus_interface="org.a11y.Bus"))
        self.program = self._start([self.binary], stdout=subprocess.DEVNULL, stderr=open(self.protocol, "w"),
                                   env=dict(self.env, QT_QPA_PLATFORM="wayland", WAYLAND_DISPLAY="kestrine-wl",
                                            WAYLAND_DEBUG="client"))
        return self

    def __exit__(self, *_):
        for process in reversed(self.processes):
            stop_process(process)
        shutil.rmtree(self.dir, ignore_errors=True)

    def application(self):
        registry = self.a11y.get_object("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
        for name, path in registry.GetChildren(dbus_interface="org.a11y.atspi.Accessible"):
            app = Accessible(self.a11y, name, path)
            if app.name == "Kestrine":
                return app
        return None

    def windows(self):
        """Titles of the program's toplevel surfaces that got a buffer, with their parents' titles."""
        surface_of_xdg, xdg_of_toplevel, title, parent, shown = {}, {}, {}, {}, set()
        for line in open(self.protocol, errors="replace"):
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


def box(app):
    dialogs = [w for w in app.children() if w.role in ("dialog", "alert", "alert message") and w.name == "Kestrine"]
    return dialogs[0] if len(dialogs) == 1 else None


def scenario(session, entry):
    app = wait_for("the program on the accessibility bus", session.application)
    main = wait_for("the main window", lambda: [w for w in app.children() if w.name == "Kestrine Server"])[0]
    wait_for("the main window shown", lambda: ("Kestrine Server", None) in session.windows())
    app_id = os.path.basename(entry)[: -len(".desktop")]
    if f'set_app_id("{app_id}")' not in open(session.protocol, errors="replace").read():
        raise AssertionError(f"the window's app id is not {app_id}")

    main.find("push button", "About")[0].press()
    about = wait_for("the About window", lambda: [w for w in app.children() if w.name == "About Kestrine"])[0]
    wait_for("the About window shown", lambda: ("About Kestrine", None) in session.windows())
    if not about.find("graphic", "Kestrine logo"):
        raise AssertionError("no image named 'Kestrine logo' in the About window")
    notice = [a for a in about.find("label") if "Web Site: " in a.text()]
    if not notice:
        raise AssertionError("the About notice cannot be read as text")

    # A recipient that cannot be an address: the question is asked (it holds the
    # placeholder domain), and after Yes nothing is sent to any server.
    to = main.find("text", "To email address")[0]
    to._call("EditableText", "SetTextContents", BAD_RECIPIENT)
    if to.text() != BAD_RECIPIENT:
        raise AssertionError(f"the recipient field holds {to.text()!r}")
    send = main.find("push button", "Send Email")[0]
    send.press()
    question = wait_for("the question", lambda: box(app))
    wait_for("the question shown over the main window",
             lambda: ("Kestrine", "Kestrine Server") in session.windows())
    if not question.find("graphic", "Question"):
        raise AssertionError("the question's icon has no name")
    if not [a for a in question.find("label") if a.text().startswith("Are you sure this is a correct")]:
        raise AssertionError("the question's prompt cannot be read as text")
    send.press()  # a second press while the question is open is ignored
    time.sleep(1.0)
    if box(app) is None:
        raise AssertionError("a second question opened over the first")
    question.find("push button", "Yes")[0].press()
    error = wait_for("the error box after Yes",
                     lambda: (b := box(app)) and b.path != question.path and b.find("graphic", "Error") and b)
    if not [a for a in error.find("label") if "Error code = 1006" in a.text()]:
        raise AssertionError("the error box's prompt cannot be read as text")
    error.find("push button", "OK")[0].press()
    wait_for("no box left open", lambda: box(app) is None)
    if session.program.poll() is not None:
        raise AssertionError(f"the program ended ({session.program.returncode})")


def main():
    binary, entry = sys.argv[1], sys.argv[2]
    for tool in ("weston", "dbus-daemon"):
        if not shutil.which(tool):
            print(f"FAIL {tool} is missing")
            sys.exit(1)
    with Session(binary) as session:
        try:
            scenario(session, entry)
            print("PASS the program starts under weston and shows both windows and its boxes")
        except AssertionError as failure:
            print(f"FAIL {failure}")
            print("windows shown:", sorted(session.windows(), key=str))
            sys.exit(1)


if __name__ == "__main__":
    main()
