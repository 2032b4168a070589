#!/usr/bin/env python3
"""A TCP relay on loopback that injects network faults between a client and a server.

It is not an HTTP proxy: the client connects to it as if it were the server, and it
passes the bytes on both ways unchanged, except where a fault mode acts. Any protocol
passes; of HTTP it reads the heads of the requests, for the log and for the modes that
answer in the server's place.

  fault_proxy.py --target HOST:PORT --log FILE [--port-file FILE] [--listen HOST:PORT]
                 [--max-seconds S] [mode ...]

Modes (they combine; bytes count what the server sent on one connection, head included):
  --cut-every N          end every connection after it has passed N bytes to the client
  --cut-how reset|close  how a cut ends it: a TCP reset (the default) or an orderly close
  --stall-at B --stall-seconds S
                         once, on the first connection that reaches B bytes, pass nothing
                         either way for S seconds, then go on
  --answer-503 K         answer the first K requests with 503 and Retry-After (not relayed)
  --retry-after VALUE    the Retry-After value of those answers (default 2)
  --close-before-headers K
                         read the first K requests, then close without an answer
  --refuse-seconds T     refuse connections (nothing listens) for T seconds from the start

The log has one line per event, "<unix time with ms> <connection> <event> [details]":
  listening | refusing T | accept | request <method> <path> <range or -> | answer-503 |
  closed-before-headers | cut <bytes> | stall-begin | stall-end | done <bytes>
  | end. The connection is a sequence number ("-" for the proxy's own events).

Loopback only; it stops by itself after --max-seconds (default 280), and when the
process that started it ends (its parent's pid changes).
"""
import argparse
import os
import select
import socket
import struct
import sys
import threading
import time

CHUNK = 256 * 1024


def address(text):
    host, _, port = text.rpartition(":")
    if host != "localhost" and not host.startswith("127."):
        raise argparse.ArgumentTypeError("%s is not a loopback address" % text)
    return host, int(port)


