"""Routing and parsing rules against hostile input, the console program's
start-up checks and its exit status, and logs that cannot be abused."""
import os
import socket
import subprocess
import threading
import time
from pathlib import Path

import pytest

from conftest import Response, resources, settled

SECRET = b"PASSWORD=hunter2"




@pytest.fixture
def site(make_server):
    s = make_server(cgi=".php;PHPBuildIn\n.sh;/bin/sh\n")
    d = s.docs
    (d / "site.php-old").mkdir()
    (d / "site.php-old" / "conf.php").write_bytes(b"<?php echo 'conf ran'; // " + SECRET)
    (d / "my.shop").mkdir()
    (d / "my.shop" / "order.sh").write_bytes(b"printf 'Content-Type: text/plain\\n\\nordered\\n' # " + SECRET)
    (d / "my.shop" / "index.html").write_bytes(b"shop index")
    (d / "conf.php.bak").write_bytes(b"<?php // " + SECRET)
    (d / "notes.php~").write_bytes(b"<?php // " + SECRET)
    (d / "images").mkdir()
    (d / "images" / "index.html").write_bytes(b"images index")
    (d / "sub").mkdir()
    (d / "sub" / "here.php").write_bytes(b"<?php echo 'here ran';")
    (d / "fatal.php").write_bytes(b"<?php echo 'start'; undefined_function_xyz();")
    return s.start()


@pytest.mark.parametrize("path,status,body", [
    ("/site.php-old/conf.php", 200, b"conf ran"),
    ("/my.shop/order.sh", 200, b"ordered"),
    ("/my.shop/", 200, b"shop index"),
    ("/conf.php.bak", 403, b"/conf.php.bak"),
    ("/notes.php~", 403, b"/notes.php~"),
    ("/CONF.PHP.BAK", 403, b"/CONF.PHP.BAK"),
    # Escaped and other spellings: the script runs, or nothing is found.
    ("/site.php-old/conf%2ephp", 200, b"conf ran"),
    ("/site.php-old/conf%2EPHP", 200, b"conf ran"),
    ("/site.php-old/conf.ph%70", 200, b"conf ran"),
    ("/site.php-old/conf.PHP", 200, b"conf ran"),
    ("/site%2ephp-old/conf.php", 200, b"conf ran"),
    ("/site.php-old/conf.php/", 200, b"conf ran"),
    ("/site.php-old/conf.php%20", 404, b"/site.php-old/conf.php "),
    ("/site.php-old/conf.php.", 404, b"/site.php-old/conf.php."),
    ("/site.php-old/conf.php%3a%3a$DATA", 404, b"/site.php-old/conf.php::$DATA"),
    ("/site.php-old/conf.php%00", 400, b"Invalid URL path."),
    ("/site.php-old/conf.php%00.txt", 400, b"Invalid URL path."),
    ("/site.php-old%2fconf.php", 400, b"Invalid URL path."),
    ("/site.php-old%5cconf.php", 400, b"Invalid URL path."),
    ("/site.php-old/conf.php%", 400, b"Invalid URL-Encoding format."),
    ("/site.php-old/%2e/conf.php", 200, b"conf ran"),
    ("/conf.php%2ebak", 403, b"/conf.php.bak"),
    ("/notes.php%7e", 403, b"/notes.php~"),
    ("/my.shop/order%2esh", 200, b"ordered"),
    ("/my.shop/order.s%68", 200, b"ordered"),
    ("/my.shop/ORDER.SH", 200, b"ordered"),
])
def test_script_source_is_never_sent(site, path, status, body):
    r = site.get(path)
    assert r.status == status, r.raw
    assert body in r.body
    assert SECRET not in r.raw
    assert b"<?php" not in r.raw


def test_disclosure_probes_leave_nothing_behind(site):
    paths = ["/site.php-old/conf.php", "/my.shop/order.sh", "/conf.php.bak", "/my.shop/", "/site.php-old/"]
    for path in paths:
        site.get(path)
    before = resources(site.proc)
    for _ in range(5):
        for path in paths:
            assert SECRET not in site.get(path).raw
    assert settled(site.proc, before)


@pytest.mark.parametrize("url", ["\\images", "\\\\images", "//images", "/\\images", "images", "/images"])
def test_folder_redirect_stays_on_this_server(site, url):
    r = Response(site.raw(f"GET {url} HTTP/1.1\r\nHost: localhost\r\n\r\n"))
    assert r.status == 301
    assert r.headers["location"] == "/images/"


