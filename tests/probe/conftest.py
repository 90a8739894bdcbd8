"""Black-box probes: start zorvane_cmd in a temporary folder and talk HTTP to it."""
import os
import re
import shutil
import socket
import subprocess
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def pytest_addoption(parser):
    parser.addoption("--zorvane", default=os.environ.get("ZORVANE_CMD", str(ROOT / "build/bin/zorvane_cmd")))


# "Zorvane with PHP x.y.z", the name the build under test gives itself, from
# the version header its build generated (set by pytest_configure).
WITH_PHP = "Zorvane with PHP"


def pytest_configure(config):
    global WITH_PHP
    build = Path(os.path.abspath(config.getoption("--zorvane"))).parent.parent
    header = build / "generated" / "php" / "ZorvaneVersion.h"
    if header.exists():
        m = re.search(r'#define ZORVANE_PHP_VERSION "([^"]+)"', header.read_text())
        if m:
            WITH_PHP = "Zorvane with PHP " + m.group(1)


def resources(proc):
    """Open descriptors, threads and live children of the server process."""
    pid = proc.pid
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    threads = len(os.listdir(f"/proc/{pid}/task"))
    children = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            children += len(Path(f"/proc/{pid}/task/{task}/children").read_text().split())
        except OSError:
            pass
    return fds, threads, children


def settled(proc, before, timeout=5):
    """Waits until the server holds no more than it held before."""
    deadline = time.time() + timeout
    now = resources(proc)
    while time.time() < deadline:
        now = resources(proc)
        if all(n <= b for n, b in zip(now, before)):
            return True
        time.sleep(0.05)
    print("resources before", before, "after", now)
    return False


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


MIME = """# test types
text/html htm html
text/css css
image/png png
text/plain txt
application/octet-stream bin
"""


class Server:
    """One zorvane_cmd process serving a document folder of its own."""

    def __init__(self, exe, base, vdir="", cgi="", extra_args=(), init_extra="", env=None, prefix=()):
        self.base = Path(base)
        self.docs = self.base / "docs"
        self.docs.mkdir(parents=True, exist_ok=True)
        cfg = self.base / "cfg"
        cfg.mkdir(exist_ok=True)
        self.port = free_port()
        (cfg / "init.txt").write_text(
            f"httpHost=127.0.0.1\r\nhttpPort={self.port}\r\ndocPath={self.docs}\r\n{init_extra}")
        (cfg / "mime.txt").write_text(MIME)
        (cfg / "vdir.txt").write_text(vdir)
        (cfg / "cgi.txt").write_text(cgi)
        php_ini = ROOT / "cfg" / "php.ini"
        if php_ini.exists():
            shutil.copy(php_ini, cfg / "php.ini")
        self.exe = exe
        self.args = list(extra_args)
        # A command the server is started through (it must exec the server, so
        # that proc.pid stays the server's).
        self.prefix = list(prefix)
        self.env = dict(os.environ, **(env or {}))
        self.proc = None
        self.out_path = self.base / "stdout.txt"

    def start(self, wait=True):
        self.out = open(self.out_path, "wb")
        self.proc = subprocess.Popen([*self.prefix, self.exe, "--loglevel=3", *self.args], cwd=self.base,
                                     stdout=self.out, stderr=subprocess.STDOUT, env=self.env)
        if wait:
            deadline = time.time() + 20
            while time.time() < deadline:
                if self.proc.poll() is not None:
                    raise RuntimeError("zorvane_cmd ended early:\n" + self.output())
                try:
                    socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                    # That probe was a connection without a request: it is closed quietly.
                    return self
                except OSError:
                    time.sleep(0.05)
            raise RuntimeError("zorvane_cmd does not listen:\n" + self.output())
        return self

    def output(self):
        try:
            return self.out_path.read_text(errors="replace")
        except OSError:
            return ""

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.out.close()

    def raw(self, data, timeout=10, shut=False):
        """Sends raw bytes, returns everything the server sends until it closes."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
            s.sendall(data if isinstance(data, bytes) else data.encode("latin-1"))
            if shut:
                s.shutdown(socket.SHUT_WR)
            chunks = []
            while True:
                b = s.recv(65536)
                if not b:
                    break
                chunks.append(b)
        return b"".join(chunks)

    def get(self, path, headers=(), method="GET", body=b""):
        req = f"{method} {path} HTTP/1.1\r\nHost: localhost\r\n"
        for h in headers:
            req += h + "\r\n"
        if body:
            req += f"Content-Length: {len(body)}\r\n"
        data = (req + "\r\n").encode("latin-1") + body
        return Response(self.raw(data))


class Response:
    def __init__(self, raw):
        self.raw = raw
        # Header lines end in CR LF (RFC 9112 2.2): every header block the
        # server sends (files, errors, redirects, PHP, CGI) passes through here.
        head, sep, self.body = raw.partition(b"\r\n\r\n")
        assert not sep or b"\n" not in head.replace(b"\r\n", b""), raw[:300]
        lines = head.decode("latin-1").split("\r\n")
        self.status_line = lines[0]
        m = re.match(r"HTTP/1\.1 (\d+) (.*)$", lines[0])
        self.status = int(m.group(1)) if m else 0
        self.header_lines = lines[1:]
        self.headers = {}
        for line in self.header_lines:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()

    def names(self):
        return [l.partition(":")[0] for l in self.header_lines]


@pytest.fixture
def make_server(request, tmp_path):
    exe = os.path.abspath(request.config.getoption("--zorvane"))
    if not os.path.exists(exe):
        pytest.skip(f"{exe} is not built")
    servers = []

    def make(**kw):
        s = Server(exe, tmp_path / f"s{len(servers)}", **kw)
        servers.append(s)
        return s

    yield make
    for s in servers:
        s.stop()


@pytest.fixture
def server(make_server):
    s = make_server()
    (s.docs / "hello.txt").write_bytes(b"Hello, world!\n")
    (s.docs / "k1000.bin").write_bytes(bytes(i % 251 for i in range(1000)))
    (s.docs / "empty.txt").write_bytes(b"")
    (s.docs / "folder").mkdir()
    (s.docs / "folder" / "index.html").write_bytes(b"<p>index</p>")
    return s.start()
