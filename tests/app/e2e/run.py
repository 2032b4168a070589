#!/usr/bin/env python3
"""End-to-end scenarios of the installer: run.py <scenario> --build <x86_64 build folder>.

Each scenario drives real installer processes under Wine with real mouse and keyboard
input (xdotool), against nginx, the development update server and the test payload.
"""
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Failure, check, main, wait_for  # noqa: E402

DEFAULT_PATH = r"C:\Program Files\vantorworlds"
ONE_KEY = (291 + 88, 259 + 21)
CUSTOM = (543 + 30, 408 + 7)
LICENCE = (31 + 6, 408 + 7)
FINISH = (241 + 88, 406 + 21)
PATH_BOX = (131 + 150, 189 + 13)
PREVIOUS = (473 + 44, 420 + 15)
NEXT = (563 + 44, 420 + 15)
CLOSE = (660 - 20, 10)


def installer(run, embedded=False, copy_as=None):
    name = "installer_e2e_embedded.exe" if embedded else "installer_e2e.exe"
    exe = os.path.join(run.build, "tests", "app", name)
    if copy_as:
        target = os.path.join(run.folder, copy_as)
        shutil.copyfile(exe, target)
        exe = target
    return exe


def payload_env(run, steps=20, delay=100, exit_code=0):
    game = os.path.join(run.folder, "game.exe")
    shutil.copyfile(os.path.join(run.build, "tools", "payload", "payload.exe"), game)
    run.record = os.path.join(run.folder, "record.txt")
    return {"QX_PAYLOAD_RECORD": run.windows_path(run.record), "QX_PAYLOAD_GAME": run.windows_path(game),
            "QX_PAYLOAD_STEPS": str(steps), "QX_PAYLOAD_DELAY": str(delay), "QX_PAYLOAD_EXIT": str(exit_code)}


def serve_package(run, pad=0, rate="0", md5=None, size=None, extra=()):
    _, digest, length = run.package(pad)
    port = run.start_nginx(rate)
    url = "http://127.0.0.1:%d/pkg/setup.exe" % port
    run.start_update_server("--url", url, "--md5", md5 or digest, "--size", str(size or length),
                            "--version", "1.2.3.4", *extra)
    return url, digest, length


def read(path, encoding="gbk"):
    with open(path, "rb") as f:
        return f.read().decode(encoding, "replace")


def installed(run, *parts):
    return run.drive_c("Program Files", "vantorworlds", *parts)


def expect_command_line(run, install_path=DEFAULT_PATH, tasks="quicklaunchicon,runafterinstall", extra=""):
    line = read(run.record)
    pattern = (re.escape('"C:\\vantorsetup\\setup.exe" /verysilent' + extra + ' -installPath "%s" -notify_wnd "星海奇遇记安装'
                         % install_path) + r"\d+" +
               re.escape('" -silentInstall "false" -startGame "false"  /MERGETASKS="%s"' % tasks) + "$")
    check(re.match(pattern, line), "payload command line was %r" % line)


def finish_and_start_game(run, game_folder):
    run.screenshot("finish")
    run.click(*FINISH)
    code = run.installer_exit(30)
    check(code == 0, "finish button ended with code %s" % code)
    wait_for(lambda: os.path.exists(os.path.join(game_folder, "started.txt")), 20, "the game to start")


