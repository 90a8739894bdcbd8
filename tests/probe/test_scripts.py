"""PHP inside the server and CGI programs, seen from a client."""
import base64
import concurrent.futures as cf
import email.utils
import json
import os
import shutil
import socket
import time

import pytest

import conftest
from conftest import Response

# What $_SERVER always holds; header variables come only with their headers.
PHP_VARS = ["PHP_SELF", "SCRIPT_NAME", "SCRIPT_FILENAME", "SERVER_ADDR", "SERVER_PORT", "SERVER_NAME",
            "SERVER_PROTOCOL", "SERVER_SOFTWARE", "QUERY_STRING", "REQUEST_URI", "REQUEST_METHOD",
            "REMOTE_ADDR", "REMOTE_PORT", "DOCUMENT_ROOT", "HTTP_HOST", "PATH_INFO"]

# Headers no probe sends: they must leave no variable behind.
NEVER_SENT = ["HTTP_REFERER", "HTTP_ACCEPT", "HTTP_ACCEPT_LANGUAGE", "HTTP_ACCEPT_CHARSET", "HTTP_KEEP_ALIVE",
              "RANGE", "HTTP_RANGE"]


def request_with_headers(port, path, extra, method="GET", body=b""):
    """A raw request with repeated and unusual header lines that a client
    library would fold or refuse, and the port in its Host line."""
    head = f"{method} {path} HTTP/1.1\r\nHost: localhost:{port}\r\n" + "".join(h + "\r\n" for h in extra)
    if body:
        head += f"Content-Length: {len(body)}\r\n"
    return (head + "\r\n").encode("latin-1") + body


BASIC_ALICE = "Authorization: Basic " + base64.b64encode(b"alice:s3cr:et").decode()


