#!/usr/bin/env python3
"""Fault scenarios of the installer: faults.py <scenario> --build <x86_64 build folder>.

The package server stopped mid-download for good, a package past 4 GiB whose server
goes away twice on its way, too little room on the install drive, and the network faults of the relay (tests/support/fault_proxy.py)
and of a proxy. Each drives real installer processes under Wine; every wait is bounded
and every process is stopped.
"""
import os
import re
import signal
import subprocess
import sys
from pathlib import Path
from time import monotonic

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as scenarios  # noqa: E402
from run import PACKAGE, payload_env, serve_package, silent, start  # noqa: E402
from harness import (UPDATE_PORT, Failure, check, end_line, free_port, installer_logs, log_lines, main,  # noqa: E402
                     padded_payload, wait_for)

# Large enough that a throttled transfer is still running when the fault strikes.
PAD = 12 << 20


def file_size(path):
    return os.path.getsize(path) if os.path.exists(path) else 0


def recorded(path):
    """The ranges [first, end) that the ".parts" record of a package being downloaded names
    (after the server's validator, when it gave one)."""
    lines = open(path + ".parts").read().splitlines()[2:-1]
    return [(int(a), int(b) + 1) for a, b in (line.split("-") for line in lines if not line.startswith("If-Range: "))]


def bytes_on_disk(path):
    """The bytes of a package being downloaded: what its ".parts" record names, else the
    file's size."""
    try:
        return sum(b - a for a, b in recorded(path))
    except OSError:
        return file_size(path)


def server_stopped(run):
    """The package server goes away mid-download and does not come back: the run tries
    again until its budget is spent, then says so and ends with 1, keeping the partial
    file and its side file; the next run continues with Range. The waits are a tenth of
    the real ones (a test build's seam); RetryScheduleTest holds the real schedule."""
    scenarios.fresh(run)
    served = serve_package(run, pad=PAD, rate="2m")
    length = served.length
    partial = run.drive_c(*PACKAGE)
    start(run, ["/verysilent"], dict(payload_env(run), QX_TEST_RETRY_DIVISOR="10"))
    wait_for(lambda: file_size(partial) > 2 << 20, 60, "a part of the package to arrive")
    served.nginx.send_signal(signal.SIGKILL)
    served.nginx.wait(10)
    stopped = monotonic()
    code = run.installer_exit(200)
    waited = monotonic() - stopped
    kept = file_size(partial)
    check(code == 1, "the interrupted run ended with %s" % code)
    # Seven waits between eight tries, each at least three quarters of a tenth of 1, 2,
    # 4, 8, 16, 30 and 30 s.
    check(waited > 6.8, "the run gave up %.1f s after the server went away" % waited)
    boxes = run.dialogs()
    check(boxes and boxes[-1] == scenarios.NETWORK, "message boxes %r" % boxes)
    check(0 < kept < length and os.path.exists(partial + ".info"),
          "partial file of %d bytes (package %d), side file %s" % (kept, length, os.path.exists(partial + ".info")))
    check(not os.path.exists(run.record), "the payload ran after an interrupted download")
    check(run.registry_install_path() is None, "a registry value after an interrupted download")

    _, log2 = run.nginx_on(served.port, "0")
    # The continued file passed the installer's own digest check, ran and was removed.
    silent(run, expect=0, boxes=[], ran=True)
    requests = open(log2).read().splitlines()
    check(len(requests) == 1 and requests[0].endswith(" 206"), "second run's requests %r" % requests)
    check(run.registry_install_path() == scenarios.DEFAULT_PATH, "registry %r" % run.registry_install_path())
    run.report = ["gave up %.1f s after the server went away, at %d of %d bytes; continued with %s"
                  % (waited, kept, length, requests[0])]


def no_space(run):
    """Too little room on the install drive: the box and code 1 before anything is written
    or asked for; with room, the same install completes and leaves no package behind."""
    mount = run.mount_drive_t("6m")
    scenarios.fresh(run)
    log = serve_package(run, pad=PAD).log
    silent(run, "/path", "T:\\game", expect=1, boxes=[("提示", "磁盘空间不足，请清理磁盘或选择其他安装目录后再试。")], ran=False)
    check("not enough free space" in end_line(run), "the log ends with %r" % end_line(run))
    check(os.listdir(mount) == [], "written on the small drive: %r" % os.listdir(mount))
    check(open(log).read() == "", "the package was asked for: %r" % open(log).read())

    # Room for the package and the margin of 64 MiB.
    subprocess.run(["mount", "-o", "remount,size=96m", mount], check=True, capture_output=True)
    silent(run, "/path", "T:\\game", expect=0)
    requests = open(log).read().splitlines()
    check(len(requests) == 1 and requests[0].endswith('"-" 200'), "requests %r" % requests)
    check(run.registry_install_path() == "T:\\game", "registry %r" % run.registry_install_path())
    check(not os.path.exists(os.path.join(mount, "vantorsetup")), "the download folder stayed after the install")
    run.report = ["%d free bytes: box and code 1, nothing written; with room: %r" % (6 << 20, requests)]