def one_key(run):
    run.clean_machine()
    run.start_dialog_watch()
    serve_package(run, pad=3 << 20, rate="1m")
    exe = installer(run, copy_as="vantor.one_key.12345.dl.exe")
    run.start_installer(exe, env_extra=payload_env(run))
    run.find_window()
    time.sleep(1.5)
    run.screenshot("welcome")
    run.click(*ONE_KEY, hover_shot="welcome-hover")
    time.sleep(1.5)
    run.screenshot("download")
    wait_for(lambda: os.path.exists(run.record), 60, "the payload to start")
    time.sleep(0.8)
    run.screenshot("install")
    wait_for(lambda: os.path.exists(installed(run, "Vantor_Data", "StreamingAssets", "spreader.txt")), 30,
             "the install to complete")
    time.sleep(1.0)
    expect_command_line(run)
    check(run.registry_install_path() == DEFAULT_PATH, "registry value %r" % run.registry_install_path())
    check(read(installed(run, "Vantor_Data", "StreamingAssets", "channel.txt")) == "1007", "channel file")
    check(read(installed(run, "Vantor_Data", "StreamingAssets", "spreader.txt")) == "12345", "spreader file")
    finish_and_start_game(run, installed(run))
    check(run.dialogs() == [], "unexpected message boxes: %r" % run.dialogs())
    run.report = [
        "installer exit code: 0 (after the finish button started the game)",
        "installed into: %s (%s)" % (DEFAULT_PATH, installed(run)),
        "  " + "\n  ".join(sorted(os.path.relpath(os.path.join(d, f), installed(run))
                                  for d, _, files in os.walk(installed(run)) for f in files)),
        "registry HKCU\\Software//qxvantor//install installPath = %s" % run.registry_install_path(),
        "payload command line: %s" % read(run.record),
        "screenshots: %s/one_key-*.png" % run.screens,
    ]


WARNING = (131, 169, 300, 20)
OPTION_BOX = (131 + 7, 259 + 7)
BROWSE = (449 + 44, 187 + 15)


def start(run, embedded=False, no_package=False, args=(), env=None):
    """Starts a copy of the branded installer named after the scenario."""
    variant = "installer_e2e_no_package.exe" if no_package else None
    exe = installer(run, embedded, copy_as="%s-installer.exe" % run.name)
    if variant:
        exe = os.path.join(run.folder, "%s-installer.exe" % run.name)
        shutil.copyfile(os.path.join(run.build, "tests", "app", variant), exe)
    run.start_installer(exe, *args, env_extra=env)
    return exe


def type_path(run, text):
    run.click(*PATH_BOX)
    run.xdotool("key", "End", "shift+Home", "BackSpace")
    time.sleep(0.2)
    run.type_text(text)
    time.sleep(0.8)


def custom_typed(run):
    run.clean_machine()
    run.start_dialog_watch()
    serve_package(run)
    start(run, env=payload_env(run, steps=5, delay=50))
    run.find_window()
    time.sleep(1.5)
    run.click(*CUSTOM)
    time.sleep(1.0)
    run.screenshot("option")
    check(run.count_red(*WARNING) == 0, "a warning shows before anything was typed")

    type_path(run, "C:\\bad|name")
    run.screenshot("option-invalid-path")
    check(run.count_red(*WARNING) > 20, "no invalid-path warning")
    run.click(*NEXT)
    time.sleep(1.5)
    check(not os.path.exists(run.record) and run.update_connections() == 0, "next acted while disabled")

    small = small_drive(run)
    if small:
        type_path(run, small + ":\\game")
        run.screenshot("option-no-space")
        check(run.count_red(*WARNING) > 20, "no not-enough-space warning")
        run.click(*NEXT)
        time.sleep(1.5)
        check(run.update_connections() == 0, "next acted while the space warning showed")

    type_path(run, "C:\\My Games\\Vantor")
    check(run.count_red(*WARNING) == 0, "the warning stays for a valid path")
    checked = run.region(OPTION_BOX[0] - 7, OPTION_BOX[1] - 7, 14, 14)
    run.click(*OPTION_BOX)
    unchecked = run.region(OPTION_BOX[0] - 7, OPTION_BOX[1] - 7, 14, 14)
    check(checked != unchecked, "the option box did not change")
    run.click(*PREVIOUS)
    run.screenshot("back-on-welcome")
    run.click(*CUSTOM)
    time.sleep(0.5)
    check(run.region(OPTION_BOX[0] - 7, OPTION_BOX[1] - 7, 14, 14) == checked, "previous did not reset the options")
    run.click(*OPTION_BOX)
    run.click(*NEXT)
    wait_for(lambda: os.path.exists(run.record), 60, "the payload to start")
    wait_for(lambda: run.registry_install_path(), 30, "the install to complete")
    expect_command_line(run, r"C:\My Games\Vantor", tasks="!quicklaunchicon,runafterinstall")
    check(run.registry_install_path() == r"C:\My Games\Vantor", "registry %r" % run.registry_install_path())
    time.sleep(1.0)
    finish_and_start_game(run, run.drive_c("My Games", "Vantor"))


