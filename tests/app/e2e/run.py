#!/usr/bin/env python3
"""End-to-end scenarios of the installer: run.py <scenario> --build <x86_64 build folder>.

Each scenario drives real installer processes under Wine with real mouse and keyboard
input (xdotool), against nginx, the development update server and the test payload.
The failure paths that differ only in what is served and what the player sees are rows
of BOXES; the others are functions.
"""
import contextlib
import hashlib
import os
import select
import shutil
import subprocess
import sys
from types import SimpleNamespace

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (SOURCE, TITLE, UPDATE_PORT, Failure, check, end_line, free_port, installer_logs,  # noqa: E402,F401
                     log_lines, main, wait_for)

DEFAULT_PATH = r"C:\Program Files\vantorworlds"
ONE_KEY = (291 + 88, 259 + 21)
CUSTOM = (543 + 30, 408 + 7)
LICENCE = (31 + 6, 408 + 7)
FINISH = (241 + 88, 406 + 21)
PATH_BOX = (131 + 150, 189 + 13)
PREVIOUS = (473 + 44, 420 + 15)
NEXT = (563 + 44, 420 + 15)
CLOSE = (660 - 20, 10)
WARNING = (131, 169, 300, 20)
OPTION_BOX = (131 + 7, 259 + 7)
OPTION_RECT = (OPTION_BOX[0] - 7, OPTION_BOX[1] - 7, 14, 14)
BROWSE = (449 + 44, 187 + 15)
FAILED = ("出错", "安装失败，请检查安装包是否完整后重新安装。")
NETWORK = ("出错了", "网络出现了问题！请再试一次。")
ASK_CLOSE = "真的要退出安装吗？"
PACKAGE = ("vantorsetup", "setup.exe")
# What file_race.exe may not do to a file the installer holds (error 32), and may.
REFUSED = {"write": "32", "rename": "32", "delete": "32", "read": "0"}
TYPED = r"C:\Keys\Vantor"


def installer(run, copy_as, variant="installer_e2e.exe", folder=None):
    """The branded test installer (or another build of tests/app), copied under a name
    that holds the scenario's, so that the dialog watcher takes its boxes."""
    target = os.path.join(folder or run.folder, copy_as)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(os.path.join(run.build, "tests", "app", variant), target)
    return target


def payload_env(run, steps=3, delay=50, exit_code=0):
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


def expect_told(run, install_path=DEFAULT_PATH, tasks="quicklaunchicon,runafterinstall", silent="false"):
    """What the installer told the payload (the line's form is SetupCommandTest's)."""
    wait_for(lambda: os.path.exists(run.argv), 60, "the payload to start")
    arguments = read(run.argv).split("\n")
    got = (told(run, "-installPath"), told(run, "-silentInstall"), arguments.count("/verysilent"))
    check(got == (install_path, silent, 1) and (tasks is None or "/MERGETASKS=%s" % tasks in arguments),
          "payload told %r" % arguments)


def serve_package(run, pad=0, rate="0", md5=None, content=None, relay=None, host="127.0.0.1", query_port=UPDATE_PORT,
                  tls=None):
    """nginx serving the test payload padded by `pad` bytes (or `content`) at `rate` a
    connection (over HTTPS with tls=(certificate, key)), and the update server on
    `query_port` announcing it at `host`, through the fault relay with the modes `relay`
    when given; `md5` is a digest to announce instead, or a function of the real one.
    What is served: url, digest, length, file, port, nginx (the process), log (its access
    log), relay_log and server (the update server)."""
    served = SimpleNamespace(relay_log=None)
    served.file, served.digest, served.length = run.package(pad)
    if content is not None:
        with open(served.file, "wb") as f:
            f.write(content)
        served.digest, served.length = hashlib.md5(content).hexdigest(), len(content)
    md5 = md5(served.digest) if callable(md5) else md5
    served.port = free_port()
    served.nginx, served.log = run.nginx_on(served.port, rate, tls)
    run.nginx_log = served.log
    port = served.port
    if relay is not None:
        port, served.relay_log = run.start_fault_proxy(served.port, *relay)
    served.url = "%s://%s:%d/pkg/setup.exe" % ("https" if tls else "http", host, port)
    served.server = run.announce(served.url, md5 or served.digest, served.length, port=query_port)
    return served


def fresh(run):
    """A machine without the game, and a watcher that answers and records message boxes."""
    run.clean_machine()
    run.start_dialog_watch()


def read(path, encoding="gbk"):
    with open(path, "rb") as f:
        return f.read().decode(encoding, "replace")


def installed(run, *parts):
    return run.drive_c("Program Files", "vantorworlds", *parts)


def finish_and_start_game(run, game_folder):
    """The finish button, pressed until the finish page takes it: the installer ends
    with 0 and the game starts."""
    run.until(lambda: run.click(*FINISH), lambda: run.installer.poll() is not None, "the finish button to end it")
    code = run.installer_exit(5)
    check(code == 0, "finish button ended with code %s" % code)
    wait_for(lambda: os.path.exists(os.path.join(game_folder, "started.txt")), 20, "the game to start")


