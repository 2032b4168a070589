#!/usr/bin/env python3
"""Fault scenarios of the installer: faults.py <scenario> --build <x86_64 build folder>.

The package server stopped mid-download and restarted, a package past 4 GiB stopped
twice on its way, too little room on the install drive, the payload killed
mid-install, and two installers started at once. Each drives real installer processes
under Wine; every wait is bounded and every process is stopped.
"""
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as scenarios  # noqa: E402
from harness import SOURCE, UPDATE_PORT, Failure, check, free_port, main, padded_payload, wait_for  # noqa: E402

PACKAGE = ("vantorsetup", "setup.exe")
# Large enough that a throttled transfer is still running when the fault strikes.
PAD = 12 << 20


def file_size(path):
    return os.path.getsize(path) if os.path.exists(path) else 0


def start(run, args=(), env=None):
    """A copy of the branded installer named after the scenario, so that the dialog
    watcher takes it for this scenario's."""
    exe = scenarios.installer(run, copy_as="%s-installer.exe" % run.name)
    return run.start_installer(exe, *args, env_extra=env)


def silent_install(run, args=(), env=None, seconds=120):
    """One silent run to its end; its exit code."""
    start(run, ["/verysilent"] + list(args), env)
    deadline = time.time() + seconds
    while run.installer.poll() is None and time.time() < deadline:
        time.sleep(0.2)
    return run.installer_exit(5)


def serve(run, rate):
    target, digest, length = run.package(PAD)
    port = free_port()
    nginx, log = run.nginx_on(port, rate)
    url = "http://127.0.0.1:%d/pkg/setup.exe" % port
    run.start_update_server("--url", url, "--md5", digest, "--size", str(length), "--version", "1.2.3.4")
    return target, digest, length, port, nginx, log


def server_stopped(run):
    """The package server goes away mid-download; the next run continues with Range."""
    run.clean_machine()
    run.start_dialog_watch()
    target, digest, length, port, nginx, log = serve(run, "2m")
    env = scenarios.payload_env(run, steps=3, delay=50)
    partial = run.drive_c(*PACKAGE)
    start(run, ["/verysilent"], env)
    wait_for(lambda: file_size(partial) > 2 << 20, 60, "a part of the package to arrive")
    nginx.send_signal(signal.SIGKILL)
    nginx.wait(10)
    code = run.installer_exit(90)
    kept = file_size(partial)
    check(code == 1, "the interrupted run ended with %s" % code)
    check(0 < kept < length, "partial file of %d bytes (package %d)" % (kept, length))
    check(not os.path.exists(run.record), "the payload ran after an interrupted download")
    check(run.registry_install_path() is None, "a registry value after an interrupted download")

    _, log2 = run.nginx_on(port, "0")
    code = silent_install(run, env=env)
    check(code == 0, "the second run ended with %s (boxes %r)" % (code, run.dialogs()))
    requests = open(log2).read().splitlines()
    check(len(requests) == 1 and '" 206 ' in requests[0], "second run's requests %r" % requests)
    # The continued file passed the installer's own digest check, ran and was removed.
    check(os.path.exists(run.record) and len(run.dialogs()) == 1, "boxes %r" % run.dialogs())
    check(not os.path.exists(partial) and not os.path.exists(partial + ".info"), "the package stayed")
    check(run.registry_install_path() == scenarios.DEFAULT_PATH, "registry %r" % run.registry_install_path())
    run.report = ["interrupted at %d of %d bytes; continued with %s" % (kept, length, requests[0])]


def small_drive(run, size):
    """Drive T: on a tmpfs of `size` (a mount option such as "6m"); returns its folder."""
    mount = os.path.join(run.folder, "drive-t")
    os.makedirs(mount, exist_ok=True)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", mount], capture_output=True).returncode:
        raise Failure("cannot mount a tmpfs here (needs root)")
    run.stack.callback(lambda: subprocess.run(["umount", "-l", mount], capture_output=True))
    link = os.path.join(run.prefix, "dosdevices", "t:")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(mount, link)
    run.stack.callback(lambda: os.path.lexists(link) and os.remove(link))
    return mount


