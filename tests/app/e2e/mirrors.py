#!/usr/bin/env python3
"""Other copies of the package: mirrors.py <scenario> --build <x86_64 build folder>.

  mirrors   with a build whose "packageMirrors" names two mirrors on loopback ports 8911
            ("m/") and 8912 ("n/"): (1) the announced host refuses connections and the
            install completes from mirror m, within the first retry wait and m's own time;
            (2) a large package announced on a server shaped to 2 MB/s per connection, m
            shaping to 8 MB/s and n holding another file of the same size: the install
            succeeds, n is dropped or left out by the digest's second download, at least
            two thirds of the bytes come from m by the servers' logs, and the download
            takes at most 1.2 times as long as from m alone (the stock build, the same
            connection count).
"""
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import check, free_port, installer_logs, padded_payload, port_open, wait_for  # noqa: E402
from peers import nginx_command  # noqa: E402
from run import fresh, payload_env  # noqa: E402

MIRROR_M, MIRROR_N = 8911, 8912
FIRST_WAIT_MS = 1250  # the retry schedule's first wait at its longest jitter
LARGE = 40 << 20      # above the size from which a download takes several connections


def nginx(run, port, rate):
    """nginx on `port` serving the run's www folder at `rate` per connection, logging the
    body bytes it sent for each request."""
    folder = os.path.join(run.folder, "nginx-%d" % port)
    # Small sendfile chunks: the first one would otherwise go out at once, a burst of
    # 2 MB that no shaped server of this speed sends.
    command = nginx_command(folder, os.path.join(run.folder, "www"), port,
                            "limit_rate %s; sendfile_max_chunk 64k;" % rate)
    conf = os.path.join(folder, "nginx.conf")
    with open(conf) as f:
        text = f.read().replace("$status'", "$status $body_bytes_sent'")
    with open(conf, "w") as f:
        f.write(text)
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run.stack.callback(lambda: process.poll() is None and (process.terminate(), process.wait(10)))
    wait_for(lambda: port_open(port), 10, "nginx on port %d" % port)
    return process, os.path.join(folder, "access.log")


def sent(log):
    """Body bytes a server's access log shows it sent."""
    if not os.path.exists(log):
        return 0
    return sum(int(line.split()[-1]) for line in open(log) if line.split()[-1].isdigit())


def place(run, source, *where):
    """The file `source` at each path under www (hard links: one file, one ETag)."""
    for path in where:
        target = os.path.join(run.folder, "www", path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if os.path.exists(target):
            os.remove(target)
        os.link(source, target)


def install(run, exe, url, md5, size):
    """A silent install of the package announced at `url`; returns its download time in
    seconds by its log."""
    fresh(run)
    query = run.start_update_server("--url", url, "--md5", md5, "--size", str(size), "--version", "1.2.3.4")
    since = time.time() - 1
    run.start_installer(exe, "/verysilent", env_extra=payload_env(run, steps=2, delay=20))
    code = run.installer_exit(120)
    query.terminate()
    query.wait(10)
    text = "".join(open(path, encoding="utf-8", errors="replace").read() for path in installer_logs(run, since))
    run.log_text = text
    check(code == 0, "the install ended with %s; its log:\n%s" % (code, text[-3000:]))
    found = re.findall(r"complete: \d+ bytes in ([\d.]+) s", text)
    check(found, "no download time in the log:\n%s" % text[-3000:])
    return float(found[-1])


def mirrors(run):
    exe = os.path.join(run.folder, "mirrors-installer.exe")
    shutil.copyfile(os.path.join(run.build, "tests", "app", "installer_e2e_mirrors.exe"), exe)
    stock = os.path.join(run.folder, "mirrors-stock.exe")
    shutil.copyfile(os.path.join(run.build, "tests", "app", "installer_e2e.exe"), stock)

    # (1) Nothing listens at the announced address: mirror m serves 4 MB at 4 MB/s.
    small = os.path.join(run.folder, "small.exe")
    target, md5 = padded_payload(run.build, 4 << 20)
    shutil.copyfile(target, small)
    place(run, small, "m/setup.exe")
    m, m_log = nginx(run, MIRROR_M, "4m")
    seconds = install(run, exe, "http://127.0.0.1:%d/pkg/setup.exe" % free_port(), md5, 4 << 20)
    own = (4 << 20) / (4 << 20)
    check(seconds <= FIRST_WAIT_MS / 1000 + own * 1.5, "from a dead announced host it took %.1f s" % seconds)
    check("dropped for this run" not in run.log_text and sent(m_log) >= 4 << 20,
          "mirror m sent %d bytes" % sent(m_log))
    m.terminate()
    m.wait(10)

    # (2) The announced server slow, m fast, n another file of the same size.
    large = os.path.join(run.folder, "large.exe")
    target, md5 = padded_payload(run.build, LARGE)
    shutil.copyfile(target, large)
    place(run, large, "pkg/setup.exe", "m/setup.exe")
    other = os.path.join(run.folder, "other.exe")
    shutil.copyfile(large, other)
    with open(other, "r+b") as f:
        f.seek(LARGE // 2)
        f.write(b"not the announced package")
    os.utime(other, (1e9, 1e9))
    place(run, other, "n/setup.exe")
    _, m_log = nginx(run, MIRROR_M, "8m")
    alone = install(run, stock, "http://127.0.0.1:%d/m/setup.exe" % MIRROR_M, md5, LARGE)
    before = sent(m_log)

    slow_port = free_port()
    _, slow_log = nginx(run, slow_port, "2m")
    _, n_log = nginx(run, MIRROR_N, "8m")
    mixed = install(run, exe, "http://127.0.0.1:%d/pkg/setup.exe" % slow_port, md5, LARGE)
    n_left_out = re.search(r"source 127\.0\.0\.1:%d dropped for this run" % MIRROR_N, run.log_text) or \
        "comes again from" in run.log_text
    fast, slow = sent(m_log) - before, sent(slow_log)
    run.report = ["from m alone %.2f s, with mirrors %.2f s; bytes sent: m %d, announced %d, n %d"
                  % (alone, mixed, fast, slow, sent(n_log))]
    check(n_left_out, "mirror n was neither dropped nor left out; log:\n%s" % run.log_text[-3000:])
    check(fast * 3 >= (fast + slow) * 2, run.report[0])
    check(mixed <= alone * 1.2, run.report[0])


if __name__ == "__main__":
    from harness import main
    sys.exit(main({"mirrors": mirrors}, timeouts={"mirrors": 200}))