class Proxy:
    def __init__(self, args):
        self.args = args
        self.file = open(args.log, "a", buffering=1)
        self.lock = threading.Lock()
        self.connections = 0        # sequence numbers
        self.requests = 0           # request heads seen, over all connections
        self.stalled = False        # the one stall has begun

    def write(self, conn, event, details=""):
        """One line of the log."""
        with self.lock:
            self.file.write(("%.3f %s %s %s" % (time.time(), conn, event, details)).rstrip() + "\n")

    # ---- the listener ---------------------------------------------------------------
    def run(self):
        a = self.args
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(a.listen)
        port = listener.getsockname()[1]
        if a.port_file:
            with open(a.port_file + ".tmp", "w") as f:
                f.write(str(port))
            os.rename(a.port_file + ".tmp", a.port_file)
        # A bound socket that does not listen makes the kernel refuse connections.
        if a.refuse_seconds:
            self.write("-", "refusing", "%g" % a.refuse_seconds)
            time.sleep(a.refuse_seconds)
        listener.listen(64)
        self.write("-", "listening", str(port))
        while True:
            client, _ = listener.accept()
            with self.lock:
                self.connections += 1
                number = self.connections
            threading.Thread(target=self.serve, args=(client, number), daemon=True).start()

    # ---- one connection ---------------------------------------------------------------
    def serve(self, client, number):
        a = self.args
        self.write(number, "accept")
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        server = None
        try:
            # Only the modes that answer in the server's place read the request first;
            # otherwise the relay starts at once, so it carries any protocol.
            head, rest = b"", b""
            if a.answer_503 or a.close_before_headers:
                head, rest = self.read_head(client)
                if head is None:
                    return
                with self.lock:
                    self.requests += 1
                    order = self.requests
                self.log_request(number, head)
                if order <= a.answer_503:
                    self.answer_503(client, number)
                    return
                if order <= a.answer_503 + a.close_before_headers:
                    self.write(number, "closed-before-headers")
                    return
            server = socket.create_connection(a.target, timeout=10)
            server.settimeout(None)
            server.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if head or rest:
                server.sendall(head + rest)
            self.relay(client, server, number)
        except OSError:
            pass
        finally:
            for s in filter(None, (client, server)):
                s.close()

    def read_head(self, client):
        data = b""
        while b"\r\n\r\n" not in data:
            piece = client.recv(65536)
            if not piece:
                return None, b""
            data += piece
        end = data.index(b"\r\n\r\n") + 4
        return data[:end], data[end:]

    def log_request(self, number, head):
        lines = head.decode("latin-1").split("\r\n")
        words = (lines[0].split() + ["-", "-"])[:2]
        span = "-"
        for line in lines[1:]:
            if line.lower().startswith("range:"):
                span = line.split(":", 1)[1].strip().replace(" ", "")
        self.write(number, "request", "%s %s %s" % (words[0], words[1], span))

    def answer_503(self, client, number):
        body = b"<html>busy, try again</html>"
        head = ("HTTP/1.1 503 Service Unavailable\r\nRetry-After: %s\r\nContent-Type: text/html\r\n"
                "Content-Length: %d\r\nConnection: close\r\n\r\n" % (self.args.retry_after, len(body)))
        self.write(number, "answer-503")
        client.sendall(head.encode() + body)
        client.shutdown(socket.SHUT_WR)

    def relay(self, client, server, number):
        """Passes bytes both ways until either side ends, or a fault mode ends it."""
        a = self.args
        sent = 0
        while True:
            ready, _, _ = select.select([client, server], [], [], 0.2)
            if client in ready:
                data = client.recv(CHUNK)
                if not data:
                    break
                # Further requests on a kept-alive connection (GETs: a head is the whole request).
                if data[:4] in (b"GET ", b"HEAD") and b"\r\n\r\n" in data:
                    with self.lock:
                        self.requests += 1
                    self.log_request(number, data[:data.index(b"\r\n\r\n") + 4])
                server.sendall(data)
            if server in ready:
                data = server.recv(CHUNK)
                if not data:
                    break
                if a.cut_every:
                    data = data[:a.cut_every - sent]
                if a.stall_at and sent + len(data) >= a.stall_at and self.begin_stall():
                    keep = a.stall_at - sent
                    client.sendall(data[:keep])
                    sent += keep
                    data = data[keep:]
                    self.write(number, "stall-begin", str(sent))
                    time.sleep(a.stall_seconds)
                    self.write(number, "stall-end")
                client.sendall(data)
                sent += len(data)
                if a.cut_every and sent >= a.cut_every:
                    if a.cut_how == "reset":
                        client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    else:
                        client.shutdown(socket.SHUT_RDWR)
                    self.write(number, "cut", str(sent))
                    return
        self.write(number, "done", str(sent))

    def begin_stall(self):
        with self.lock:
            if self.stalled:
                return False
            self.stalled = True
            return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--target", type=address, required=True)
    parser.add_argument("--listen", type=address, default=("127.0.0.1", 0))
    parser.add_argument("--log", required=True)
    parser.add_argument("--port-file")
    parser.add_argument("--max-seconds", type=float, default=280)
    parser.add_argument("--cut-every", type=int, default=0)
    parser.add_argument("--cut-how", choices=("reset", "close"), default="reset")
    parser.add_argument("--stall-at", type=int, default=0)
    parser.add_argument("--stall-seconds", type=float, default=0)
    parser.add_argument("--answer-503", type=int, default=0)
    parser.add_argument("--retry-after", default="2")
    parser.add_argument("--close-before-headers", type=int, default=0)
    parser.add_argument("--refuse-seconds", type=float, default=0)
    args = parser.parse_args()
    if args.stall_at and not args.stall_seconds:
        parser.error("--stall-at needs --stall-seconds")
    proxy = Proxy(args)
    parent = os.getppid()
    started = time.time()

    def watchdog():
        while time.time() - started < args.max_seconds and os.getppid() == parent:
            time.sleep(0.5)
        proxy.write("-", "end")
        os._exit(0)
    threading.Thread(target=watchdog, daemon=True).start()
    threading.Thread(target=proxy.run, daemon=True).start()
    threading.Event().wait()


if __name__ == "__main__":
    sys.exit(main())
