#!/usr/bin/python3
"""Kestrine starts without Qt Network and GMime, and the first press of "Send
Email" opens its mail module and submits.

  check_mail_module.py KESTRINE_BINARY

Runs the program as a user keeps it: a renamed copy in the same folder (it
finds the module the same way) and a copy moved to a folder without the module
(error 1012 naming the paths tried, the program still usable, and submitting
once the module is put beside it). Exits 77
(skipped) without root for a private network namespace."""
import os
import re
import shutil
import sys
import tempfile

from kestrine_driver import Kestrine, XvfbSession
from mail_module import MailServer, linked_mail_libraries, mapped_mail_libraries, private_network, RECIPIENT

failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAIL: {what}")


def renamed_copy_loads_on_press(program, server):
    with XvfbSession() as session, Kestrine(session, program) as kestrine:
        expect(mapped_mail_libraries(kestrine.process.pid) == [],
               f"mail libraries loaded before any press: {mapped_mail_libraries(kestrine.process.pid)}")
        kestrine.fill("txtTo", RECIPIENT)
        for press in (1, 2):
            box = kestrine.press("cmdSendEmail")
            expect(box == ["Send Email OK"], f"press {press} answered {box}")
            expect(len(server.messages()) == press, f"after press {press} the server holds {server.messages()}")
        loaded = mapped_mail_libraries(kestrine.process.pid)
        expect(loaded == sorted(["kestrine-mail.so", "libQt6Network.so", "libgmime-3.0.so"]),
               f"after the presses the program has loaded {loaded}")


def moved_copy_reports_1012(program, server, module_dir, module):
    before = server.connections()
    with XvfbSession() as session, Kestrine(session, program) as kestrine:
        kestrine.fill("txtTo", RECIPIENT)
        for press in (1, 2):  # the second press tries again and fails the same way
            box = kestrine.press("cmdSendEmail")
            print("\n".join(box))
            expect(box[:2] == ["Err_SendEmail", "Error code = 1012"], f"press {press} answered {box[:2]}")
            description = "\n".join(box[2:])
            for tried in (os.path.join(module_dir, "kestrine-mail.so"),
                          os.path.join(os.path.dirname(program), "kestrine-mail.so")):
                # The loader's words follow each path, in the user's language.
                expect(re.search(re.escape(tried) + r" \([^()]+\)", description),
                       f"the description does not name {tried} with the loader's words")
        expect(kestrine.running(), "the program did not survive the missing module")
        expect(mapped_mail_libraries(kestrine.process.pid) == [], "libraries loaded without the module")
        expect(server.connections() == before, "a press without the module reached the server")
        # The module put beside the program: the next press finds it there.
        shutil.copy2(module, os.path.join(os.path.dirname(program), "kestrine-mail.so"))
        box = kestrine.press("cmdSendEmail")
        expect(box == ["Send Email OK"], f"with the module beside it the press answered {box}")


def main():
    program = os.path.abspath(sys.argv[1])
    inside = private_network()
    expect(linked_mail_libraries(program) == [], f"{program} links {linked_mail_libraries(program)}")
    if not inside:
        print("SKIPPED: needs root for a private network namespace, where the test server can own port 25")
        return 1 if failures else 77
    folder = os.path.dirname(program)
    renamed = os.path.join(folder, "Kestrine module check copy")
    # The moved copy goes into a bin folder of a private folder, so that the
    # ../lib/kestrine it looks in is private too, not /tmp/lib/kestrine.
    elsewhere = tempfile.mkdtemp(prefix="kestrine-moved.")
    moved = os.path.join(elsewhere, "bin", "Kestrine")
    try:
        shutil.copy2(program, renamed)
        os.mkdir(os.path.dirname(moved))
        shutil.copy2(program, moved)
        with MailServer() as server:
            renamed_copy_loads_on_press(renamed, server)
            moved_copy_reports_1012(moved, server, os.path.join(elsewhere, "lib", "kestrine"),
                                    os.path.join(folder, "..", "lib", "kestrine", "kestrine-mail.so"))
    finally:
        if os.path.exists(renamed):
            os.unlink(renamed)
        shutil.rmtree(elsewhere, ignore_errors=True)
    if failures:
        return 1
    print("Kestrine starts without the mail libraries; the first press loads them and submits; "
          "a renamed copy beside it submits; a moved copy reports 1012, then submits with the module put beside it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
