#!/usr/bin/env python3
"""The package download stopped and continued: transfer.py <scenario> --build <x86_64 build folder>.

  killed_twice     a silent install of a 160 MiB package over several shaped connections,
                   killed twice mid-way: the second run asks for no byte the first run's
                   ".parts" already recorded; then the server's file changes (same size,
                   new content, a new digest announced): the third run starts afresh once
                   and installs. A completed continuation is past_4gib's.
"""
import hashlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import PACKAGE, fresh, payload_env, serve_package, silent, start  # noqa: E402
from faults import asked, bytes_on_disk, recorded  # noqa: E402
from harness import check, main, wait_for  # noqa: E402

MIB = 1 << 20


def overlap(ranges, held):
    return sum(max(0, min(b, d) - max(a, c)) for a, b in ranges for c, d in held)


def connected(port):
    """Established TCP connections to the loopback `port` (the scenario's own namespace)."""
    count = 0
    for line in open("/proc/net/tcp").read().splitlines()[1:]:
        fields = line.split()
        count += int(fields[1].split(":")[1], 16) == port and fields[3] == "01"
    return count


def kill_installer(run, port):
    """Kills the running installer outright, as a power cut or the task manager would, and
    waits until nginx has let go of (and so logged) every request it had."""
    run.kill_installer(os.path.basename(run.installer.args[1]))
    wait_for(lambda: connected(port) == 0, 20, "nginx to close the killed run's connections")


def killed_twice(run):
    fresh(run)
    # nginx lets each request send a second's worth at once: at 4 MiB/s per connection the
    # package still takes seconds, so the kills find it mid-way.
    served = serve_package(run, 160 * MIB - os.path.getsize(os.path.join(run.build, "tools", "payload", "payload.exe")),
                           rate="4m")
    size, port, log = served.length, served.port, served.log
    env = payload_env(run)
    partial = run.drive_c(*PACKAGE)
    logged = 0
    held = []
    for stop_past in (40 * MIB, 100 * MIB):
        start(run, ["/verysilent"], env)
        wait_for(lambda: bytes_on_disk(partial) > stop_past or run.installer.poll() is not None, 60,
                 "more than %d bytes recorded" % stop_past)
        check(run.installer.poll() is None, "the run ended before it was killed")
        kill_installer(run, port)
        lines = open(log).read().splitlines()
        check(overlap(asked(lines[logged:], size), held) == 0,
              "a run asked again for recorded bytes %r: %r" % (held, lines[logged:]))
        check(held or len(lines) > 1, "one request for the first run: %r" % lines)
        logged = len(lines)
        held = recorded(partial)
        check(sum(b - a for a, b in held) > stop_past, "killed with %r recorded" % held)
    # The same size, new content after the payload's image, a new time (and so a new ETag),
    # a new digest announced: the third run starts afresh once (one request from the first
    # byte, which a run continuing from the record would not send) and installs.
    with open(served.file, "r+b") as f:
        f.seek(size - 4 * MIB)
        f.write(os.urandom(4 * MIB))
    stat = os.stat(served.file)
    os.utime(served.file, (stat.st_atime, stat.st_mtime + 60))
    new_digest = hashlib.md5(open(served.file, "rb").read()).hexdigest()
    check(new_digest != served.digest, "the file did not change")
    served.server.terminate()
    served.server.wait(10)
    run.announce(served.url, new_digest, size)
    silent(run, env=env, seconds=90, expect=0, boxes=[], ran=True)
    lines = open(log).read().splitlines()[logged:]
    check([first for first, _ in asked(lines, size)].count(0) == 1, "the run after the change asked %r" % lines)
    run.report = ["%d requests over three runs; after the change: %r" % (logged + len(lines), lines)]


if __name__ == "__main__":
    sys.exit(main({"killed_twice": killed_twice}, timeouts={"killed_twice": 150}))