def one_key(run, exe=None, look=None):
    """The one-key install (also tools/run.sh's demonstration); `exe` replaces the
    branded test installer, and `look(page)`, when given, is called on each of the four
    pages once it shows."""
    fresh(run)
    serve_package(run, pad=3 << 20, rate="1m")
    exe = exe or installer(run, copy_as="vantor.one_key.12345.dl.exe")
    run.start_installer(exe, env_extra=payload_env(run, steps=20, delay=100))
    run.find_window()
    run.screenshot("welcome")
    if look:
        look("welcome")
        run.click_to(*CUSTOM)
        look("option")
        # A path typed there and left with "上一步": the one-key install goes to the default.
        type_path(run, "C:\\My Games\\Edited")
        run.click_to(*PREVIOUS)
    run.click(*ONE_KEY, hover_shot="welcome-hover")
    wait_for(lambda: run.update_connections(), 30, "the update server to be asked")
    run.screenshot("download")
    if look:
        look("install")
    wait_for(lambda: run.registry_install_path(), 60, "the install to complete")
    run.screenshot("install")
    expect_told(run)
    check(run.registry_install_path() == DEFAULT_PATH, "registry value %r" % run.registry_install_path())
    check(read(installed(run, "Vantor_Data", "StreamingAssets", "channel.txt")) == "1007", "channel file")
    check(read(installed(run, "Vantor_Data", "StreamingAssets", "spreader.txt")) == "12345", "spreader file")
    check(not os.path.exists(run.drive_c("My Games", "Edited")), "something went into the edited path")
    if look:
        look("finish")
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


# brand.exe's previews against the pages of the installer it branded: pixels that differ
# by more than TOLERANCE in a channel count, and each page may have its share of them.
# The install page differs where its texts and progress bar show another moment.
TOLERANCE = 24
LIMITS = {"welcome": 0.005, "option": 0.005, "install": 0.05, "finish": 0.005}


def rgba(path):
    size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True, timeout=30).stdout
    data = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True, timeout=30).stdout
    return tuple(int(n) for n in size.split()), data


def differing_share(preview, shot, step=1):
    """The share of the preview's (size, RGBA) opaque pixels that differ in the picture
    `shot` (1.0 when the sizes differ); of every `step`-th pixel of every `step`-th row, so
    that a page at a larger scale takes no longer to look at."""
    (size_a, a), (size_b, b) = preview, rgba(shot)
    if size_a != size_b or len(a) != len(b):
        return 1.0
    opaque = differing = 0
    width = size_a[0]
    for i in (4 * (y * width + x) for y in range(0, size_a[1], step) for x in range(0, width, step)):
        if a[i + 3] != 255:  # where the window lets the desktop through
            continue
        opaque += 1
        if max(abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2])) > TOLERANCE:
            differing += 1
    return differing / max(opaque, 1)


SCALES = (200, 150)  # the displays of branded_one_key, in %, one after the other
CONTRAST = r"HKCU\Control Panel\Accessibility\HighContrast"
# The test branding's "@2x" background carries a green mark where no page draws over it.
MARK = (17, 459)
# Where the welcome page's glyph edges are measured: the headline (outlines filled by GDI+)
# and the licence line (GDI text).
GLYPHS = {"headline": (291, 188, 306, 32), "licence line": (50, 402, 200, 16)}


def pixel(path, x, y):
    out = subprocess.run(["convert", path, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "rgb:-"],
                         capture_output=True, timeout=30).stdout
    return tuple(out[:3])


def marked(colour):
    return colour[1] > 150 and max(colour[0], colour[2]) < 90


def edge_share(path, rect, zoom, stretch=1):
    """How blurred the ink of `rect` (96-dpi coordinates of a picture at `zoom`) is: the
    share of its inked pixels (a tenth of the way from the lightest grey to the darkest
    and more) that lie between the two, not over nine tenths of the way; the picture is
    first stretched by `stretch` as a display's own scaling would."""
    x, y, w, h = (round(v * zoom) for v in rect)
    grey = subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-resize",
                           "%d%%" % (100 * stretch), "-colorspace", "gray", "-depth", "8", "gray:-"],
                          capture_output=True, timeout=30).stdout
    light, dark = max(grey), min(grey)
    ink = [(light - g) / max(light - dark, 1) for g in grey]
    inked = [t for t in ink if t > 0.1]
    return sum(1 for t in inked if t < 0.9) / max(len(inked), 1)