def small_drive(run):
    """Drive T: on an 8 MiB tmpfs, for the space warning; None where mounting is not allowed."""
    mount = os.path.join(run.folder, "small-drive")
    os.makedirs(mount, exist_ok=True)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", mount], capture_output=True).returncode:
        print("note: cannot mount a small drive here; the space warning is not checked")
        return None
    run.stack.callback(lambda: subprocess.run(["umount", "-l", mount], capture_output=True))
    link = os.path.join(run.prefix, "dosdevices", "t:")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(mount, link)
    run.stack.callback(lambda: os.path.lexists(link) and os.remove(link))
    return "T"


def custom_browsed(run):
    run.clean_machine()
    run.start_dialog_watch()
    serve_package(run)
    start(run, env=payload_env(run, steps=3, delay=50))
    run.find_window()
    time.sleep(1.5)
    run.click(*CUSTOM)
    time.sleep(0.8)
    run.click(*BROWSE)
    browser = run.find_window("选择文件夹", 20)
    time.sleep(1.0)
    # Desktop → My Computer → its first drive, C:.
    for key in ("End", "Right", "Down"):
        run.xdotool("key", "--window", browser, key)
        time.sleep(0.6)
    run.screenshot("browser")
    run.xdotool("key", "--window", browser, "Return")
    wait_for(lambda: not run.visible_windows("选择文件夹"), 10, "the folder browser to close")
    run.find_window()
    time.sleep(0.8)
    run.key("Return")
    wait_for(lambda: os.path.exists(run.record), 60, "the payload to start (Enter on the option page)")
    wait_for(lambda: run.registry_install_path(), 30, "the install to complete")
    expect_command_line(run, r"C:\vantorworlds")


def licence_and_close(run):
    run.clean_machine()
    cancel_log = run.start_dialog_watch(answer=2)
    serve_package(run)
    start(run, env=payload_env(run))
    run.find_window()
    time.sleep(1.5)
    run.click(*LICENCE)
    time.sleep(0.5)
    run.screenshot("licence-unchecked")
    run.click(*ONE_KEY)
    run.click(*CUSTOM)
    run.key("Return")
    time.sleep(1.5)
    check(run.update_connections() == 0, "an install started with the licence unchecked")
    check(run.count_red(*WARNING) == 0 and run.visible_windows(), "the welcome page changed")

    run.click(*CLOSE)
    box = run.wait_for_dialog(10, cancel_log)
    check(box == ("提示", "真的要退出安装吗？") or box[1] == "真的要退出安装吗？", "close asked %r" % (box,))
    time.sleep(1.0)
    check(run.installer.poll() is None, "Cancel closed the installer")

    run.click(*LICENCE)
    run.key("Return")
    wait_for(lambda: os.path.exists(run.record), 60, "Enter on the welcome page to start the install")
    run.click(*CLOSE)
    time.sleep(1.0)
    check(len(run.dialogs(cancel_log)) == 1, "closing while installing asked: %r" % run.dialogs(cancel_log))
    wait_for(lambda: run.registry_install_path(), 30, "the install to complete")
    time.sleep(1.0)
    open(cancel_log + ".stop", "w").close()
    time.sleep(1.0)
    ok_log = run.start_dialog_watch(answer=1)
    run.click(*CLOSE)
    run.wait_for_dialog(10, ok_log)
    code = run.installer_exit(20)
    check(code == 0, "closing ended with %s" % code)
    check(not os.path.exists(installed(run, "started.txt")), "closing started the game")


