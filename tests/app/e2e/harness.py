"""Drives the installer under Wine as a user would, against real peers on loopback.

Every scenario gets its own folder under <build>/e2e/<name>/ (screenshots, logs, the
package server's root). Peers: nginx (packages), the development update server
(port 8901, the installer's fixed port), the test payload, and dialog_watch.exe, which
answers and logs message boxes. Every wait is bounded; every process is stopped at the
end, also on failure.
"""
import contextlib
import glob
import hashlib
import os
import shutil
import signal
import struct
import subprocess
import sys
import time

SUPPORT = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "support")
sys.path.insert(0, SUPPORT)
from peers import SOURCE, Failure, free_port, nginx_command, port_open, wait_for, wine  # noqa: E402,F401

UPDATE_PORT = 8901
TITLE = "星海奇遇记安装"
REGISTRY_KEY = r"HKCU\Software//qxvantor//install"
# Where the current user's proxy settings live, and the one value WinHTTP reads there.
CONNECTIONS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
WINDOW = (0, 0, 660, 480)


def check(condition, message):
    if not condition:
        raise Failure(message)


class Run:
    """One scenario: its folder, its Wine prefix state and its peers."""

    def __init__(self, build, name):
        self.build = build
        self.name = name
        self.folder = os.path.join(build, "e2e", name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.prefix = os.environ.get("QX_WINEPREFIX") or os.path.join(build, "wineprefix")
        self.env = dict(os.environ)
        self.env["QX_WINEPREFIX"] = self.prefix
        self.env.setdefault("WINEDEBUG", "-all")
        self.stack = contextlib.ExitStack()
        # The display's scale: positions and sizes given at 96 dpi are this much larger.
        self.scale = 1.0
        self.screens = os.path.join(build, "screenshots")
        os.makedirs(self.screens, exist_ok=True)
        self.started = time.time()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stack.close()
        # The installer's own logs of this run are kept beside its screenshots, in place of
        # an earlier run's.
        with contextlib.suppress(Failure, OSError):
            for stale in glob.glob(os.path.join(self.screens, self.name + "-*_install_*.log")):
                os.remove(stale)
            for path in installer_logs(self, since=self.started):
                shutil.copyfile(path, os.path.join(self.screens, "%s-%s" % (self.name, os.path.basename(path))))
        # The next test's window opens where this one's did: a pointer left over its
        # buttons would start them hovered.
        with contextlib.suppress(OSError, subprocess.SubprocessError):
            if os.environ.get("DISPLAY"):
                self.xdotool("mousemove", "0", "0")
        return False

    # --- Windows side -----------------------------------------------------------------
    def windows_path(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def wine(self, *args, env=None, timeout=120):
        """A Windows command whose output is wanted (see peers.wine)."""
        return wine(*args, env=env or self.env, timeout=timeout)

    def registry_install_path(self):
        out = self.wine("reg", "query", REGISTRY_KEY, "/v", "installPath").stdout
        text = out.decode("gbk", "replace")
        for line in text.splitlines():
            if "installPath" in line and "REG_SZ" in line:
                return line.split("REG_SZ", 1)[1].strip()
        return None

    def clean_machine(self):
        """Forgets earlier installs: registry value, download folder, install folder."""
        self.wine("reg", "delete", REGISTRY_KEY, "/f")
        for leftover in ("vantorsetup", "vantorworlds", "My Games", "Restarted Games",
                         os.path.join("Program Files", "vantorworlds")):
            shutil.rmtree(self.drive_c(leftover), ignore_errors=True)

    def start_helper(self, program, log, *args):
        """A Windows helper of tests/support logging to `log`, which it makes once it
        watches; stopped by "<log>.stop". Returns the function that stops it."""
        for old in (log, log + ".stop"):
            if os.path.exists(old):
                os.remove(old)
        process = self.spawn(os.path.join(self.build, "tests", "support", program), *args)

        def stop():
            open(log + ".stop", "w").close()
            try:
                process.wait(30)
            except subprocess.TimeoutExpired:
                process.kill()
        stop.process = process
        self.stack.callback(stop)
        wait_for(lambda: os.path.exists(log) or process.poll() is not None, 60, "%s to start" % program)
        check(os.path.exists(log), "%s ended at once with %s" % (program, process.poll()))
        return stop

    def start_dialog_watch(self, answer=1, seconds=600):
        """Answers message boxes with button `answer` (1 OK, 2 Cancel) until the end, or
        until stop_dialog_watch(log)."""
        log = os.path.join(self.folder, "dialogs-%d.txt" % answer)
        # Only the boxes of this scenario's installers: every copy's name holds the scenario's.
        self.watch_stops = getattr(self, "watch_stops", {})
        self.watch_stops[log] = self.start_helper("dialog_watch.exe", log, self.windows_path(log), str(answer),
                                                  str(seconds), self.name)
        self.dialog_log = log
        return log

    def stop_dialog_watch(self, log):
        self.flush_dialogs()
        self.watch_stops[log]()

    def flush_dialogs(self):
        """Waits until the running watchers have logged every box they saw so far."""
        for log, stop in getattr(self, "watch_stops", {}).items():
            if stop.process.poll() is None:
                open(log + ".flush", "w").close()
                wait_for(lambda: not os.path.exists(log + ".flush") or stop.process.poll() is not None, 30,
                         "the dialog watcher to log what it saw")

    def dialogs(self, log=None):
        with open(log or self.dialog_log, "rb") as f:
            lines = f.read().decode("gbk", "replace").splitlines()
        return [tuple(line.split("\t", 1)) for line in lines if line]

    def wait_for_dialog(self, seconds, log=None):
        return wait_for(lambda: self.dialogs(log), seconds, "a message box")[0]

    def start_installer(self, exe, *args, env_extra=None):
        """Starts the installer; at the end it and every copy it restarted are killed."""
        self.installer = self.spawn(exe, *args, env=dict(self.env, **(env_extra or {})))
        name = os.path.basename(exe)

        def stop():
            # Gone before the next scenario looks for a window of the same title.
            with contextlib.suppress(Failure):
                self.kill_installer(name, 10)
        self.stack.callback(stop)
        return self.installer

    def spawn(self, exe, *args, env=None):
        """A Windows program started in the background, its output dropped."""
        return subprocess.Popen([os.path.join(SOURCE, "tools", "wine-run"), exe] + list(args), env=env or self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def kill_installer(self, name, seconds=20):
        """Kills the installer started last and every copy of `name` it restarted, outright;
        returns once they are gone."""
        if self.installer.poll() is None:
            self.installer.kill()
            self.installer.wait(10)
        for pid in self.installer_processes(name):
            with contextlib.suppress(OSError):
                os.kill(int(pid), signal.SIGKILL)
        wait_for(lambda: not self.installer_processes(name), seconds, "the killed installer to go")

    def installer_processes(self, name):
        """Processes of this run's Wine prefix whose command line names `name` (copies the
        installer restarted included); never another run's, which may use the same name."""
        own = ("WINEPREFIX=" + self.prefix).encode()
        pids = []
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    command = f.read().decode("utf-8", "replace")
                if name not in command:
                    continue
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if own in f.read().split(b"\0"):
                        pids.append(pid)
            except OSError:
                continue
        return pids

    def installer_exit(self, seconds):
        """The installer's exit code, once the boxes it showed are logged."""
        try:
            code = self.installer.wait(seconds)
        except subprocess.TimeoutExpired:
            raise Failure("installer still running after %ss" % seconds)
        self.flush_dialogs()
        return code

    def mount_drive_t(self, size):
        """Drive T: on a tmpfs of `size` (a mount option such as "6m") for this run; its
        folder. Mounting needs root: without it the run fails and says so."""
        mount = os.path.join(self.folder, "drive-t")
        os.makedirs(mount, exist_ok=True)
        self.mount_tmpfs(mount, "size=" + size)
        link = os.path.join(self.prefix, "dosdevices", "t:")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(mount, link)
        self.stack.callback(lambda: os.path.lexists(link) and os.remove(link))
        return mount

    def mount_tmpfs(self, folder, options):
        """A tmpfs with mount `options` on `folder` until the end of the run. Mounting needs
        root: without it the run fails and says so."""
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder], capture_output=True)
        check(mounted.returncode == 0, "no tmpfs on %s (mounting needs root): %r" % (folder, mounted.stderr))
        self.stack.callback(lambda: subprocess.run(["umount", "-l", folder], capture_output=True))

    # --- peers --------------------------------------------------------------------------
    def package(self, pad_bytes=0):
        """The test payload as the run's package (www/pkg/setup.exe), a copy of its own;
        padding after the image slows its download. Its path, digest and length."""
        size = os.path.getsize(os.path.join(self.build, "tools", "payload", "payload.exe")) + pad_bytes
        source, digest = padded_payload(self.build, size)
        target = os.path.join(self.folder, "www", "pkg", "setup.exe")
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        return target, digest, size

    def start_nginx(self, rate="0", tls=None):
        port = free_port()
        _, self.nginx_log = self.nginx_on(port, rate, tls)
        return port

    def nginx_on(self, port, rate="0", tls=None, directives=""):
        """nginx serving the run's www folder on a given port (tests/support/peers.py), so
        that a restarted server answers at the same address; with tls=(certificate, key)
        over HTTPS. Returns the process and its access log."""
        folder = os.path.join(self.folder, "nginx-%d" % port)
        command = nginx_command(folder, os.path.join(self.folder, "www"), port, "limit_rate %s;%s" % (rate, directives),
                                tls)
        process = self.start_peer(command, lambda: port_open(port), "nginx on port %d" % port)
        return process, os.path.join(folder, "access.log")

    def start_peer(self, command, ready, what):
        """A program on the Linux side, stopped at the end of the run (unless a test has
        already stopped it); returns once `ready()` holds."""
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.stack.callback(lambda: process.poll() is None and (process.terminate(), process.wait(10)))
        wait_for(ready, 10, what)
        return process

    def start_update_server(self, *args, port=UPDATE_PORT):
        """The development update server on `port` (the installer's own by default)."""
        devserver = os.environ.get("QX_DEVSERVER")
        check(devserver and os.path.exists(devserver), "QX_DEVSERVER does not name the development update server")
        wait_for(lambda: not port_open(UPDATE_PORT), 20, "port %d to be free" % UPDATE_PORT)
        log = os.path.join(self.folder, "devserver.log")
        self.devserver_log = log
        return self.start_peer([devserver, "--address", "127.0.0.1", "--port", str(port), "--log", log,
                                "--max-seconds", "280", "--exit-with-parent"] + list(args),
                               lambda: port_open(port), "the update server")

    def announce(self, url, md5, size, *args, port=UPDATE_PORT):
        """The update server offering the package at `url` as version 1.2.3.4, told in a
        package file, the form publishers use."""
        package = os.path.join(self.folder, "announced-%d.package" % port)
        with open(package, "w") as f:
            f.write("# announced by this run\nurl=%s\nmd5=%s\nsize=%d\nversion=1.2.3.4\n" % (url, md5, size))
        return self.start_update_server("--package", package, *args, port=port)

    def update_connections(self):
        """Connections that sent something (the readiness probe sends nothing)."""
        if not os.path.exists(self.devserver_log):
            return 0
        lines = open(self.devserver_log, errors="replace").read().splitlines()
        return sum(1 for a, b in zip(lines, lines[1:]) if a.startswith("accepted") and b.startswith("recv"))

    def start_fault_proxy(self, target_port, *modes, listen_port=0):
        """The fault-injecting relay (tests/support/fault_proxy.py) in front of a server on
        127.0.0.1; `modes` are its options. Returns its port and its log."""
        log = os.path.join(self.folder, "fault-proxy-%d.log" % target_port)
        port_file = log + ".port"
        self.start_peer([sys.executable, os.path.join(SUPPORT, "fault_proxy.py"), "--target", "127.0.0.1:%d" % target_port,
                         "--listen", "127.0.0.1:%d" % listen_port, "--log", log, "--port-file", port_file,
                         "--max-seconds", "280"] + list(modes), lambda: os.path.exists(port_file), "the fault proxy")
        return int(open(port_file).read()), log

    @staticmethod
    def fault_events(log, event=None):
        """The relay's log as (seconds, connection, event, details), optionally one event only."""
        lines = [line.split(" ", 3) + [""] for line in open(log).read().splitlines()]
        return [(float(f[0]), f[1], f[2], f[3]) for f in lines if event is None or f[2] == event]

    def start_tinyproxy(self):
        """tinyproxy on 127.0.0.1 as the player's proxy. Returns its port and its log."""
        port = free_port()
        folder = os.path.join(self.folder, "tinyproxy")
        self.start_peer(["bash", os.path.join(SUPPORT, "tinyproxy.sh"), folder, str(port)], lambda: port_open(port),
                        "tinyproxy")
        return port, os.path.join(folder, "tinyproxy.log")

    def set_user_proxy(self, proxy="", bypass="", script="", auto_detect=False):
        """The current user's proxy settings in the prefix, in the binary form the system's
        settings dialog stores ("DefaultConnectionSettings"); removed again at the end."""
        flags = 1 | (2 if proxy else 0) | (4 if script else 0) | (8 if auto_detect else 0)
        text = lambda value: struct.pack("<I", len(value)) + value.encode("ascii")  # noqa: E731
        blob = struct.pack("<III", 0x46, 1, flags) + text(proxy) + text(bypass) + text(script) + bytes(32)
        added = self.wine("reg", "add", CONNECTIONS_KEY, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                          "/d", blob.hex(), "/f")
        check(added.returncode == 0, "the proxy settings could not be written")
        self.stack.callback(lambda: self.wine("reg", "delete", CONNECTIONS_KEY, "/v", "DefaultConnectionSettings",
                                              "/f"))

    # --- the screen ---------------------------------------------------------------------
    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + list(args), capture_output=True, timeout=20).stdout.decode().strip()

    def window_title(self, window):
        """The title as Wine holds it (UTF-8 from the Unicode title): the legacy WM_NAME
        that xdotool matches goes through the program's locale and may be lossy."""
        out = subprocess.run(["xprop", "-id", window, "_NET_WM_NAME"], capture_output=True, timeout=20).stdout
        text = out.decode("utf-8", "replace")
        return text.split(" = ", 1)[1].strip().strip('"') if " = " in text else ""

    def visible_windows(self, title=TITLE):
        try:
            ids = self.xdotool("search", "--onlyvisible", "--name", ".").split()
        except subprocess.TimeoutExpired:
            # On a loaded machine one search may outlast its limit; callers look again.
            return []
        return [w for w in ids if self.window_title(w).startswith(title)]

    def find_window(self, title=TITLE, seconds=120):
        """The first visible window of that title, once it is drawn and stays where it
        is: its message loop runs then, so input sent to it from now on is handled."""
        def found():
            ids = self.visible_windows(title)
            return ids[0] if ids else None
        self.window = wait_for(found, seconds, "the window %r" % title)
        if title == TITLE:
            def drawn_at():
                try:
                    return self.window_origin() if len(set(self.region(*WINDOW)[::97])) > 50 else None
                except KeyError:
                    # That window went away (a copy that restarted itself): the next one.
                    self.window = found() or self.window
            self.steady(look=drawn_at, seconds=seconds, what="the window to be drawn where it stays")
        return self.window

    def steady(self, rect=WINDOW, other_than=None, seconds=30, look=None, what=None):
        """The pixels of `rect` (or what `look()` returns) once two looks a moment apart
        agree (and differ from `other_than` when given): a page after the input that
        changes it was handled."""
        last = [None]

        def settled():
            now = look() if look else self.region(*rect)
            done = now == last[0] and now != other_than
            last[0] = now
            return now if done else None
        return wait_for(settled, seconds, what or "the window's %r to change and settle" % (rect,))

    def click_to(self, x, y, rect=WINDOW, seconds=30):
        """A click that changes what `rect` shows; returns once the change is drawn."""
        before = self.region(*rect)
        self.click(x, y)
        return self.steady(rect, before, seconds)

    def until(self, action, predicate, what, seconds=60, each=3):
        """Repeats `action` until `predicate` holds (each try waits `each` seconds for it):
        for input a page may ignore until it is ready for it."""
        deadline = time.time() + seconds
        while True:
            action()
            try:
                return wait_for(predicate, min(each, max(0.1, deadline - time.time())), what)
            except Failure:
                if time.time() >= deadline:
                    raise Failure("timed out after %ss repeating input until %s" % (seconds, what))

    def window_origin(self):
        out = self.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def click(self, x, y, hover_shot=None):
        """A real press and release at (x, y) of the window, after moving there. The
        window takes input in the order it was sent, so what it makes of the click
        shows in whatever the test waits for next."""
        ox, oy = self.window_origin()
        self.xdotool("mousemove", str(ox + round(x * self.scale)), str(oy + round(y * self.scale)))
        if hover_shot:
            self.screenshot(hover_shot)
        self.xdotool("click", "1")

    def key(self, *names):
        """Keys pressed and released one after the other on the window."""
        self.xdotool("windowactivate", "--sync", self.window)
        self.xdotool("key", "--window", self.window, *names)

    def type_text(self, text):
        self.xdotool("type", "--delay", "30", text)

    def screenshot(self, label):
        path = os.path.join(self.screens, "%s-%s.png" % (self.name, label))
        subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=30)
        return path

    def grab(self, rect, *to):
        """The window's rectangle `rect` (at 96 dpi, taken at the display's scale) of the
        screen, written as ImageMagick's `to` says; what it wrote to standard output."""
        ox, oy = self.window_origin()
        x, y, width, height = (round(v * self.scale) for v in rect)
        return subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, ox + x, oy + y),
                               "+repage"] + list(to), capture_output=True, timeout=30).stdout

    def window_shot(self, label):
        """The window as a PNG file."""
        path = os.path.join(self.screens, "%s-window-%s.png" % (self.name, label))
        self.grab(WINDOW, path)
        return path

    def region(self, *rect):
        """The window's pixels in a rectangle, as a list of (r, g, b)."""
        out = self.grab(rect, "-depth", "8", "rgb:-")
        return [tuple(out[i:i + 3]) for i in range(0, len(out) - 2, 3)]

    def accessible_tree(self):
        """[(role, name, state, value, (x, y, w, h))] of the window's client area, then its
        children, as a screen reader has them (tests/support/accessible_probe.exe)."""
        out = self.wine(os.path.join(self.build, "tests", "support", "accessible_probe.exe"), "tree", TITLE, timeout=60)
        rows = [line.split("\t") for line in out.stdout.decode("utf-8", "replace").splitlines()]
        return [(int(role), name, int(state, 16), value, tuple(int(n) for n in rect.split(",")))
                for role, name, state, value, rect in rows]

    def count_red(self, x, y, width, height):
        return sum(1 for r, g, b in self.region(x, y, width, height) if r - max(g, b) > 80)