def own_display(run, prefix):
    """An X display of the scenario's own for `prefix`'s programs: two prefixes' desktops
    on one display disturb each other's windows. Ends with the scenario, the prefix's
    server first."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1600x1200x24", "-nolisten", "tcp",
                             "-ac"], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)

    def stop():
        xvfb.terminate()
        xvfb.wait(20)
    run.stack.callback(stop)
    with os.fdopen(read) as numbers:
        ready, _, _ = select.select([numbers], [], [], 20)
        number = numbers.readline().strip() if ready else ""
    check(number.isdigit(), "no display of its own for %s" % prefix)
    os.environ["DISPLAY"] = run.env["DISPLAY"] = ":" + number
    run.stack.callback(lambda: subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=dict(run.env, WINEPREFIX=prefix),
                                              stdin=subprocess.DEVNULL, capture_output=True, timeout=20))


def display(run, percent):
    """The scaled prefix's display at `percent`, out of high contrast: its LogPixels (in the
    user's and the machine's key, as tools/wine-prefix --scaled sets them) and the user's
    high-contrast flag. A session's programs and its desktop keep the scale they started
    at, so the session ends here and the next program starts one afresh."""
    dpi, fonts = str(96 * percent // 100), r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"
    for key, name, kind, value in ((r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", dpi),
                                   (fonts, "LogPixels", "REG_DWORD", dpi), (CONTRAST, "Flags", "REG_SZ", "126")):
        check(run.wine("reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f").returncode == 0,
              "reg add %s %s failed" % (key, name))
    for option in ("-k", "-w"):
        subprocess.run(["/usr/lib/wine/wineserver", option], env=dict(run.env, WINEPREFIX=run.prefix),
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    run.scale = percent / 100


def high_contrast(run, exe):
    """The system's high-contrast mode turned on under a running installer: once told, it
    draws its texts and its focus mark in the system's colours (yellow on black, which
    accessible_probe sets before it starts: Wine gives a program the colours of its start),
    while its pictures keep their pixels."""
    def yellow(pixels):
        return [p for p in pixels if p == (255, 255, 0)]
    probe = [os.path.join(run.build, "tests", "support", "accessible_probe.exe"), "contrast"]
    check(run.wine(*probe).returncode == 0, "the system's colours were not set")
    run.clean_machine()
    run.start_installer(exe)
    run.find_window()
    text, picture, button = GLYPHS["licence line"], GLYPHS["headline"], (ONE_KEY[0] - 88, ONE_KEY[1] - 21, 176, 42)
    pixels = run.region(*picture)
    check(not yellow(run.region(*text)), "the texts are in the system's colours before the mode is on")
    # The user's flag where Windows keeps it (the test builds read it there, as Wine keeps
    # no such setting).
    check(run.wine("reg", "add", CONTRAST, "/v", "Flags", "/t", "REG_SZ", "/d", "127", "/f").returncode == 0,
          "the high-contrast flag was not set")
    # Setting the colours again tells every window that they changed.
    check(run.wine(*probe).returncode == 0, "the system's colours were not set again")
    wait_for(lambda: len(yellow(run.region(*text))) > 20, 20, "the licence line in the system's colours")
    check(run.region(*picture) == pixels, "the headline picture changed in high contrast")
    plain = run.region(*button)
    run.key("Tab")
    dots = wait_for(lambda: [q for p, q in zip(plain, run.region(*button)) if p != q], 20, "the focus mark")
    check(len(yellow(dots)) == len(dots), "the focus mark's colours: %r" % sorted(set(dots))[:8])
    run.window_shot("high-contrast")


def brand(run, *args):
    """brand.exe with `args`; fails with what it printed."""
    result = run.wine(os.path.join(run.build, "brand.exe"), *args)
    check(result.returncode == 0, "brand.exe %s: %d %r" % (" ".join(args), result.returncode,
                                                          result.stdout.decode("gbk", "replace")))


def branded_one_key(run):
    """The stock installer branded by brand.exe, its branding with an "@2x" background, on
    a display at 200 % and then at 150 % (a copy of the prefix with its LogPixels): it
    passes the one-key install with clicks at the scaled positions, and each of its pages
    comes to look like brand.exe's preview of it at that --scale, its welcome page's glyph
    edges as sharp as the 100 % preview's, where that page stretched is not. At each scale a path
    is typed on the option page before going back. The previews at 100, 150 and 200 % have
    the scaled sizes and show the "@2x" picture from 150 % on. Last, the system's
    high-contrast mode is turned on under a new installer at 150 % (high_contrast)."""
    dpi = 96 * SCALES[0] // 100
    scaled = "%s-dpi%d" % (run.prefix, dpi)
    own_display(run, scaled)
    made = subprocess.run([os.path.join(SOURCE, "tools", "wine-prefix"), "--scaled", run.prefix, str(dpi)],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=400)
    check(made.returncode == 0, "no prefix at %d dpi: %s" % (dpi, made.stderr.decode(errors="replace")))
    run.prefix = run.env["QX_WINEPREFIX"] = scaled
    # Left at its scale and out of high contrast at the end; a run stopped midway may have
    # left it otherwise (the registry as the last session saved it).
    with open(os.path.join(scaled, "user.reg"), errors="replace") as f:
        saved = f.read()
    if '"LogPixels"=dword:%08x' % dpi not in saved or '"Flags"="127"' in saved:
        display(run, SCALES[0])
    run.scale = SCALES[0] / 100
    run.stack.callback(display, run, SCALES[0])
    folder = os.path.join(run.build, "tests", "tools", "brand", "branding")
    exe = os.path.join(run.folder, "vantor.branded_one_key.12345.dl.exe")
    brand(run, os.path.join(run.build, "installer.exe"), run.windows_path(folder), run.windows_path(exe))
    report = []
    previews = {}
    for percent in (100, 150, 200):
        previews[percent] = os.path.join(run.folder, "previews-%d" % percent)
        scale = ("--scale", str(percent)) if percent != 100 else ()
        brand(run, "--preview", *scale, run.windows_path(folder), run.windows_path(previews[percent]))
        for page in LIMITS:
            path = os.path.join(previews[percent], page + ".png")
            size = rgba(path)[0]
            check(size == (660 * percent // 100, 480 * percent // 100), "%s at %d %%: %r" % (page, percent, size))
            shutil.copyfile(path, os.path.join(run.screens, "%s-%d-%s.png" % (run.name, percent, page)))
        welcome = os.path.join(previews[percent], "welcome.png")
        check(marked(pixel(welcome, *(round(v * percent / 100) for v in MARK))) == (percent >= 150),
              "the @2x background at %d %%: %r" % (percent, pixel(welcome, *MARK)))
    installs, outer, folder = [], run.stack, run.folder
    for percent in SCALES:
        if percent != SCALES[0]:
            display(run, percent)
        preview = {page: rgba(os.path.join(previews[percent], page + ".png")) for page in LIMITS}

        def look(page):
            seen = []

            def close_enough():
                shot = run.window_shot("%d-%s" % (percent, page))
                seen.append(differing_share(preview[page], shot, step=round(run.scale)))
                return shot if seen[-1] <= LIMITS[page] else None
            try:
                shot = wait_for(close_enough, 30, "the %s page to look like its preview" % page)
            except Failure as failure:
                raise Failure("%s: shares of differing pixels seen %r" % (failure, seen))
            report.append("%s page at %d %%: %.3f%% of the preview's pixels differ (at most %.1f%%)"
                          % (page, percent, 100 * seen[-1], 100 * LIMITS[page]))
            check(page != "welcome" or marked(run.region(*MARK, 1, 1)[0]), "no @2x background at %d %%" % percent)
            hundred = os.path.join(previews[100], "welcome.png")
            for what, rect in GLYPHS.items() if page == "welcome" else ():
                sharp, live = edge_share(hundred, rect, 1), edge_share(shot, rect, run.scale)
                stretched = edge_share(hundred, rect, 1, run.scale)
                report.append("  its %s: %.3f of the inked pixels are intermediate (100 %%: %.3f, stretched: %.3f)"
                              % (what, live, sharp, stretched))
                check(live <= sharp * 1.05 and live < stretched, report[-1])
        # Each install has its own folder and peers; the update server's fixed port is free
        # again for the next once its own have ended.
        run.folder = os.path.join(folder, "at-%d" % percent)
        os.makedirs(run.folder)
        run.stack = outer.enter_context(contextlib.ExitStack())
        try:
            one_key(run, exe=exe, look=look)
            installs += ["at %d %%:" % percent] + run.report
            if percent == SCALES[-1]:
                high_contrast(run, exe)
            run.stack.close()
        finally:
            run.stack = outer
    run.report = installs + ["branded by brand.exe: %s" % exe, "previews: %s" % folder] + report


def start(run, args=(), env=None, **made):
    """Starts a copy of the branded installer (see installer()) named after the scenario;
    its file."""
    exe = installer(run, "%s-installer.exe" % run.name, **made)
    run.start_installer(exe, *args, env_extra=env)
    return exe


def silent(run, *args, env=None, seconds=120, expect=None, boxes=None, ran=None, **made):
    """One /verysilent run to its end, which never shows the installer's window; its exit
    code, which must be `expect` when that is given, as the message boxes it showed must be
    `boxes` and whether the payload ran `ran`. After a run that ended well neither the
    package nor a side file of it stays."""
    env = env if env is not None else payload_env(run)
    if os.path.exists(run.record):
        os.remove(run.record)
    before = len(run.dialogs())
    start(run, ["/verysilent", *args], env, **made)
    shown = []
    try:
        wait_for(lambda: shown.extend(run.visible_windows()) or run.installer.poll() is not None, seconds,
                 "the silent run to end")
    except Failure as failure:
        logs = installer_logs(run)
        tail = log_lines(logs[-1])[-12:] if logs else ["(no log)"]
        raise Failure("%s; its log ends:\n%s" % (failure, "\n".join(tail)))
    check(not shown, "a silent run showed its window")
    code = run.installer_exit(5)
    seen = run.dialogs()[before:]
    check(expect in (None, code) and boxes in (None, seen), "the silent run ended with %s and boxes %r, not %s and %r"
          % (code, seen, expect, boxes))
    check(ran in (None, os.path.exists(run.record)), "the payload ran: %s" % os.path.exists(run.record))
    check(code != 0 or not any(os.path.exists(run.drive_c(*PACKAGE) + end) for end in ("", ".info", ".parts")),
          "the package or a side file stayed")
    return code


def type_path(run, text):
    """Replaces the path on the option page; returns once the warning, the box and the
    free space line below it show the new text's answer."""
    field = (131, 169, 330, 80)
    before = run.region(*field)
    run.click(*PATH_BOX)
    run.xdotool("key", "End", "shift+Home", "BackSpace")
    run.type_text(text)
    run.steady(field, other_than=before, seconds=20)


