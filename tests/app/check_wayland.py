"""The real program under a real Wayland compositor (weston, headless), driven
from outside the way a screen reader drives it, through the AT-SPI
accessibility bus: it starts on Qt's Wayland plugin, shows its main window,
opens the About window and a question, and each box names its kind.

What the compositor was asked to show is read from the client's own Wayland
protocol log (WAYLAND_DEBUG): a window counts as shown once a buffer has been
attached to its surface. The accessibility tree tells what each window holds.

Usage: check_wayland.py KESTRINE_BINARY DESKTOP_ENTRY"""
import os
import shutil
import sys
import time

import dbus

import kestrine_driver
from kestrine_driver import ABOUT, BOX, MAIN, Kestrine, WestonSession

BAD_RECIPIENT = "someone@@example.com"


def wait_for(what, probe):
    def asked():
        try:
            return probe()
        except dbus.exceptions.DBusException:
            return None  # an object went away while the tree was read: read it again
    return kestrine_driver.wait_for(what, asked)


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


def accessible_session(session):
    """What a screen reader does when it starts: ask applications to be accessible."""
    bus = dbus.bus.BusConnection(session.env["DBUS_SESSION_BUS_ADDRESS"])
    launcher = bus.get_object("org.a11y.Bus", "/org/a11y/bus")
    launcher.Set("org.a11y.Status", "IsEnabled", True, dbus_interface="org.freedesktop.DBus.Properties")
    return dbus.bus.BusConnection(launcher.GetAddress(dbus_interface="org.a11y.Bus"))


def application(a11y):
    registry = a11y.get_object("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
    for name, path in registry.GetChildren(dbus_interface="org.a11y.atspi.Accessible"):
        app = Accessible(a11y, name, path)
        if app.name == "Kestrine":
            return app
    return None


def box(app):
    dialogs = [w for w in app.children() if w.role in ("dialog", "alert", "alert message") and w.name == BOX]
    return dialogs[0] if len(dialogs) == 1 else None


def scenario(session, a11y, run, entry):
    app = wait_for("the program on the accessibility bus", lambda: application(a11y))
    main = wait_for("the main window", lambda: [w for w in app.children() if w.name == MAIN])[0]
    app_id = os.path.basename(entry)[: -len(".desktop")]
    if f'set_app_id("{app_id}")' not in run.output():
        raise AssertionError(f"the window's app id is not {app_id}")

    main.find("push button", "About")[0].press()
    about = wait_for("the About window", lambda: [w for w in app.children() if w.name == ABOUT])[0]
    session.wait_for_window(ABOUT)
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
    session.wait_for_window(BOX, parent=MAIN)
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
    if not run.running():
        raise AssertionError(f"the program ended ({run.process.returncode})")


def main():
    binary, entry = sys.argv[1], sys.argv[2]
    for tool in ("weston", "dbus-daemon"):
        if not shutil.which(tool):
            print(f"FAIL {tool} is missing")
            sys.exit(1)
    with WestonSession() as session:
        try:
            a11y = accessible_session(session)
            with Kestrine(session, binary) as run:
                scenario(session, a11y, run, entry)
            print("PASS the program starts under weston and shows both windows and its boxes")
        except AssertionError as failure:
            print(f"FAIL {failure}")
            print("windows shown:", sorted(session.windows(), key=str))
            sys.exit(1)


if __name__ == "__main__":
    main()
