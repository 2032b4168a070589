#!/usr/bin/env python3
"""The installer's own benchmarks under Wine, for tools/bench/bench.sh.

  installer_bench.py web MIB --build DIR --tools DIR
      a one-key install of a package of MIB MiB with the window probed throughout: peak
      working set, last byte written to payload start, the window's answers
  installer_bench.py verify MIB --build DIR --tools DIR
      the same with the package complete on disk from an earlier run: only verified
  installer_bench.py embedded MIB --build DIR --tools DIR
      peak working set of a silent install of an embedded payload of MIB MiB
  installer_bench.py flood --build DIR --tools DIR
      20,000 progress messages a second for 10 s, then the size of the run's log

--nolog runs the installer with its log off, for the figures with and without it.
--build names the tree whose installer is measured (an earlier tree gives the "before"
figures), --tools the tree with the benchmark's own helpers. Each prints key=value lines.
They use the end-to-end harness (nginx, the development update server on port 8901, the
test payload, padded with sparse zeros to the size) in the Wine prefix named by
QX_WINEPREFIX.
"""
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "app", "e2e"))
from harness import TITLE, Failure, Run, check, installer_logs, padded_payload, wait_for  # noqa: E402

ONE_KEY = (291 + 88, 259 + 21)
LOG_OPTIONS = ["/nolog"] if "--nolog" in sys.argv else []