def idle(run, what):
    """Checks that nothing started an install, once input sent after what was to do
    nothing has been handled (the window takes its input in order): the option box
    clicked off and on again, the pointer away from it."""
    state = run.region(*OPTION_RECT)
    try:
        run.click_to(*OPTION_BOX, rect=OPTION_RECT)
    except Failure:
        check(not os.path.exists(run.record) and run.update_connections() == 0, what)
        raise
    run.click(*OPTION_BOX)
    ox, oy = run.window_origin()
    run.xdotool("mousemove", str(ox + 5), str(oy + 60))
    wait_for(lambda: run.region(*OPTION_RECT) == state, 20, "the option box to come back")
    check(not os.path.exists(run.record) and run.update_connections() == 0, what)


def custom_typed(run):
    """The option page with the mouse: the folder browser's choice fills the path box, and
    the Enter that closed it does nothing; an invalid path and one without room warn, and
    "下一步" does nothing then; "上一步" resets the options. Then the keyboard alone, from
    the welcome page to the game started by the finish button."""
    fresh(run)
    serve_package(run)
    start(run, env=payload_env(run, steps=5))
    run.find_window()
    run.click_to(*CUSTOM)
    run.click(*BROWSE)
    browser = run.find_window("选择文件夹", 20)
    # Desktop → My Computer → its first drive, C:; each key once the last one shows.
    def look():
        return subprocess.run(["import", "-window", browser, "-depth", "8", "rgb:-"], capture_output=True,
                              timeout=30).stdout
    shown = run.steady(look=look, seconds=20, what="the folder browser to be drawn")
    for key in ("End", "Right", "Down"):
        run.xdotool("key", "--window", browser, key)
        shown = run.steady(other_than=shown, look=look, seconds=20, what="the folder browser to answer %s" % key)
    run.screenshot("browser")
    # A real key on the focused browser: its key-up lands on the installer once the
    # browser has closed, and must not start the install.
    run.xdotool("key", "Return")
    wait_for(lambda: not run.visible_windows("选择文件夹"), 10, "the folder browser to close")
    run.find_window()
    idle(run, "the Enter that closed the folder browser started the install")
    tree = run.accessible_tree()
    check([r[3] for r in tree if r[0] == 0x2A] == [r"C:\vantorworlds"], "the path box after browsing: %r" % tree)
    run.screenshot("option")
    check(run.count_red(*WARNING) == 0, "a warning shows before anything was typed")
    run.mount_drive_t("8m")
    for path, warning in (("C:\\bad|name", "invalid-path"), ("T:\\game", "no-space")):
        type_path(run, path)
        run.screenshot("option-" + warning)
        check(run.count_red(*WARNING) > 20, "no %s warning" % warning)
        run.click(*NEXT)
        idle(run, "next acted while the %s warning showed" % warning)

    type_path(run, "C:\\My Games\\Vantor")
    check(run.count_red(*WARNING) == 0, "the warning stays for a valid path")
    checked = run.region(*OPTION_RECT)
    unchecked = run.click_to(*OPTION_BOX, rect=OPTION_RECT)
    check(checked != unchecked, "the option box did not change")
    run.click_to(*PREVIOUS)
    run.screenshot("back-on-welcome")
    # From here the keyboard alone. Without a window manager the window under the pointer
    # has the keyboard, and keys sent to a window directly lose their Shift: the pointer
    # rests on an empty spot. Nothing is focused: Shift+Tab wraps to "自定义安装".
    ox, oy = run.window_origin()
    run.xdotool("mousemove", str(ox + 330), str(oy + 380))
    run.key("shift+Tab", "space")
    wait_for(lambda: run.region(PATH_BOX[0], PATH_BOX[1], 1, 1) == [(255, 255, 255)], 20, "the option page")
    wait_for(lambda: run.region(*OPTION_RECT) == checked, 20, "previous to have reset the options")
    # The path box, the browse button, the option box.
    run.key("Tab", "End", "shift+Home", "BackSpace")
    box = (PATH_BOX[0] - 140, PATH_BOX[1] - 8, 280, 16)
    empty = run.region(*box)
    run.type_text(TYPED)
    wait_for(lambda: run.region(*box) != empty, 10, "the typed path in the box")
    run.key("Tab", "Tab", "space")
    wait_for(lambda: run.region(*OPTION_RECT) != checked, 10, "Space to untick the option box")
    # "上一步", then "下一步", pressed with Enter.
    run.key("Tab", "Tab", "Return")
    expect_told(run, TYPED, tasks="!quicklaunchicon,runafterinstall")
    wait_for(lambda: run.registry_install_path(), 30, "the install to complete")
    check(run.registry_install_path() == TYPED, "registry %r" % run.registry_install_path())

    # The install page has nothing to focus and Enter does nothing there: Tab and Enter
    # are repeated until the finish page takes them and its button ends the installer.
    def finished():
        run.key("Tab", "Return")
        return run.installer.poll() is not None
    wait_for(finished, 60, "Tab and Enter to press the finish button")
    check(run.installer.returncode == 0, "the finish button ended with %s" % run.installer.returncode)
    wait_for(lambda: os.path.exists(run.drive_c("Keys", "Vantor", "started.txt")), 20, "the game to start")
    check(run.dialogs() == [], "unexpected message boxes: %r" % run.dialogs())


