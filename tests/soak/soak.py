#!/usr/bin/python3
"""Soak test: mixed load on loopback against one zorvane_cmd in a temporary folder.

Many client threads (by default ten times the server's 15 workers) loop over a
mix of requests until the time is up: static files (small, large, ranges, HEAD,
missing), PHP pages (plain, forms, sleeping, hanging under a time limit, deep
recursion into the stack-overflow guard, fatal errors, large output) and CGI
scripts (plain, POST echo, sleeping, crashing, large output); slow clients that
trickle their request in or read slowly, clients that stall until the header
time limit, and clients that vanish before or in the middle of a response.

Every request must be answered with a well-formed response, or be refused.
The server accepts a connection only when a worker is idle and listens with a
backlog of 10, so under this load the kernel's listen queue overflows: it
drops handshakes (connects that take up to two minutes or time out), and
resets or keeps dropping connections it completed by SYN cookie. Those count
as refused when the kernel shows it: a request it never acknowledged, or
resets before an answer no more than the kernel's own count of such resets.
The server's descriptors, threads, child processes and resident memory are
sampled throughout; after the load they must be back at their level from
before it (memory: no steady growth). The last line is the verdict:
"soak: PASS ..." or "soak: FAIL ...".

Standard library only; talks to 127.0.0.1 only; bounded in time and count.
"""
import argparse
import collections
import errno
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WORKERS = 15

SMALL = bytes((i * 7) % 256 for i in range(1024))
BIG_SIZE = 2 * 1024 * 1024
BIG = bytes((i * 131 + 7) % 251 for i in range(BIG_SIZE))

MIME = "text/html html htm\ntext/plain txt\napplication/octet-stream bin\n"

PHP = {
    "hello.php": "<?php echo 'Hello from PHP';",
    "form.php": "<?php echo 'q=', $_GET['q'] ?? '', ';p=', $_POST['p'] ?? '', ';n=', strlen($_POST['blob'] ?? '');",
    "sleep.php": "<?php usleep(800000); echo 'slept';",
    "hang.php": "<?php set_time_limit(1); while (true) { }",
    "nap.php": "<?php set_time_limit(1); sleep(3); echo 'woke';",
    "overflow.php": "<?php function f($n) { return array_map('f', [$n + 1]); } f(0);",
    "fatal.php": "<?php no_such_function();",
    "big.php": "<?php $s = str_repeat('0123456789abcdef', 4096); for ($i = 0; $i < 32; $i++) echo $s;",
}
PHP_BIG_SIZE = 16 * 4096 * 32

CGI = {
    "hello.sh": "printf 'Content-Type: text/plain\\r\\n\\r\\nHello from CGI'\n",
    "echo.sh": "printf 'Content-Type: text/plain\\r\\n\\r\\n'\nhead -c \"$CONTENT_LENGTH\"\n",
    "slow.sh": "sleep 1\nprintf 'Content-Type: text/plain\\r\\n\\r\\nslow'\n",
    "crash.sh": "printf 'Content-Type: text/plain\\r\\n\\r\\nbefore'\nkill -SEGV $$\n",
    "big.sh": "printf 'Content-Type: application/octet-stream\\r\\n\\r\\n'\nhead -c 1048576 /dev/zero\n",
}


class Outcome:
    ANSWERED = "answered"   # a well-formed response as expected
    REFUSED = "refused"     # the connection was refused cleanly
    VANISHED = "vanished"   # the client left on purpose; nothing to check
    FAILED = "failed"       # anything else


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.by_outcome = collections.Counter()
        self.by_kind = collections.Counter()
        self.status = collections.Counter()
        self.failures = []
        self.failure_kinds = collections.Counter()
        self.refusals = collections.Counter()
        self.time_sum = collections.Counter()
        self.time_max = {}

    def add(self, kind, outcome, status=None, detail="", seconds=0.0):
        with self.lock:
            self.time_sum[kind] += seconds
            self.time_max[kind] = max(self.time_max.get(kind, 0.0), seconds)
            self.by_outcome[outcome] += 1
            self.by_kind[kind] += 1
            if status is not None:
                self.status[status] += 1
            if outcome == Outcome.REFUSED:
                self.refusals[detail] += 1
            if outcome == Outcome.FAILED:
                self.failure_kinds[kind] += 1
                if self.failure_kinds[kind] <= 3 and len(self.failures) < 40:
                    self.failures.append(f"{kind}: {detail}")


class Failure(Exception):
    pass


class Refused(Exception):
    pass


class EarlyReset(Exception):
    """The connection was reset before a byte of the answer came."""