@pytest.fixture
def scripts(make_server):
    s = make_server(cgi=".php;PHPBuildIn\n.sh;/bin/sh\n.nothere;/no/such/interpreter\n")
    d = s.docs
    (d / "vars.php").write_text("<?php header('Content-Type: application/json');"
                                " echo json_encode(['server' => $_SERVER, 'get' => $_GET, 'post' => $_POST,"
                                " 'cookie' => $_COOKIE, 'input' => file_get_contents('php://input')]);")
    (d / "gone.php").write_text("<?php header('HTTP/1.1 404 Gone Away'); echo 'gone';")
    (d / "dated.php").write_text("<?php header('Date: Thu, 01 Jan 2015 00:00:00 GMT'); echo 'dated';")
    (d / "big.php").write_text("<?php echo str_repeat('x', 10000);")
    (d / "putenv.php").write_text("<?php $path = getenv('PATH'); $before = getenv('ZV_PROBE');"
                                  " putenv('ZV_PROBE=' . $_GET['v']); putenv('PATH'); usleep(20000);"
                                  " $all = getenv(); echo json_encode([is_string($path), $before,"
                                  " getenv('ZV_PROBE'), getenv('PATH'), $all['ZV_PROBE'] ?? null,"
                                  " isset($all['PATH'])]);")
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
    port = scripts.port
    # The path is decoded for routing and the path variables; the URI and the query are not.
    r = Response(scripts.raw(request_with_headers(port, "/v%61rs.php/ex%74ra%20x?a=1&b=x%4ay&u=http://h//z", [
        "Cookie: c1=v1; c2=v2", "Cookie: c3=v3", "User-Agent: probe/1", "X-WP-Nonce: 0123abcd",
        f"Origin: http://localhost:{port}", BASIC_ALICE, "X-Multi: one", "X-Multi: two",
        "Proxy: http://127.0.0.1:9/", "X_Sneaky: 1", "Content-Type: application/x-www-form-urlencoded"],
        method="POST", body=b"p=1&q=two+words")))
    assert r.status == 200
    data = json.loads(r.body)
    server = data["server"]
    for name in PHP_VARS:
        assert name in server, name
    assert server["SERVER_SOFTWARE"] == conftest.WITH_PHP
    assert server["SCRIPT_NAME"] == "/vars.php"
    assert server["PATH_INFO"] == "/extra x"
    assert server["PHP_SELF"] == server["SCRIPT_NAME"] + server["PATH_INFO"]
    # Slashes in the query are data: only the path's runs of them collapse.
    assert server["REQUEST_URI"] == "/v%61rs.php/ex%74ra%20x?a=1&b=x%4ay&u=http://h//z"
    assert server["QUERY_STRING"] == "a=1&b=x%4ay&u=http://h//z"
    assert server["REQUEST_METHOD"] == "POST"
    # The Host line as sent; the server's own name and port as before.
    assert server["HTTP_HOST"] == f"localhost:{port}"
    assert server["SERVER_PORT"] == str(port) and ":" not in server["SERVER_NAME"]
    assert server["HTTP_USER_AGENT"] == "probe/1"
    assert server["CONTENT_TYPE"] == "application/x-www-form-urlencoded"
    assert server["CONTENT_LENGTH"] == "15"
    # Every header, repeated ones joined; Basic credentials decoded.
    assert server["HTTP_COOKIE"] == "c1=v1; c2=v2; c3=v3"
    assert server["HTTP_X_WP_NONCE"] == "0123abcd"
    assert server["HTTP_ORIGIN"] == f"http://localhost:{port}"
    assert server["HTTP_X_MULTI"] == "one, two"
    assert server["HTTP_AUTHORIZATION"] == BASIC_ALICE.split(": ", 1)[1]
    assert (server["PHP_AUTH_USER"], server["PHP_AUTH_PW"], server["AUTH_TYPE"]) == ("alice", "s3cr:et", "Basic")
    # No proxy of the client's choosing, no name that poses as another header.
    assert "HTTP_PROXY" not in server and "HTTP_X_SNEAKY" not in server
    for name in NEVER_SENT:
        assert name not in server, name
    assert data["get"] == {"a": "1", "b": "xJy", "u": "http://h//z"}
    assert data["post"] == {"p": "1", "q": "two words"}
    assert data["cookie"] == {"c1": "v1", "c2": "v2", "c3": "v3"}

    # A JSON body reaches the script with its type (PSR-7 request factories read it).
    body = b'{"title":"draft"}'
    r = scripts.get("/vars.php", ["Content-Type: application/json; charset=utf-8"], method="POST", body=body)
    data = json.loads(r.body)
    assert data["server"]["CONTENT_TYPE"] == "application/json; charset=utf-8"
    assert data["input"] == body.decode()
    # Without a body there is neither type nor length.
    server = json.loads(scripts.get("/vars.php").body)["server"]
    assert "CONTENT_TYPE" not in server and "CONTENT_LENGTH" not in server and "PHP_AUTH_USER" not in server


def test_php_answers_carry_date_reason_and_head(scripts):
    php_available(scripts)
    r = scripts.get("/gone.php")
    assert r.status_line == "HTTP/1.1 404 Gone Away" and r.body == b"gone"
    assert r.names()[:2] == ["Server", "Date"] and r.names()[-1] == "Connection"
    sent = email.utils.parsedate_to_datetime(r.headers["date"]).timestamp()
    assert abs(sent - time.time()) < 60
    # A script's own Date line is the only one.
    assert scripts.get("/dated.php").names().count("Date") == 1
    # HEAD gets what GET gets, less the body: the length when GET has one
    # (held output), none when GET streams.
    for path in ["/gone.php", "/exit.php", "/big.php"]:
        full = scripts.get(path)
        head = scripts.get(path, method="HEAD")
        assert head.status_line == full.status_line, path
        assert head.names() == full.names(), path
        assert head.headers.get("content-length") == full.headers.get("content-length"), path
        assert head.body == b"", path
    assert "content-length" not in scripts.get("/big.php", method="HEAD").headers


