"""The real program on an X server, used with the keyboard only, as a user
would: Enter presses the focused button and answers Yes, every box is
transient for the main window, centred over it and inside the screen (a
100 kB recipient included), the window class matches the desktop entry, the
main window stays on a small screen scaled by two, and start-up loads no image
format plugin.

With --gtk-theme, the keyboard scenario runs under the GTK platform theme,
which orders the question's buttons "No | Yes" and lets Enter press buttons
itself: Enter must still press the focused button once and answer Yes. Exits
77 (skipped) when that theme's plugin is not installed.

With --window-manager, the small scaled screen runs under a window manager
(openbox), and the whole frame, title bar and borders, must stay inside the
screen. Exits 77 (skipped) when openbox is not installed.

Usage: check_desktop_manners.py KESTRINE_BINARY DESKTOP_ENTRY [--gtk-theme | --window-manager]"""
import glob
import re
import shutil
import subprocess
import sys
import time

from kestrine_driver import BOX, Kestrine, XvfbSession, passes, wait_for

# A recipient that holds the placeholder domain but is no address: the question
# is asked, and after Yes the error box says so before anything is sent.
BAD_RECIPIENT = "someone@@example.com"


def xprop(session, window, prop):
    return subprocess.run(["xprop", "-id", window, prop], env=session.env, capture_output=True, text=True,
                          timeout=10).stdout


def geometry(session, window):
    out = subprocess.run(["xwininfo", "-id", window], env=session.env, capture_output=True, text=True,
                         timeout=10).stdout
    values = {k: int(v) for k, v in re.findall(r"(Absolute upper-left [XY]|Width|Height):\s+(-?\d+)", out)}
    return (values["Absolute upper-left X"], values["Absolute upper-left Y"], values["Width"], values["Height"])


def settled_geometry(session, window):
    """The window's geometry once it holds still: a box with a long prompt is
    fitted again once its text is laid out, and centred again a moment later; a
    read in between sees it at the place meant for its earlier size."""
    def unchanged():
        first = geometry(session, window)
        time.sleep(0.3)
        return first if geometry(session, window) == first else None
    return wait_for(f"the window {window} to hold still", unchanged, timeout=5)