def memory_kib(pid, key="VmHWM"):
    """A memory figure of a process in KiB: VmHWM, the most resident memory it has had,
    or RssAnon, its resident memory not backed by files."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def installer_copy(run):
    """The branded test installer under a name holding the run's, as the dialog watcher
    expects of the programs whose boxes it answers."""
    exe = os.path.join(run.folder, "%s-installer.exe" % run.name)
    shutil.copyfile(os.path.join(run.build, "tests", "app", "installer_e2e.exe"), exe)
    return exe


def serve(run, mib):
    """nginx and the update server for the test payload padded to `mib` MiB."""
    size = mib << 20
    source, digest = padded_payload(run.build, size)
    www = os.path.join(run.folder, "www", "pkg")
    os.makedirs(www, exist_ok=True)
    os.symlink(source, os.path.join(www, "setup.exe"))
    port = run.start_nginx()
    url = "http://127.0.0.1:%d/pkg/setup.exe" % port
    run.announce(url, digest, size)
    return source, digest, size


def bytes_under(folder):
    total = 0
    for top, _, files in os.walk(folder):
        for name in files:
            try:
                total += os.path.getsize(os.path.join(top, name))
            except OSError:
                pass
    return total


def steal_ms():
    """Time the host did not run this machine's cores while they had work, summed over
    the cores (the kernel's steal count); 0 on a machine that is not virtual."""
    with open("/proc/stat") as f:
        fields = f.readline().split()
    return int(fields[8]) * 1000 // os.sysconf("SC_CLK_TCK") if len(fields) > 8 else 0


def clean_and_settle(run, size):
    """Forgets earlier installs, then waits while freed memory settles. On a virtual
    machine the kernel hands freed memory back to the host in rounds about two seconds
    apart, and each round after a few GiB were freed pauses both cores for about 100 ms:
    deleting a 5 GiB package (and its page cache) disturbs the next 20 s or so, and the
    previous run of a series, or this cleanup, has just deleted one. Runs of a large
    package therefore start only once that is over."""
    freed = max(bytes_under(run.drive_c("vantorsetup")), size)
    run.clean_machine()
    if freed >= 256 << 20:
        time.sleep(5 + 5 * freed / (1 << 30))


def web(run, mib, tools, complete_on_disk=False):
    clean_and_settle(run, mib << 20)
    run.stack.callback(run.clean_machine)
    run.start_dialog_watch()
    source, digest, size = serve(run, mib)
    package = run.drive_c("vantorsetup", "setup.exe")
    if complete_on_disk:
        os.makedirs(os.path.dirname(package))
        subprocess.run(["cp", "--sparse=always", source, package], check=True)
        with open(package + ".info", "w") as f:
            f.write("%d%s" % (size, digest))
    record = os.path.join(run.folder, "record.txt")
    env = {"QX_PAYLOAD_RECORD": run.windows_path(record), "QX_PAYLOAD_STEPS": "30", "QX_PAYLOAD_DELAY": "100"}
    process = run.start_installer(installer_copy(run), *LOG_OPTIONS, env_extra=env)
    run.find_window()
    time.sleep(1.5)
    stop = os.path.join(run.folder, "probe.stop")
    probe = subprocess.Popen([os.path.join(SOURCE, "tools", "wine-run"),
                              os.path.join(tools, "tools", "bench", "window_probe.exe"), TITLE, "900",
                              run.windows_path(stop)],
                             env=run.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    stolen = steal_ms()
    run.click(*ONE_KEY)
    clicked = time.time()
    peak = 0
    # Until the payload starts (its record appears) or the installer ends without it.
    while time.time() - clicked < 900 and process.poll() is None and not os.path.exists(record):
        peak = max(peak, memory_kib(process.pid))
        time.sleep(0.01)
    started = os.path.exists(record)
    if started:
        # The file times tell both moments exactly: the package's last write and the
        # payload's first.
        to_payload = time.time() - clicked
        record_ns = os.stat(record).st_mtime_ns
        package_ns = os.stat(package).st_mtime_ns
    open(stop, "w").close()
    stolen = steal_ms() - stolen
    out = probe.communicate(timeout=60)[0].decode(errors="replace")
    m = re.search(r"samples (\d+) median_ms ([0-9.]+) p99_ms ([0-9.]+) max_ms ([0-9.]+)", out)
    check(m, "the window probe printed %r" % out)
    if started:
        wait_for(lambda: run.registry_install_path(), 60, "the install to complete")
        outcome = "installed"
    else:
        code = process.wait(30)
        outcome = "ended with %s; boxes %r" % (code, run.dialogs())
    peak = max(peak, memory_kib(process.pid))
    print("package_bytes=%d" % size)
    print("outcome=%s" % outcome)
    print("peak_kib=%d" % peak)
    if started:
        print("click_to_payload_s=%.1f" % to_payload)
        if not complete_on_disk:
            print("last_byte_to_payload_ms=%.0f" % ((record_ns - package_ns) / 1e6))
    print("probe_samples=%s" % m.group(1))
    print("probe_median_ms=%s" % m.group(2))
    print("probe_p99_ms=%s" % m.group(3))
    print("probe_max_ms=%s" % m.group(4))
    print("probe_first_ms=%s" % (re.findall(r"first_ms (\S+)", out) or ["?"])[0])
    print("steal_ms=%d" % stolen)
    print("probe_slow=%s" % " ".join("%s@%s" % (d, t) for t, d in re.findall(r"slow (\S+) (\S+)", out)))


def embedded(run, mib, tools):
    run.clean_machine()
    run.start_dialog_watch()
    payload, _ = padded_payload(run.build, mib << 20)
    exe = os.path.join(run.folder, "%s-installer.exe" % run.name)
    shutil.copyfile(os.path.join(run.build, "tests", "app", "installer_e2e_embedded.exe"), exe)
    out = run.wine(os.path.join(tools, "tools", "bench", "embed_payload.exe"), run.windows_path(exe),
                   run.windows_path(payload), timeout=600)
    check(out.returncode == 0, "embedding the payload failed")
    record = os.path.join(run.folder, "record.txt")
    env = {"QX_PAYLOAD_RECORD": run.windows_path(record), "QX_PAYLOAD_STEPS": "3", "QX_PAYLOAD_DELAY": "50"}
    process = run.start_installer(exe, "/verysilent", env_extra=env)
    peak = anon = 0
    started = time.time()
    while process.poll() is None and time.time() - started < 600:
        peak = max(peak, memory_kib(process.pid))
        anon = max(anon, memory_kib(process.pid, "RssAnon"))
        time.sleep(0.02)
    code = run.installer_exit(5)
    check(code == 0 and os.path.exists(record),
          "the embedded install of %d MiB ended with %s (boxes %r)" % (mib, code, run.dialogs()))
    print("payload_bytes=%d" % (mib << 20))
    print("installer_bytes=%d" % os.path.getsize(exe))
    print("peak_kib=%d" % peak)
    print("peak_anon_kib=%d" % anon)


def relay_log(path):
    """(timestamp, kind) of the traced calls in a +timestamp,+relay log: the blits that put
    the back buffer on the window, and the deliveries of install progress (6365)."""
    blit = re.compile(r"^([0-9]+\.[0-9]+):[0-9A-Fa-f]+:Call gdi32\.BitBlt\(")
    progress = re.compile(r"^([0-9]+\.[0-9]+):[0-9A-Fa-f]+:Call window proc [0-9A-Fa-f]+ \(hwnd=[0-9A-Fa-f]+,msg=WM_USER\+5341,")
    events = []
    with open(path, errors="replace") as f:
        for line in f:
            m = blit.match(line)
            if m:
                events.append((float(m.group(1)), "blit"))
                continue
            m = progress.match(line)
            if m:
                events.append((float(m.group(1)), "progress"))
    return events


def frames(times, gap=0.004):
    """Blits closer together than `gap` belong to one repaint of the page."""
    count, last = 0, None
    for t in times:
        if last is None or t - last > gap:
            count += 1
        last = t
    return count


def flood(run, tools):
    run.clean_machine()
    run.start_dialog_watch()
    serve(run, 1)
    # Only the blits are relayed (besides window procedures), so the trace costs little.
    run.wine("reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
             "/d", "gdi32.BitBlt", "/f")
    run.stack.callback(lambda: run.wine("reg", "delete", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/f"))
    trace = os.path.join(run.folder, "relay.txt")
    rate, seconds = 20000, 10
    env = {"QX_PAYLOAD_STEPS": str(rate * seconds), "QX_PAYLOAD_RATE": str(rate), "QX_PAYLOAD_HOLD": "3000",
           "WINEDEBUG": "+timestamp,+relay"}
    exe = installer_copy(run)
    with open(trace, "wb") as log:
        env_all = dict(run.env)
        env_all.update(env)
        installer = subprocess.Popen([os.path.join(SOURCE, "tools", "wine-run"), exe] + LOG_OPTIONS, env=env_all,
                                     stdout=subprocess.DEVNULL, stderr=log)
    run.installer = installer

    def stop():
        if installer.poll() is None:
            installer.kill()
            installer.wait(10)
    run.stack.callback(stop)
    run.find_window()
    time.sleep(1.5)
    probe = subprocess.Popen([os.path.join(SOURCE, "tools", "wine-run"),
                              os.path.join(tools, "tools", "bench", "window_probe.exe"), TITLE,
                              str(seconds + 8)],
                             env=run.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    run.click(*ONE_KEY)
    wait_for(lambda: "msg=WM_USER+5341" in open(trace, errors="replace").read(), 60, "the flood to start")
    time.sleep(seconds + 1.0)
    shot = run.screenshot("flood-end")
    out = probe.communicate(timeout=60)[0].decode(errors="replace")
    wait_for(lambda: run.registry_install_path(), 30, "the install to complete")
    events = relay_log(trace)
    messages = [t for t, kind in events if kind == "progress"]
    check(messages, "no progress message reached the window")
    t0, t1 = messages[0], messages[-1]
    blits = [t for t, kind in events if kind == "blit"]
    during = [t for t in blits if t0 <= t <= t1]
    before = [t for t in blits if t0 - 2.0 <= t < t0]
    after = [t for t in blits if t > t1]
    m = re.search(r"samples (\d+) median_ms ([0-9.]+) p99_ms [0-9.]+ max_ms ([0-9.]+)", out)
    check(m, "the window probe printed %r" % out)
    print("messages=%d" % len(messages))
    print("messages_per_s=%.0f" % (len(messages) / max(t1 - t0, 0.001)))
    print("frames_per_s=%.1f" % (frames(during) / max(t1 - t0, 0.001)))
    print("blits_per_s=%.1f" % (len(during) / max(t1 - t0, 0.001)))
    print("frames_per_s_before=%.1f" % (frames(before) / 2.0))
    # The flood's 10 s hold a cross-fade of the carousel (one every 6.15 s): the most blits
    # in any 150 ms (half a fade) are the fade's frames and the progress beside them.
    def peak(times, span=0.15):
        return max((sum(1 for u in times if t <= u < t + span) for t in times), default=0) / span
    print("peak_blits_per_s_during=%.0f" % peak(during))
    print("last_value_painted_after_ms=%.0f" % ((after[0] - t1) * 1000 if after else -1))
    print("probe_samples=%s" % m.group(1))
    print("probe_median_ms=%s" % m.group(2))
    print("probe_max_ms=%s" % m.group(3))
    print("screenshot=%s" % shot)
    # The run's log once it tells the payload's end: its size, progress lines and drop count.
    def log_text():
        logs = installer_logs(run, since=run.started)
        return b"".join(open(path, "rb").read() for path in logs).decode("utf-8", "replace")
    text = "" if LOG_OPTIONS else wait_for(lambda: "[payload] ended" in log_text() and log_text(), 30,
                                           "the log to tell the payload's end")
    print("log_bytes=%d" % len(text.encode()))
    print("log_lines=%d" % len(text.splitlines()))
    print("log_progress_lines=%d" % len(re.findall(r"\[payload\] progress", text)))
    print("log_dropped=%s" % (" ".join(re.findall(r"\[log\] ([^\n]*dropped[^\n]*)", text)) or "none"))


def main():
    what = sys.argv[1]
    build = os.path.abspath(sys.argv[sys.argv.index("--build") + 1])
    tools = os.path.abspath(sys.argv[sys.argv.index("--tools") + 1]) if "--tools" in sys.argv else build
    with Run(build, "bench_" + what) as run:
        try:
            if what == "web":
                web(run, int(sys.argv[2]), tools)
            elif what == "verify":
                web(run, int(sys.argv[2]), tools, complete_on_disk=True)
            elif what == "embedded":
                embedded(run, int(sys.argv[2]), tools)
            else:
                flood(run, tools)
        except Failure:
            print("failure screenshot: %s" % run.screenshot("failure"), file=sys.stderr)
            raise
    return 0


if __name__ == "__main__":
    sys.exit(main())