# ---------------------------------------------------------------- the site

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_site(base, port):
    docs = base / "docs"
    cfg = base / "cfg"
    docs.mkdir()
    cfg.mkdir()
    (cfg / "init.txt").write_text(f"httpHost=127.0.0.1\nhttpPort={port}\ndocPath={docs}\n")
    (cfg / "mime.txt").write_text(MIME)
    (cfg / "vdir.txt").write_text("")
    (cfg / "cgi.txt").write_text(".php;PHPBuildIn\n.sh;/bin/sh\n")
    ini = ROOT / "cfg" / "php.ini"
    if ini.exists():
        shutil.copy(ini, cfg / "php.ini")
    (docs / "small.txt").write_bytes(SMALL)
    (docs / "big.bin").write_bytes(BIG)
    (docs / "index.html").write_bytes(b"<p>soak</p>")
    for name, text in PHP.items():
        (docs / name).write_text(text)
    for name, text in CGI.items():
        (docs / name).write_text(text)
    return docs


# ---------------------------------------------------------------- one client

def connect(port, timeout):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    try:
        s.connect(("127.0.0.1", port))
    except ConnectionRefusedError:
        s.close()
        raise Refused("connection refused")
    except socket.timeout:
        s.close()
        raise Refused("connect timed out")
    except OSError as e:
        s.close()
        if e.errno in (errno.EADDRNOTAVAIL, errno.ECONNREFUSED, errno.ETIMEDOUT):
            raise Refused(str(e))
        raise
    return s


def reset_close(s):
    """Leaves with a reset, as a client that crashes or is killed does."""
    try:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    s.close()


def unacknowledged(s):
    """Segments of ours the server's kernel has not acknowledged (TCP_INFO)."""
    try:
        info = s.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 104)
    except OSError:
        return 0
    return struct.unpack_from("I", info, 24)[0]  # tcpi_unacked


def timed_out(s, what):
    """A request still unacknowledged never got past the full listen queue:
    the server never saw it, the kernel kept dropping it. Anything else that
    went unanswered is the server's failure."""
    if unacknowledged(s) > 0:
        raise Refused("request never taken from the listen queue")
    raise Failure(what)


def read_all(s, limit=8 * 1024 * 1024, slow=False):
    chunks = []
    total = 0
    while True:
        try:
            b = s.recv(1024 if slow else 65536)
        except ConnectionResetError:
            if total == 0:
                raise EarlyReset()
            raise
        if not b:
            break
        chunks.append(b)
        total += len(b)
        if total > limit:
            raise Failure("response longer than expected")
        if slow:
            time.sleep(0.002)
    return b"".join(chunks)


def parse_response(raw, head=False):
    if not raw:
        raise Failure("connection closed without a response")
    cut = [i for i in (raw.find(b"\r\n\r\n"), raw.find(b"\n\n")) if i >= 0]
    if not cut:
        raise Failure(f"no end of header block in {raw[:80]!r}")
    end = min(cut)
    head = raw[:end].decode("latin-1")
    body = raw[end + (4 if raw[end:end + 4] == b"\r\n\r\n" else 2):]
    lines = head.replace("\r\n", "\n").split("\n")
    parts = lines[0].split(" ", 2)
    if len(parts) < 2 or not parts[0].startswith("HTTP/1.") or not parts[1].isdigit():
        raise Failure(f"bad status line {lines[0][:80]!r}")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    length = headers.get("content-length")
    # A HEAD answer names the length of the body it leaves out.
    if not head and length is not None and length.isdigit() and int(length) != len(body):
        raise Failure(f"{lines[0]}: Content-Length {length} but {len(body)} bytes")
    return int(parts[1]), headers, body


def exchange(port, request, timeout=240, slow_send=False, slow_read=False, head=False):
    s = connect(port, timeout)
    try:
        try:
            if slow_send:
                # Trickles the request in small pieces over a second or two.
                for i in range(0, len(request), 7):
                    s.sendall(request[i:i + 7])
                    time.sleep(random.uniform(0.005, 0.04))
            else:
                s.sendall(request)
        except (ConnectionResetError, BrokenPipeError):
            raise EarlyReset()
        except socket.timeout:
            timed_out(s, "request not taken in time")
        try:
            raw = read_all(s, slow=slow_read)
        except (ConnectionResetError, BrokenPipeError):
            raise Failure("connection reset during the answer")
        except socket.timeout:
            timed_out(s, "no complete response in time")
    finally:
        s.close()
    return parse_response(raw, head)