def licence_and_close(run):
    run.clean_machine()
    cancel_log = run.start_dialog_watch(answer=2)
    serve_package(run)
    start(run, env=payload_env(run, steps=20, delay=100))
    run.find_window()
    run.click(*LICENCE)
    run.screenshot("licence-unchecked")
    run.click(*ONE_KEY)
    run.click(*CUSTOM)
    run.key("Return")
    # The close question comes once the input before it was handled.
    run.click(*CLOSE)
    try:
        box = run.wait_for_dialog(30, cancel_log)
    except Failure:
        check(run.update_connections() == 0, "an install started with the licence unchecked")
        raise
    check(box[1] == ASK_CLOSE, "close asked %r" % (box,))
    check(run.update_connections() == 0, "an install started with the licence unchecked")
    check(run.count_red(*WARNING) == 0 and run.visible_windows(), "the welcome page changed")

    run.click(*LICENCE)
    run.key("Return")
    wait_for(lambda: os.path.exists(run.record), 60, "Enter on the welcome page to start the install")
    check(run.installer.poll() is None, "Cancel closed the installer")
    # Closing while installing asks nothing; once installed it asks, and OK ends it.
    run.click(*CLOSE)
    wait_for(lambda: run.registry_install_path(), 30, "the install to complete")
    run.stop_dialog_watch(cancel_log)
    ok_log = run.start_dialog_watch(answer=1)
    run.until(lambda: run.click(*CLOSE), lambda: run.dialogs(ok_log), "the close question on the finish page")
    check(run.dialogs(cancel_log) == [box] and run.dialogs(ok_log) == [box],
          "boxes %r, then %r" % (run.dialogs(cancel_log), run.dialogs(ok_log)))
    code = run.installer_exit(20)
    check(code == 0, "closing ended with %s" % code)
    check(not os.path.exists(installed(run, "started.txt")), "closing started the game")


