"""Asks an X window to close, as a window manager's close button does: sends
it the WM_DELETE_WINDOW client message. Xvfb runs no window manager, and
xdotool of Debian 12 can only destroy a window or kill its client.

usage: close_window.py WINDOW_ID"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows", "about"))
from x11_session import load_x11, send_close_request  # noqa: E402

x11 = load_x11()
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
try:
    send_close_request(x11, display, int(sys.argv[1], 0))
except RuntimeError:
    sys.exit("the close request could not be sent")
finally:
    x11.XCloseDisplay(display)