def get(path, headers=(), method="GET", body=b""):
    req = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
    for h in headers:
        req += h + "\r\n"
    if body:
        req += f"Content-Length: {len(body)}\r\n"
    return (req + "\r\n").encode("latin-1") + body


def expect(cond, what):
    if not cond:
        raise Failure(what)


# Each scenario returns (outcome, status).

def sc_small(port, rnd):
    st, _, body = exchange(port, get("/small.txt"))
    expect(st == 200 and body == SMALL, f"small.txt: {st}, {len(body)} bytes")
    return Outcome.ANSWERED, st


def sc_big(port, rnd):
    st, _, body = exchange(port, get("/big.bin"), slow_read=rnd.random() < 0.1)
    expect(st == 200 and body == BIG, f"big.bin: {st}, {len(body)} bytes")
    return Outcome.ANSWERED, st


def sc_range(port, rnd):
    a = rnd.randrange(0, BIG_SIZE - 1)
    b = rnd.randrange(a, min(BIG_SIZE, a + 100000))
    st, _, body = exchange(port, get("/big.bin", [f"Range: bytes={a}-{b}"]))
    expect(st == 206 and body == BIG[a:b + 1], f"range {a}-{b}: {st}, {len(body)} bytes")
    return Outcome.ANSWERED, st


def sc_head(port, rnd):
    st, h, body = exchange(port, get("/index.html", method="HEAD"), head=True)
    expect(st == 200 and body == b"", f"HEAD: {st}, {len(body)} bytes")
    return Outcome.ANSWERED, st


def sc_missing(port, rnd):
    st, _, _ = exchange(port, get(f"/no/such/{rnd.randrange(1000)}.html"))
    expect(st == 404, f"missing: {st}")
    return Outcome.ANSWERED, st


def sc_php_hello(port, rnd):
    st, _, body = exchange(port, get("/hello.php"))
    expect(st == 200 and body == b"Hello from PHP", f"hello.php: {st} {body[:80]!r}")
    return Outcome.ANSWERED, st


def sc_php_form(port, rnd):
    q = rnd.randrange(10**6)
    blob = "x" * rnd.randrange(0, 50000)
    form = f"p=v{q}&blob={blob}".encode()
    st, _, body = exchange(port, get(f"/form.php?q={q}", ["Content-Type: application/x-www-form-urlencoded"],
                                     method="POST", body=form))
    want = f"q={q};p=v{q};n={len(blob)}".encode()
    expect(st == 200 and body == want, f"form.php: {st} {body[:80]!r}")
    return Outcome.ANSWERED, st


def sc_php_sleep(port, rnd):
    st, _, body = exchange(port, get("/sleep.php"))
    expect(st == 200 and body == b"slept", f"sleep.php: {st} {body[:80]!r}")
    return Outcome.ANSWERED, st


def sc_php_hang(port, rnd):
    name = rnd.choice(["hang.php", "nap.php"])
    st, _, body = exchange(port, get("/" + name))
    ok = b"Maximum execution time" in body or (name == "nap.php" and body == b"woke")
    expect(ok, f"{name}: {st} {body[:120]!r}")
    return Outcome.ANSWERED, st


def sc_php_overflow(port, rnd):
    st, _, body = exchange(port, get("/overflow.php"))
    expect(st == 500 and b"Stack overflow" in body, f"overflow.php: {st} {body[:120]!r}")
    return Outcome.ANSWERED, st


def sc_php_fatal(port, rnd):
    st, _, body = exchange(port, get("/fatal.php"))
    expect(b"no_such_function" in body, f"fatal.php: {st} {body[:120]!r}")
    return Outcome.ANSWERED, st


def sc_cgi_hello(port, rnd):
    st, _, body = exchange(port, get("/hello.sh"))
    expect(st == 200 and body == b"Hello from CGI", f"hello.sh: {st} {body[:80]!r}")
    return Outcome.ANSWERED, st


def sc_cgi_echo(port, rnd):
    data = bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 20000)))
    st, _, body = exchange(port, get("/echo.sh", ["Content-Type: application/octet-stream"],
                                     method="POST", body=data))
    expect(st == 200 and body == data, f"echo.sh: {st}, {len(body)} of {len(data)} bytes")
    return Outcome.ANSWERED, st


def sc_cgi_slow(port, rnd):
    st, _, body = exchange(port, get("/slow.sh"))
    expect(st == 200 and body == b"slow", f"slow.sh: {st} {body[:80]!r}")
    return Outcome.ANSWERED, st