def press_one_key(run):
    run.find_window()
    run.click(*ONE_KEY)


def expect_restart(run):
    exe_name = "%s-installer.exe" % run.name
    wait_for(lambda: run.installer.poll() is not None, 30, "the installer to restart itself")
    check(run.installer.returncode == 1, "restart ended with %s" % run.installer.returncode)
    wait_for(lambda: run.installer_processes(exe_name), 20, "the restarted copy")
    wait_for(lambda: run.visible_windows(), 30, "the restarted copy's window")


def damaged_kept_nothing(run, url, digest):
    box = run.dialogs()[0]
    check(("Hash expected = 0123456789abcdef0123456789abcdef" in box[1]) and digest in box[1] and url in box[1],
          "damaged text %r" % box[1])
    check(not any(os.path.exists(run.drive_c(*PACKAGE) + end) for end in ("", ".info")),
          "the damaged package or its side file was kept")


def failed_install_keeps_package(run, url, digest):
    """The verified package stays, in a folder only its owner may write, so the next attempt
    installs it from there without asking."""
    check(run.registry_install_path() is None, "the registry value was written for a failed install")
    package = run.drive_c(*PACKAGE)
    check(os.path.exists(package) and os.path.exists(package + ".info"), "the verified package was not kept")
    asked = open(run.nginx_log).read().splitlines()
    silent(run, seconds=60, expect=0)
    check(open(run.nginx_log).read().splitlines() == asked, "the kept package was asked for again")
    check(read(run.record).startswith('"C:\\vantorsetup\\setup.exe" '), "the kept package ran as %r" % read(run.record))


def embedded_by_brand(run, url, digest):
    """brand.exe records the digest of the package it embeds: the branding that lacked its
    package, given it, installs from it."""
    folder = os.path.join(run.folder, "branding")
    os.makedirs(folder)
    shutil.copyfile(os.path.join(run.build, "tests", "app", "e2e_embedded", "CONFIG.JSON"),
                    os.path.join(folder, "CONFIG.JSON"))
    shutil.copyfile(os.path.join(run.build, "tools", "payload", "payload.exe"), os.path.join(folder, "SETUP.EXE"))
    exe = os.path.join(run.folder, "%s-branded.exe" % run.name)
    brand(run, os.path.join(run.build, "installer.exe"), run.windows_path(folder), run.windows_path(exe))
    run.start_installer(exe, "/verysilent", env_extra=payload_env(run))
    code = run.installer_exit(90)
    check(code == 0 and os.path.exists(run.record), "the branded installer ended with %s (boxes %r)"
          % (code, run.dialogs()))