def silent_embedded(run):
    run.clean_machine()
    run.start_dialog_watch()
    start(run, embedded=True, args=["/verysilent"], env=payload_env(run, steps=5, delay=100))
    saw_window = False
    deadline = time.time() + 60
    while run.installer.poll() is None and time.time() < deadline:
        saw_window = saw_window or bool(run.visible_windows())
        time.sleep(0.2)
    code = run.installer_exit(5)
    check(code == 0, "silent install ended with %s" % code)
    check(not saw_window, "a silent install showed its window")
    line = read(run.record)
    check('-silentInstall "true"' in line and line.count("/verysilent") == 1, "command line %r" % line)
    check(run.registry_install_path() == DEFAULT_PATH, "registry %r" % run.registry_install_path())
    check(run.dialogs() == [], "message boxes: %r" % run.dialogs())


def silent_web(run):
    run.clean_machine()
    run.start_dialog_watch()
    serve_package(run, pad=1 << 20)
    start(run, args=["/verysilent"], env=payload_env(run, steps=5, delay=100))
    saw_window = False
    deadline = time.time() + 90
    while run.installer.poll() is None and time.time() < deadline:
        saw_window = saw_window or bool(run.visible_windows())
        time.sleep(0.2)
    code = run.installer_exit(5)
    check(code == 0, "silent web install ended with %s (boxes %r)" % (code, run.dialogs()))
    check(not saw_window, "a silent install showed its window")
    check(run.update_connections() == 1, "update server contacted %d times" % run.update_connections())
    check(os.path.exists(run.record), "the payload did not run")
    # The installed game needs its package no more.
    check(not os.path.exists(run.drive_c("vantorsetup")), "the download folder stayed")
    check(run.registry_install_path() == DEFAULT_PATH, "registry %r" % run.registry_install_path())


def notify_window(run):
    run.clean_machine()
    run.start_dialog_watch()
    serve_package(run)
    log = run.start_notify_target("QxParentProgram")
    time.sleep(2.0)
    start(run, args=["-notify_wnd", "QxParentProgram"], env=payload_env(run, steps=40, delay=5))
    press_one_key(run)
    wait_for(lambda: run.registry_install_path(), 60, "the install to complete")
    time.sleep(1.5)
    lines = open(log).read().split()
    pairs = [(int(lines[i]), int(lines[i + 1])) for i in range(0, len(lines) - 1, 2)]
    check(pairs == [(i, 40) for i in range(1, 41)], "forwarded progress %r" % pairs)
    line = read(run.record)
    check('-notify_wnd "星海奇遇记安装' in line and "QxParentProgram" not in line, "command line %r" % line)
    run.click(*FINISH)
    check(run.installer_exit(20) == 0, "finish did not end with 0")
    time.sleep(1.0)
    check(not os.path.exists(installed(run, "started.txt")), "the game started although a parent waits")


def press_one_key(run):
    run.find_window()
    time.sleep(1.5)
    run.click(*ONE_KEY)


def expect_box_and_exit(run, caption, text_start, code, seconds=90):
    box = run.wait_for_dialog(seconds)
    check(box[0] == caption and box[1].startswith(text_start), "message box %r" % (box,))
    exit_code = run.installer_exit(30)
    check(exit_code == code, "exit code %s, expected %s" % (exit_code, code))
    return box


def expect_restart(run):
    exe_name = "%s-installer.exe" % run.name
    wait_for(lambda: run.installer.poll() is not None, 30, "the installer to restart itself")
    check(run.installer.returncode == 1, "restart ended with %s" % run.installer.returncode)
    wait_for(lambda: run.installer_processes(exe_name), 20, "the restarted copy")
    wait_for(lambda: run.visible_windows(), 30, "the restarted copy's window")


def failed_query(run):
    run.clean_machine()
    run.start_dialog_watch()
    run.package()
    run.start_update_server("--error-code", "4")
    start(run, env=payload_env(run))
    press_one_key(run)
    box = run.wait_for_dialog(30)
    check(box == ("提示", "服务器出错了！请稍后再试。"), "message box %r" % (box,))
    expect_restart(run)


def short_download(run):
    run.clean_machine()
    run.start_dialog_watch()
    run.package()
    port = run.start_nginx()
    run.start_update_server("--url", "http://127.0.0.1:%d/pkg/missing.exe" % port, "--md5", "0" * 32,
                            "--size", "1000", "--version", "1.2.3.4")
    start(run, env=payload_env(run))
    press_one_key(run)
    box = run.wait_for_dialog(30)
    check(box == ("出错了", "网络出现了问题！请再试一次。"), "message box %r" % (box,))
    expect_restart(run)


