"""Checks an installed Kestrine tree (a DESTDIR or an unpacked .deb): every file
where desktops look for it, the entry, the metainfo and the icons agreeing with
one another, and the installed program starting on an X server and showing its
main window with the application icon.

Usage: check_install_tree.py ROOT PREFIX"""
import configparser
import os
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "windows", "about"))
from x11_session import XvfbSession  # noqa: E402

APP_ID = "example.brimvale.Kestrine"
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]


def png_size(path):
    with open(path, "rb") as image:
        header = image.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(f"{path} is not a PNG")
    return struct.unpack(">II", header[16:24])


def check_files(share, program):
    failures = []
    if not os.access(program, os.X_OK):
        failures.append(f"{program} is missing or not executable")
    desktop_path = os.path.join(share, "applications", f"{APP_ID}.desktop")
    metainfo_path = os.path.join(share, "metainfo", f"{APP_ID}.metainfo.xml")
    for path in (desktop_path, metainfo_path, os.path.join(share, "icons/hicolor/scalable/apps", f"{APP_ID}.svg")):
        if not os.path.isfile(path):
            failures.append(f"{path} is missing")
    for size in ICON_SIZES:
        path = os.path.join(share, f"icons/hicolor/{size}x{size}/apps/{APP_ID}.png")
        if not os.path.isfile(path):
            failures.append(f"{path} is missing")
        elif png_size(path) != (size, size):
            failures.append(f"{path} is {png_size(path)}, not {size} x {size}")
    if failures:
        return failures

    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(desktop_path)
    desktop = entry["Desktop Entry"]
    if "%" in desktop.get("Exec", ""):
        failures.append(f"Exec={desktop['Exec']} passes arguments the program never reads")
    if desktop.get("Exec") != os.path.basename(program):
        failures.append(f"Exec={desktop.get('Exec')} is not the installed program {os.path.basename(program)}")
    if desktop.get("Icon") != APP_ID:
        failures.append(f"Icon={desktop.get('Icon')} names no installed icon")

    component = ElementTree.parse(metainfo_path).getroot()
    expected = {
        "id": APP_ID,
        "launchable": f"{APP_ID}.desktop",
        "developer_name": "Brimvale Systems Limited",
        "releases/release[@version='1.0.0.0']": "",
        "project_license": None,
        "summary": None,
    }
    for path, text in expected.items():
        element = component.find(path)
        if element is None:
            failures.append(f"metainfo has no {path}")
        elif text and (element.text or "").strip() != text:
            failures.append(f"metainfo {path} is {element.text!r}, not {text!r}")
    return failures


def check_program_starts(program):
    with XvfbSession() as session:
        # An empty working directory: the program must need nothing beside it.
        run = subprocess.Popen([program], env=session.env, cwd="/", stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        try:
            window = session.wait_for_window("Kestrine Server")
            icon = subprocess.run(["xprop", "-id", window, "_NET_WM_ICON"], env=session.env,
                                  capture_output=True, text=True).stdout
            if "_NET_WM_ICON(CARDINAL)" not in icon:
                return ["the installed program's window carries no icon"]
            session.request_close(window)
            run.wait(timeout=10)
            if run.returncode != 0:
                return [f"the installed program ended with {run.returncode}"]
        finally:
            if run.poll() is None:
                run.kill()
                run.wait()
    return []


def main():
    root, prefix = sys.argv[1], sys.argv[2].lstrip("/")
    share = os.path.join(root, prefix, "share")
    program = os.path.join(root, prefix, "bin", "Kestrine")
    failures = check_files(share, program)
    if not failures:
        failures = check_program_starts(program)
    for failure in failures:
        print(f"FAIL: {failure}")
    if failures:
        sys.exit(1)
    print(f"install tree under {os.path.join(root, prefix)}: files in place, the program shows its main window")


if __name__ == "__main__":
    main()
