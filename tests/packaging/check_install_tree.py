"""Checks an installed Kestrine tree (a DESTDIR or an unpacked .deb): every file
where desktops look for it, the entry, the metainfo and the icons agreeing with
one another, the installed program starting on an X server and showing its
main window with the application icon, and its first press of "Send Email"
opening the installed mail module and submitting (as root, in a private
network namespace where a test server owns port 25).

Usage: check_install_tree.py ROOT PREFIX IDENTITY_JSON"""
import configparser
import json
import os
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

from kestrine_driver import Kestrine, XvfbSession
from mail_module import MailServer, linked_mail_libraries, mapped_mail_libraries, private_network, RECIPIENT

ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]


def png_size(path):
    with open(path, "rb") as image:
        header = image.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(f"{path} is not a PNG")
    return struct.unpack(">II", header[16:24])


def check_files(share, program, module, identity):
    app_id = identity["appId"]
    failures = []
    if not os.access(program, os.X_OK):
        failures.append(f"{program} is missing or not executable")
    elif linked_mail_libraries(program):
        failures.append(f"{program} links {linked_mail_libraries(program)}: they belong to the mail module")
    if not os.path.isfile(module):
        failures.append(f"{module} is missing")
    elif sorted(name.split(".so")[0] for name in linked_mail_libraries(module)) != ["libQt6Network", "libgmime-3.0"]:
        failures.append(f"{module} links {linked_mail_libraries(module)}, not Qt Network and GMime")
    desktop_path = os.path.join(share, "applications", f"{app_id}.desktop")
    metainfo_path = os.path.join(share, "metainfo", f"{app_id}.metainfo.xml")
    for path in (desktop_path, metainfo_path, os.path.join(share, "icons/hicolor/scalable/apps", f"{app_id}.svg")):
        if not os.path.isfile(path):
            failures.append(f"{path} is missing")
    for size in ICON_SIZES:
        path = os.path.join(share, f"icons/hicolor/{size}x{size}/apps/{app_id}.png")
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
    if desktop.get("Icon") != app_id:
        failures.append(f"Icon={desktop.get('Icon')} names no installed icon")

    component = ElementTree.parse(metainfo_path).getroot()
    expected = {
        "id": app_id,
        "launchable": f"{app_id}.desktop",
        "developer_name": identity["companyName"],
        f"releases/release[@version='{identity['version']}'][@date='{identity['releaseDate']}']": "",
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
    # The driver starts it in /: the program must need nothing beside it.
    with XvfbSession() as session, Kestrine(session, program) as run:
        icon = subprocess.run(["xprop", "-id", run.main, "_NET_WM_ICON"], env=session.env,
                              capture_output=True, text=True).stdout
        if "_NET_WM_ICON(CARDINAL)" not in icon:
            return ["the installed program's window carries no icon"]
        session.request_close(run.main)
        run.process.wait(timeout=10)
        if run.process.returncode != 0:
            return [f"the installed program ended with {run.process.returncode}"]
    return []


def check_program_submits(program):
    with MailServer() as server, XvfbSession() as session, Kestrine(session, program) as kestrine:
        kestrine.fill("txtTo", RECIPIENT)
        box = kestrine.press("cmdSendEmail")
        if box != ["Send Email OK"]:
            return [f"the installed program's first press answered {box}"]
        if len(server.messages()) != 1:
            return [f"after Send Email OK the test server holds {server.messages()}"]
        if "kestrine-mail.so" not in mapped_mail_libraries(kestrine.process.pid):
            return ["the installed program submitted without its mail module"]
    return []


def main():
    inside = private_network()  # as root: the rest runs again in a private network namespace
    root, prefix = sys.argv[1], sys.argv[2].lstrip("/")
    share = os.path.join(root, prefix, "share")
    program = os.path.join(root, prefix, "bin", "Kestrine")
    with open(sys.argv[3], encoding="utf-8") as identity:
        failures = check_files(share, program, os.path.join(root, prefix, "lib", "kestrine", "kestrine-mail.so"),
                               json.load(identity))
    if not failures:
        failures = check_program_starts(program)
    submitted = "not checked: it needs root for a private network namespace"
    if not failures and inside:
        failures = check_program_submits(program)
        submitted = "its first press submits through the installed mail module"
    for failure in failures:
        print(f"FAIL: {failure}")
    if failures:
        sys.exit(1)
    print(f"install tree under {os.path.join(root, prefix)}: files in place, the program shows its main window; "
          f"{submitted}")


if __name__ == "__main__":
    main()
