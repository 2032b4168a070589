#!/usr/bin/env python3
"""The installer's own benchmarks under Wine, for tools/bench/bench.sh.

  installer_bench.py memory MIB --build DIR   peak working set of a silent install of a
                                              package of MIB MiB
  installer_bench.py flood --build DIR        20,000 progress messages a second for 10 s

Each prints key=value lines. They use the end-to-end harness (nginx, the development
update server on port 8901, the test payload) in the Wine prefix named by QX_WINEPREFIX.
"""
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "app", "e2e"))
from harness import Run, check, wait_for  # noqa: E402

ONE_KEY = (291 + 88, 259 + 21)


def peak_kib(pid):
    """VmHWM of a process: the most resident memory it has had, in KiB."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def installer_copy(run):
    """The branded test installer under a name holding the run's, as the dialog watcher
    expects of the programs whose boxes it answers."""
    import shutil
    exe = os.path.join(run.folder, "%s-installer.exe" % run.name)
    shutil.copyfile(os.path.join(run.build, "tests", "app", "installer_e2e.exe"), exe)
    return exe


def serve(run, mib):
    _, digest, length = run.package(pad_bytes=mib << 20)
    port = run.start_nginx()
    url = "http://127.0.0.1:%d/pkg/setup.exe" % port
    run.start_update_server("--url", url, "--md5", digest, "--size", str(length), "--version", "1.2.3.4")
    return length


def memory(run, mib):
    run.clean_machine()
    run.start_dialog_watch()
    length = serve(run, mib)
    process = run.start_installer(installer_copy(run), "/verysilent")
    peak = 0
    started = time.time()
    while process.poll() is None and time.time() - started < 600:
        peak = max(peak, peak_kib(process.pid))
        time.sleep(0.05)
    code = run.installer_exit(5)
    check(code == 0, "the silent install of %d MiB ended with %s (boxes %r)" % (mib, code, run.dialogs()))
    print("package_bytes=%d" % length)
    print("peak_kib=%d" % peak)
    print("seconds=%.1f" % (time.time() - started))


def relay_log(path):
    """(timestamp, kind) of the traced calls in a +timestamp,+relay log: the blits that put
    the back buffer on the window, and the deliveries of install progress (6365)."""
    blit = re.compile(r"^([0-9]+\.[0-9]+):[0-9a-f]+:Call gdi32\.BitBlt\(")
    progress = re.compile(r"^([0-9]+\.[0-9]+):[0-9a-f]+:Call window proc [0-9A-Fa-f]+ \(hwnd=[0-9a-f]+,msg=WM_USER\+5341,")
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


def flood(run):
    run.clean_machine()
    run.start_dialog_watch()
    serve(run, 0)
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
        installer = subprocess.Popen([os.path.join(SOURCE, "tools", "wine-run"), exe], env=env_all,
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
                              os.path.join(run.build, "tools", "bench", "window_probe.exe"), "星海奇遇记安装",
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
    m = re.search(r"samples (\d+) median_ms ([0-9.]+) max_ms ([0-9.]+)", out)
    check(m, "the window probe printed %r" % out)
    print("messages=%d" % len(messages))
    print("messages_per_s=%.0f" % (len(messages) / max(t1 - t0, 0.001)))
    print("frames_per_s=%.1f" % (frames(during) / max(t1 - t0, 0.001)))
    print("blits_per_s=%.1f" % (len(during) / max(t1 - t0, 0.001)))
    print("frames_per_s_before=%.1f" % (frames(before) / 2.0))
    print("last_value_painted_after_ms=%.0f" % ((after[0] - t1) * 1000 if after else -1))
    print("probe_samples=%s" % m.group(1))
    print("probe_median_ms=%s" % m.group(2))
    print("probe_max_ms=%s" % m.group(3))
    print("screenshot=%s" % shot)


def main():
    what = sys.argv[1]
    build = os.path.abspath(sys.argv[sys.argv.index("--build") + 1])
    with Run(build, "bench_" + what) as run:
        if what == "memory":
            memory(run, int(sys.argv[2]))
        else:
            flood(run)
    return 0


if __name__ == "__main__":
    sys.exit(main())