FOUR_GIB = 1 << 32


def spans(headers, size):
    """The ranges [first, end) that Range values ("bytes=A-B", or "-" without one) ask of a
    file of `size` bytes."""
    ranges = []
    for header in headers:
        first, _, last = ("0-" if header == "-" else header[len("bytes="):]).partition("-")
        ranges.append((int(first), int(last) + 1 if last else size))
    return ranges


def asked(lines, size):
    """The ranges [first, end) of an access log's lines."""
    return spans([line.rsplit('"', 2)[1] for line in lines], size)


def past_4gib(run):
    """A package past 2^32 bytes, of which an earlier run left the first 2^31 - 64 MiB
    (more than 2^31 bytes still missing), whose server goes away once past 2^31 and once
    past 2^32 bytes on disk, and comes back a moment later: the run continues from the
    record, and each time with ranges from where it stopped, then completes, verifies
    (the kept bytes included), runs the payload of that size and removes the package and
    its side files."""
    scenarios.fresh(run)
    run.stack.callback(run.clean_machine)
    size = FOUR_GIB + (300 << 20)
    source, digest = padded_payload(run.build, size)
    www = os.path.join(run.folder, "www", "pkg")
    os.makedirs(www)
    os.symlink(source, os.path.join(www, "setup.exe"))
    port = free_port()
    run.announce("http://127.0.0.1:%d/pkg/setup.exe" % port, digest, size)
    partial = run.drive_c(*PACKAGE)
    kept = (1 << 31) - (64 << 20)
    os.makedirs(os.path.dirname(partial))
    with open(source, "rb") as src, open(partial, "wb") as dst:
        dst.write(src.read(os.path.getsize(os.path.join(run.build, "tools", "payload", "payload.exe"))))
        dst.truncate(size)
    Path(partial + ".info").write_text("%d%s" % (size, digest))
    Path(partial + ".parts").write_text("%d\n%s\n0-%d\nend\n" % (size, digest, kept - 1))
    logs = []
    nginx, log = run.nginx_on(port, "0")
    start(run, ["/verysilent"], payload_env(run))
    for stop_past in (1 << 31, FOUR_GIB):
        wait_for(lambda: bytes_on_disk(partial) > stop_past or run.installer.poll() is not None, 240,
                 "more than %d bytes on disk" % stop_past)
        nginx.send_signal(signal.SIGKILL)
        nginx.wait(10)
        check(run.installer.poll() is None, "the run ended when its server went away")
        os.rename(log, "%s.%d" % (log, len(logs)))
        logs.append("%s.%d" % (log, len(logs)))
        nginx, log = run.nginx_on(port, "0")
    code = run.installer_exit(240)
    check(code == 0, "the run ended with %s (boxes %r)" % (code, run.dialogs()))
    logs.append(log)
    # nginx logs a request when it ends, so the lowest start of each server's requests
    # is where the run went on from; the connections run a few segments ahead of the
    # file's prefix, so that start is a little before the mark.
    starts = [min([first for first, _ in asked(open(path).read().splitlines(), size)] or [-1]) for path in logs]
    ahead = 128 << 20
    check(starts[0] == kept and starts[1] > (1 << 31) - ahead and starts[2] > FOUR_GIB - ahead,
          "the lowest first byte asked of each server %r" % starts)
    check(run.dialogs() == [], "message boxes %r" % run.dialogs())
    check(os.path.exists(run.record), "the payload did not run")
    check(run.registry_install_path() == scenarios.DEFAULT_PATH, "registry %r" % run.registry_install_path())
    check(not any(os.path.exists(partial + end) for end in ("", ".info", ".parts")),
          "the package or a side file stayed")
    run.report = ["package of %d bytes; the lowest first byte asked of each server %r" % (size, starts)]


# ---- network faults the installer recovers from by itself --------------------------------
# The package comes from nginx through the fault relay (tests/support/fault_proxy.py),
# which the update server names as the package's address.

MIB = 1 << 20


def first_bytes(run, log):
    """The first byte each request asked for, in order (0 without Range)."""
    headers = [details.split()[2] for _, _, _, details in run.fault_events(log, "request")]
    return [first for first, _ in spans(headers, 0)]


def hear(run, what, fits, seconds=30):
    """Waits until a text of the window, as a screen reader hears it, `fits`; fails with the
    texts heard last."""
    heard = [[]]
    try:
        wait_for(lambda: heard.append([r[1] for r in run.accessible_tree()]) or any(map(fits, heard[-1])), seconds, what)
    except Failure as failure:
        raise Failure("%s; heard lately %r" % (failure, heard[-1]))


