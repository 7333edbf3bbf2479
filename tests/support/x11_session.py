"""X displays for the tests: a private Xvfb display (with a window manager
when asked) or one already there, and what a user and a window manager do to
a program's windows on it: find them by title, click and type in them, copy,
and ask them to close. Every wait is bounded."""
import ctypes
import ctypes.util
import os
import subprocess
import sys
import time

# The mail stack's helpers, which scripts/try.sh runs without this tree.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
from mail_stack import stop_process, wait_until  # noqa: E402


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _ConfigureNotify(ctypes.Structure):
    # The members after the height (border, sibling, override) stay zero.
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ctypes.c_ulong), ("window", ctypes.c_ulong),
                ("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int)]


class _Event(ctypes.Union):
    # XEvent is as large as 24 longs, whatever member is used.
    _fields_ = [("client", _ClientMessage), ("configure", _ConfigureNotify), ("pad", ctypes.c_long * 24)]


_CLIENT_MESSAGE = 33
_CONFIGURE_NOTIFY = 22
_NO_EVENT_MASK = 0
_STRUCTURE_NOTIFY_MASK = 1 << 17


def wait_for(what, probe, timeout=20):
    """`probe`'s first true answer, asked every 0.1 s for at most `timeout` s."""
    return wait_until(probe, f"{what}: not", timeout, AssertionError)


class X11Display:
    """An X display that is already there (named as DISPLAY names it): find windows
    by title, click and type in them, and ask them to close."""

    def __init__(self, name, env=None):
        self.env = {k: v for k, v in (env or os.environ).items() if k != "WAYLAND_DISPLAY"}
        self.env.update(DISPLAY=name, QT_QPA_PLATFORM="xcb")
        # Xlib, with the signatures of the few calls made here.
        x11 = self._x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(_Event)]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._display = x11.XOpenDisplay(name.encode())
        if not self._display:
            raise RuntimeError(f"cannot open display {name}")

    def close(self):
        if self._display:
            self._x11.XCloseDisplay(self._display)
            self._display = None

    def xdotool(self, *args, timeout=20):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=timeout).stdout.split()

    def visible_windows(self, title):
        """The visible windows whose title is exactly `title`."""
        return self.xdotool("search", "--onlyvisible", "--name", f"^{title}$")

    def wait_for_window(self, title, timeout=20):
        return wait_for(f"a window titled {title!r}", lambda: self.visible_windows(title), timeout)[0]

    def wait_until_gone(self, title, timeout=10):
        wait_for(f"the window titled {title!r} gone", lambda: not self.visible_windows(title), timeout)

    def wait_until_gone_window(self, window, timeout=10):
        wait_for(f"the window {window} gone",
                 lambda: window not in self.xdotool("search", "--onlyvisible", "--name", "."), timeout)

    def click(self, window, x, y):
        self.xdotool("mousemove", "--window", window, str(x), str(y), "click", "1")

    def key(self, *keys, delay=12):
        """Types key combinations (xdotool's names: Return, ctrl+a) into the focused window."""
        subprocess.run(["xdotool", "key", "--delay", str(delay), *keys], env=self.env, timeout=20, check=True)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--delay", "5", text], env=self.env, timeout=60, check=True)

    def clipboard(self, text=None):
        """Sets the clipboard to `text`, or returns what it holds (within 2 s)."""
        if text is not None:
            # xclip stays to serve the selection: it must not hold the caller's output open.
            subprocess.run(["xclip", "-selection", "clipboard"], input=text, text=True, env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10, check=True)
            return text
        try:
            return subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=self.env, capture_output=True,
                                  text=True, timeout=2).stdout
        except subprocess.TimeoutExpired:
            return ""

    def request_close(self, window):
        """Sends `window` WM_DELETE_WINDOW, as a window manager's close button does."""
        event = _Event()
        event.client.type = _CLIENT_MESSAGE
        event.client.window = int(window)
        event.client.message_type = self._x11.XInternAtom(self._display, b"WM_PROTOCOLS", 0)
        event.client.format = 32
        event.client.data[0] = self._x11.XInternAtom(self._display, b"WM_DELETE_WINDOW", 0)
        event.client.data[1] = 0  # CurrentTime
        self._send(window, event, _NO_EVENT_MASK)

    def report_geometry(self, window, x, y, width, height):
        """Tells `window` where it is and how large, as a window manager does with
        a synthetic ConfigureNotify: what a late report would say, true or not."""
        event = _Event()
        notify = event.configure
        notify.type, notify.event, notify.window = _CONFIGURE_NOTIFY, int(window), int(window)
        notify.x, notify.y, notify.width, notify.height = x, y, width, height
        self._send(window, event, _STRUCTURE_NOTIFY_MASK)

    def _send(self, window, event, mask):
        if not self._x11.XSendEvent(self._display, int(window), 0, mask, ctypes.byref(event)):
            raise RuntimeError("XSendEvent failed")
        self._x11.XFlush(self._display)


class XvfbSession(X11Display):
    """A private Xvfb display of its own number, with a window manager when one is named."""

    def __init__(self, width=1280, height=1024, window_manager=None):
        self._size = f"{width}x{height}x24"
        self._window_manager = window_manager
        self._processes = []
        self._display = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        # -displayfd lets the server pick a free display number and tell us:
        # other tests may run displays of their own at the same time.
        self._processes.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self._size, "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        if not number:
            self.__exit__()
            raise RuntimeError("Xvfb did not start")
        try:
            super().__init__(f":{number}")
        except RuntimeError:
            self.__exit__()
            raise
        if self._window_manager:
            self._processes.append(subprocess.Popen([self._window_manager], env=self.env,
                                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            time.sleep(1.0)  # let it take the screen over before a program maps its window
        return self

    def __exit__(self, *_):
        self.close()
        for process in reversed(self._processes):
            stop_process(process)
