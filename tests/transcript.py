#!/usr/bin/env python3
"""Feeds a transcript's input to the program through a pipe and compares what
it writes, byte for byte, with the expected output.

usage: transcript.py [--crlf] COMMAND... CASE.in CASE.out
       transcript.py [--crlf] COMMAND... DIR    (every DIR/NAME.in, NAME.out)
--crlf folds CR LF to LF first, for a Windows build."""
import glob
import os
import subprocess
import sys


def check(command, case_in, case_out, crlf):
    with open(case_in, "rb") as f:
        given = f.read()
    with open(case_out, "rb") as f:
        expected = f.read()
    # Arguments and a foreign locale must change nothing.
    odd_env = dict(os.environ, LC_ALL="de_DE.UTF-8", LANG="es_ES.UTF-8", LC_NUMERIC="de_DE")
    failures = 0
    for extra, env in (([], os.environ), (["--help", "-v", "1,5"], odd_env)):
        # Generous: wine under an emulator takes most of a minute to start.
        run = subprocess.run(command + extra, input=given, capture_output=True, env=env, timeout=300)
        out = run.stdout.replace(b"\r\n", b"\n") if crlf else run.stdout
        problems = []
        if out != expected:
            problems.append("stdout differs:\n--- expected\n%r\n--- got\n%r" % (expected, out))
        if run.stderr:
            problems.append("stderr not empty: %r" % run.stderr[:500])
        if run.returncode != 0:
            problems.append("exit status %d" % run.returncode)
        for problem in problems:
            print("%s with arguments %s: %s" % (case_in, extra, problem))
        failures += len(problems)
    return failures


def main(argv):
    crlf = argv[:1] == ["--crlf"]
    if crlf:
        argv = argv[1:]
    if os.path.isdir(argv[-1]):
        command = argv[:-1]
        cases = [(c, c[:-3] + ".out") for c in sorted(glob.glob(os.path.join(argv[-1], "*.in")))]
    else:
        command, cases = argv[:-2], [(argv[-2], argv[-1])]
    failures = sum(check(command, case_in, case_out, crlf) for case_in, case_out in cases)
    return 1 if failures or not cases else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