def answered_once(run, url, digest):
    # An answer is final, whatever its error code: no second try.
    check(run.update_connections() == 1, "%d conversations with the update server" % run.update_connections())
    expect_restart(run)


# One press of the one-key button against what is served; the player sees one box (its
# caption and how its text begins) and the installer ends with a code (None: it restarts
# itself); the log's end line names the cause the box leaves out. name: (what is served,
# installer, payload exit code, box, exit code, the cause logged, then)
BOXES = {
    "failed_query": (dict(error_code=4), {}, 0, ("提示", "服务器出错了！请稍后再试。"), None,
                     "its answer: {error_code = 4}", answered_once),
    "damaged_download": (dict(md5="0123456789abcdef0123456789abcdef"), {}, 0,
                         ("出错了", "下载的文件损坏了！请重新打开安装程序，再试一次。"), 1, "the package is damaged",
                         damaged_kept_nothing),
    "payload_start_failure": (dict(content=b"not a program" * 1000), {}, 0, ("提示", "正在安装中..."), 102,
                              "the payload could not be started", None),
    "payload_failure": (dict(), {}, 7, FAILED, 103, "the payload failed with exit code 7", failed_install_keeps_package),
    "extraction_failure": (None, dict(variant="installer_e2e_no_package.exe"), 0, ("提示", "无法提取安装包"), 101,
                           "the embedded package could not be written", embedded_by_brand),
}


def box_scenario(name):
    served, variant, exit_code, box, code, cause, then = BOXES[name]

    def scenario(run):
        fresh(run)
        url = digest = None
        if served and "error_code" in served:
            run.package()
            run.start_update_server("--error-code", str(served["error_code"]))
        elif served is not None:
            shown = serve_package(run, **served)
            url, digest = shown.url, shown.digest
        start(run, env=payload_env(run, exit_code=exit_code), **variant)
        press_one_key(run)
        seen = run.wait_for_dialog(90)
        check(seen[0] == box[0] and seen[1].startswith(box[1]), "message box %r" % (seen,))
        if code is not None:
            ended = run.installer_exit(30)
            check(ended == code, "exit code %s, expected %s" % (ended, code))
        check(cause in end_line(run), "the log ends with %r" % end_line(run))
        if then:
            then(run, url, digest)
    scenario.__name__ = name
    return scenario


def digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def race(run, windows_path):
    """What another program can do to the file now, as file_race.exe logs it."""
    log = os.path.join(run.folder, "race.txt")
    run.wine(os.path.join(run.build, "tests", "support", "file_race.exe"), windows_path, run.windows_path(log))
    return dict(line.split(" ", 1) for line in open(log).read().splitlines()) if os.path.exists(log) else {}


def restart_keeps_arguments(run):
    """A download that comes up short restarts the installer with its arguments: the new
    copy is not refused as a second instance, installs where the caller said, and the
    parent program that named a window receives the progress and starts the game itself.
    While the installer runs, its file can be neither changed, renamed nor deleted, so the
    copy the restart starts is this very file."""
    fresh(run)
    serve_package(run)
    package = os.path.join(run.folder, "www", "pkg", "setup.exe")
    later = package + ".later"
    os.rename(package, later)
    # A window of another program, logging the progress it receives.
    log = os.path.join(run.folder, "notify.txt")
    stop_parent = run.start_helper("notify_target.exe", log, "QxParentProgram", run.windows_path(log), "280")
    exe = start(run, args=["-notify_wnd", "QxParentProgram", "/path", "C:\\Restarted Games", "-channel", "a b"],
                env=payload_env(run, steps=20, delay=20))
    before = digest(exe)
    run.find_window()
    outcome = race(run, run.windows_path(exe))
    check(outcome == REFUSED, "another program could do this to the running installer: %r" % outcome)
    press_one_key(run)
    box = run.wait_for_dialog(30)
    check(box == NETWORK, "message box %r" % (box,))
    # A 404 is final at once: one request, no retry.
    requests = open(run.nginx_log).read().splitlines()
    check(len(requests) == 1 and requests[0].endswith(" 404"), "requests %r" % requests)
    expect_restart(run)
    check(digest(exe) == before and not os.path.exists(exe + ".moved"),
          "the installer's file changed")
    check("404" in end_line(run), "the log ends with %r" % end_line(run))
    os.rename(later, package)
    press_one_key(run)
    wait_for(lambda: run.registry_install_path(), 60, "the restarted copy's install")
    check(run.registry_install_path() == "C:\\Restarted Games", "registry %r" % run.registry_install_path())
    check(told(run, "-channel") == "a b", "arguments %r" % read(run.argv))
    check(told(run, "-notify_wnd").startswith(TITLE) and "QxParentProgram" not in read(run.argv),
          "arguments %r" % read(run.argv))
    name = "%s-installer.exe" % run.name
    run.until(lambda: run.click(*FINISH), lambda: not run.installer_processes(name), "the finish button to end it")
    # Stopped, the parent program has taken every message the installer sent it.
    stop_parent()
    run.flush_dialogs()
    lines = open(log).read().split()
    pairs = [(int(lines[i]), int(lines[i + 1])) for i in range(0, len(lines) - 1, 2)]
    check(pairs == [(i, 20) for i in range(1, 21)], "forwarded progress %r" % pairs)
    check(len(run.dialogs()) == 1, "message boxes %r" % run.dialogs())
    # The installer has ended: had it started the game, the game's file would be there.
    check(not os.path.exists(run.drive_c("Restarted Games", "started.txt")), "the game started although a parent waits")


