"""Hostile and slow clients against the real server: idle connections,
slowloris heads, slow bodies and clients that never read must not keep a
normal client waiting, and each is ended by its own time limit. The server's
descriptors, threads and children are back where they were afterwards."""
import os
import resource
import socket
import threading
import time
from pathlib import Path

import pytest

from conftest import Response, resources, settled

BIG_SIZE = 24 * 1024 * 1024




def connect(port, timeout=10):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    return s


def read_all(s, timeout=10):
    s.settimeout(timeout)
    chunks = []
    try:
        while True:
            b = s.recv(65536)
            if not b:
                break
            chunks.append(b)
    except ConnectionResetError:
        pass
    return b"".join(chunks)


def timed_get(port, path, timeout=10):
    started = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
        raw = read_all(s, timeout)
    return Response(raw), time.monotonic() - started


@pytest.fixture
def site(make_server):
    # Room for the hostile clients on the test's side too.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < 4096 <= hard:
        resource.setrlimit(resource.RLIMIT_NOFILE, (4096, hard))
    s = make_server(cgi=".php;PHPBuildIn\n.sh;/bin/sh\n", extra_args=["--loglevel=1"])
    d = s.docs
    (d / "hello.txt").write_bytes(b"Hello, world!\n")
    (d / "echo.php").write_text("<?php echo 'got ', strlen(file_get_contents('php://input'));")
    (d / "echo.sh").write_text("printf 'Content-Type: text/plain\\r\\n\\r\\n'; printf 'got '; wc -c | tr -d ' \\n'\n")
    with open(d / "big.bin", "wb") as f:
        f.truncate(BIG_SIZE)
    return s


def start(site, **env):
    site.env.update({k: str(v) for k, v in env.items()})
    site.start()
    # A first request so that the PHP runtime and the workers are up.
    timed_get(site.port, "/hello.txt")
    time.sleep(0.3)
    return resources(site.proc)


class Trickler:
    """Sends one byte on every socket it holds every `period` seconds."""

    def __init__(self, sockets, period):
        self.sockets = sockets
        self.period = period
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop.wait(self.period):
            for s in self.sockets:
                try:
                    s.send(b"a")
                except OSError:
                    pass

    def close(self):
        self.stop.set()
        self.thread.join()


def test_normal_client_is_served_while_hostile_clients_are_connected(site):
    before = start(site)
    port = site.port
    held = []
    try:
        idle = [connect(port) for _ in range(1000)]
        held += idle
        slowloris = [connect(port) for _ in range(200)]
        held += slowloris
        for s in slowloris:
            s.send(b"GET /hello.txt HTTP/1.1\r\nHost: x\r\nX-Slow: ")
        bodies = [connect(port) for _ in range(15)]
        held += bodies
        for i, s in enumerate(bodies):
            target = "/echo.php" if i % 2 else "/echo.sh"
            s.send(f"POST {target} HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\nabc".encode())
        readers = [connect(port) for _ in range(15)]
        held += readers
        for s in readers:
            s.send(b"GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n")
        trickle = Trickler(slowloris + bodies, 2.0)
        try:
            time.sleep(1.0)
            for path in ["/hello.txt", "/echo.php", "/echo.sh", "/hello.txt"]:
                r, took = timed_get(port, path)
                assert r.status == 200, (path, r.raw[:200])
                assert took < 1.0, (path, took)
        finally:
            trickle.close()
    finally:
        for s in held:
            s.close()
    assert settled(site.proc, before, timeout=8)


def test_each_slow_client_meets_its_time_limit(site):
    before = start(site, ZORVANE_HEADER_TIMEOUT_MS=1500, ZORVANE_BODY_TIMEOUT_MS=1500,
                   ZORVANE_SEND_WINDOW_MS=1000)
    port = site.port
    idle = connect(port)
    slow_head = connect(port)
    slow_head.send(b"GET /hello.txt HTTP/1.1\r\nHost: x\r\nX-Slow: ")
    slow_body = connect(port)
    slow_body.send(b"POST /echo.php HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nab")
    reader = connect(port)
    reader.send(b"GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n")
    trickle = Trickler([slow_head, slow_body], 0.2)
    started = time.monotonic()
    try:
        # The header deadline counts from the connection, whatever trickles in.
        for s in (idle, slow_head):
            r = Response(read_all(s, 5))
            assert r.status == 408, r.raw[:200]
            assert b"Max. 30 Seconds" in r.body
        assert time.monotonic() - started < 3.0
        # The body deadline ends the body; the script runs with what came.
        r = Response(read_all(slow_body, 5))
        assert r.status == 200, r.raw[:200]
        got = int(r.body.split()[-1])
        assert 2 <= got < 100
        assert time.monotonic() - started < 4.0
    finally:
        trickle.close()
    # A client that takes nothing for a whole send window is cut off: what
    # was still queued for it is dropped.
    time.sleep(2.5)
    reader.settimeout(1.0)
    total = 0
    try:
        while True:
            b = reader.recv(1 << 20)
            if not b:
                break
            total += len(b)
    except socket.timeout:
        pytest.fail("the connection of a client that never read is still open")
    except ConnectionResetError:
        pass
    assert total < BIG_SIZE
    for s in (idle, slow_head, slow_body, reader):
        s.close()
    assert settled(site.proc, before, timeout=8)


def test_slow_but_steady_reader_gets_the_whole_file(site):
    before = start(site, ZORVANE_SEND_WINDOW_MS=1000)
    with socket.create_connection(("127.0.0.1", site.port), timeout=10) as s:
        s.sendall(b"GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n")
        # About 6 MB/s: far more than the minimum progress, far less than loopback.
        total = 0
        s.settimeout(10)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            b = s.recv(256 * 1024)
            if not b:
                break
            total += len(b)
            time.sleep(0.04)
    assert total > BIG_SIZE
    assert settled(site.proc, before, timeout=8)


@pytest.mark.parametrize("target", ["/echo.php", "/echo.sh"])
@pytest.mark.parametrize("size", [100, 200000])
def test_expect_continue_is_answered_before_the_body(site, target, size):
    start(site)
    with connect(site.port) as s:
        s.sendall(f"POST {target} HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: {size}\r\n\r\n".encode())
        s.settimeout(3)
        first = s.recv(100)
        assert first.startswith(b"HTTP/1.1 100 Continue\r\n\r\n"), first
        s.sendall(b"x" * size)
        r = Response(first[len(b"HTTP/1.1 100 Continue\r\n\r\n"):] + read_all(s))
    assert r.status == 200
    assert r.raw.endswith(f"got {size}".encode()), r.raw


@pytest.mark.parametrize("target", ["/echo.php", "/echo.sh"])
def test_chunked_body_reaches_the_script(site, target):
    start(site)
    body = b"5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\nTrailer: x\r\n\r\n"
    with connect(site.port) as s:
        s.sendall(f"POST {target} HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n".encode() + body)
        r = Response(read_all(s))
    assert r.status == 200, r.raw[:300]
    assert r.raw.endswith(b"got 11"), r.raw