def temp_folder(run):
    """The Wine user's %TEMP% and the user's name."""
    found = [p for p in glob.glob(run.drive_c("users", "*", "Temp")) + glob.glob(run.drive_c("users", "*", "AppData",
                                                                                              "Local", "Temp"))
             if "/Public/" not in p]
    check(found, "no temporary folder in the prefix")
    parts = os.path.relpath(found[0], run.drive_c("users")).split(os.sep)
    return found[0], parts[0]


def installer_logs(run, since=0):
    """The installer's logs in %TEMP%, oldest first; those written since a time only."""
    found = glob.glob(os.path.join(temp_folder(run)[0], "星海奇遇记_install_*.log"))
    return sorted(p for p in found if os.path.getmtime(p) >= since)


def log_lines(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-8").splitlines()


def end_line(run):
    """The last "[end]" line of this run's logs, once written: a copy the installer restarted
    may write on after it."""
    def found():
        ends = [line for path in installer_logs(run, run.started) for line in log_lines(path) if " [end] " in line]
        return ends[-1] if ends else None
    return wait_for(found, 30, "the log's end line")


def padded_payload(build, size):
    """The test payload padded with zeros to `size` bytes, a package of any size: sparse,
    so it costs no disk. Made once per build tree and shared by the scenarios and the
    benchmarks, with its digest kept beside it. Returns its path and digest."""
    folder = os.path.join(build, "e2e-padded")
    os.makedirs(folder, exist_ok=True)
    payload = os.path.join(build, "tools", "payload", "payload.exe")
    if size < os.path.getsize(payload):
        raise Failure("a package of %d bytes cannot hold the payload" % size)
    target = os.path.join(folder, "setup-%d.exe" % size)
    stamp = "%d %d %d" % (os.path.getsize(payload), os.stat(payload).st_mtime_ns, size)
    known = target + ".md5"
    if os.path.exists(target) and os.path.exists(known):
        words = open(known).read().split()
        if " ".join(words[:3]) == stamp:
            return target, words[3]
    with open(payload, "rb") as src, open(target, "wb") as dst:
        dst.write(src.read())
        dst.truncate(size)
    md5 = hashlib.md5()
    with open(target, "rb") as f:
        for chunk in iter(lambda: f.read(8 << 20), b""):
            md5.update(chunk)
    with open(known, "w") as f:
        f.write("%s %s" % (stamp, md5.hexdigest()))
    return target, md5.hexdigest()


def main(scenarios, demos=None, timeouts=None):
    """<script> <scenario> --build DIR: runs one scenario (or demonstration), exit 0 on
    success. <script> --list: the scenarios, one a line with its time limit in seconds,
    for CTest."""
    if sys.argv[1:] == ["--list"]:
        for name in scenarios:
            print("%s %d" % (name, (timeouts or {}).get(name, 300)))
        return 0
    scenarios = dict(scenarios, **(demos or {}))
    name = sys.argv[1]
    build = sys.argv[sys.argv.index("--build") + 1]
    if not os.environ.get("DISPLAY"):
        print("e2e: needs a display (the test command starts Xvfb)")
        return 1
    with Run(build, name) as run:
        try:
            scenarios[name](run)
        except Failure as failure:
            run.screenshot("failure")
            print("FAILED: %s" % failure)
            print("screenshots under %s" % run.screens)
            return 1
        for line in getattr(run, "report", []):
            print(line)
    print("passed: %s" % name)
    return 0
