#!/usr/bin/env python3
"""Other copies of the package: mirrors.py mirrors --build <x86_64 build folder>.

With a build naming mirrors m (127.0.0.1:8911/m/) and n (:8912/n/), the package announced
on m while n holds another file of the same size and the announced file's ETag: the digest
fails and the package comes again from the announced address alone, and the install
succeeds. Which copy carries how much and how fast, a dead announced host included, is
the transfer simulation's (FastCopyCarriesTheFileAndTheOtherFileNeverMixesIn) and the
mirrors benchmark's.
"""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import check, installer_logs, padded_payload  # noqa: E402
from run import fresh, payload_env, silent  # noqa: E402

LARGE = 40 << 20  # above the size from which a download takes several connections


def place(run, source, path, port, rate):
    """`source` at `path` under www, hard-linked (one file, one ETag), and nginx on `port` at
    `rate` per connection, in small sendfile chunks (else the first 2 MB go out unshaped)."""
    target = os.path.join(run.folder, "www", path)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    os.link(source, target)
    run.nginx_on(port, rate, directives=" sendfile_max_chunk 64k;")


def mirrors(run):
    fresh(run)
    # n's file is wrong wherever a request may start, and has the announced file's size and
    # time (nginx's ETag).
    large, md5 = padded_payload(run.build, LARGE)
    other = os.path.join(run.folder, "other.exe")
    shutil.copyfile(large, other)
    with open(other, "r+b") as f:
        for at in range(0, LARGE, 64 << 10):
            f.seek(at)
            f.write(b"not the announced package")
    os.utime(other, ns=(os.stat(large).st_atime_ns, os.stat(large).st_mtime_ns))
    place(run, large, "m/setup.exe", 8911, "8m")
    place(run, other, "n/setup.exe", 8912, "8m")
    run.announce("http://127.0.0.1:8911/m/setup.exe", md5, LARGE)
    silent(run, env=payload_env(run, steps=2, delay=20), expect=0, variant="installer_e2e_mirrors.exe")
    text = "".join(open(p, encoding="utf-8", errors="replace").read() for p in installer_logs(run, run.started))
    check("comes again from" in text, "no second download from the announced address alone:\n" + text[-3000:])


if __name__ == "__main__":
    from harness import main
    sys.exit(main({"mirrors": mirrors}, timeouts={"mirrors": 200}))
