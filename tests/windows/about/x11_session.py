"""A private Xvfb display and the few things a window manager does to a
program's windows: find them by name, click in them, and ask them to close."""
import ctypes
import ctypes.util
import os
import subprocess
import time


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _Event(ctypes.Union):
    # XEvent is as large as 24 longs, whatever member is used.
    _fields_ = [("client", _ClientMessage), ("pad", ctypes.c_long * 24)]


_CLIENT_MESSAGE = 33
_NO_EVENT_MASK = 0


def load_x11():
    """Xlib, with the signatures of the few calls made here."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(_Event)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return x11


def send_close_request(x11, display, window):
    """Sends `window` WM_DELETE_WINDOW, as a window manager's close button does."""
    event = _Event()
    event.client.type = _CLIENT_MESSAGE
    event.client.window = int(window)
    event.client.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.client.format = 32
    event.client.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.client.data[1] = 0  # CurrentTime
    if not x11.XSendEvent(display, int(window), 0, _NO_EVENT_MASK, ctypes.byref(event)):
        raise RuntimeError("XSendEvent failed")
    x11.XFlush(display)


class XvfbSession:
    def __init__(self, width=1280, height=1024):
        self._size = f"{width}x{height}x24"
        self._xvfb = None
        self._x11 = None
        self._display = None
        self.env = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        # -displayfd lets the server pick a free display number and tell us.
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self._size, "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        name = f":{number}"
        self.env = dict(os.environ, DISPLAY=name, QT_QPA_PLATFORM="xcb")
        self._x11 = load_x11()
        self._display = self._x11.XOpenDisplay(name.encode())
        if not self._display:
            raise RuntimeError(f"cannot open display {name}")
        return self

    def __exit__(self, *_):
        if self._display:
            self._x11.XCloseDisplay(self._display)
        if self._xvfb:
            self._xvfb.terminate()
            self._xvfb.wait(timeout=10)

    def _xdotool(self, *args, timeout=20):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=timeout).stdout.split()

    def visible_windows(self, title):
        """The visible windows whose title is exactly `title`."""
        return self._xdotool("search", "--onlyvisible", "--name", f"^{title}$")

    def wait_for_window(self, title, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.visible_windows(title)
            if found:
                return found[0]
            time.sleep(0.1)
        raise AssertionError(f"no window titled {title!r} appeared within {timeout} s")

    def wait_until_gone(self, title, timeout=10):
        deadline = time.monotonic() + timeout
        while self.visible_windows(title):
            if time.monotonic() > deadline:
                raise AssertionError(f"the window titled {title!r} did not close")
            time.sleep(0.1)

    def wait_until_gone_window(self, window, timeout=10):
        deadline = time.monotonic() + timeout
        while window in self._xdotool("search", "--onlyvisible", "--name", "."):
            if time.monotonic() > deadline:
                raise AssertionError(f"the window {window} did not close")
            time.sleep(0.1)

    def click(self, window, x, y):
        self._xdotool("mousemove", "--window", window, str(x), str(y), "click", "1")

    def request_close(self, window):
        """What a window manager sends when the user closes a window through its frame."""
        send_close_request(self._x11, self._display, window)
