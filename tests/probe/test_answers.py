"""Script answers arrive byte for byte or fail loudly: streamed PHP and CGI
output read at several speeds by many clients at once, answers with no
temporary folder to spill into, sleeping CGI programs that must hold no
worker, and clients that half-close or leave while their script runs."""
import os
import socket
import threading
import time

import pytest

from conftest import Response, resources, settled

SANITIZED = bool(os.environ.get("ASAN_OPTIONS"))
BLOCKS = 256  # lines of 8 KiB, each followed by a flush: 2 MiB

FLUSH_PHP = """<?php
for ($i = 0; $i < %d; $i++) {
    echo str_pad(sprintf("block %%05d ", $i), 8191, "abcdefgh"), "\\n";
    flush();
}
""" % BLOCKS

FLUSH_CGI = """import sys
out = sys.stdout.buffer
out.write(b"Content-Type: text/plain\\r\\n\\r\\n")
out.flush()
for i in range(%d):
    line = ("block %%05d " %% i).encode()
    pad = b"abcdefgh" * 1024
    out.write((line + pad)[:8191] + b"\\n")
    out.flush()
""" % BLOCKS


def expected_body():
    pad = "abcdefgh" * 1024
    return b"".join((("block %05d " % i) + pad)[:8191].encode() + b"\n" for i in range(BLOCKS))


def fetch(port, path, rate=None, wait=0.0, timeout=30):
    """The whole answer; rate in bytes a second (None: as fast as it comes)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        if rate:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32768)
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
        time.sleep(wait)
        chunks = []
        started = time.monotonic()
        got = 0
        while True:
            b = s.recv(16384 if rate else 262144)
            if not b:
                break
            chunks.append(b)
            got += len(b)
            if rate:
                ahead = got / rate - (time.monotonic() - started)
                if ahead > 0:
                    time.sleep(ahead)
    return b"".join(chunks)


@pytest.fixture
def site(make_server):
    s = make_server(cgi=".php;PHPBuildIn\n.py;/usr/bin/python3\n.sh;/bin/sh\n", extra_args=["--loglevel=1"])
    d = s.docs
    (d / "flush.php").write_text(FLUSH_PHP)
    (d / "flush.py").write_text(FLUSH_CGI)
    (d / "hello.sh").write_text("printf 'Content-Type: text/plain\\r\\n\\r\\nhello\\n'\n")
    (d / "sleep.sh").write_text("sleep 2; printf 'Content-Type: text/plain\\r\\n\\r\\nslept\\n'\n")
    (d / "quiet.sh").write_text('echo $$ > "$(dirname "$SCRIPT_FILENAME")/quiet.pid"; sleep 30\n')
    return s


def test_streamed_answers_arrive_byte_for_byte_at_every_client_speed(site):
    site.start()
    want = expected_body()
    targets = []
    for path in ("/flush.php", "/flush.py"):
        targets += [(path, 3_000_000)] * 3 + [(path, 12_000_000)] * 2 + [(path, None)] * 6
    answers = [None] * len(targets)

    def one(i):
        answers[i] = fetch(site.port, targets[i][0], targets[i][1])

    threads = [threading.Thread(target=one, args=(i,)) for i in range(len(targets))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    wrong = []
    for (path, rate), raw in zip(targets, answers):
        r = Response(raw)
        if r.status != 200 or r.body != want:
            first = next((i for i, (a, b) in enumerate(zip(r.body, want)) if a != b), min(len(r.body), len(want)))
            wrong.append(f"{path} at {rate}: {len(r.body)} bytes, first difference at {first}")
    assert not wrong, "\n".join(wrong)


def test_answers_are_whole_without_a_temporary_folder(site, tmp_path):
    (site.docs / "big.php").write_text("<?php echo str_repeat(str_pad('', 1000, 'php.'), 20 * 1024);")
    (site.docs / "held.php").write_text("<?php ob_start(); echo str_repeat('held', 5 * 256 * 1024);")
    (site.docs / "big.sh").write_text(
        "printf 'Content-Type: text/plain\\r\\n\\r\\n'; i=0; while [ $i -lt 320 ]; do head -c 65536 /dev/zero; i=$((i+1)); done\n")
    site.env["TMPDIR"] = str(tmp_path / "missing")
    site.start()
    # A client that waits before it reads: the script's output must wait for it.
    r = Response(fetch(site.port, "/big.php", wait=1.5))
    assert r.status == 200 and r.body == ("php." * 250).encode() * 20 * 1024, len(r.body)
    r = Response(fetch(site.port, "/big.sh", wait=1.0))
    assert r.status == 200 and r.body == bytes(320 * 65536), len(r.body)
    # An answer that ends before its first byte is sent carries its true length.
    r = Response(fetch(site.port, "/held.php"))
    assert r.status == 200 and r.headers.get("content-length") == str(5 * 1024 * 1024)
    assert r.body == b"held" * 256 * 1024 * 5
    time.sleep(0.3)
    assert "Cannot write a temporary file for the answer" in site.output()


def warmed_up(site):
    """Starts the server and waits until its workers are up."""
    site.start()
    fetch(site.port, "/hello.sh")
    time.sleep(0.3)
    return resources(site.proc)


def test_sleeping_cgi_programs_hold_no_worker(site):
    before = warmed_up(site)
    results = [None] * 30

    def one(i):
        results[i] = Response(fetch(site.port, "/sleep.sh"))

    started = time.monotonic()
    threads = [threading.Thread(target=one, args=(i,)) for i in range(30)]
    for t in threads:
        t.start()
    time.sleep(0.5)
    t0 = time.monotonic()
    hello = Response(fetch(site.port, "/hello.sh"))
    took = time.monotonic() - t0
    for t in threads:
        t.join()
    elapsed = time.monotonic() - started
    assert hello.body == b"hello\n" and took < (2.5 if SANITIZED else 1.0), took
    assert all(r.status == 200 and r.body == b"slept\n" for r in results)
    # Thirty programs of two seconds run side by side, not fifteen at a time.
    assert elapsed < 3.8, elapsed
    assert settled(site.proc, before)


def test_cgi_answers_a_half_closed_client_and_ends_for_one_that_left(site):
    before = warmed_up(site)
    # Request, then end of input at once (as `nc -N` does): the answer still comes.
    r = Response(site.raw(b"GET /sleep.sh HTTP/1.1\r\nHost: x\r\n\r\n", shut=True))
    assert r.status == 200 and r.body == b"slept\n"
    # A client that leaves while its program sleeps: the program is ended.
    pid_file = site.base / "docs" / "quiet.pid"
    s = socket.create_connection(("127.0.0.1", site.port), timeout=5)
    s.sendall(b"GET /quiet.sh HTTP/1.1\r\nHost: x\r\n\r\n")
    deadline = time.monotonic() + 5
    while not pid_file.exists() and time.monotonic() < deadline:
        time.sleep(0.02)
    time.sleep(0.1)
    s.close()
    assert settled(site.proc, before, timeout=3)
