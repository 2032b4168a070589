#!/usr/bin/env python3
"""End-to-end scenarios of the installer: run.py <scenario> --build <x86_64 build folder>.

Each scenario drives real installer processes under Wine with real mouse and keyboard
input (xdotool), against nginx, the development update server and the test payload.
"""
import hashlib
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import TITLE, Failure, check, main, wait_for  # noqa: E402

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
    run.argv = os.path.join(run.folder, "argv.txt")
    return {"QX_PAYLOAD_RECORD": run.windows_path(run.record), "QX_PAYLOAD_ARGV": run.windows_path(run.argv),
            "QX_PAYLOAD_GAME": run.windows_path(game), "QX_PAYLOAD_STEPS": str(steps),
            "QX_PAYLOAD_DELAY": str(delay), "QX_PAYLOAD_EXIT": str(exit_code)}


def told(run, key):
    """The payload's argument after `key`, as its own argument vector has it."""
    arguments = read(run.argv).split("\n")
    return arguments[arguments.index(key) + 1] if key in arguments[:-1] else None


def serve_package(run, pad=0, rate="0", md5=None, size=None, extra=(), content=None):
    """nginx serving the test payload (or `content`) and the update server announcing it;
    `md5` is a digest to announce instead, or a function of the real one."""
    target, digest, length = run.package(pad)
    if content is not None:
        with open(target, "wb") as f:
            f.write(content)
        digest, length = hashlib.md5(content).hexdigest(), len(content)
    md5 = md5(digest) if callable(md5) else md5
    port = run.start_nginx(rate)
    url = "http://127.0.0.1:%d/pkg/setup.exe" % port
    run.start_update_server("--url", url, "--md5", md5 or digest, "--size", str(size or length),
                            "--version", "1.2.3.4", *extra)
    return url, digest, length


def fresh(run):
    """A machine without the game, and a watcher that answers and records message boxes."""
    run.clean_machine()
    run.start_dialog_watch()


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


