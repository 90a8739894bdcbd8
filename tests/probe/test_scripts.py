"""PHP inside the server and CGI programs, seen from a client."""
import json
import shutil
import socket
import time

import pytest

import conftest
from conftest import Response

PHP_VARS = ["PHP_SELF", "SCRIPT_NAME", "SCRIPT_FILENAME", "SERVER_ADDR", "SERVER_PORT", "SERVER_NAME",
            "SERVER_PROTOCOL", "SERVER_SOFTWARE", "QUERY_STRING", "REQUEST_URI", "REQUEST_METHOD",
            "REMOTE_ADDR", "REMOTE_PORT", "DOCUMENT_ROOT", "HTTP_HOST", "HTTP_USER_AGENT", "HTTP_ACCEPT",
            "HTTP_ACCEPT_ENCODING", "HTTP_ACCEPT_LANGUAGE", "HTTP_ACCEPT_CHARSET", "HTTP_KEEP_ALIVE",
            "HTTP_CONNECTION", "HTTP_REFERER", "CONTENT_LENGTH", "RANGE", "PATH_INFO"]


@pytest.fixture
def scripts(make_server):
    s = make_server(cgi=".php;PHPBuildIn\n.sh;/bin/sh\n.nothere;/no/such/interpreter\n")
    d = s.docs
    (d / "vars.php").write_text("<?php header('Content-Type: application/json');"
                                " echo json_encode(['server' => $_SERVER, 'get' => $_GET, 'post' => $_POST,"
                                " 'cookie' => $_COOKIE]);")
    (d / "upload.php").write_text("<?php $f = $_FILES['f']; echo $f['name'], ':', $f['size'], ':',"
                                  " md5_file($f['tmp_name']);")
    (d / "redirect.php").write_text("<?php header('Location: /a'); header('Location: /b'); echo 'moved';")
    (d / "exit.php").write_text("<?php echo 'before'; exit(); echo 'after';")
    (d / "fatal.php").write_text("<?php echo 'start'; undefined_function_xyz(); echo 'never';")
    (d / "deep.php").write_text("<?php function f($n) { return f($n + 1) + 1; } echo 'x'; f(0);")
    (d / "env.sh").write_text("printf 'Content-Type: text/plain\\r\\n\\r\\n'; env | sort; printf 'BODY='; cat\n")
    (d / "streams.sh").write_text("echo 'to stderr' >&2; printf 'Content-Type: text/plain\\n\\nto stdout\\n'\n")
    (d / "x.nothere").write_text("nothing")
    return s.start()


def php_available(scripts):
    r = scripts.get("/exit.php")
    if r.status == 500 and b"PHP" in r.body and b"before" not in r.body:
        pytest.skip("PHP runtime not available")


def test_php_server_variables_and_inputs(scripts):
    php_available(scripts)
    # The path is decoded for routing and the path variables; the URI and the query are not.
    r = scripts.get("/v%61rs.php/ex%74ra%20x?a=1&b=x%4ay", ["Cookie: c1=v1; c2=v2", "User-Agent: probe/1",
                     "Content-Type: application/x-www-form-urlencoded"],
                    method="POST", body=b"p=1&q=two+words")
    assert r.status == 200
    data = json.loads(r.body)
    server = data["server"]
    for name in PHP_VARS:
        assert name in server, name
    assert server["SERVER_SOFTWARE"] == conftest.WITH_PHP
    assert server["SCRIPT_NAME"] == "/vars.php"
    assert server["PATH_INFO"] == "/extra x"
    assert server["REQUEST_URI"] == "/v%61rs.php/ex%74ra%20x?a=1&b=x%4ay"
    assert server["QUERY_STRING"] == "a=1&b=x%4ay"
    assert server["REQUEST_METHOD"] == "POST"
    assert server["HTTP_HOST"] == "localhost"
    assert server["HTTP_USER_AGENT"] == "probe/1"
    assert server["CONTENT_LENGTH"] == "15"
    assert data["get"] == {"a": "1", "b": "xJy"}
    assert data["post"] == {"p": "1", "q": "two words"}
    assert data["cookie"] == {"c1": "v1", "c2": "v2"}


