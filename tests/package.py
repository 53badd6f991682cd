#!/usr/bin/env python3
"""Builds a package with cpack, unpacks it into a temporary root and runs the
program found there on a transcript, as a user who installed it would.

usage: package.py deb BUILD_DIR CASE.in CASE.out
       package.py zip BUILD_DIR CASE.in CASE.out WINE OBJDUMP"""
import glob
import gzip
import os
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(*command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


def transcript(*command_and_case):
    subprocess.run([sys.executable, os.path.join(HERE, "transcript.py"), *command_and_case], check=True)


def check_deb(build, case_in, case_out, root):
    run("cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", root)
    [deb] = glob.glob(os.path.join(root, "*.deb"))
    lint = subprocess.run(["lintian", "--fail-on", "error,warning", deb], capture_output=True, text=True)
    assert lint.returncode == 0, "lintian:\n" + lint.stdout + lint.stderr
    installed = os.path.join(root, "installed")
    run("dpkg-deb", "-x", deb, installed)
    for page in ("usr/share/man/man1/pathloss.1.gz", "usr/share/man/es/man1/pathloss.1.gz"):
        with gzip.open(os.path.join(installed, page)) as compressed:
            source = compressed.read()
        rendered = subprocess.run(["groff", "-k", "-man", "-ww", "-z"], input=source, capture_output=True)
        assert (rendered.returncode, rendered.stderr) == (0, b""), page + ": " + rendered.stderr.decode()
    for doc in ("README.md", "NEWS", "copyright", "changelog.gz"):
        assert os.path.isfile(os.path.join(installed, "usr/share/doc/pathloss", doc)), doc
    transcript(os.path.join(installed, "usr/bin/pathloss"), case_in, case_out)


def check_zip(build, case_in, case_out, wine, objdump, root):
    run("cpack", "-G", "ZIP", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", root)
    [package] = glob.glob(os.path.join(root, "*.zip"))
    with zipfile.ZipFile(package) as archive:
        names = sorted(os.path.basename(name) for name in archive.namelist() if not name.endswith("/"))
        assert names == ["LICENSE", "README.md", "pathloss.exe"], names
        archive.extractall(os.path.join(root, "unzipped"))
    [exe] = glob.glob(os.path.join(root, "unzipped", "*", "pathloss.exe"))
    dlls = {line.split()[-1].lower() for line in run(objdump, "-p", exe).splitlines() if "DLL Name:" in line}
    assert dlls <= {"kernel32.dll", "msvcrt.dll"}, dlls
    transcript("--crlf", wine, exe, case_in, case_out)


if __name__ == "__main__":
    kind, rest = sys.argv[1], sys.argv[2:]
    with tempfile.TemporaryDirectory() as root:
        {"deb": check_deb, "zip": check_zip}[kind](*rest, root)