def damaged_download(run):
    run.clean_machine()
    run.start_dialog_watch()
    url, digest, _ = serve_package(run, md5="0123456789abcdef0123456789abcdef")
    start(run, env=payload_env(run))
    press_one_key(run)
    box = expect_box_and_exit(run, "出错了", "下载的文件损坏了！请重新打开安装程序，再试一次。", 1)
    check(("Hash expected = 0123456789abcdef0123456789abcdef" in box[1]) and digest in box[1] and url in box[1],
          "damaged text %r" % box[1])
    check(not os.path.exists(run.drive_c("vantorsetup", "setup.exe")), "the damaged package was kept")
    check(not os.path.exists(run.drive_c("vantorsetup", "setup.exe.info")), "its side file was kept")


def uppercase_digest(run):
    run.clean_machine()
    run.start_dialog_watch()
    _, digest, length = run.package()
    port = run.start_nginx()
    run.start_update_server("--url", "http://127.0.0.1:%d/pkg/setup.exe" % port, "--md5", digest.upper(),
                            "--size", str(length), "--version", "1.2.3.4")
    start(run, env=payload_env(run, steps=3, delay=50))
    press_one_key(run)
    wait_for(lambda: run.registry_install_path(), 60, "the install to complete")
    check(run.dialogs() == [], "message boxes: %r" % run.dialogs())


def payload_start_failure(run):
    run.clean_machine()
    run.start_dialog_watch()
    target, _, _ = run.package()
    with open(target, "wb") as f:
        f.write(b"not a program" * 1000)
    import hashlib
    data = open(target, "rb").read()
    port = run.start_nginx()
    run.start_update_server("--url", "http://127.0.0.1:%d/pkg/setup.exe" % port, "--md5",
                            hashlib.md5(data).hexdigest(), "--size", str(len(data)), "--version", "1.2.3.4")
    start(run, env=payload_env(run))
    press_one_key(run)
    expect_box_and_exit(run, "提示", "正在安装中...", 102)


def payload_failure(run):
    run.clean_machine()
    run.start_dialog_watch()
    serve_package(run)
    start(run, env=payload_env(run, steps=3, delay=50, exit_code=7))
    press_one_key(run)
    expect_box_and_exit(run, "出错", "安装失败，请检查安装包是否完整后重新安装。", 103)
    check(run.registry_install_path() is None, "the registry value was written for a failed install")
    # The verified package stays, so the next attempt installs it without asking for it.
    package = run.drive_c("vantorsetup", "setup.exe")
    check(os.path.exists(package) and os.path.exists(package + ".info"), "the verified package was not kept")
    asked = len(open(run.nginx_log).read().splitlines())
    start(run, args=["/verysilent"], env=payload_env(run, steps=3, delay=50))
    code = run.installer_exit(60)
    check(code == 0, "the next attempt ended with %s (boxes %r)" % (code, run.dialogs()))
    check(len(open(run.nginx_log).read().splitlines()) == asked, "the kept package was asked for again")
    check(not os.path.exists(package), "the package stayed after the install")


def extraction_failure(run):
    run.clean_machine()
    run.start_dialog_watch()
    start(run, no_package=True, env=payload_env(run))
    press_one_key(run)
    expect_box_and_exit(run, "提示", "无法提取安装包", 101)


SCENARIOS = {
    "one_key": one_key,
    "custom_typed": custom_typed,
    "custom_browsed": custom_browsed,
    "licence_and_close": licence_and_close,
    "silent_embedded": silent_embedded,
    "silent_web": silent_web,
    "notify_window": notify_window,
    "failed_query": failed_query,
    "short_download": short_download,
    "damaged_download": damaged_download,
    "uppercase_digest": uppercase_digest,
    "payload_start_failure": payload_start_failure,
    "payload_failure": payload_failure,
    "extraction_failure": extraction_failure,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS))