def test_missing_script_is_404_like_a_missing_file(site):
    # Once every worker has run PHP, its context and threads are there for good.
    for _ in range(20):
        site.get("/sub/here.php")
    before = resources(site.proc)
    for path in ["/nothing.php", "/sub/nothing.php", "/nothing.php/more", "/NOTHING.PHP"]:
        r = site.get(path)
        static = site.get(path.replace(".php", ".html").replace(".PHP", ".HTML"))
        assert r.status == 404 and static.status == 404, r.raw
        assert r.status_line == static.status_line
        assert r.headers["content-type"] == static.headers["content-type"]
        assert str(site.docs).encode() not in r.raw
        assert str(site.base).encode() not in r.raw
    # The case-insensitive fallback still finds the script, and a script that
    # exists but fails keeps the runtime's answer.
    assert site.get("/SUB/HERE.PHP").body == b"here ran"
    fatal = site.get("/fatal.php")
    assert fatal.body.startswith(b"start")
    assert settled(site.proc, before)


@pytest.mark.parametrize("head", [
    "POST /x.html HTTP/1.1\r\nHost: x\r\nContent-Length: +5\r\n",
    "POST /x.html HTTP/1.1\r\nHost: x\r\nContent-Length: 5abc\r\n",
    "POST /x.html HTTP/1.1\r\nHost: x\r\nContent-Length: 0x5\r\n",
    "POST /x.html HTTP/1.1\r\nHost: x\r\nContent-Length: 5, 5\r\n",
    "POST /x.html HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nContent-Length: 6\r\n",
    "POST /x.html HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n",
    "POST /x.html HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n",
    "POST /x.html HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip\r\n",
    "GET /x.html\rGET /conf.php.bak HTTP/1.1\r\n",
    "GET /x.html HTTP/1.1\rX: y\r\n",
])
def test_ambiguous_framing_is_400(site, head):
    r = Response(site.raw(head + "\r\nhello", timeout=5))
    assert r.status == 400, r.raw
    assert SECRET not in r.raw
    assert site.get("/my.shop/").status == 200


def test_scripts_get_every_method_and_the_query_as_sent(site):
    d = site.docs
    (d / "echo.php").write_bytes(b"<?php echo $_SERVER['REQUEST_METHOD'], ' ', $_SERVER['QUERY_STRING'], ' ', "
                                 b"file_get_contents('php://input');")
    (d / "echo.sh").write_bytes(b"printf 'Content-Type: text/plain\\r\\n\\r\\n%s %s ' \"$REQUEST_METHOD\" \"$QUERY_STRING\"\n"
                                b"cat\n")
    (d / "plain.txt").write_bytes(b"plain")
    for script in ["echo.php", "echo.sh"]:
        for method in ["GET", "POST", "PUT", "DELETE", "PATCH", "OPTIONS", "PROPFIND"]:
            body = b"" if method == "GET" else b"body of " + method.encode()
            r = site.get(f"/{script}?c=%zz&d=%41", method=method, body=body)
            assert r.status == 200, r.raw
            assert r.body == f"{method} c=%zz&d=%41 ".encode() + body
    # A static file keeps its answers to methods other than GET, HEAD and POST.
    r = site.get("/plain.txt", method="PUT", body=b"x")
    assert r.status == 501 and b"HTTP-Method: PUT" in r.body
    r = site.get("/plain.txt", method="PATCH")
    assert r.status == 400 and b"Unknown HTTP method 'PATCH'" in r.body
    # A NUL in a value, or a name that is no token, is refused before any script runs.
    for path in ["/echo.php", "/echo.sh", "/plain.txt"]:
        for field in [b"X-A: a\x00b", b"X A: b", b"X-A : b"]:
            r = Response(site.raw(b"GET " + path.encode() + b" HTTP/1.1\r\nHost: x\r\n" + field + b"\r\n\r\n"))
            assert r.status == 400 and b"<p>Invalid header line.</p>" in r.body, r.raw