def one_key(run, exe=None, pages=None):
    """The one-key install; `exe` replaces the branded test installer, and `pages`, when
    given, receives a picture of the window on each of the four pages."""
    fresh(run)
    serve_package(run, pad=3 << 20, rate="1m")
    exe = exe or installer(run, copy_as="vantor.one_key.12345.dl.exe")
    run.start_installer(exe, env_extra=payload_env(run))
    run.find_window()
    time.sleep(1.5)
    run.screenshot("welcome")
    if pages is not None:
        pages["welcome"] = run.window_shot("welcome")
        run.click(*CUSTOM)
        time.sleep(1.0)
        pages["option"] = run.window_shot("option")
        run.click(*PREVIOUS)
        time.sleep(0.5)
    run.click(*ONE_KEY, hover_shot="welcome-hover")
    time.sleep(1.5)
    run.screenshot("download")
    if pages is not None:
        pages["install"] = run.window_shot("install")
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
    if pages is not None:
        pages["finish"] = run.window_shot("finish")
    finish_and_start_game(run, installed(run))
    check(run.dialogs() == [], "unexpected message boxes: %r" % run.dialogs())
    run.report = [
        "installer exit code: 0 (after the finish button started the game)",
        "installed into: %s (%s)" % (DEFAULT_PATH, installed(run)),
        "  " + "\n  ".join(sorted(os.path.relpath(os.path.join(d, f), installed(run))
                                  for d, _, files in os.walk(installed(run)) for f in files)),
        "registry HKCU\\Software//qxvantor//install installPath = %s" % run.registry_install_path(),
        "payload command line: %s" % read(run.record),
        "screenshots: %s/%s-*.png" % (run.screens, run.name),
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


def open_option_page(run, steps=3):
    """A clean machine, the peers, and an installer showing its option page."""
    fresh(run)
    serve_package(run)
    start(run, env=payload_env(run, steps=steps, delay=50))
    run.find_window()
    time.sleep(1.5)
    run.click(*CUSTOM)
    time.sleep(1.0)


def custom_typed(run):
    open_option_page(run, steps=5)
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
    if run.mount_drive_t("8m") is None:
        print("note: cannot mount a small drive here; the space warning is not checked")
        return None
    return "T"


def custom_browsed(run):
    open_option_page(run)
    run.click(*BROWSE)
    browser = run.find_window("选择文件夹", 20)
    time.sleep(1.0)
    # Desktop → My Computer → its first drive, C:.
    for key in ("End", "Right", "Down"):
        run.xdotool("key", "--window", browser, key)
        time.sleep(0.6)
    run.screenshot("browser")
    # A real key on the focused browser: its key-up lands on the installer once the
    # browser has closed, and must not start the install.
    run.xdotool("key", "Return")
    wait_for(lambda: not run.visible_windows("选择文件夹"), 10, "the folder browser to close")
    run.find_window()
    time.sleep(1.5)
    run.screenshot("after-browser")
    check(not os.path.exists(run.record) and run.update_connections() == 0,
          "the Enter that closed the folder browser started the install")
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


def run_silently(run, seconds, **start_args):
    """Starts a /verysilent install and watches it end without ever showing a window."""
    start(run, args=["/verysilent"], env=payload_env(run, steps=5, delay=100), **start_args)
    saw_window = False
    deadline = time.time() + seconds
    while run.installer.poll() is None and time.time() < deadline:
        saw_window = saw_window or bool(run.visible_windows())
        time.sleep(0.2)
    code = run.installer_exit(5)
    check(code == 0, "silent install ended with %s (boxes %r)" % (code, run.dialogs()))
    check(not saw_window, "a silent install showed its window")


def silent_embedded(run):
    fresh(run)
    run_silently(run, 60, embedded=True)
    line = read(run.record)
    check('-silentInstall "true"' in line and line.count("/verysilent") == 1, "command line %r" % line)
    check(run.registry_install_path() == DEFAULT_PATH, "registry %r" % run.registry_install_path())
    check(run.dialogs() == [], "message boxes: %r" % run.dialogs())


def silent_web(run):
    fresh(run)
    serve_package(run, pad=1 << 20)
    run_silently(run, 90)
    check(run.update_connections() == 1, "update server contacted %d times" % run.update_connections())
    check(os.path.exists(run.record), "the payload did not run")
    # The installed game needs its package no more.
    check(not os.path.exists(run.drive_c("vantorsetup")), "the download folder stayed")
    check(run.registry_install_path() == DEFAULT_PATH, "registry %r" % run.registry_install_path())


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
    fresh(run)
    run.package()
    run.start_update_server("--error-code", "4")
    start(run, env=payload_env(run))
    press_one_key(run)
    box = run.wait_for_dialog(30)
    check(box == ("提示", "服务器出错了！请稍后再试。"), "message box %r" % (box,))
    # An answer is final, whatever its error code: no second try.
    check(run.update_connections() == 1, "%d conversations with the update server" % run.update_connections())
    expect_restart(run)


def damaged_download(run):
    fresh(run)
    url, digest, _ = serve_package(run, md5="0123456789abcdef0123456789abcdef")
    start(run, env=payload_env(run))
    press_one_key(run)
    box = expect_box_and_exit(run, "出错了", "下载的文件损坏了！请重新打开安装程序，再试一次。", 1)
    check(("Hash expected = 0123456789abcdef0123456789abcdef" in box[1]) and digest in box[1] and url in box[1],
          "damaged text %r" % box[1])
    check(not os.path.exists(run.drive_c("vantorsetup", "setup.exe")), "the damaged package was kept")
    check(not os.path.exists(run.drive_c("vantorsetup", "setup.exe.info")), "its side file was kept")
    from support import last_log_line
    check("the package is damaged" in last_log_line(run), "the log ends with %r" % last_log_line(run))


def uppercase_digest(run):
    fresh(run)
    serve_package(run, md5=str.upper)
    start(run, env=payload_env(run, steps=3, delay=50))
    press_one_key(run)
    wait_for(lambda: run.registry_install_path(), 60, "the install to complete")
    check(run.dialogs() == [], "message boxes: %r" % run.dialogs())


def payload_start_failure(run):
    fresh(run)
    serve_package(run, content=b"not a program" * 1000)
    start(run, env=payload_env(run))
    press_one_key(run)
    expect_box_and_exit(run, "提示", "正在安装中...", 102)


def payload_failure(run):
    fresh(run)
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
    fresh(run)
    start(run, no_package=True, env=payload_env(run))
    press_one_key(run)
    expect_box_and_exit(run, "提示", "无法提取安装包", 101)


def one_key_after_custom_path(run):
    """A path typed on the option page and left with "上一步": the one-key install goes to
    the default path, and the registry value, the channel file and the game follow it."""
    open_option_page(run)
    type_path(run, "C:\\My Games\\Edited")
    run.click(*PREVIOUS)
    time.sleep(0.5)
    run.click(*ONE_KEY)
    wait_for(lambda: run.registry_install_path(), 60, "the install to complete")
    time.sleep(1.0)
    check(told(run, "-installPath") == DEFAULT_PATH, "payload told %r" % told(run, "-installPath"))
    check(run.registry_install_path() == DEFAULT_PATH, "registry %r" % run.registry_install_path())
    check(read(installed(run, "Vantor_Data", "StreamingAssets", "channel.txt")) == "1007", "channel file")
    check(not os.path.exists(run.drive_c("My Games", "Edited")), "something went into the edited path")
    finish_and_start_game(run, installed(run))


def elevated_relaunch(run):
    """Started without administrator rights (a test build's seam; under Wine every process
    has them): it starts itself elevated with the same arguments, waits, and ends with the
    elevated copy's exit code."""
    fresh(run)
    env = payload_env(run, steps=10, delay=100, exit_code=7)
    env["QX_TEST_NOT_ELEVATED"] = "1"
    start(run, embedded=True, args=["/verysilent", "-channel", "a b", "/path", "C:\\Elevated Games\\"], env=env)
    wait_for(lambda: os.path.exists(run.record), 60, "the elevated copy's payload")
    check(run.installer.poll() is None, "the first copy ended (%s) before the elevated one" % run.installer.poll())
    box = run.wait_for_dialog(30)
    check(box == ("出错", "安装失败，请检查安装包是否完整后重新安装。"), "message box %r" % (box,))
    code = run.installer_exit(30)
    check(code == 103, "the first copy ended with %s, the elevated one with 103" % code)
    check(told(run, "-channel") == "a b", "arguments %r" % read(run.argv))
    check(told(run, "-installPath") == "C:\\Elevated Games", "arguments %r" % read(run.argv))
    check("C:\\Elevated Games\\" in read(run.argv).split("\n"), "arguments %r" % read(run.argv))
    check(len(run.dialogs()) == 1, "message boxes %r" % run.dialogs())


def restart_keeps_arguments(run):
    """A download that comes up short restarts the installer with its arguments: the new
    copy is not refused as a second instance, installs where the caller said, and the
    parent program that named a window receives the progress and starts the game itself."""
    fresh(run)
    serve_package(run)
    package = os.path.join(run.folder, "www", "pkg", "setup.exe")
    later = package + ".later"
    os.rename(package, later)
    log = run.start_notify_target("QxParentProgram")
    time.sleep(2.0)
    start(run, args=["-notify_wnd", "QxParentProgram", "/path", "C:\\Restarted Games", "-channel", "a b"],
          env=payload_env(run, steps=20, delay=20))
    press_one_key(run)
    box = run.wait_for_dialog(30)
    check(box == ("出错了", "网络出现了问题！请再试一次。"), "message box %r" % (box,))
    # A 404 is final at once: one request, no retry.
    requests = open(run.nginx_log).read().splitlines()
    check(len(requests) == 1 and '" 404 ' in requests[0], "requests %r" % requests)
    expect_restart(run)
    os.rename(later, package)
    press_one_key(run)
    wait_for(lambda: run.registry_install_path(), 60, "the restarted copy's install")
    time.sleep(1.5)
    check(len(run.dialogs()) == 1, "message boxes %r" % run.dialogs())
    check(run.registry_install_path() == "C:\\Restarted Games", "registry %r" % run.registry_install_path())
    check(told(run, "-channel") == "a b", "arguments %r" % read(run.argv))
    check(told(run, "-notify_wnd").startswith(TITLE) and "QxParentProgram" not in read(run.argv),
          "arguments %r" % read(run.argv))
    lines = open(log).read().split()
    pairs = [(int(lines[i]), int(lines[i + 1])) for i in range(0, len(lines) - 1, 2)]
    check(pairs == [(i, 20) for i in range(1, 21)], "forwarded progress %r" % pairs)
    run.click(*FINISH)
    name = "%s-installer.exe" % run.name
    wait_for(lambda: not run.installer_processes(name), 20, "the finish button to end the installer")
    time.sleep(1.0)
    check(not os.path.exists(run.drive_c("Restarted Games", "started.txt")), "the game started although a parent waits")


def slow_update_server_name(run):
    """The update server's name takes 12 s to resolve (a preloaded resolver holds the
    lookup, on loopback): meanwhile the window answers and the carousel turns (its first
    change comes about 6 s after the press); then the query goes on."""
    resolver = os.environ.get("QX_SLOW_RESOLVER")
    check(resolver and os.path.exists(resolver), "QX_SLOW_RESOLVER does not name the slow resolver library")
    fresh(run)
    serve_package(run)
    env = payload_env(run, steps=3, delay=50)
    env.update({"LD_PRELOAD": resolver, "QX_SLOW_RESOLVE_NAMES": "127.0.0.1", "QX_SLOW_RESOLVE_MS": "12000"})
    start(run, env=env)
    press_one_key(run)
    pressed = time.time()
    time.sleep(1.0)
    carousel = (0, 40, 660, 300)
    before = run.region(*carousel)
    probe = os.path.join(run.build, "tools", "bench", "window_probe.exe")
    answer = run.wine(probe, TITLE, "6", timeout=60).stdout.decode(errors="replace").split()
    after = run.region(*carousel)
    run.screenshot("while-resolving")
    check(time.time() - pressed < 11.5 and run.update_connections() == 0, "the lookup was not slow")
    # A window held by the lookup would not answer at all (the probe gives up after 5 s).
    figures = dict(zip(answer[::2], answer[1::2]))
    check(int(figures.get("samples", 0)) >= 100 and float(figures.get("p99_ms", 1e9)) < 2000,
          "the window did not answer while the name was looked up: %r" % answer)
    check(before != after, "the carousel stood still while the name was looked up")
    wait_for(lambda: run.registry_install_path(), 60, "the install after the slow lookup")


def english_windows(run):
    """Under an English Windows (code page 1252) the installer reads as under a Chinese
    one: its title, its pages and its message boxes."""
    fresh(run)
    pages = {}
    for locale in ("zh_CN.UTF-8", "en_US.UTF-8"):
        start(run, env={"QX_WINE_LOCALE": locale})
        run.find_window()
        check(run.window_title(run.window) == TITLE, "title %r" % run.window_title(run.window))
        run.xdotool("mousemove", "0", "0")
        time.sleep(1.5)
        welcome = run.region(0, 0, 660, 480)
        run.screenshot("welcome-" + locale[:2])
        run.click(*CUSTOM)
        time.sleep(1.0)
        option = run.region(0, 0, 660, 480)
        run.screenshot("option-" + locale[:2])
        run.click(*CLOSE)
        code = run.installer_exit(20)
        check(code == 0, "closing under %s ended with %s" % (locale, code))
        pages[locale] = (welcome, option)
    zh, en = pages["zh_CN.UTF-8"], pages["en_US.UTF-8"]
    # The free space label may change between the two runs.
    free = (301, 229, 140, 20)

    def counted(i):
        x, y = i % 660, i // 660
        return not (free[0] <= x < free[0] + free[2] and free[1] <= y < free[1] + free[3])
    for name, a, b in (("welcome", zh[0], en[0]), ("option", zh[1], en[1])):
        differing = sum(1 for i, (p, q) in enumerate(zip(a, b)) if p != q and counted(i))
        check(len(a) == len(b) and differing == 0, "the %s page differs in %d pixels under 1252" % (name, differing))
    broken = os.path.join(run.folder, "%s-broken.exe" % run.name)
    shutil.copyfile(os.path.join(run.build, "tests", "app", "installer_broken_config.exe"), broken)
    run.start_installer(broken, env_extra={"QX_WINE_LOCALE": "en_US.UTF-8"})
    check(run.installer_exit(60) == 100, "the broken configuration did not end with 100")
    expected = [("提示", "真的要退出安装吗？")] * 2 + [("错误", "读取carcouselPics出错。")]
    check(run.dialogs() == expected, "message boxes %r" % run.dialogs())


SCENARIOS = {f.__name__: f for f in (
    one_key, custom_typed, custom_browsed, licence_and_close, silent_embedded, silent_web, failed_query,
    damaged_download, uppercase_digest, payload_start_failure, payload_failure, extraction_failure,
    one_key_after_custom_path, elevated_relaunch, restart_keeps_arguments, slow_update_server_name,
    english_windows)}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS))
