"""What every Linux-side test helper shares: bounded waits, loopback ports, a Windows
command whose output is wanted, and the one nginx configuration of the tests.

As a program it starts nginx in the foreground (the shell helpers use it that way):
  peers.py nginx DIR WWW PORT [DIRECTIVES]
"""
import os
import socket
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NGINX = os.environ.get("QX_NGINX", "/usr/sbin/nginx")


class Failure(Exception):
    pass


def wait_for(predicate, seconds, what):
    """The predicate's first true value; a Failure naming `what` after `seconds`."""
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


def wine(*args, env=None, timeout=120):
    """A Windows command whose output is wanted. The output goes through a file, not a
    pipe: a process of the Wine session that inherited a pipe would hold it open."""
    with tempfile.TemporaryFile() as out:
        result = subprocess.run([os.path.join(SOURCE, "tools", "wine-run")] + list(args), env=env,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        result.stdout = out.read()
    return result


def nginx_conf(folder, root, port, directives="", tls=None):
    """nginx.conf in `folder` (logs and temp files there too) serving `root` on `port` of
    127.0.0.1 and, for requests through a proxy, 127.0.0.2; with tls=(certificate, key)
    over HTTPS on 127.0.0.1 only. One process, so that killing it stops a transfer too.
    The access log, folder/access.log, has a line "URI "RANGE" STATUS" per request; the
    format "bytes" logs only the body's bytes sent."""
    if tls:
        listen = "listen 127.0.0.1:%d ssl;\n    ssl_certificate %s;\n    ssl_certificate_key %s;" % ((port,) + tls)
    else:
        listen = "listen 127.0.0.1:%d;\n    listen 127.0.0.2:%d;" % (port, port)
    os.makedirs(os.path.join(folder, "tmp"), exist_ok=True)
    conf = os.path.join(folder, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""master_process off;
worker_processes 1;
daemon off;
pid %(d)s/nginx.pid;
error_log %(d)s/error.log;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  sendfile on;
  client_body_temp_path %(d)s/tmp/body;
  proxy_temp_path %(d)s/tmp/proxy;
  fastcgi_temp_path %(d)s/tmp/fastcgi;
  uwsgi_temp_path %(d)s/tmp/uwsgi;
  scgi_temp_path %(d)s/tmp/scgi;
  log_format ranges '$request_uri "$http_range" $status';
  log_format bytes $body_bytes_sent;
  server {
    %(listen)s
    root %(root)s;
    access_log %(d)s/access.log ranges;
    %(directives)s
  }
}
""" % {"d": folder, "listen": listen, "root": root, "directives": directives})
    return conf


def nginx_command(folder, root, port, directives="", tls=None):
    folder, root = os.path.abspath(folder), os.path.abspath(root)
    conf = nginx_conf(folder, root, port, directives, tls)
    return [NGINX, "-p", folder, "-c", conf, "-e", os.path.join(folder, "error.log")]


if __name__ == "__main__":
    if len(sys.argv) < 5 or sys.argv[1] != "nginx":
        sys.exit(__doc__)
    command = nginx_command(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5] if len(sys.argv) > 5 else "")
    os.execv(command[0], command)
