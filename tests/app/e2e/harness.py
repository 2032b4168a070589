"""Drives the installer under Wine as a user would, against real peers on loopback.

Every scenario gets its own folder under <build>/e2e/<name>/ (screenshots, logs, the
package server's root). Peers: nginx (packages), the development update server
(port 8901, the installer's fixed port), the test payload, and dialog_watch.exe, which
answers and logs message boxes. Every wait is bounded; every process is stopped at the
end, also on failure.
"""
import contextlib
import signal
import hashlib
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
UPDATE_PORT = 8901
TITLE = "星海奇遇记安装"
REGISTRY_KEY = r"HKCU\Software//qxvantor//install"
# Where the current user's proxy settings live, and the one value WinHTTP reads there.
CONNECTIONS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
SUPPORT = os.path.join(SOURCE, "tests", "support")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, seconds, what):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise Failure("timed out after %ss waiting for %s" % (seconds, what))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_open(port):
    with socket.socket() as s:
        s.settimeout(0.2)
        return s.connect_ex(("127.0.0.1", port)) == 0


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
        self.screens = os.path.join(build, "screenshots")
        os.makedirs(self.screens, exist_ok=True)
        self.shot_count = 0

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stack.close()
        # The next test's window opens where this one's did: a pointer left over its
        # buttons would start them hovered.
        if os.environ.get("DISPLAY"):
            try:
                self.xdotool("mousemove", "0", "0")
            except (OSError, subprocess.SubprocessError):
                pass
        return False

    # --- Windows side -----------------------------------------------------------------
    def windows_path(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def wine(self, *args, env=None, timeout=120):
        """A Windows command whose output is wanted. The output goes through a file, not
        a pipe: a process of the Wine session that inherited a pipe would hold it open."""
        with tempfile.TemporaryFile() as out:
            result = subprocess.run([os.path.join(SOURCE, "tools", "wine-run")] + list(args), env=env or self.env,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            result.stdout = out.read()
        return result

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
        for leftover in ("vantorsetup", "vantorworlds", "My Games", "Elevated Games", "Restarted Games",
                         os.path.join("Program Files", "vantorworlds")):
            shutil.rmtree(self.drive_c(leftover), ignore_errors=True)

    def start_helper(self, program, log, *args):
        """A Windows helper of tests/support logging to `log`; stopped by "<log>.stop"."""
        open(log, "wb").close()
        exe = os.path.join(self.build, "tests", "support", program)
        process = subprocess.Popen([os.path.join(SOURCE, "tools", "wine-run"), exe] + list(args),
                                   env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def stop():
            open(log + ".stop", "w").close()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
        self.stack.callback(stop)

    def start_dialog_watch(self, answer=1, seconds=280):
        """Answers message boxes with button `answer` (1 OK, 2 Cancel) until the end."""
        log = os.path.join(self.folder, "dialogs-%d.txt" % answer)
        # Only the boxes of this scenario's installers: every copy's name holds the scenario's.
        self.start_helper("dialog_watch.exe", log, self.windows_path(log), str(answer), str(seconds), self.name)
        self.dialog_log = log
        time.sleep(1.0)
        return log

    def dialogs(self, log=None):
        with open(log or self.dialog_log, "rb") as f:
            lines = f.read().decode("gbk", "replace").splitlines()
        return [tuple(line.split("\t", 1)) for line in lines if line]

    def wait_for_dialog(self, seconds, log=None):
        return wait_for(lambda: self.dialogs(log), seconds, "a message box")[0]

    def start_installer(self, exe, *args, env_extra=None):
        """Starts the installer; at the end it and every copy it restarted are killed."""
        env = dict(self.env)
        env.update(env_extra or {})
        self.installer = subprocess.Popen([os.path.join(SOURCE, "tools", "wine-run"), exe] + list(args),
                                          env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        name = os.path.basename(exe)

        def stop():
            if self.installer.poll() is None:
                self.installer.kill()
                self.installer.wait(10)
            for pid in self.installer_processes(name):
                try:
                    os.kill(int(pid), signal.SIGKILL)
                except OSError:
                    pass
            # Gone before the next scenario looks for a window of the same title.
            deadline = time.time() + 10
            while self.installer_processes(name) and time.time() < deadline:
                time.sleep(0.1)
            time.sleep(0.5)
        self.stack.callback(stop)
        return self.installer

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

    def start_notify_target(self, title, seconds=280):
        """A window titled `title` of another program, logging the progress it receives."""
        log = os.path.join(self.folder, "notify.txt")
        self.start_helper("notify_target.exe", log, title, self.windows_path(log), str(seconds))
        return log

    def installer_exit(self, seconds):
        try:
            return self.installer.wait(seconds)
        except subprocess.TimeoutExpired:
            raise Failure("installer still running after %ss" % seconds)

    def mount_drive_t(self, size):
        """Drive T: on a tmpfs of `size` (a mount option such as "6m") for this run; its
        folder, or None where mounting is not allowed (it needs root)."""
        mount = os.path.join(self.folder, "drive-t")
        os.makedirs(mount, exist_ok=True)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", mount], capture_output=True).returncode:
            return None
        self.stack.callback(lambda: subprocess.run(["umount", "-l", mount], capture_output=True))
        link = os.path.join(self.prefix, "dosdevices", "t:")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(mount, link)
        self.stack.callback(lambda: os.path.lexists(link) and os.remove(link))
        return mount

    # --- peers --------------------------------------------------------------------------
    def package(self, pad_bytes=0):
        """The test payload as a package; padding after the image slows its download."""
        www = os.path.join(self.folder, "www", "pkg")
        os.makedirs(www, exist_ok=True)
        target = os.path.join(www, "setup.exe")
        shutil.copyfile(os.path.join(self.build, "tools", "payload", "payload.exe"), target)
        if pad_bytes:
            with open(target, "ab") as f:
                f.write(os.urandom(pad_bytes))
        data = open(target, "rb").read()
        return target, hashlib.md5(data).hexdigest(), len(data)

    def start_nginx(self, rate="0", tls=None):
        port = free_port()
        _, self.nginx_log = self.nginx_on(port, rate, tls)
        return port

    def nginx_on(self, port, rate="0", tls=None):
        """nginx serving the run's www folder on a given port of 127.0.0.1 and 127.0.0.2
        (for requests through a proxy), so that a restarted server answers at the same
        address; with tls=(certificate, key) over HTTPS. Returns the process and its
        access log."""
        listen = "127.0.0.1:%d" % port
        if tls:
            listen += " ssl;\n    ssl_certificate %s;\n    ssl_certificate_key %s" % tls
        else:
            listen += ";\n    listen 127.0.0.2:%d" % port
        root = os.path.join(self.folder, "www")
        conf_dir = os.path.join(self.folder, "nginx-%d" % port)
        os.makedirs(os.path.join(conf_dir, "logs"), exist_ok=True)
        conf = os.path.join(conf_dir, "nginx.conf")
        with open(conf, "w") as f:
            # One process, so that stopping it stops a transfer too.
            f.write("""
master_process off;
worker_processes 1;
error_log %(d)s/logs/error.log;
pid %(d)s/nginx.pid;
events { worker_connections 64; }
http {
  log_format ranges '$remote_addr "$request" $status $body_bytes_sent "$http_range"';
  access_log %(d)s/logs/access.log ranges;
  client_body_temp_path %(d)s/tmp;
  proxy_temp_path %(d)s/tmp;
  fastcgi_temp_path %(d)s/tmp;
  uwsgi_temp_path %(d)s/tmp;
  scgi_temp_path %(d)s/tmp;
  server {
    listen %(listen)s;
    root %(root)s;
    limit_rate %(rate)s;
  }
}
""" % {"d": conf_dir, "listen": listen, "root": root, "rate": rate})
        process = subprocess.Popen(["/usr/sbin/nginx", "-p", conf_dir, "-c", conf, "-g", "daemon off;"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def stop():
            if process.poll() is None:
                process.terminate()
                process.wait(10)
        self.stack.callback(stop)
        wait_for(lambda: port_open(port), 10, "nginx on port %d" % port)
        return process, os.path.join(conf_dir, "logs", "access.log")

    def start_update_server(self, *args, port=UPDATE_PORT):
        """The development update server on `port` (the installer's own by default)."""
        devserver = os.environ.get("QX_DEVSERVER")
        check(devserver and os.path.exists(devserver), "QX_DEVSERVER does not name the development update server")
        wait_for(lambda: not port_open(UPDATE_PORT), 20, "port %d to be free" % UPDATE_PORT)
        log = os.path.join(self.folder, "devserver.log")
        process = subprocess.Popen([devserver, "--address", "127.0.0.1", "--port", str(port),
                                    "--log", log, "--max-seconds", "280", "--exit-with-parent"] + list(args),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.stack.callback(lambda: (process.terminate(), process.wait(10)))
        wait_for(lambda: port_open(port), 10, "the update server")
        self.devserver_log = log
        return process

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
        process = subprocess.Popen([sys.executable, os.path.join(SUPPORT, "fault_proxy.py"),
                                    "--target", "127.0.0.1:%d" % target_port, "--listen", "127.0.0.1:%d" % listen_port,
                                    "--log", log, "--port-file", port_file, "--max-seconds", "280"] + list(modes),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.stack.callback(lambda: (process.terminate(), process.wait(10)))
        wait_for(lambda: os.path.exists(port_file), 10, "the fault proxy")
        return int(open(port_file).read()), log

    @staticmethod
    def fault_events(log, event=None):
        """The relay's log as (seconds, connection, event, details), optionally one event only."""
        events = []
        for line in open(log).read().splitlines():
            fields = line.split(" ", 3) + [""]
            entry = (float(fields[0]), fields[1], fields[2], fields[3])
            if event is None or entry[2] == event:
                events.append(entry)
        return events

    def start_tinyproxy(self):
        """tinyproxy on 127.0.0.1 as the player's proxy. Returns its port and its log."""
        port = free_port()
        folder = os.path.join(self.folder, "tinyproxy")
        process = subprocess.Popen(["bash", os.path.join(SUPPORT, "tinyproxy.sh"), folder, str(port)],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.stack.callback(lambda: (process.terminate(), process.wait(10)))
        wait_for(lambda: port_open(port), 10, "tinyproxy")
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
        ids = self.xdotool("search", "--onlyvisible", "--name", ".").split()
        return [w for w in ids if self.window_title(w).startswith(title)]

    def find_window(self, title=TITLE, seconds=60):
        def found():
            ids = self.visible_windows(title)
            return ids[0] if ids else None
        self.window = wait_for(found, seconds, "the window %r" % title)
        return self.window

    def window_origin(self):
        out = self.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def click(self, x, y, hover_shot=None):
        """A real press and release at (x, y) of the window, after moving there."""
        ox, oy = self.window_origin()
        self.xdotool("mousemove", str(ox + x), str(oy + y))
        time.sleep(0.3)
        if hover_shot:
            self.screenshot(hover_shot)
        self.xdotool("mousedown", "1")
        time.sleep(0.1)
        self.xdotool("mouseup", "1")
        time.sleep(0.3)

    def key(self, name):
        self.xdotool("windowactivate", "--sync", self.window)
        self.xdotool("key", "--window", self.window, name)
        time.sleep(0.3)

    def type_text(self, text):
        self.xdotool("type", "--delay", "30", text)
        time.sleep(0.3)

    def screenshot(self, label):
        path = os.path.join(self.screens, "%s-%s.png" % (self.name, label))
        subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=30)
        return path

    def window_shot(self, label, width=660, height=480):
        """The window's rectangle of the screen as a PNG file."""
        ox, oy = self.window_origin()
        path = os.path.join(self.screens, "%s-window-%s.png" % (self.name, label))
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, ox, oy), "+repage", path],
                       capture_output=True, timeout=30)
        return path

    def region(self, x, y, width, height):
        """The window's pixels in a rectangle, as a list of (r, g, b)."""
        ox, oy = self.window_origin()
        out = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, ox + x, oy + y),
                              "-depth", "8", "rgb:-"], capture_output=True, timeout=30).stdout
        return [tuple(out[i:i + 3]) for i in range(0, len(out) - 2, 3)]

    def count_red(self, x, y, width, height):
        return sum(1 for r, g, b in self.region(x, y, width, height) if r - max(g, b) > 80)

    def pixel(self, x, y):
        """The colour on screen at (x, y) of the window, as (r, g, b)."""
        ox, oy = self.window_origin()
        out = subprocess.run(["import", "-window", "root", "-crop", "1x1+%d+%d" % (ox + x, oy + y),
                              "-depth", "8", "txt:-"], capture_output=True, timeout=30).stdout.decode()
        hexcode = out.split("#")[1][:6]
        return tuple(int(hexcode[i:i + 2], 16) for i in (0, 2, 4))


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


def main(scenarios):
    """run.py <scenario> --build DIR: runs one scenario, exit 0 on success."""
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
