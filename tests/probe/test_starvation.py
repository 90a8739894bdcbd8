"""Hostile and slow clients against the real server: idle connections,
slowloris heads, slow bodies, clients that never read, scripts reached through
a folder's index, folder scans, name lookups and a log output nobody reads
must not keep a normal client waiting, and each slow client is ended by its
own time limit. The server's descriptors, threads, children and memory are
back where they were afterwards."""
import array
import fcntl
import os
import random
import re
import resource
import shlex
import shutil
import socket
import stat
import subprocess
import termios
import threading
import time
from pathlib import Path

import pytest

from conftest import Response, resources, settled

BIG_SIZE = 24 * 1024 * 1024
# The suite runs against a build under AddressSanitizer too (scripts/sanitize.sh).
SANITIZED = bool(os.environ.get("ASAN_OPTIONS"))
# A script's answer far larger than what the socket buffers hold.
BIG_ANSWER = 20 * 1024 * 1024


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
    """The answer (empty when none came within timeout) and the time it took."""
    started = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode("latin-1"))
            raw = read_all(s, timeout)
    except OSError:
        raw = b""
    return Response(raw), time.monotonic() - started


def assert_served_promptly(port, meanwhile, paths=("/hello.txt", "/echo.php", "/echo.sh", "/hello.txt")):
    for path in paths:
        # A held worker keeps a client waiting for many seconds; a sanitized
        # build is only slower to produce the hostile clients' answers.
        bound = 2.5 if SANITIZED else 1.0
        r, took = timed_get(port, path, timeout=2 * bound)
        assert r.status == 200 and took < bound, f"with {meanwhile}: {path} answered {r.status_line!r} after {took:.2f} s"


def in_parallel(targets, timeout):
    """GETs every target at once; their answers and times, in order."""
    results = [None] * len(targets)

    def one(i):
        results[i] = timed_get(targets[i][0], targets[i][1], timeout)

    threads = [threading.Thread(target=one, args=(i,), daemon=True) for i in range(len(targets))]
    for t in threads:
        t.start()
    return threads, results