def wait_for_boxes(session, count, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        boxes = session.visible_windows(BOX)
        if len(boxes) == count:
            return boxes
        time.sleep(0.1)
    raise AssertionError(f"expected {count} box(es), found {session.visible_windows(BOX)}")


def check_box(session, main, box, screen):
    transient = xprop(session, box, "WM_TRANSIENT_FOR")
    if int(transient.split()[-1], 16) != int(main):
        raise AssertionError(f"box not transient for the main window: {transient.strip()}")
    bx, by, bw, bh = settled_geometry(session, box)
    mx, my, mw, mh = geometry(session, main)
    if bx < 0 or by < 0 or bx + bw > screen[0] or by + bh > screen[1]:
        raise AssertionError(f"box {bw}x{bh}+{bx}+{by} leaves the {screen[0]}x{screen[1]} screen")
    # Centred over the main window, unless that would cross the screen's edge.
    expected_x = min(max(mx + mw / 2 - bw / 2, 0), screen[0] - bw)
    expected_y = min(max(my + mh / 2 - bh / 2, 0), screen[1] - bh)
    if abs(bx - expected_x) > 4 or abs(by - expected_y) > 4:
        raise AssertionError(f"box {bw}x{bh}+{bx}+{by} not centred over the main window {mw}x{mh}+{mx}+{my}")


THEME_ENV = {}


def keyboard_only_question_and_error(session, binary, entry, recipient=BAD_RECIPIENT):
    with Kestrine(session, binary, env=THEME_ENV) as run:
        time.sleep(0.5)
        session.clipboard(recipient)
        session.key("Tab", "ctrl+a", "ctrl+v", "Tab", "Tab", "Tab", delay=30)  # txtTo, then on to Send Email
        session.key("Return", delay=30)
        question = wait_for_boxes(session, 1)[0]
        check_box(session, run.main, question, (1024, 768))
        # A late report of the size the box was created with leaves it where it is.
        session.report_geometry(question, *geometry(session, question)[:2], 100, 30)
        time.sleep(0.5)
        check_box(session, run.main, question, (1024, 768))
        session.key("Return", delay=30)  # the default button: Yes
        session.wait_until_gone_window(question)
        error = wait_for_boxes(session, 1)[0]
        check_box(session, run.main, error, (1024, 768))
        session.key("Return", delay=30)
        session.wait_until_gone_window(error)
        time.sleep(0.5)
        if session.visible_windows(BOX):
            raise AssertionError("a box is still open after answering each one")
        if not run.running():
            raise AssertionError(f"the program ended ({run.process.returncode})")


def window_class_and_plugins(session, binary, entry):
    with Kestrine(session, binary, env=THEME_ENV) as run:
        wm_class = xprop(session, run.main, "WM_CLASS")
        startup = re.search(r"^StartupWMClass=(.*)$", open(entry).read(), re.M)
        if not startup or f'"{startup.group(1)}"' not in wm_class.split("=")[-1].split(",")[-1]:
            raise AssertionError(f"window class {wm_class.strip()} does not match the desktop entry")
        maps = open(f"/proc/{run.process.pid}/maps").read()
        loaded = sorted(set(re.findall(r"libq(jpeg|gif|ico)\.so", maps)))
        if loaded:
            raise AssertionError(f"start-up loaded image format plugins: {loaded}")


def small_screen_scaled_by_two(binary, entry, window_manager=None):
    with XvfbSession(1366, 768, window_manager) as session, \
            Kestrine(session, binary, env={"QT_SCALE_FACTOR": "2"}) as run:
        time.sleep(1.0)  # a window framed by a manager settles after its first activation
        x, y, w, h = geometry(session, run.main)
        left, right, top, bottom = 0, 0, 0, 0
        if window_manager:
            extents = xprop(session, run.main, "_NET_FRAME_EXTENTS").split("=")[-1]
            left, right, top, bottom = (int(v) for v in extents.split(","))
        if x - left < 0 or y - top < 0 or x + w + right > 1366 or y + h + bottom > 768:
            raise AssertionError(f"main window {w}x{h}+{x}+{y} with frame {left},{right},{top},{bottom} "
                                 "leaves the 1366x768 screen")


def main():
    binary, entry = sys.argv[1], sys.argv[2]
    if "--window-manager" in sys.argv[3:]:
        if not shutil.which("openbox"):
            print("SKIP no window manager (openbox) is installed")
            sys.exit(77)
        sys.exit(0 if passes("small screen scaled by two under a window manager, the frame inside too",
                             small_screen_scaled_by_two, binary, entry, "openbox") else 1)
    if "--gtk-theme" in sys.argv[3:]:
        if not glob.glob("/usr/lib/*/qt6/plugins/platformthemes/libqgtk3.so"):
            print("SKIP the GTK platform theme plugin (qt6-gtk-platformtheme) is not installed")
            sys.exit(77)
        THEME_ENV["QT_QPA_PLATFORMTHEME"] = "gtk3"
        with XvfbSession(1024, 768) as session:
            sys.exit(0 if passes("under the GTK theme Enter presses the focused button and answers Yes",
                                 keyboard_only_question_and_error, session, binary, entry) else 1)
    with XvfbSession(1024, 768) as session:
        passed = [passes("enter presses the focused button, answers Yes, boxes over the main window",
                         keyboard_only_question_and_error, session, binary, entry),
                  passes("a 100 kB recipient's boxes fit the screen", keyboard_only_question_and_error, session,
                         binary, entry, "x" * 100000 + "@example.com"),
                  passes("window class and image plugins", window_class_and_plugins, session, binary, entry)]
    passed.append(passes("small screen scaled by two", small_screen_scaled_by_two, binary, entry))
    sys.exit(0 if all(passed) else 1)


if __name__ == "__main__":
    main()