def test_putenv_stays_in_its_own_script(scripts):
    php_available(scripts)
    with cf.ThreadPoolExecutor(15) as pool:
        answers = list(pool.map(lambda i: json.loads(scripts.get(f"/putenv.php?v={i}").body), range(30)))
    # Each script saw its own value and its own unset PATH, and started from
    # the server's environment, whatever the others did meanwhile.
    assert answers == [[True, False, str(i), False, str(i), False] for i in range(30)]
    # CGI programs get none of it.
    assert b"ZV_PROBE" not in scripts.get("/env.sh").raw


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
    port = scripts.port
    r = Response(scripts.raw(request_with_headers(port, "/env%2esh/p%20q/i?q=%c3%a9", [
        "Content-Type: text/plain; charset=utf-8", "Cookie: a=1", "Cookie: b=2", "X-Trace-Id: 7", BASIC_ALICE,
        "Proxy: http://127.0.0.1:9/"], method="POST", body=body)))
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
    assert env["HTTP_HOST"] == f"localhost:{port}"
    assert env["SERVER_NAME"] == env["SERVER_HOST"] and env["SERVER_PORT"] == str(port)
    assert env["CONTENT_TYPE"] == "text/plain; charset=utf-8" and env["CONTENT_LENGTH"] == "10000"
    assert env["HTTP_COOKIE"] == "a=1; b=2" and env["HTTP_X_TRACE_ID"] == "7"
    # Neither the client's proxy nor its password, nothing unsent, nothing of
    # the server's own environment.
    for name in ["HTTP_PROXY", "HTTP_AUTHORIZATION", "REMOTE_USER", "PATH"] + NEVER_SENT:
        assert name not in env, name


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


def test_php_as_under_php_fpm(make_server):
    # The shipped configuration names its document folder relatively.
    s = make_server(cgi=".php;PHPBuildIn\n", extra_args=["--docpath=docs"])
    d = s.docs
    (d / "inc.php").write_text("<?php $inc = 'from the root';")
    (d / "sub").mkdir()
    (d / "sub" / "near.php").write_text("<?php $near = 'from beside';")
    (d / "sub" / "probe.php").write_text(
        "<?php header('Status: 403 Also Forbidden'); header('Content-Type: application/json');"
        " include $_SERVER['DOCUMENT_ROOT'] . '/inc.php'; include 'near.php';"
        " echo json_encode(['server' => $_SERVER, 'inc' => $inc, 'near' => $near, 'cwd' => getcwd(),"
        " 'headers' => getallheaders(), 'same' => apache_request_headers() === getallheaders()]);")
    (d / "hold.php").write_text("<?php umask(0077); usleep(300000); printf('%o', umask());")
    (d / "mask.php").write_text("<?php printf('%o', umask());")
    s.start()
    if s.get("/mask.php").status != 200:
        pytest.skip("PHP runtime not available")
    docs = str(s.docs.resolve())

    r = s.get("/sub/probe.php/x%20y?c=%41&d=/z", ["X-Custom-Thing: 1", "User-Agent: probe/2"])
    assert r.status_line == "HTTP/1.1 403 Also Forbidden"
    assert "status" not in r.headers
    data = json.loads(r.body)
    server = data["server"]
    assert (server["DOCUMENT_ROOT"], server["SCRIPT_FILENAME"]) == (docs, docs + "/sub/probe.php")
    assert server["PATH_TRANSLATED"] == docs + "/x y"
    assert server["QUERY_STRING"] == "c=%41&d=/z"
    # PHP works in the script's folder; the document root leads back.
    assert (data["inc"], data["near"], data["cwd"]) == ("from the root", "from beside", docs + "/sub")
    assert data["same"] and data["headers"]["X-Custom-Thing"] == "1"
    assert data["headers"]["User-Agent"] == "probe/2" and data["headers"]["Host"] == "localhost"
    assert "PATH_TRANSLATED" not in json.loads(s.get("/sub/probe.php").body)["server"]

    # A script's umask is its own, not that of the scripts running beside it.
    mask = os.umask(0)
    os.umask(mask)
    with cf.ThreadPoolExecutor(2) as pool:
        held = pool.submit(s.get, "/hold.php")
        time.sleep(0.1)
        beside = s.get("/mask.php").body
        assert held.result().body == b"77"
    assert beside == f"{mask:o}".encode()
    with cf.ThreadPoolExecutor(15) as pool:
        assert set(pool.map(lambda _: s.get("/mask.php").body, range(15))) == {f"{mask:o}".encode()}