def rss_mb(proc):
    for line in Path(f"/proc/{proc.pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024
    return 0.0


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
    (d / "big.php").write_text(f"<?php echo str_repeat('x', {BIG_ANSWER});")
    (d / "big.sh").write_text(f"printf 'Content-Type: text/plain\\r\\n\\r\\n'; head -c {BIG_ANSWER} /dev/zero\n")
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

    def hold(count, request):
        made = [connect(port) for _ in range(count)]
        held.extend(made)
        for i, s in enumerate(made):
            s.sendall(request(i))
        return made

    try:
        hold(1000, lambda i: b"")
        slowloris = hold(200, lambda i: b"GET /hello.txt HTTP/1.1\r\nHost: x\r\nX-Slow: ")
        short_bodies = hold(15, lambda i: f"POST /echo.{'php' if i % 2 else 'sh'} HTTP/1.1\r\nHost: x\r\n"
                            "Content-Length: 1000000\r\n\r\nabc".encode())
        hold(15, lambda i: b"GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n")
        trickle = Trickler(slowloris + short_bodies, 1.0)
        try:
            time.sleep(1.0)
            assert_served_promptly(port, "idle clients, slow heads, slow short bodies, slow file readers")
            # Each stage adds more hostile clients than there are workers.
            hold(15, lambda i: b"POST /no-such-script.php HTTP/1.1\r\nHost: x\r\n"
                 b"Transfer-Encoding: chunked\r\n\r\n")
            time.sleep(0.5)
            assert_served_promptly(port, "chunked heads whose body never comes")
            trickle.sockets += hold(20, lambda i: f"POST /echo.{'php' if i % 2 else 'sh'} HTTP/1.1\r\nHost: x\r\n"
                                    "Content-Length: 300000\r\n\r\n".encode() + b"x" * 100000)
            time.sleep(0.5)
            assert_served_promptly(port, "a third of long bodies, then a byte a second")
            hold(20, lambda i: f"GET /big.{'sh' if i % 5 == 0 else 'php'} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
            time.sleep(0.5)
            assert_served_promptly(port, "clients that never read a script's long answer")
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
        # The header deadline counts from the connection, whatever trickles
        # in, and the time the system held a silent connection back counts too.
        for s in (idle, slow_head):
            r = Response(read_all(s, 5))
            assert r.status == 408, r.raw[:200]
            assert b"Max. 30 Seconds" in r.body
        assert time.monotonic() - started < 2.3
        # A body that moves too little within its window ends in 408; the
        # script never runs on a part of it.
        r = Response(read_all(slow_body, 5))
        assert r.status == 408, r.raw[:200]
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


def test_steady_upload_outlasts_the_body_time_limit(site):
    # A body is held to steady progress, not to a deadline for the whole:
    # one sent at a steady 100 kB/s for twice the body time limit arrives
    # whole. (The receive window, when the server knows one, is far longer
    # than the pauses between the pieces.)
    before = start(site, ZORVANE_BODY_TIMEOUT_MS=1000, ZORVANE_RECEIVE_WINDOW_MS=1000)
    size, piece, pause = 200000, 10000, 0.1
    answers = {}

    def upload(target):
        with connect(site.port) as s:
            s.sendall(f"POST {target} HTTP/1.1\r\nHost: x\r\nContent-Length: {size}\r\n\r\n".encode())
            started = time.monotonic()
            try:
                for i in range(size // piece):
                    time.sleep(max(0.0, started + i * pause - time.monotonic()))
                    s.sendall(b"x" * piece)
            except OSError:
                pass  # cut off: the answer says how much arrived
            answers[target] = read_all(s, 3)

    threads = [threading.Thread(target=upload, args=(t,), daemon=True) for t in ("/echo.php", "/echo.sh")]
    for t in threads:
        t.start()
    for t in threads:
        t.join(10)
    for target in ("/echo.php", "/echo.sh"):
        raw = answers.get(target, b"")
        assert raw.endswith(f"got {size}".encode()), f"{target} of {size} bytes: ...{raw[-20:]!r}"
    assert settled(site.proc, before, timeout=8)


def test_scripts_reached_through_a_folder_run_beside_plain_files(site):
    # Targets that name a folder, with a query or a trailing tab, run the
    # folder's index.php: eight such 2-second pages at once take 2 seconds,
    # and a plain file is answered meanwhile.
    page = "<?php usleep(2000000); echo 'page ', $_SERVER['QUERY_STRING'];"
    (site.docs / "index.php").write_text(page)
    (site.docs / "shop").mkdir()
    (site.docs / "shop" / "index.php").write_text(page)
    before = start(site)
    port = site.port
    targets = ["/?p=1", "/?p=2", "/?p=3", "/shop/?x=4", "/shop/?x=5", "/shop/?x=6", "/shop/\t", "/?p=8"]
    started = time.monotonic()
    threads, results = in_parallel([(port, t) for t in targets], timeout=4)
    time.sleep(0.3)
    plain, took = timed_get(port, "/hello.txt", timeout=2)
    for t in threads:
        t.join(5)
    total = time.monotonic() - started
    assert plain.status == 200 and took < 1.0, f"a plain file took {took:.2f} s while the pages ran"
    for target, (r, _) in zip(targets, results):
        assert r.status == 200 and r.body.startswith(b"page"), (target, r.raw[:200])
    assert total < 3.5, [f"{target!r}: {t:.2f} s" for target, (_, t) in zip(targets, results)]
    assert settled(site.proc, before, timeout=8)


def test_folder_scans_do_not_hold_up_plain_files(site):
    # A missing or wrongly-cased name is looked for in its whole folder. A
    # burst of such requests into a folder of 25,000 long names (as long to
    # read as 50,000 short ones, and quicker to make) must leave plain files
    # elsewhere answered at once.
    many = site.docs / "many"
    many.mkdir()
    stem = "n" * 240
    folder = os.open(many, os.O_RDONLY)
    try:
        for i in range(25000):
            os.mknod(f"{stem}{i:05d}.txt", 0o644 | stat.S_IFREG, dir_fd=folder)
    finally:
        os.close(folder)
    before = start(site)
    port = site.port
    assert timed_get(port, "/many/missing.txt")[0].status == 404
    assert timed_get(port, f"/many/{stem.upper()}00001.TXT")[0].status == 200
    held = []
    done = threading.Event()

    def burst():
        for i in range(700):
            if done.is_set():
                return
            name = f"missing{i}.txt" if i % 2 else f"{stem.upper()}{i:05d}.TXT"
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=1)
                held.append(s)
                s.sendall(f"GET /many/{name} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
            except OSError:
                pass

    sender = threading.Thread(target=burst, daemon=True)
    try:
        sender.start()
        end = time.monotonic() + 1.5
        while time.monotonic() < end:
            r, took = timed_get(port, "/hello.txt", timeout=2)
            assert r.status == 200 and took < 1.0, f"a plain file answered {r.status_line!r} after {took:.2f} s"
            time.sleep(0.05)
    finally:
        done.set()
        sender.join(5)
        for s in held:
            s.close()
    assert settled(site.proc, before, timeout=8)


def unshare_works():
    if os.geteuid() != 0 or shutil.which("unshare") is None:
        return False
    return subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0


@pytest.mark.skipif(not unshare_works(), reason="needs root and mount namespaces (unshare -m)")
def test_unanswered_name_lookup_does_not_hold_up_plain_files(make_server, tmp_path):
    # The server sees a name server that never answers and a hosts file
    # without its own address (through bind mounts in a mount namespace of
    # its own). Whatever it looks its local name up for, plain files are
    # answered at once.
    nameserver = f"127.53.{random.randint(1, 254)}.{random.randint(1, 254)}"
    swallow = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        swallow.bind((nameserver, 53))  # takes the queries and never answers
    except OSError as e:
        swallow.close()
        pytest.skip(f"cannot play a silent name server: {e}")
    etc = tmp_path / "etc"
    etc.mkdir()
    (etc / "resolv.conf").write_text(f"nameserver {nameserver}\noptions timeout:3 attempts:1\n")
    (etc / "hosts").write_text("")
    (etc / "nsswitch.conf").write_text("hosts: files dns\n")
    mounts = " && ".join(f"mount --bind {shlex.quote(str(etc / n))} /etc/{n}" for n in ("resolv.conf", "hosts", "nsswitch.conf"))
    s = make_server(prefix=["unshare", "-m", "sh", "-c", mounts + ' && exec "$@"', "sh"])
    (s.docs / "hello.txt").write_bytes(b"Hello, world!\n")
    try:
        s.start()
        threads, results = in_parallel([(s.port, "/hello.txt")] * 8, timeout=4)
        for t in threads:
            t.join(5)
        for r, took in results:
            assert r.status == 200 and took < 1.0, f"a plain file answered {r.status_line!r} after {took:.2f} s"
    finally:
        swallow.close()


def test_announced_bodies_cost_little_memory_and_oversized_ones_are_refused(site):
    before = start(site)
    port = site.port
    # 1,000 clients each send a 40 kB head and 60 kB of a 100 kB body for a
    # plain file, then wait: they cost the server little memory, and all of
    # it comes back once they leave.
    start_mb = rss_mb(site.proc)
    head = "GET /hello.txt HTTP/1.1\r\nHost: x\r\n" + "".join(
        f"X-Pad-{i}: {'p' * 8000}\r\n" for i in range(5)) + "Content-Length: 100000\r\n\r\n"
    data = head.encode() + b"b" * 60000
    held = []
    try:
        for _ in range(1000):
            s = socket.create_connection(("127.0.0.1", port), timeout=2)
            held.append(s)
            s.setblocking(False)
            try:
                s.send(data)
            except BlockingIOError:
                pass
        time.sleep(1.0)
        while_mb = rss_mb(site.proc)
        assert_served_promptly(port, "1,000 heads announcing bodies", paths=("/hello.txt",))
        # Under AddressSanitizer every allocation carries shadow memory and a
        # quarantine: the resident size says nothing about the server there.
        if not SANITIZED:
            assert while_mb - start_mb < 40, f"resident memory {start_mb:.0f} MB, with the clients {while_mb:.0f} MB"
    finally:
        for s in held:
            s.close()
    assert settled(site.proc, before, timeout=8)
    after_mb = rss_mb(site.proc)
    if not SANITIZED:
        assert after_mb - start_mb < 10, f"resident memory {start_mb:.0f} MB, after the clients {after_mb:.0f} MB"
    # A body longer than any the server takes is refused at once.
    for length in ("2147483648", "99999999999"):
        started = time.monotonic()
        with connect(port) as s:
            s.sendall(f"POST /echo.php HTTP/1.1\r\nHost: x\r\nContent-Length: {length}\r\n\r\nabc".encode())
            try:
                r = Response(read_all(s, 1.5))
            except OSError:
                r = Response(b"")
        took = time.monotonic() - started
        assert r.status == 413 and took < 1.0, f"Content-Length {length}: {r.status_line!r} after {took:.2f} s"


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


def test_a_request_sent_in_small_pieces_waits_for_no_delayed_acknowledgement(site):
    # With Nagle's algorithm on (Python's default), a client holds each small
    # piece until the one before is acknowledged. A server that acknowledges
    # late (40 ms at least) makes it wait that long per piece: a split head,
    # a body sent after its head, and a body sent after "100 Continue".
    start(site)
    head = b"POST /echo.php HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n"
    shapes = {
        "split head and body": ([head[:20], head[20:] + b"\r\n", b"01234", b"56789"], False),
        "body after 100 Continue": ([head + b"Expect: 100-continue\r\n\r\n", b"01234", b"56789"], True),
    }
    for name, (pieces, expect_continue) in shapes.items():
        times = []
        for _ in range(7):
            started = time.monotonic()
            with socket.create_connection(("127.0.0.1", site.port), timeout=5) as s:
                for i, piece in enumerate(pieces):
                    s.sendall(piece)
                    if expect_continue and i == 0:
                        assert s.recv(100).startswith(b"HTTP/1.1 100 Continue")
                raw = read_all(s, 5)
            times.append(time.monotonic() - started)
            assert raw.endswith(b"got 10"), (name, raw[-200:])
        # Each late acknowledgement costs at least 40 ms.
        assert min(times) < 0.038, f"{name}: {[round(t * 1000, 1) for t in times]} ms"


@pytest.mark.parametrize("target", ["/echo.php", "/echo.sh"])
def test_chunked_body_reaches_the_script(site, target):
    start(site)
    body = b"5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\nTrailer: x\r\n\r\n"
    with connect(site.port) as s:
        s.sendall(f"POST {target} HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n".encode() + body)
        r = Response(read_all(s))
    assert r.status == 200, r.raw[:300]
    assert r.raw.endswith(b"got 11"), r.raw


def test_log_output_nobody_reads_keeps_no_client_waiting(make_server):
    """Standard output goes to a FIFO whose read end is open and never read,
    so the log output stalls once the pipe is full. Malformed requests (each
    one an error line and, at log level 3, its header block) must still be
    answered, and normal requests after them at once. When the output is
    read again it says how many malformed requests were not logged, and
    error.log holds only a few of them.

    Fails until the engine logs through its log queue (LogQueue)."""
    s = make_server()
    (s.docs / "hello.txt").write_bytes(b"Hello, world!\n")
    fifo = s.base / "stdout.fifo"
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    writer = os.open(fifo, os.O_WRONLY)
    proc = subprocess.Popen([s.exe, "--loglevel=3"], cwd=s.base, stdout=writer, stderr=subprocess.DEVNULL,
                            env=s.env)
    os.close(writer)
    try:
        deadline = time.monotonic() + 20
        while True:
            assert proc.poll() is None, "zorvane_cmd ended early"
            try:
                socket.create_connection(("127.0.0.1", s.port), timeout=0.2).close()
                break
            except OSError:
                assert time.monotonic() < deadline, "zorvane_cmd does not listen"
                time.sleep(0.05)

        bad = b"GET /hello.txt HTTP/1.1\r\nHost: x\r\nX-Pad: " + b"a" * 1000 + b"\r\nno colon here\r\n\r\n"
        flood_started = time.monotonic()
        for n in range(600):
            with socket.create_connection(("127.0.0.1", s.port), timeout=5) as c:
                c.sendall(bad)
                try:
                    r = Response(read_all(c, 5))
                except socket.timeout:
                    pytest.fail(f"malformed request {n} got no answer: the log output holds the server up")
            assert r.status == 400, (n, r.raw[:200])
        flood_seconds = time.monotonic() - flood_started
        # The output really stalled: the pipe is full.
        waiting = array.array("i", [0])
        fcntl.ioctl(reader, termios.FIONREAD, waiting)
        assert waiting[0] > 32768, waiting[0]

        for n in range(20):
            r, took = timed_get(s.port, "/hello.txt", timeout=5)
            assert r.status == 200, (n, r.raw[:200])
            assert took < 1.0, (n, took)

        # Read again: the lines that were held up follow, and the count of
        # the malformed requests that were not logged.
        out = b""
        deadline = time.monotonic() + 10
        while b"more malformed requests in the last second were not logged." not in out:
            assert time.monotonic() < deadline, out[-2000:]
            try:
                out += os.read(reader, 1 << 16)
            except BlockingIOError:
                time.sleep(0.02)
        errors = (s.base / "error.log").read_bytes()
        malformed = errors.count(b"Header delimer ':' not found.")
        assert 0 < malformed <= 5 * (int(flood_seconds) + 3), (malformed, flood_seconds)
    finally:
        proc.kill()
        proc.wait()
        os.close(reader)


def test_a_shortage_of_descriptors_is_logged_once_and_so_is_its_end(make_server):
    # 400 descriptors: after the server's own reserve the loops share about
    # 270 connections; 320 idle clients use them all up.
    s = make_server(prefix=["prlimit", "--nofile=400:400"], extra_args=["--loglevel=1"],
                    env={"ZORVANE_HEADER_TIMEOUT_MS": "20000"})
    (s.docs / "hello.txt").write_bytes(b"Hello, world!\n")
    s.start()
    held = []
    try:
        for _ in range(320):
            held.append(socket.create_connection(("127.0.0.1", s.port), timeout=5))
        log = s.base / "error.log"
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and "New connections wait" not in (log.read_text() if log.exists() else ""):
            time.sleep(0.05)
        assert "New connections wait" in log.read_text()
    finally:
        for c in held:
            c.close()
    r, took = timed_get(s.port, "/hello.txt", timeout=5)
    assert r.status == 200 and took < 1.0, (r.raw[:100], took)
    # The end is said once no loop has met the shortage for a second.
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and "accepted again" not in log.read_text():
        time.sleep(0.1)
    text = log.read_text()
    assert text.count("New connections wait") == 1, text
    assert text.count("New connections are accepted again.") == 1, text


def test_stalled_heads_make_room_when_descriptors_are_short(make_server, tmp_path):
    # 256 descriptors: about 128 connections; 400 heads that stop halfway
    # would hold them all until the header limit frees them.
    s = make_server(prefix=["prlimit", "--nofile=256:256"], cgi=".php;PHPBuildIn\n",
                    extra_args=["--loglevel=1"], init_extra="tempSpaceLimit=1\r\n")
    (s.docs / "hello.txt").write_bytes(b"Hello, world!\n")
    (s.docs / "echo.php").write_text("<?php echo 'got ', strlen(file_get_contents('php://input'));")
    s.start()
    timed_get(s.port, "/echo.php")
    time.sleep(0.3)
    before = resources(s.proc)
    stalled = []
    try:
        for _ in range(400):
            c = socket.create_connection(("127.0.0.1", s.port), timeout=5)
            c.sendall(b"GET /hello.txt HTTP/1.1\r\nX-Slow: ")
            stalled.append(c)
        time.sleep(0.3)
        for path in ("/hello.txt", "/echo.php"):
            r, took = timed_get(s.port, path, timeout=5)
            assert r.status == 200 and took < (2.5 if SANITIZED else 1.0), (path, r.raw[:100], took)
        # An upload past the cap on temporary space is refused, not half kept.
        body = b"u" * (3 * 1024 * 1024)
        r = Response(s.raw(f"POST /echo.php HTTP/1.1\r\nHost: x\r\nContent-Length: {len(body)}\r\n\r\n".encode() + body))
        assert r.status == 503, r.raw[:200]
    finally:
        for c in stalled:
            c.close()
    assert settled(s.proc, before)
    text = (s.base / "error.log").read_text()
    assert "connections that sent least for longest are closed" in text
    assert "temporary space limit is reached" in text


def test_request_errors_are_held_to_a_few_lines_and_short_descriptors_are_no_missing_file(make_server):
    # Under a low descriptor limit: CGI programs that fail and an interpreter
    # that is missing write a few error lines a second, and the rest are
    # counted; a file that cannot be opened for want of descriptors is
    # answered 503, not 404.
    s = make_server(prefix=["prlimit", "--nofile=400:400"], extra_args=["--loglevel=1"],
                    cgi=".sh;/bin/sh\n.bad;/no/such/interpreter\n.php;PHPBuildIn\n")
    d = s.docs
    (d / "hello.txt").write_bytes(b"Hello, world!\n")
    (d / "fail.sh").write_text("echo oops >&2; exit 1\n")  # two lines: its error output, no answer
    (d / "x.bad").write_text("")
    (d / "other.txt").write_bytes(b"other\n")
    # Takes every descriptor the process has left, for a while.
    (d / "hold.php").write_text("<?php $h = []; while (count($h) < 1000 && ($f = @fopen(__FILE__, 'r'))) $h[] = $f;"
                                " usleep(1500000); echo count($h);")
    s.start()
    started = time.monotonic()
    for target, status, count in (("/fail.sh", 502, 200), ("/x.bad", 500, 50)):
        for _ in range(count):
            r, _ = timed_get(s.port, target)
            assert r.status == status, (target, r.raw[:200])
    seconds = time.monotonic() - started
    expected = 2 * 200 + 50
    log = s.base / "error.log"
    deadline = time.monotonic() + 5
    while True:
        text = log.read_text()
        logged = sum(1 for line in text.splitlines() if "fail.sh: " in line or "Cannot create process" in line)
        held = sum(int(n) for n in re.findall(r"(\d+) more request error lines? in the last second (?:was|were) not", text))
        if logged + held >= expected or time.monotonic() > deadline:
            break
        time.sleep(0.1)
    assert logged + held == expected, text[-2000:]
    assert logged <= 5 * (int(seconds) + 2), (logged, seconds)

    waiting = connect(s.port)
    waiting.sendall(b"GET /other.txt HTTP/1.1\r\nHost: x\r\n")
    threads, results = in_parallel([(s.port, "/hold.php")], timeout=5)
    deadline = time.monotonic() + 3
    while len(os.listdir(f"/proc/{s.proc.pid}/fd")) < 400:
        assert time.monotonic() < deadline, "the script did not take the descriptors"
        time.sleep(0.02)
    waiting.sendall(b"\r\n")
    r = Response(read_all(waiting, 5))
    waiting.close()
    assert r.status == 503, r.raw[:300]
    threads[0].join(5)
    assert results[0][0].status == 200, results[0][0].raw[:300]
    assert timed_get(s.port, "/other.txt")[0].status == 200