def test_php_upload(scripts):
    php_available(scripts)
    import hashlib
    payload = bytes(range(256)) * 40
    body = (b"--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"data.bin\"\r\n"
            b"Content-Type: application/octet-stream\r\n\r\n" + payload + b"\r\n--XyZ--\r\n")
    r = scripts.get("/upload.php", ["Content-Type: multipart/form-data; boundary=XyZ"], method="POST", body=body)
    assert r.body.decode() == f"data.bin:{len(payload)}:{hashlib.md5(payload).hexdigest()}"


def test_php_headers_exit_and_errors(scripts):
    php_available(scripts)
    r = scripts.get("/redirect.php")
    assert r.status_line == "HTTP/1.1 302 Moved Temporarily"
    assert [l for l in r.header_lines if l.startswith("Location")] == ["Location: /b"]
    assert r.header_lines[0] == "Server: " + conftest.WITH_PHP + " V1.1"
    assert r.header_lines[-1] == "Connection: close"
    assert scripts.get("/exit.php").body == b"before"
    r = scripts.get("/fatal.php")
    assert r.body.startswith(b"start") and b"never" not in r.body
    # Upper-case extension runs the script instead of showing its source.
    assert scripts.get("/EXIT.PHP").body == b"before"


def test_php_stack_overflow_is_answered_and_server_goes_on(scripts):
    php_available(scripts)
    r = scripts.get("/deep.php")
    assert r.status == 500 or b"Stack overflow" in r.body or b"memory" in r.body.lower()
    for _ in range(20):
        assert scripts.get("/exit.php").body == b"before"


def test_php_concurrent_sleepers(make_server):
    s = make_server(cgi=".php;PHPBuildIn\n")
    (s.docs / "sleep.php").write_text("<?php usleep(500000); echo 'ok';")
    s.start()
    php_available_path = s.get("/sleep.php")
    if php_available_path.body != b"ok":
        pytest.skip("PHP runtime not available")
    import concurrent.futures as cf
    t0 = time.time()
    with cf.ThreadPoolExecutor(15) as pool:
        bodies = list(pool.map(lambda _: s.get("/sleep.php").body, range(15)))
    assert bodies == [b"ok"] * 15
    assert time.time() - t0 < 1.4, "15 workers run PHP side by side"


def test_cgi_environment_and_body(scripts):
    body = b"x" * 10000
    r = scripts.get("/env%2esh/p%20q/i?q=%c3%a9", method="POST", body=body)
    assert r.status_line == "HTTP/1.1 200 OK"
    # The program's own header lines and empty line complete the server's block.
    assert r.raw.startswith(b"HTTP/1.1 200 OK\r\nServer: " + conftest.WITH_PHP.encode()
                            + b" V1.1\r\nConnection: close\r\nContent-Type: text/plain\r\n\r\n")
    text = r.raw.partition(b"\r\n\r\n")[2].decode("latin-1")
    env_part, _, posted = text.partition("BODY=")
    env = dict(line.split("=", 1) for line in env_part.splitlines() if "=" in line)
    assert posted.encode() == body
    assert env["REQUEST_METHOD"] == "POST"
    assert env["QUERY_STRING"] == "q=%c3%a9"
    assert env["PATH_INFO"] == "/p q/i"
    assert env["SCRIPT_NAME"] == "/env.sh"
    assert env["REQUEST_URI"] == "/env%2esh/p%20q/i?q=%c3%a9"
    assert env["SERVER_SOFTWARE"] == conftest.WITH_PHP + " V1.1"
    assert "PATH" not in env


def test_cgi_streams_order(scripts):
    # The program ends its header lines with bare line feeds; they reach the
    # client ended by CR LF (Response checks every block).
    r = scripts.get("/streams.sh")
    assert r.status == 200
    assert r.header_lines[-1] == "Content-Type: text/plain"
    assert r.body == b"to stdout\n"
    # Standard error is for the server's error log only.
    log = scripts.base / "error.log"
    deadline = time.time() + 5
    while not (log.exists() and b"to stderr" in log.read_bytes()) and time.time() < deadline:
        time.sleep(0.02)
    assert b"to stderr" in log.read_bytes()


def test_cgi_missing_interpreter_is_500(scripts):
    r = scripts.get("/x.nothere")
    assert r.status == 500


def test_cgi_url_never_reaches_a_shell(scripts, tmp_path):
    marker = tmp_path / "pwned"
    r = scripts.get(f"/env.sh;touch%20{marker}")
    assert not marker.exists()