def slow_update_server_name(run):
    """The update server's name takes 15 s to resolve (a preloaded resolver holds the
    lookup, on loopback): meanwhile the window answers and the carousel turns (its first
    change comes about 6 s after the press); then the query goes on."""
    resolver = os.environ.get("QX_SLOW_RESOLVER")
    check(resolver and os.path.exists(resolver), "QX_SLOW_RESOLVER does not name the slow resolver library")
    fresh(run)
    serve_package(run)
    env = dict(payload_env(run), LD_PRELOAD=resolver, QX_SLOW_RESOLVE_NAMES="127.0.0.1", QX_SLOW_RESOLVE_MS="15000")
    start(run, env=env)
    run.find_window()
    carousel = (0, 40, 660, 300)
    run.click_to(*ONE_KEY)
    before = run.region(*carousel)
    probe = os.path.join(run.build, "tools", "bench", "window_probe.exe")
    answer = run.wine(probe, TITLE, "6", timeout=60).stdout.decode(errors="replace").split()
    changed = run.region(*carousel) != before
    run.screenshot("while-resolving")
    # The probe and the carousel's turn both fell inside the held lookup.
    check(run.update_connections() == 0, "the query went out while the name was being looked up")
    # A window held by the lookup would not answer at all (the probe gives up after 5 s).
    figures = dict(zip(answer[::2], answer[1::2]))
    check(int(figures.get("samples", 0)) >= 100 and float(figures.get("p99_ms", 1e9)) < 2000,
          "the window did not answer while the name was looked up: %r" % answer)
    check(changed, "the carousel stood still while the name was looked up")
    wait_for(lambda: run.registry_install_path(), 60, "the install after the slow lookup")


def english_windows(run):
    """Under an English Windows (code page 1252) the installer reads as under a Chinese
    one: its title, its pages and its message boxes. Under the Chinese one it is started
    twice at once: one copy says so and ends with 104, the other runs on and takes input."""
    fresh(run)
    pages = {}
    for locale in ("zh_CN.UTF-8", "en_US.UTF-8"):
        env = {"QX_WINE_LOCALE": locale}
        exe = start(run, env=env)
        if locale == "zh_CN.UTF-8":
            copies = (run.installer, run.spawn(exe, env=dict(run.env, **env)))
            box = run.wait_for_dialog(60)
            check(box == ("提示", "游戏已经启动了！"), "message box %r" % (box,))
            wait_for(lambda: any(p.poll() is not None for p in copies), 30, "one of the two to end")
            ended = [p.poll() for p in copies if p.poll() is not None]
            check(ended == [104], "exit codes %r" % [p.poll() for p in copies])
            run.installer = [p for p in copies if p.poll() is None][0]
        run.xdotool("mousemove", "0", "0")
        run.find_window()
        check(run.window_title(run.window) == TITLE, "title %r" % run.window_title(run.window))
        welcome = run.steady()
        run.screenshot("welcome-" + locale[:2])
        run.click(*CUSTOM)
        run.xdotool("mousemove", "0", "0")
        option = run.steady(other_than=welcome)
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
    broken = installer(run, "%s-broken.exe" % run.name, "installer_broken_config.exe")
    run.start_installer(broken, env_extra={"QX_WINE_LOCALE": "en_US.UTF-8"})
    check(run.installer_exit(60) == 100, "the broken configuration did not end with 100")
    expected = [("提示", "游戏已经启动了！")] + [("提示", ASK_CLOSE)] * 2 + [("错误", "读取carcouselPics出错。")]
    check(run.dialogs() == expected, "message boxes %r" % run.dialogs())


SCENARIOS = {f.__name__: f for f in (
    branded_one_key, custom_typed, licence_and_close, restart_keeps_arguments, slow_update_server_name,
    english_windows)}
SCENARIOS.update({name: box_scenario(name) for name in BOXES})

if __name__ == "__main__":
    sys.exit(main(SCENARIOS, demos={"one_key": one_key}))