def no_space(run):
    """Too little room on the install drive: the box and code 1 before anything is written
    or asked for; with room, the same install completes and leaves no package behind."""
    mount = small_drive(run, "6m")
    run.clean_machine()
    run.start_dialog_watch()
    target, digest, length, port, nginx, log = serve(run, "0")
    env = scenarios.payload_env(run, steps=3, delay=50)
    code = silent_install(run, ["/path", "T:\\game"], env)
    check(code == 1, "the run on a small drive ended with %s" % code)
    boxes = run.dialogs()
    check(boxes == [("提示", "磁盘空间不足，请清理磁盘或选择其他安装目录后再试。")], "message boxes %r" % boxes)
    check(os.listdir(mount) == [], "written on the small drive: %r" % os.listdir(mount))
    check(open(log).read() == "", "the package was asked for: %r" % open(log).read())
    check(not os.path.exists(run.record), "the payload ran")

    # Room for the package and the margin of 64 MiB.
    subprocess.run(["mount", "-o", "remount,size=96m", mount], check=True, capture_output=True)
    code = silent_install(run, ["/path", "T:\\game"], env)
    check(code == 0, "the run with room ended with %s (boxes %r)" % (code, run.dialogs()))
    requests = open(log).read().splitlines()
    check(len(requests) == 1 and '" 200 ' in requests[0] and requests[0].endswith('"-"'), "requests %r" % requests)
    check(run.registry_install_path() == "T:\\game", "registry %r" % run.registry_install_path())
    check(not os.path.exists(os.path.join(mount, "vantorsetup")), "the download folder stayed after the install")
    run.report = ["%d free bytes: box and code 1, nothing written; with room: %r" % (6 << 20, requests)]


FOUR_GIB = 1 << 32


def ranges_asked(log):
    """The Range header of each request in an access log, "-" for none."""
    return [line.rsplit('"', 2)[1] for line in open(log).read().splitlines()]


def past_4gib(run):
    """A package past 2^32 bytes, stopped once past 2^31 and once past 2^32 bytes on disk:
    each later run continues with "Range: bytes=N-"; the last completes, verifies, runs the
    payload of that size and removes the package and its side file."""
    run.clean_machine()
    run.stack.callback(run.clean_machine)
    run.start_dialog_watch()
    size = FOUR_GIB + (300 << 20)
    source, digest = padded_payload(run.build, size)
    www = os.path.join(run.folder, "www", "pkg")
    os.makedirs(www)
    os.symlink(source, os.path.join(www, "setup.exe"))
    port = free_port()
    run.start_update_server("--url", "http://127.0.0.1:%d/pkg/setup.exe" % port, "--md5", digest,
                            "--size", str(size), "--version", "1.2.3.4")
    env = scenarios.payload_env(run, steps=3, delay=50)
    partial = run.drive_c(*PACKAGE)
    firsts = []
    for stop_past in (1 << 31, FOUR_GIB, None):
        nginx, log = run.nginx_on(port, "0")
        before = file_size(partial)
        start(run, ["/verysilent"], env)
        if stop_past:
            wait_for(lambda: file_size(partial) > stop_past or run.installer.poll() is not None, 240,
                     "more than %d bytes on disk" % stop_past)
            nginx.send_signal(signal.SIGKILL)
            nginx.wait(10)
            code = run.installer_exit(60)
            check(code == 1, "the run stopped past %d ended with %s" % (stop_past, code))
            check(stop_past < file_size(partial) < size, "partial file of %d bytes" % file_size(partial))
        else:
            code = run.installer_exit(240)
            check(code == 0, "the last run ended with %s (boxes %r)" % (code, run.dialogs()))
        asked = ranges_asked(log)
        check(asked, "no request")
        firsts.append(asked[0])
        if before:
            check(asked[0].startswith("bytes=%d-" % before), "continued with %r after %d bytes" % (asked[0], before))
        if os.path.exists(log + ".old"):
            os.remove(log + ".old")
        os.rename(log, log + ".old")
    check(int(firsts[1][6:].split("-")[0]) > 1 << 31 and int(firsts[2][6:].split("-")[0]) > FOUR_GIB,
          "ranges asked first %r" % firsts)
    check(firsts[2].endswith("-"), "the last run asked %r" % firsts[2])
    check(os.path.exists(run.record), "the payload did not run")
    check(run.registry_install_path() == scenarios.DEFAULT_PATH, "registry %r" % run.registry_install_path())
    check(not os.path.exists(partial) and not os.path.exists(partial + ".info"), "the package or its side file stayed")
    run.report = ["package of %d bytes; the runs asked first for %r" % (size, firsts)]


