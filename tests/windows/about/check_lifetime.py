"""The real program's lifetime with both windows open, driven from outside on
an X server: the program lives while any of its windows is open, ends cleanly
when the last one closes, and "About" never opens a second About window.

Usage: check_lifetime.py KESTRINE_BINARY"""
import subprocess
import sys
import time

from kestrine_driver import ABOUT, MAIN, Kestrine, XvfbSession, passes

# Long enough for a program that was going to quit to have quit.
SETTLE = 1.5


class Run(Kestrine):
    def press_about(self):
        self.click("cmdAbout")
        return self.session.wait_for_window(ABOUT)

    def expect_running(self, why):
        time.sleep(SETTLE)
        if not self.running():
            raise AssertionError(f"the program ended ({self.process.returncode}) {why}")

    def expect_clean_exit(self):
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program went on after its last window closed")
        if self.process.returncode != 0:
            raise AssertionError(f"the program ended with {self.process.returncode}: {self.output()}")


def main_window_closed_first(run):
    about = run.press_about()
    run.session.request_close(run.main)
    run.session.wait_until_gone(MAIN)
    run.expect_running("when the main window closed while the About window was open")
    if run.session.visible_windows(ABOUT) != [about]:
        raise AssertionError("the About window did not stay open on its own")
    run.session.request_close(about)
    run.expect_clean_exit()


def about_window_closed_first(run):
    run.session.request_close(run.press_about())
    run.session.wait_until_gone(ABOUT)
    run.expect_running("when the About window closed")
    if not run.session.visible_windows(MAIN):
        raise AssertionError("the main window went away with the About window")
    # It opens again after being closed, and the program still ends with main.
    run.session.request_close(run.press_about())
    run.session.wait_until_gone(ABOUT)
    run.session.request_close(run.main)
    run.expect_clean_exit()


def about_pressed_twice_keeps_one_window(run):
    first = run.press_about()
    run.click("cmdAbout")
    time.sleep(SETTLE)
    if run.session.visible_windows(ABOUT) != [first]:
        raise AssertionError(f"after two presses: About windows {run.session.visible_windows(ABOUT)}")
    run.session.request_close(first)
    run.session.request_close(run.main)
    run.expect_clean_exit()


SCENARIOS = [main_window_closed_first, about_window_closed_first, about_pressed_twice_keeps_one_window]


def in_a_run(scenario, session, binary):
    with Run(session, binary) as run:
        scenario(run)


def main():
    with XvfbSession() as session:
        passed = [passes(scenario.__name__, in_a_run, scenario, session, sys.argv[1]) for scenario in SCENARIOS]
    sys.exit(0 if all(passed) else 1)


if __name__ == "__main__":
    main()