def test_control_bytes_are_escaped_in_the_logs(site):
    r = Response(site.raw(b"\x1b[2J\x1b]0;pwned\x07 / HTTP/1.1\r\nHost: x\r\n\r\n"))
    assert r.status == 400
    r = Response(site.raw(b"GET /\x1b[31mred HTTP/1.1\r\nHost: x\r\nX-Evil: \x1b[H\x7f\r\n\r\n"))
    assert r.status == 404
    deadline = time.time() + 5
    while time.time() < deadline and b"\\x1b[31mred" not in Path(site.out_path).read_bytes():
        time.sleep(0.05)
    console = Path(site.out_path).read_bytes()
    error_log = (site.base / "error.log").read_bytes()
    for text in (console, error_log):
        assert b"\x1b" not in text and b"\x07" not in text and b"\x7f" not in text
        assert b"Unknown HTTP method '\\x1b[2J\\x1b]0;PWNED\\x07'" in text
    assert b"X-Evil: \\x1b[H\\x7f\n" in console
    assert b"\\x1b[31mred" in console
    # Whole lines stay whole: every error.log line is "<time>: <message>\r\n".
    assert error_log.count(b"\r\n") == error_log.count(b"\n")


def test_error_log_fifo_blocks_nobody(make_server):
    s = make_server()
    fifo = s.base / "error.log"
    os.mkfifo(fifo)
    s.start()
    start = time.time()
    for _ in range(20):
        assert Response(s.raw("PATCH / HTTP/1.1\r\n\r\n", timeout=5)).status == 400
    # A reader on the FIFO gets nothing either: only a regular file is written.
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    try:
        for _ in range(5):
            assert Response(s.raw("PATCH / HTTP/1.1\r\n\r\n", timeout=5)).status == 400
        try:
            data = os.read(reader, 4096)
        except BlockingIOError:
            data = b""
        assert data == b""
    finally:
        os.close(reader)
    assert time.time() - start < 5
    assert s.get("/").status in (200, 404)
    assert s.output().count("error.log is not a regular file") == 1
    assert fifo.is_fifo()


def run_cmd(server, *args, timeout=15):
    return subprocess.run([server.exe, *args], capture_output=True, cwd=server.base, timeout=timeout)


@pytest.mark.parametrize("option,init_port,shown", [
    ("--port=4294967376", None, "4294967376"),
    ("--port=65536", None, "65536"),
    (None, "4294967376", "4294967376"),
    (None, "-65456", "-65456"),
])
def test_ports_beyond_range_are_refused(make_server, option, init_port, shown):
    s = make_server(init_extra="autoFinish=1\r\n")
    init = s.base / "cfg" / "init.txt"
    if init_port is not None:
        init.write_text(init.read_text().replace(f"httpPort={s.port}", f"httpPort={init_port}"))
    out = run_cmd(s, *([option] if option else []))
    assert out.returncode != 0
    assert f"Cannot bind to 127.0.0.1:{shown}".encode() in out.stderr
    assert b"running" not in out.stdout


def test_exit_status_tells_whether_the_server_started(make_server):
    s = make_server(init_extra="autoFinish=1\r\n")
    with socket.socket() as holder:
        holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        holder.bind(("127.0.0.1", s.port))
        holder.listen(1)
        out = run_cmd(s)
    assert out.returncode != 0
    assert f"Cannot bind to 127.0.0.1:{s.port}".encode() in out.stderr
    assert run_cmd(s, "--help").returncode == 0
    assert run_cmd(s).returncode == 0
    (s.base / "cfg" / "init.txt").unlink()
    assert run_cmd(s).returncode != 0


def test_document_path_warnings(make_server, tmp_path):
    s = make_server(init_extra="autoFinish=1\r\n")
    (tmp_path / "plain.txt").write_text("x")
    long_path = "/tmp/" + "d" * 300
    cases = [
        (str(tmp_path / "missing"), "Warning: document path does not exist: "),
        (str(tmp_path / "plain.txt"), "Warning: document path is not a folder: "),
        (long_path, "Warning: document path is too long: "),
    ]
    for path, warning in cases:
        out = run_cmd(s, "--loglevel=0", f"--docpath={path}")
        assert out.returncode == 0
        assert f" : {warning}{path}\r\n".encode() in out.stdout, out.stdout
    out = run_cmd(s, "--loglevel=0", f"--docpath={s.docs}")
    assert b"Warning" not in out.stdout


def test_php_log_messages_are_escaped_on_the_console(site):
    (site.docs / "log.php").write_text("<?php error_log('from client: ' . $_GET['q']); echo 'logged';")
    r = site.get("/log.php?q=%1B%5B2J%07x")
    assert r.body == b"logged"
    deadline = time.time() + 5
    while time.time() < deadline and b"from client" not in Path(site.out_path).read_bytes():
        time.sleep(0.05)
    console = Path(site.out_path).read_bytes()
    assert b"from client: \\x1b[2J\\x07x" in console
    assert b"\x1b" not in console and b"\x07" not in console