def payload_killed(run):
    """The payload dies mid-install: the failure message, code 103, no registry value."""
    run.clean_machine()
    run.start_dialog_watch()
    scenarios.serve_package(run)
    start(run, env=scenarios.payload_env(run, steps=200, delay=100))
    run.find_window()
    time.sleep(1.5)
    run.click(*scenarios.ONE_KEY)
    wait_for(lambda: os.path.exists(run.record), 60, "the payload to start")
    time.sleep(1.0)
    # As a task manager ends it: TerminateProcess with a code of 1.
    out = run.wine(os.path.join(run.build, "tests", "support", "terminate.exe"), "setup.exe", "1", timeout=30)
    check(out.returncode == 0, "no payload process to end: %r" % out.stdout)
    scenarios.expect_box_and_exit(run, "出错", "安装失败，请检查安装包是否完整后重新安装。", 103, seconds=30)
    check(run.registry_install_path() is None, "the registry value was written for a killed install")


def two_at_once(run):
    """Two installers started together: one runs, the other says so and ends with 104."""
    run.clean_machine()
    run.start_dialog_watch()
    first = start(run)
    exe = os.path.join(run.folder, "%s-installer.exe" % run.name)
    second = subprocess.Popen([os.path.join(SOURCE, "tools", "wine-run"), exe],
                              env=run.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run.stack.callback(lambda: second.poll() is None and (second.kill(), second.wait(10)))
    box = run.wait_for_dialog(60)
    check(box == ("提示", "游戏已经启动了！"), "message box %r" % (box,))
    deadline = time.time() + 30
    while first.poll() is None and second.poll() is None and time.time() < deadline:
        time.sleep(0.2)
    ended = [p for p in (first, second) if p.poll() is not None]
    check(len(ended) == 1 and ended[0].returncode == 104, "exit codes %r" % [p.poll() for p in (first, second)])
    run.find_window(seconds=30)
    time.sleep(2.0)
    check([p for p in (first, second) if p.poll() is None], "the running installer ended too")
    check(len(run.dialogs()) == 1, "message boxes %r" % run.dialogs())


# ---- network faults the installer recovers from by itself --------------------------------

def refused_query(run):
    """The update server refuses the first two connections and answers the third: the
    install goes on with no message."""
    run.clean_machine()
    run.start_dialog_watch()
    _, digest, length = run.package()
    nginx_port = run.start_nginx()
    server_port = free_port()
    run.start_update_server("--url", "http://127.0.0.1:%d/pkg/setup.exe" % nginx_port, "--md5", digest,
                            "--size", str(length), "--version", "1.2.3.4", port=server_port)
    start(run, env=scenarios.payload_env(run, steps=3, delay=50))
    run.find_window()
    time.sleep(1.5)
    # Refusing from now on for 2.2 s: the tries come at once, after 1 s and after 2 s more.
    _, log = run.start_fault_proxy(server_port, "--refuse-seconds", "2.2", listen_port=UPDATE_PORT)
    run.click(*scenarios.ONE_KEY)
    wait_for(lambda: os.path.exists(run.record), 60, "the payload to start")
    check(run.dialogs() == [], "message boxes %r" % run.dialogs())
    accepted = run.fault_events(log, "accept")
    check(len(accepted) == 1, "connections accepted: %r" % accepted)


SCENARIOS = {
    "server_stopped": server_stopped,
    "no_space": no_space,
    "past_4gib": past_4gib,
    "payload_killed": payload_killed,
    "two_at_once": two_at_once,
    "refused_query": refused_query,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS))