def busy_then_cut(run):
    """A silent install through the relay that must end well, without a word: 503 with
    Retry-After: 2 twice (each wait lasts at least 2 s), a connection closed before its
    answer, then one cut after every MiB. Each retry continues from the bytes on disk:
    past the last one's start, never past what the relay passed (its answer's head
    aside). The cuts close the connection: a reset also throws away what the receiving
    side has not read yet, which under load can be a whole MiB again and again, so how far
    each try got would be the machine's, not the installer's (the recovery benchmark cuts
    with resets)."""
    scenarios.fresh(run)
    served = serve_package(run, pad=3 * MIB, relay=["--answer-503", "2", "--retry-after", "2", "--close-before-headers",
                                                    "1", "--cut-every", str(MIB), "--cut-how", "close"])
    length, log = served.length, served.relay_log
    silent(run, expect=0, boxes=[])
    times = [t for t, _, _, _ in run.fault_events(log, "request")]
    waits = [b - a for a, b in zip(times, times[1:3])]
    check(all(w >= 2.0 for w in waits), "requests after waits of %r s" % waits)
    starts = first_bytes(run, log)
    sent = [int(details) for _, _, _, details in run.fault_events(log, "cut")]
    check(starts[:4] == [0] * 4 and len(starts) >= 4 + length // MIB, "requests from %r" % starts)
    for before, after, passed in zip(starts[3:], starts[4:], sent):
        check(before < after <= before + passed - 100, "requests from %r after cuts of %r" % (starts, sent))
    # The support log names every retry with its wait and cause.
    retried = re.compile(r"\[download\] retry on connection 1 in \d+ ms: \w")
    retries = [line for line in log_lines(installer_logs(run)[-1]) if retried.search(line)]
    check(len(retries) == len(starts) - 1, "%d requests, but the log's retries are %r" % (len(starts), retries))
    run.report = ["waits after 503: %r; %d requests for %d bytes, each from where the file ended: %r"
                  % (waits, len(starts), length, starts)]


def stalled_transfer(run):
    """No byte for 20 s mid-body: the page says it is reconnecting (after 5 s), the
    connection is given up after 12 s of silence (a test build's seam shortens the 30 s
    that TransferEngineSimTest's stalls hold), and a new one finishes the file."""
    scenarios.fresh(run)
    log = serve_package(run, pad=3 * MIB, rate="512k", relay=["--stall-at", str(MIB), "--stall-seconds", "20"]).relay_log
    start(run, env=dict(payload_env(run), QX_TEST_STALL_MS="12000"))
    scenarios.press_one_key(run)
    began = wait_for(lambda: run.fault_events(log, "stall-begin"), 60, "the stall")[0][0]
    hear(run, "the reconnecting line", lambda text: text == "网络不稳定，正在重新连接…")
    shot = run.screenshot("stalled")
    wait_for(lambda: len(run.fault_events(log, "request")) >= 2, 45, "a new request after the stall")
    retried = run.fault_events(log, "request")[1][0]
    check(11.0 <= retried - began < 20.0, "the stalled connection was given up after %.1f s" % (retried - began))
    hear(run, "the size and speed line again (stalled: %s)" % shot, lambda text: text.startswith("游戏包体"))
    wait_for(lambda: os.path.exists(run.record), 60, "the payload to start")
    check(run.dialogs() == [], "message boxes %r" % run.dialogs())
    run.report = ["stall detected after %.1f s; screenshot %s" % (retried - began, shot)]


def refused_query(run):
    """The update server refuses the first two connections and answers the third, and the
    package comes through the proxy the player set for the current user: the install goes
    on with no message."""
    scenarios.fresh(run)
    proxy_port, proxy_log = run.start_tinyproxy()
    run.set_user_proxy("127.0.0.1:%d" % proxy_port, "<local>")
    server_port = free_port()
    # WinHTTP here does not send requests for 127.0.0.1 to a proxy in a form a proxy
    # understands; the package server's second loopback address it does.
    url = serve_package(run, host="127.0.0.2", query_port=server_port).url
    start(run, env=payload_env(run))
    run.find_window()
    # Refusing from now on for 2.2 s: the tries come at once, after 1 s and after 2 s more.
    _, log = run.start_fault_proxy(server_port, "--refuse-seconds", "2.2", listen_port=UPDATE_PORT)
    run.click(*scenarios.ONE_KEY)
    wait_for(lambda: os.path.exists(run.record), 60, "the payload to start")
    check(run.dialogs() == [], "message boxes %r" % run.dialogs())
    accepted = run.fault_events(log, "accept")
    check(len(accepted) == 1, "connections accepted: %r" % accepted)
    through = [line for line in open(proxy_log).read().splitlines() if "GET %s " % url in line]
    check(len(through) == 1, "tinyproxy passed on %r" % through)


SCENARIOS = {f.__name__: f for f in (
    server_stopped, no_space, past_4gib, busy_then_cut, stalled_transfer, refused_query)}

if __name__ == "__main__":
    # Past 4 GiB the package takes its time to arrive and to be hashed.
    sys.exit(main(SCENARIOS, timeouts={"past_4gib": 600}))
