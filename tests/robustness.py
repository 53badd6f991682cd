#!/usr/bin/env python3
"""Whatever arrives on standard input and whatever becomes of standard
output, the program ends with status 0, writes nothing to standard error and
keeps its memory small.

usage: robustness.py PROGRAM"""
import os
import random
import subprocess
import sys
import unittest

PROGRAM = None
PAUSE = b"\nPulse Intro para continuar"


def run(given, **kwargs):
    kwargs.setdefault("stdout", subprocess.PIPE)
    return subprocess.run([PROGRAM], input=given, stderr=subprocess.PIPE, timeout=120, **kwargs)


class AnyInput(unittest.TestCase):
    def check_survives(self, given):
        done = run(given)
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stderr, b"")
        self.assertTrue(done.stdout.endswith(PAUSE))
        return done.stdout

    def test_random_bytes(self):
        chance = random.Random(4)
        for size in (1, 2, 3, 17, 4096, 1 << 20):
            for _ in range(5):
                self.check_survives(bytes(chance.randrange(256) for _ in range(min(size, 4096))) * max(1, size // 4096))

    def test_nul_bytes_and_long_lines(self):
        for given in (b"\0" * 100, b"144\0100\n\n", b"x" * (8 << 20), b"1" * (8 << 20) + b"\n5\n",
                      b"-" * 1000, b"." * 3, b"1e" * 50000):
            self.check_survives(given)

    def test_long_input_keeps_memory_small(self):
        # Tens of MiB of white space or of digits must be taken as they come,
        # not gathered.
        blank = b" \n\t\r" * (12 << 20)
        zeros = b"0" * (48 << 20)
        hundred = b"0." + zeros + b"1e" + str(len(zeros) + 3).encode()
        for given, free_space in ((blank + b"144\n" + blank + b"100\n", b"115.667250"),
                                  (hundred + b"\n1" + zeros + b"\n", b"inf")):
            out, peak_kib = run_to_pause(given)
            self.assertIn(b"espacio libre en dB es: " + free_space + b"\n", out)
            # A sanitizer's shadow memory says nothing of the program's own.
            if not os.environ.get("PATHLOSS_SANITIZED"):
                self.assertLess(peak_kib, 8 * 1024)


def run_to_pause(given):
    """Runs the program up to its pause and returns what it wrote and its peak
    resident memory in KiB, read while it waits for Enter."""
    program = subprocess.Popen([PROGRAM], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    program.stdin.write(given)
    program.stdin.flush()
    out = b""
    while not out.endswith(PAUSE):
        chunk = os.read(program.stdout.fileno(), 4096)
        if not chunk:
            break
        out += chunk
    with open("/proc/%d/status" % program.pid) as status:
        peak_kib = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
    program.communicate(b"\n", timeout=60)
    return out, peak_kib


class AnyOutput(unittest.TestCase):
    def test_full_device(self):
        with open("/dev/full", "wb") as full:
            done = run(b"144\n100\n\n", stdout=full)
        self.assertEqual((done.returncode, done.stderr), (0, b""))

    def test_reader_gone(self):
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            done = run(b"144\n100\n\n", stdout=write_end)
        finally:
            os.close(write_end)
        self.assertEqual((done.returncode, done.stderr), (0, b""))


if __name__ == "__main__":
    PROGRAM = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
