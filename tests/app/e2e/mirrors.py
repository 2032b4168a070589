#!/usr/bin/env python3
"""Other copies of the package: mirrors.py mirrors --build <x86_64 build folder>.

With a build naming mirrors m (127.0.0.1:8911/m/) and n (:8912/n/): (1) nothing listens at
the announced address: the install completes from m within the first retry wait and m's
own time; (2) a large package announced at 2 MB/s per connection, m at 8 MB/s, n holding
another file of the same size: n is dropped, at least two thirds of the bytes come from m
by nginx's logs, in at most 1.5 times m's time alone (the stock build, the same
connections; a slow copy holding the end would take seconds more, and the ratio itself is
the mirrors benchmark's, measured on a quiet machine); (3) n's other file carries the announced ETag (announced on m): the digest
fails and the package comes again from the announced address alone. Every install succeeds.
"""
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import check, free_port, installer_logs, padded_payload  # noqa: E402
from run import fresh, payload_env  # noqa: E402

LARGE = 40 << 20  # above the size from which a download takes several connections


def nginx(run, port, rate):
    """nginx on `port` for the www folder at `rate` per connection, in small sendfile chunks
    (else the first 2 MB go out unshaped), logging each request's body bytes."""
    log = os.path.join(run.folder, "nginx-%d" % port, "bytes.log")
    process, _ = run.nginx_on(port, rate, directives=" sendfile_max_chunk 64k; access_log %s bytes;" % log)
    return process, lambda: sum(int(line) for line in open(log)) if os.path.exists(log) else 0


def place(run, source, *paths):
    """`source` at each path under www, hard-linked: one file, one ETag."""
    for path in paths:
        target = os.path.join(run.folder, "www", path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if os.path.exists(target):
            os.remove(target)
        os.link(source, target)


def install(run, exe, url, md5, size):
    """A silent install of the package announced at `url`: its download seconds by its log."""
    fresh(run)
    query = run.announce(url, md5, size)
    since = time.time() - 1
    run.start_installer(exe, "/verysilent", env_extra=payload_env(run, steps=2, delay=20))
    code = run.installer_exit(120)
    query.terminate()
    query.wait(10)
    run.log_text = "".join(open(p, encoding="utf-8", errors="replace").read() for p in installer_logs(run, since))
    found = re.findall(r"complete: \d+ bytes in ([\d.]+) s", run.log_text)
    check(code == 0 and found, "the install ended with %s; its log:\n%s" % (code, run.log_text[-3000:]))
    return float(found[-1])


def mirrors(run):
    exe, stock = os.path.join(run.folder, "mirrors-installer.exe"), os.path.join(run.folder, "mirrors-stock.exe")
    shutil.copyfile(os.path.join(run.build, "tests", "app", "installer_e2e_mirrors.exe"), exe)
    shutil.copyfile(os.path.join(run.build, "tests", "app", "installer_e2e.exe"), stock)
    dead = "http://127.0.0.1:%d/pkg/setup.exe" % free_port()

    # (1) 4 MB from m at 4 MB/s: its own time is 1 s, the first retry wait at most 1.25 s.
    small, md5 = padded_payload(run.build, 4 << 20)
    place(run, small, "m/setup.exe")
    m, _ = nginx(run, 8911, "4m")
    seconds = install(run, exe, dead, md5, 4 << 20)
    check(seconds <= 1.25 + 1.5, "from a dead announced host it took %.1f s" % seconds)
    m.terminate()
    m.wait(10)

    # (2) The announced copy slow, m fast, n another file.
    large, md5 = padded_payload(run.build, LARGE)
    place(run, large, "pkg/setup.exe", "m/setup.exe")
    other = os.path.join(run.folder, "other.exe")
    shutil.copyfile(large, other)
    with open(other, "r+b") as f:  # wrong wherever a request may start
        for at in range(0, LARGE, 64 << 10):
            f.seek(at)
            f.write(b"not the announced package")
    # nginx's ETag is the file's time and size: made in the same second, the two would agree.
    stamp = os.stat(large).st_mtime_ns - 1000 * 10**9
    os.utime(other, ns=(stamp, stamp))
    place(run, other, "n/setup.exe")
    m, m_sent = nginx(run, 8911, "8m")
    alone = install(run, stock, "http://127.0.0.1:8911/m/setup.exe", md5, LARGE)
    before = m_sent()
    slow_port = free_port()
    _, slow_sent = nginx(run, slow_port, "2m")
    nginx(run, 8912, "8m")
    mixed = install(run, exe, "http://127.0.0.1:%d/pkg/setup.exe" % slow_port, md5, LARGE)
    fast, slow = m_sent() - before, slow_sent()
    run.report = ["from m alone %.2f s, with mirrors %.2f s; bytes from m %d, from the announced copy %d"
                  % (alone, mixed, fast, slow)]
    check("source 127.0.0.1:8912 dropped for this run" in run.log_text, "n was not dropped:\n" + run.log_text[-3000:])
    check(fast * 3 >= (fast + slow) * 2 and mixed <= alone * 1.5, run.report[0])

    # (3) n's file with the announced file's ETag (size and time), announced on m.
    os.utime(other, ns=(os.stat(large).st_atime_ns, os.stat(large).st_mtime_ns))
    install(run, exe, "http://127.0.0.1:8911/m/setup.exe", md5, LARGE)
    check("comes again from" in run.log_text, "no second download from the announced address alone")


if __name__ == "__main__":
    from harness import main
    sys.exit(main({"mirrors": mirrors}, timeouts={"mirrors": 200}))
