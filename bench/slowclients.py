#!/usr/bin/python3
"""Slow clients for make bench: keeps hostile connections open to one server
on loopback while wrk measures it, then leaves.

  trickling clients  send a POST head to a script with "Content-Length: 300000",
                     then one byte of the body a second
  non-readers        shrink their receive buffer, ask for a large page and
                     never read a byte of it

A connection the server ends is replaced at once, so that the counts stay
present. The driver prints "ready" once all are connected and have sent their
heads. It stops at SIGTERM, or by itself after --seconds, by resetting every
connection (as a killed client does), which frees what the server holds for
them. Its last line is "note: ..." for the results table.

Standard library only; 127.0.0.1 only; bounded in time and in connections.
"""
import argparse
import select
import signal
import socket
import sys
import time

BODY_LENGTH = 300000


class Client:
    def __init__(self, kind, request):
        self.kind = kind          # "trickle" or "stall"
        self.request = request
        self.sock = None
        self.next_byte = 0.0

    def open(self, port):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if self.kind == "stall":
            # Before connect, so that the window it offers stays small.
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.settimeout(2)
        try:
            s.connect(("127.0.0.1", port))
            s.sendall(self.request)
        except OSError:
            s.close()
            return False
        s.setblocking(False)
        self.sock = s
        self.next_byte = time.monotonic() + 1
        return True

    def reset(self):
        if self.sock is None:
            return
        try:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
        except OSError:
            pass
        self.sock.close()
        self.sock = None


def ended(client):
    """True when the server answered, closed or reset the connection. A
    non-reader's data stays unread; only a reset or hang-up shows there."""
    p = select.poll()
    p.register(client.sock, select.POLLIN | select.POLLRDHUP)
    events = p.poll(0)
    if not events:
        return False
    ev = events[0][1]
    if ev & (select.POLLERR | select.POLLHUP | select.POLLRDHUP):
        return True
    if client.kind == "trickle" and ev & select.POLLIN:
        return True  # an answer before the body is complete
    return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--seconds", type=float, default=30, help="upper bound of the whole run")
    ap.add_argument("--trickle", type=int, default=10)
    ap.add_argument("--stall", type=int, default=10)
    ap.add_argument("--post-path", default="/upload.php")
    ap.add_argument("--big-path", default="/big.php")
    args = ap.parse_args()
    if not (0 < args.seconds <= 600 and 0 <= args.trickle <= 100 and 0 <= args.stall <= 100):
        ap.error("out of bounds")

    stop = {"now": False}
    signal.signal(signal.SIGTERM, lambda *_: stop.update(now=True))
    signal.signal(signal.SIGINT, lambda *_: stop.update(now=True))

    post = (f"POST {args.post_path} HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            f"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: {BODY_LENGTH}\r\n\r\n").encode()
    get = f"GET {args.big_path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n".encode()
    clients = [Client("trickle", post) for _ in range(args.trickle)] + \
              [Client("stall", get) for _ in range(args.stall)]
    deadline = time.monotonic() + args.seconds
    replaced = failed_connects = 0
    fewest = len(clients)
    ready_at = None

    try:
        while not stop["now"] and time.monotonic() < deadline:
            now = time.monotonic()
            for c in clients:
                if stop["now"] or time.monotonic() >= deadline:
                    break  # each connect may take its 2 s: keep the bound
                if c.sock is not None and ended(c):
                    c.reset()
                    replaced += 1
                if c.sock is None and not c.open(args.port):
                    failed_connects += 1
                if c.sock is not None and c.kind == "trickle" and now >= c.next_byte:
                    try:
                        c.sock.send(b"x")
                    except BlockingIOError:
                        pass
                    except OSError:
                        c.reset()
                        replaced += 1
                    c.next_byte = now + 1
            present = sum(c.sock is not None for c in clients)
            if ready_at is None:
                if present == len(clients):
                    ready_at = now
                    print(f"ready {present}", flush=True)
            else:
                fewest = min(fewest, present)
            time.sleep(0.2)
    finally:
        for c in clients:
            c.reset()

    if ready_at is None:
        note = f"slow clients: never all {len(clients)} connected ({failed_connects} connects failed)"
    else:
        note = f"slow clients: {fewest} of {len(clients)} present at least"
        if replaced:
            note += f", {replaced} ended by the server and replaced"
        if failed_connects:
            note += f", {failed_connects} connects failed"
    print(f"note: {note}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