def sc_cgi_crash(port, rnd):
    # The program dies of a signal after its first output: whatever the
    # server makes of it, it must be a complete answer.
    st, _, _ = exchange(port, get("/crash.sh"))
    return Outcome.ANSWERED, st


def sc_slow_request(port, rnd):
    path = rnd.choice(["/small.txt", "/hello.php", "/hello.sh"])
    st, _, body = exchange(port, get(path, ["User-Agent: slow-client/1.0", "Accept: */*"]), slow_send=True)
    expect(st == 200 and body in (SMALL, b"Hello from PHP", b"Hello from CGI"), f"slow {path}: {st}")
    return Outcome.ANSWERED, st


def sc_stall(port, rnd):
    # Half a header block, then silence: the header time limit answers it.
    s = connect(port, 240)
    try:
        try:
            s.sendall(b"GET /small.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        except (ConnectionResetError, BrokenPipeError):
            raise EarlyReset()
        raw = read_all(s)
    except ConnectionResetError:
        raise Failure("stalled client: reset during the answer")
    except socket.timeout:
        timed_out(s, "stalled client: no answer in time")
    finally:
        s.close()
    st, _, _ = parse_response(raw)
    expect(st == 408, f"stalled client: {st}")
    return Outcome.ANSWERED, st


def sc_bad(port, rnd):
    req = rnd.choice([b"BREW /pot HTTP/1.1\r\n\r\n", b"GET /a HTTP/1.1\r\nno colon\r\n\r\n",
                      b"GET /" + b"a" * 9000 + b" HTTP/1.1\r\n\r\n", b"GET /../etc/passwd HTTP/1.1\r\n\r\n"])
    st, _, _ = exchange(port, req)
    expect(st == 400, f"bad request: {st}")
    return Outcome.ANSWERED, st


def sc_vanish(port, rnd):
    # Leaves before or in the middle of the answer, often with a reset.
    path = rnd.choice(["/big.bin", "/big.bin", "/big.php", "/big.sh", "/sleep.php", "/slow.sh", "/hang.php"])
    s = connect(port, 30)
    try:
        s.sendall(get(path))
        want = rnd.choice([0, 1, 4096, 65536, 300000])
        got = 0
        while got < want:
            b = s.recv(65536)
            if not b:
                break
            got += len(b)
    except OSError:
        pass
    if rnd.random() < 0.5:
        reset_close(s)
    else:
        s.close()
    return Outcome.VANISHED, None


def sc_silent(port, rnd):
    # Connects and leaves without a request: closed quietly by the server.
    s = connect(port, 30)
    if rnd.random() < 0.5:
        reset_close(s)
    else:
        s.close()
    return Outcome.VANISHED, None


# ---------------------------------------------------------------- hostile clients
# They run beside the mix, each in a thread of its own, for the whole load:
# idle connections, heads and bodies sent a byte at a time, and clients that
# never read. None of them may hold a worker: the mix must go on as before.
# Each ends by the server's own time limits (header block 30 s, body 60 s,
# send progress per 30 s).

def trickle(s, data, period, until):
    """Sends data one byte every period seconds until it is sent or until."""
    for i in range(len(data)):
        if time.monotonic() >= until:
            return False
        s.sendall(data[i:i + 1])
        time.sleep(period)
    return True


def sc_idle_flood(port, rnd):
    # Fifty connections that send nothing: each is answered 408 at the header
    # time limit (or closed), none holds a worker meanwhile.
    socks = []
    try:
        for _ in range(50):
            socks.append(connect(port, 90))
        statuses = []
        for s in socks:
            try:
                raw = read_all(s)
            except (ConnectionResetError, EarlyReset):
                raw = b""
            except socket.timeout:
                raise Failure("idle connection: no answer within 90 s")
            statuses.append(parse_response(raw)[0] if raw else 0)
        expect(all(st in (0, 408) for st in statuses), f"idle connections: {sorted(set(statuses))}")
        return Outcome.ANSWERED, 408
    finally:
        for s in socks:
            s.close()


def sc_slowloris(port, rnd):
    # A header block one byte every two seconds: 408 at the header time limit.
    s = connect(port, 90)
    try:
        data = b"GET /small.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: " + b"p" * 100 + b"\r\n\r\n"
        try:
            trickle(s, data, 2.0, time.monotonic() + 40)
        except (ConnectionResetError, BrokenPipeError):
            pass  # answered and closed while still sending
        try:
            raw = read_all(s)
        except (ConnectionResetError, EarlyReset):
            raise Failure("slowloris: reset instead of 408")
        except socket.timeout:
            raise Failure("slowloris: no answer within 90 s")
    finally:
        s.close()
    if not raw:
        # Descriptors ran short (stalled heads beside it): the silent head
        # was closed to make room.
        return Outcome.ANSWERED, 0
    st, _, _ = parse_response(raw)
    expect(st == 408, f"slowloris: {st}")
    return Outcome.ANSWERED, st


def sc_stalled_heads(port, rnd):
    # Three hundred heads that stop halfway take most of the descriptors the
    # server may spare: a normal request beside them is still answered at once.
    socks = []
    try:
        for _ in range(300):
            s = connect(port, 90)
            try:
                s.sendall(b"GET /small.txt HTTP/1.1\r\nX-Slow: ")
            except OSError:
                pass
            socks.append(s)
        started = time.monotonic()
        st, _, body = exchange(port, get("/small.txt"), timeout=10)
        took = time.monotonic() - started
        expect(st == 200 and took < 2.0, f"beside stalled heads: {st} after {took:.2f} s")
        return Outcome.ANSWERED, st
    finally:
        for s in socks:
            s.close()


def sc_slow_body(port, rnd):
    # A body of 300000 bytes announced, one byte a second sent: too little
    # moves within the body's window, so it ends in 408 and the script never
    # runs on a part of it.
    path = rnd.choice(["/echo.sh", "/form.php"])
    s = connect(port, 120)
    try:
        head = (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 300000\r\n\r\n").encode()
        try:
            s.sendall(head)
            trickle(s, b"p=" + b"x" * 200, 1.0, time.monotonic() + 75)
        except (ConnectionResetError, BrokenPipeError):
            pass
        try:
            raw = read_all(s)
        except (ConnectionResetError, EarlyReset):
            raise Failure(f"slow body {path}: reset instead of an answer")
        except socket.timeout:
            raise Failure(f"slow body {path}: no answer within 120 s")
    finally:
        s.close()
    st, _, _ = parse_response(raw)
    expect(st == 408, f"slow body {path}: {st}")
    return Outcome.ANSWERED, st


def sc_non_reader(port, rnd):
    # Asks for a big file, PHP page or CGI output and reads nothing for 40 s:
    # cut off by the send progress limit, or fully buffered by the systems;
    # either way it holds no worker for good and leaves no child behind.
    path = rnd.choice(["/big.bin", "/big.php", "/big.sh"])
    s = connect(port, 30)
    try:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.sendall(get(path))
        time.sleep(40)
    except OSError:
        pass
    finally:
        reset_close(s)
    return Outcome.VANISHED, None


# Kind and number of threads.
HOSTILE = [(sc_idle_flood, 2), (sc_slowloris, 20), (sc_slow_body, 15), (sc_non_reader, 15), (sc_stalled_heads, 2)]


def hostile_loop(port, deadline, stats, f):
    kind = f.__name__[3:]
    rnd = random.Random(kind)
    while time.monotonic() < deadline:
        began = time.monotonic()
        try:
            outcome, status = f(port, rnd)
            stats.add(kind, outcome, status, seconds=time.monotonic() - began)
        except Refused as e:
            stats.add(kind, Outcome.REFUSED, None, str(e), time.monotonic() - began)
            time.sleep(0.5)
        except Failure as e:
            took = time.monotonic() - began
            stats.add(kind, Outcome.FAILED, None, f"{e} (after {took:.1f}s)", took)
        except OSError as e:
            took = time.monotonic() - began
            stats.add(kind, Outcome.FAILED, None, f"{type(e).__name__}: {e} (after {took:.1f}s)", took)


# Weights per ten thousand: mostly quick requests, so that a run makes many of
# them, with enough slow, hanging and crashing ones to keep workers busy. A
# stalled client holds a worker for the whole header time limit (30 s).
SCENARIOS = [
    (sc_small, 2000), (sc_big, 300), (sc_range, 400), (sc_head, 300), (sc_missing, 300),
    (sc_php_hello, 2000), (sc_php_form, 500), (sc_php_sleep, 80), (sc_php_hang, 30), (sc_php_overflow, 50),
    (sc_php_fatal, 150), (sc_cgi_hello, 600), (sc_cgi_echo, 300), (sc_cgi_slow, 30), (sc_cgi_crash, 50),
    (sc_slow_request, 100), (sc_stall, 3), (sc_bad, 300), (sc_vanish, 300), (sc_silent, 200),
]


def client_loop(port, deadline, stats, seed, max_requests, counter, scenarios):
    rnd = random.Random(seed)
    funcs = [f for f, _ in scenarios]
    weights = [w for _, w in scenarios]
    while time.monotonic() < deadline:
        with counter["lock"]:
            if counter["n"] >= max_requests:
                return
            counter["n"] += 1
        f = rnd.choices(funcs, weights)[0]
        kind = f.__name__[3:]
        began = time.monotonic()
        try:
            outcome, status = f(port, rnd)
            stats.add(kind, outcome, status, seconds=time.monotonic() - began)
        except Refused as e:
            stats.add(kind, Outcome.REFUSED, None, str(e), time.monotonic() - began)
            time.sleep(0.05)
        except EarlyReset:
            stats.add(kind, Outcome.REFUSED, None, "reset before the answer", time.monotonic() - began)
        except Failure as e:
            took = time.monotonic() - began
            stats.add(kind, Outcome.FAILED, None, f"{e} (after {took:.1f}s)", took)
        except OSError as e:
            took = time.monotonic() - began
            stats.add(kind, Outcome.FAILED, None, f"{type(e).__name__}: {e} (after {took:.1f}s)", took)


# ---------------------------------------------------------------- the server

def read_proc(pid):
    """fd count, threads, RSS (KiB), children (live, zombie) of pid; None once it is gone."""
    try:
        fds = len(os.listdir(f"/proc/{pid}/fd"))
        threads = rss = 0
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("Threads:"):
                    threads = int(line.split()[1])
                elif line.startswith("VmRSS:"):
                    rss = int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError):
        return None
    live = zombies = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        if len(fields) > 1 and fields[1] == str(pid):
            if fields[0] == "Z":
                zombies += 1
            else:
                live += 1
    return {"fd": fds, "threads": threads, "rss": rss, "children": live, "zombies": zombies}


def kernel_resets():
    """Resets the kernel sends for handshakes it dropped or could not
    complete from a SYN cookie (the listen queue was full): the application
    never saw those connections."""
    total = 0
    try:
        with open("/proc/net/netstat") as f:
            lines = f.read().splitlines()
    except OSError:
        return None
    for names, values in zip(lines[0::2], lines[1::2]):
        if names.startswith("TcpExt:"):
            table = dict(zip(names.split()[1:], values.split()[1:]))
            for key in ("SyncookiesFailed", "EmbryonicRsts"):
                total += int(table.get(key, 0))
    return total


def fmt(s):
    return (f"fd={s['fd']} threads={s['threads']} children={s['children']}+{s['zombies']}z "
            f"rss={s['rss'] / 1024:.1f}MiB")


def stop_server(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            return "zorvane_cmd did not end within 15 s of SIGTERM"
    if proc.returncode not in (0, -signal.SIGTERM):
        return f"zorvane_cmd exit status {proc.returncode}"
    return None


def wait_for_level(pid, base, seconds):
    """Waits until descriptors, threads and children are back at base."""
    until = time.monotonic() + seconds
    s = read_proc(pid)
    while s is not None and time.monotonic() < until:
        if s["fd"] <= base["fd"] and s["threads"] <= base["threads"] and s["children"] == 0 and s["zombies"] == 0:
            break
        time.sleep(0.5)
        s = read_proc(pid)
    return s


def run_load(port, proc, seconds, n_clients, scenarios, stats, max_requests, label, problems, hostile=()):
    """Runs the clients for seconds; returns (server crashed, samples)."""
    t0 = time.monotonic()
    deadline = t0 + seconds
    counter = {"lock": threading.Lock(), "n": 0}
    clients = [threading.Thread(target=client_loop, daemon=True,
                                args=(port, deadline, stats, f"{label}-{i}", max_requests, counter, scenarios))
               for i in range(n_clients)]
    for f, n in hostile:
        clients += [threading.Thread(target=hostile_loop, daemon=True, args=(port, deadline, stats, f))
                    for _ in range(n)]
    for c in clients:
        c.start()
    samples = []
    next_print = t0 + 30
    while any(c.is_alive() for c in clients):
        time.sleep(2)
        s = read_proc(proc.pid) if proc.poll() is None else None
        if s is None:
            return True, samples
        s["t"] = time.monotonic() - t0
        samples.append(s)
        if time.monotonic() >= next_print:
            next_print += 30
            with stats.lock:
                done = sum(stats.by_outcome.values())
                failed = stats.by_outcome[Outcome.FAILED]
            print(f"soak: {label} {s['t']:4.0f}s {fmt(s)} requests={done} failed={failed}", flush=True)
        if time.monotonic() > deadline + 400:
            # Every operation of a client has its own time-out; this is the bound of those.
            # (240 s: a connection the full listen queue held back for two minutes
            # and more still gets the 30 s header time limit after that.)
            problems.append(f"{label}: clients still busy 400 s after the end")
            break
    return False, samples


def settle(pid, seconds):
    """Waits until no child runs and descriptors and threads stop changing."""
    until = time.monotonic() + seconds
    last = read_proc(pid)
    while time.monotonic() < until:
        time.sleep(1)
        s = read_proc(pid)
        if s is None or last is None:
            return s
        if (s["children"] == 0 and s["zombies"] == 0 and s["fd"] == last["fd"]
                and s["threads"] == last["threads"]):
            return s
        last = s
    return last


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--seconds", type=float, default=600)
    ap.add_argument("--clients", type=int, default=WORKERS * 10 + 10)
    ap.add_argument("--max-requests", type=int, default=3_000_000)
    ap.add_argument("--header-timeout-ms", type=int, default=0,
                    help="ZORVANE_HEADER_TIMEOUT_MS for the server (default: its own 30 s)")
    ap.add_argument("--keep", action="store_true", help="keep the temporary folder")
    ap.add_argument("--only", default="", help="comma-separated kinds to run (default: all)")
    ap.add_argument("--no-hostile", action="store_true", help="leave out the idle, slow and non-reading clients")
    ap.add_argument("--nofile", type=int, default=1024,
                    help="descriptor limit of the server (0: as inherited); stalled heads run it short")
    args = ap.parse_args()

    base = Path(tempfile.mkdtemp(prefix="zorvane-soak-"))
    port = free_port()
    make_site(base, port)
    env = dict(os.environ)
    env.pop("ZORVANE_HEADER_TIMEOUT_MS", None)
    if args.header_timeout_ms:
        env["ZORVANE_HEADER_TIMEOUT_MS"] = str(args.header_timeout_ms)
    out = open(base / "server.out", "wb")
    limit = ["prlimit", f"--nofile={args.nofile}:{args.nofile}"] if args.nofile and shutil.which("prlimit") else []
    proc = subprocess.Popen([*limit, os.path.abspath(args.exe), "--loglevel=0"], cwd=base, stdout=out,
                            stderr=subprocess.STDOUT, env=env)
    verdict_problems = []
    try:
        deadline = time.monotonic() + 20
        while True:
            if proc.poll() is not None:
                raise SystemExit(f"soak: FAIL zorvane_cmd ended at start:\n{(base / 'server.out').read_text(errors='replace')}")
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise SystemExit("soak: FAIL zorvane_cmd does not listen")
                time.sleep(0.05)

        only = set(filter(None, args.only.split(",")))
        scenarios = [(f, w) for f, w in SCENARIOS if not only or f.__name__[3:] in only]
        print(f"soak: pid {proc.pid} port {port} folder {base}", flush=True)
        print(f"soak: {args.clients} clients for {args.seconds:.0f}s against {WORKERS} workers", flush=True)

        # A short round of the same load first, so that the level before the
        # load includes what the server keeps for good (per-thread PHP
        # runtimes, caches); then a pause until it is at rest.
        warm_seconds = min(60.0, max(20.0, args.seconds / 10))
        warm = Stats()
        # The hostile clients too: the loops keep connection objects for reuse
        # up to the peak of connections, which they reach.
        hostile = [] if args.no_hostile else [(f, n) for f, n in HOSTILE
                                              if not only or f.__name__[3:] in only]
        crashed, _ = run_load(port, proc, warm_seconds, args.clients, scenarios, warm, args.max_requests,
                              "warm-up", verdict_problems, hostile)
        if crashed:
            raise SystemExit("soak: FAIL zorvane_cmd ended during the warm-up")
        if warm.failures:
            # They count: the warm-up is load like the rest.
            print("soak: warm-up failures: " + "; ".join(warm.failures), flush=True)
            verdict_problems.append(f"{warm.by_outcome[Outcome.FAILED]} requests of the warm-up failed")
        start = settle(proc.pid, 60)
        print(f"soak: before   {fmt(start)}", flush=True)

        stats = Stats()
        kernel_before = kernel_resets()
        t0 = time.monotonic()
        if hostile:
            print("soak: beside the mix: " + " ".join(f"{f.__name__[3:]}x{n}" for f, n in hostile), flush=True)
        crashed, samples = run_load(port, proc, args.seconds, args.clients, scenarios, stats, args.max_requests,
                                    "load", verdict_problems, hostile)

        if crashed or proc.poll() is not None:
            verdict_problems.append(f"zorvane_cmd ended during the load (exit {proc.poll()})")
            end = None
        else:
            # Back to rest: what the load took must be given back.
            end = wait_for_level(proc.pid, start, 60)
            if end is None:
                verdict_problems.append("zorvane_cmd ended after the load")

        print("soak: requests by kind: " + " ".join(f"{k}={v}" for k, v in sorted(stats.by_kind.items())))
        print("soak: seconds per request (mean/max): " + " ".join(
            f"{k}={stats.time_sum[k] / v:.2f}/{stats.time_max[k]:.1f}" for k, v in sorted(stats.by_kind.items())))
        print("soak: statuses: " + " ".join(f"{k}={v}" for k, v in sorted(stats.status.items())))
        if stats.refusals:
            print("soak: refusals: " + "; ".join(f"{k} x{v}" for k, v in stats.refusals.most_common()))
        if stats.failures:
            print("soak: failures by kind: " + " ".join(f"{k}={v}" for k, v in sorted(stats.failure_kinds.items())))
            for line in stats.failures:
                print("  " + line)
        if samples:
            peak = {k: max(s[k] for s in samples) for k in ("fd", "threads", "children", "zombies", "rss")}
            print(f"soak: peak     fd={peak['fd']} threads={peak['threads']} children={peak['children']}"
                  f"+{peak['zombies']}z rss={peak['rss'] / 1024:.1f}MiB")
        if end is not None:
            print(f"soak: after    {fmt(end)}")
            if end["fd"] > start["fd"]:
                verdict_problems.append(f"descriptors {start['fd']} -> {end['fd']}")
            if end["threads"] > start["threads"]:
                verdict_problems.append(f"threads {start['threads']} -> {end['threads']}")
            if end["children"] or end["zombies"]:
                verdict_problems.append(f"children left: {end['children']} running, {end['zombies']} zombies")
            if end["rss"] > start["rss"] * 1.10 + 16 * 1024:
                verdict_problems.append(f"resident memory {start['rss'] / 1024:.1f} -> {end['rss'] / 1024:.1f} MiB")
            # Memory: compare the last third of the run with the middle third;
            # a leak grows steadily, a warm-up levels off.
            n = len(samples)
            if n >= 9:
                mid = sorted(s["rss"] for s in samples[n // 3: 2 * n // 3])[n // 6]
                last = sorted(s["rss"] for s in samples[2 * n // 3:])[-1]
                print(f"soak: rss      middle third {mid / 1024:.1f}MiB, end third max {last / 1024:.1f}MiB")
                if last > mid * 1.10 + 8 * 1024:
                    verdict_problems.append(f"resident memory grew {mid / 1024:.1f} -> {last / 1024:.1f} MiB")
        kernel_after = kernel_resets()
        early = stats.refusals["reset before the answer"]
        if early:
            # Such resets come from the kernel when the listen queue overflowed;
            # more of them than the kernel counted were sent by the server.
            explained = (kernel_after - kernel_before) if kernel_before is not None else 0
            print(f"soak: resets before an answer: {early}; kernel listen-queue resets meanwhile: {explained}"
                  " (whole machine)")
            if early > explained:
                verdict_problems.append(f"{early - explained} resets before an answer not explained by the listen queue")
        total = sum(stats.by_outcome.values())
        answered = stats.by_outcome[Outcome.ANSWERED]
        refused = stats.by_outcome[Outcome.REFUSED]
        vanished = stats.by_outcome[Outcome.VANISHED]
        failed = stats.by_outcome[Outcome.FAILED]
        if failed:
            verdict_problems.append(f"{failed} requests failed")
        if total == 0:
            verdict_problems.append("no request was made")
        summary = (f"requests={total} answered={answered} refused={refused} vanished={vanished} failed={failed}"
                   f" in {time.monotonic() - t0:.0f}s")
        if end is not None:
            summary += (f"; fd {start['fd']}->{end['fd']} threads {start['threads']}->{end['threads']}"
                        f" children {start['children']}->{end['children']}"
                        f" rss {start['rss'] / 1024:.1f}->{end['rss'] / 1024:.1f}MiB")
        problem = stop_server(proc)
        if problem:
            verdict_problems.append(problem)
            print("soak: server output (end):")
            print((base / "server.out").read_text(errors="replace")[-3000:])
        if verdict_problems:
            print("soak: problems: " + "; ".join(verdict_problems))
            print(f"soak: FAIL {summary}", flush=True)
            return 1
        print(f"soak: PASS {summary}", flush=True)
        return 0
    finally:
        if proc.poll() is None:
            stop_server(proc)
        out.close()
        if args.keep:
            print(f"soak: kept {base}", file=sys.stderr)
        else:
            shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
