#!/usr/bin/env python3
"""Drives the program through a real terminal, as a user at a console meets
it, or through pipes, as an IDE console does: each question shows before
the program waits, and the pause waits for Enter unless the line already
holds more characters. A build with no pseudo-terminal to give (a chroot
without /dev/pts) skips the terminal, with status 77 and the reason.

usage: terminal.py [--pipes] PROGRAM"""
import os
import select
import subprocess
import sys
import time
import unittest

PROGRAM = None


class Terminal:
    def __init__(self, pipes=False):
        if pipes:
            (self.master, stdout), (stdin, self.keyboard) = os.pipe(), os.pipe()
        else:
            self.master, stdout = os.openpty()
            stdin, self.keyboard = stdout, self.master
        self.process = subprocess.Popen([PROGRAM], stdin=stdin, stdout=stdout,
                                        stderr=subprocess.PIPE, start_new_session=True)
        os.close(stdout)
        if pipes:
            os.close(stdin)
        self.screen = b""

    def wait_for(self, text, seconds=10.0):
        deadline = time.monotonic() + seconds
        while text not in self.screen:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                raise AssertionError("%r never shown; screen: %r" % (text, self.screen))
            try:
                self.screen += os.read(self.master, 4096)
            except OSError:  # the program has gone and the terminal closed
                raise AssertionError("%r never shown; screen: %r" % (text, self.screen))

    def type(self, keys):
        os.write(self.keyboard, keys)

    def end_input(self):
        if self.keyboard == self.master:
            self.type(b"\x04")  # Ctrl-D: end of input on a terminal
        else:
            os.close(self.keyboard)
            self.keyboard = None

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stderr.close()
        for fd in {self.master, self.keyboard} - {None}:
            os.close(fd)


class AtTheConsole(unittest.TestCase):
    pipes = False

    def setUp(self):
        self.term = Terminal(self.pipes)
        self.addCleanup(self.term.close)

    def answer(self, frequency, distance):
        self.term.wait_for(b"Introduce la frecuencia en Mhz: ")
        self.term.type(frequency)
        self.term.wait_for(b"separa con punto . : ")
        self.term.type(distance)
        self.term.wait_for(b"\nPulse Intro para continuar")

    def assert_ends_alone(self):
        self.assertEqual(self.term.process.wait(timeout=10), 0)
        self.assertEqual(self.term.process.stderr.read(), b"")

    def assert_waits_for_enter(self):
        time.sleep(0.5)
        self.assertIsNone(self.term.process.poll(), "ended without waiting for Enter")
        self.term.type(b"\n")
        self.assert_ends_alone()

    def test_pause_waits_for_enter(self):
        self.answer(b"144\n", b"100\n")
        self.assertIn(b"La atenuacion en 47088 Mhz en dB es: 165.958205", self.term.screen)
        self.assert_waits_for_enter()

    def test_both_numbers_on_one_line_still_pause(self):
        self.answer(b"144 100\n", b"")
        self.assert_waits_for_enter()

    def test_comma_ends_without_waiting(self):
        self.answer(b"144\n", b"2,5\n")
        self.assertIn(b"espacio libre en dB es: 81.687850", self.term.screen)
        self.assert_ends_alone()

    def test_end_of_input_at_the_pause(self):
        self.answer(b"144\n", b"100\n")
        self.term.end_input()
        self.assert_ends_alone()


class ThroughPipes(AtTheConsole):
    pipes = True


if __name__ == "__main__":
    PROGRAM = sys.argv[-1]
    case = ThroughPipes if sys.argv[1:2] == ["--pipes"] else AtTheConsole
    if case is AtTheConsole:
        try:
            for fd in os.openpty():
                os.close(fd)
        except OSError as e:
            print("skipped: no pseudo-terminal can be opened here: %s" % e)
            sys.exit(77)
    unittest.main(argv=sys.argv[:1], defaultTest=case.__name__, verbosity=2)
