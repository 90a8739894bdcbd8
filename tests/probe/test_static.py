"""Static files, dates, ranges, conditions, HEAD, folders, error pages."""
import os
import re
import time

import pytest

import conftest

SERVER_LINE = "Server: " + conftest.WITH_PHP + " V1.1"
HTTP_DATE = re.compile(r"^(Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d GMT$")


def error_page(code, reason, message):
    return ("<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n"
            f"<title>{code} {reason}</title>\n</head><body>\n<h1>{reason}</h1>\n"
            f"<p>{message}</p>\n</body></html>\n").encode()


def test_full_get_has_exact_header_order(server):
    r = server.get("/hello.txt")
    assert r.status_line == "HTTP/1.1 200 OK"
    assert r.header_lines[0] == SERVER_LINE
    assert r.names() == ["Server", "Date", "Content-Type", "Last-Modified", "Content-Length",
                         "Accept-Ranges", "Connection"]
    assert r.headers["content-type"] == "text/plain"
    assert r.headers["content-length"] == "14"
    assert r.headers["accept-ranges"] == "bytes"
    assert r.headers["connection"] == "close"
    assert HTTP_DATE.match(r.headers["date"])
    assert HTTP_DATE.match(r.headers["last-modified"])
    head = r.raw.partition(b"\r\n\r\n")[0]
    assert head.count(b"\r\n") == 7 and b"\n" not in head.replace(b"\r\n", b""), "header lines end in CR LF"
    assert r.body == b"Hello, world!\n"


def test_conditional_get(server):
    lm = server.get("/hello.txt").headers["last-modified"]
    r = server.get("/hello.txt", [f"If-Modified-Since: {lm}"])
    assert r.status_line == "HTTP/1.1 304 Not Modified"
    assert r.names() == ["Server", "Date", "Connection"]
    assert r.body == b""
    other = server.get("/hello.txt", ["If-Modified-Since: " + lm.replace("GMT", "+0000")])
    assert other.status == 200
    head = server.get("/hello.txt", [f"If-Modified-Since: {lm}"], method="HEAD")
    assert head.status == 304


@pytest.mark.parametrize("rng,status,content_range", [
    ("bytes=100-199", 206, "bytes 100-199/1000"),
    ("bytes=900-", 206, "bytes 900-999/1000"),
    ("bytes=0-0", 206, "bytes 0-0/1000"),
    ("bytes=0-", 206, "bytes 0-999/1000"),
    ("bytes=-100", 206, "bytes 900-999/1000"),
    ("bytes=-5000", 206, "bytes 0-999/1000"),
    ("bytes=500-99999", 206, "bytes 500-999/1000"),
    ("bytes=1-2, 5-6", 206, "bytes 1-2/1000"),
    ("items=1-2", 200, None),
    ("bytes=300-200", 200, None),
    ("bytes=x-5", 200, None),
    ("bytes=1000-", 416, "bytes */1000"),
    ("bytes=5000-6000", 416, "bytes */1000"),
])
def test_ranges(server, rng, status, content_range):
    data = (server.docs / "k1000.bin").read_bytes()
    for method in ("GET", "HEAD"):
        r = server.get("/k1000.bin", [f"Range: {rng}"], method=method)
        assert r.status == status, r.raw
        assert r.headers.get("content-range") == content_range
        if status == 206:
            first, last = map(int, content_range.split()[1].split("/")[0].split("-"))
            expected = data[first:last + 1]
        else:
            expected = data if status == 200 else b""
        assert r.headers["content-length"] == str(len(expected))
        assert r.body == (expected if method == "GET" else b"")


def test_conditions_with_ranges(server):
    lm = server.get("/k1000.bin").headers["last-modified"]
    r = server.get("/k1000.bin", ["Range: bytes=10-19", f"If-Range: {lm}"])
    assert r.status == 206 and len(r.body) == 10
    for validator in ["Thu, 01 Jan 1970 00:00:00 GMT", '"an-etag"']:
        r = server.get("/k1000.bin", ["Range: bytes=10-19", f"If-Range: {validator}"])
        assert r.status == 200
        assert r.headers["content-length"] == "1000"
        assert len(r.body) == 1000
    # If-Range without a range is ignored; an older If-Modified-Since leaves the range as it is.
    assert server.get("/k1000.bin", [f"If-Range: {lm}"]).status == 200
    r = server.get("/k1000.bin", ["Range: bytes=10-19", "If-Modified-Since: Thu, 01 Jan 1970 00:00:00 GMT"])
    assert (r.status, r.headers["content-range"], len(r.body)) == (206, "bytes 10-19/1000", 10)


def test_clients_get_the_answers_of_get_on_head_and_resume(server):
    # HEAD has GET's status and length; a resumed download that is already
    # complete gets 416 rather than the file again.
    import subprocess
    import urllib.request
    data = os.urandom(300001)
    (server.docs / "big.bin").write_bytes(data)
    url = f"http://127.0.0.1:{server.port}/big.bin"
    with urllib.request.urlopen(urllib.request.Request(url, method="HEAD"), timeout=10) as r:
        assert (r.status, r.headers["Content-Length"], r.read()) == (200, "300001", b"")
    part = server.base / "part.bin"
    part.write_bytes(data)
    for args, expected in [(["-r", "0-0"], data[:1]), (["-r", "-100"], data[-100:]), (["-C", "-"], data)]:
        out = subprocess.run(["curl", "-s", "-o", str(part) if "-C" in args else "-", "-w", "%{http_code}", *args,
                              url], capture_output=True, timeout=20)
        got = part.read_bytes() if "-C" in args else out.stdout[:-3]
        assert got == expected, (args, out.stdout[-3:])
    assert out.stdout == b"416"
    r = server.get("/empty.txt", ["Range: bytes=0-"], method="HEAD")
    assert (r.status, r.headers["content-range"], r.headers["content-length"]) == (416, "bytes */0", "0")


def test_folder_redirect_and_index(server):
    r = server.get("/folder")
    assert r.raw == (b"HTTP/1.1 301 Moved Permanently\r\n" + SERVER_LINE.encode() + b"\r\n"
                     b"Location: /folder/\r\nConnection: close\r\n\r\n")
    # The query goes along; what the path held comes back escaped.
    (server.docs / "sp ace").mkdir()
    for path, location in [("/folder?a=1&b=%c3%a9", "/folder/?a=1&b=%c3%a9"), ("/sp%20ace?x", "/sp%20ace/?x"),
                           ("/FOLDER?x=1", "/FOLDER/?x=1")]:
        r = server.get(path)
        assert r.status == 301 and r.headers["location"] == location, r.raw
    r = server.get("/folder/?a=1")
    assert r.status == 200 and r.body == b"<p>index</p>"
    assert r.headers["content-type"] == "text/html"


def test_not_found_page(server):
    r = server.get("/nothing/here.txt")
    assert r.raw == (b"HTTP/1.1 404 Not Found\r\n" + SERVER_LINE.encode() + b"\r\n"
                     b"Content-Type: text/html\r\nConnection: close\r\n\r\n"
                     + error_page(404, "Not Found", "/nothing/here.txt"))


@pytest.mark.parametrize("method", ["PUT", "DELETE"])
def test_put_and_delete_not_implemented(server, method):
    r = server.get("/hello.txt", method=method)
    assert r.status_line == "HTTP/1.1 501 Not Implemented"
    assert r.body == error_page(501, "Not Implemented", f"HTTP-Method: {method}")


def test_bad_requests(server):
    r = server.get("/", method="PATCH")
    assert r.status == 400
    assert r.body == error_page(400, "Bad Request", "Unknown HTTP method 'PATCH'")
    r = Response_from(server.raw(b"GET / HTTP/1.1\r\n continued\r\n\r\n"))
    assert r.status == 400
    assert b"Header delimer" in r.body
    r = server.get("/x%4G")
    assert r.status == 400
    assert b"Invalid URL-Encoding format." in r.body


def Response_from(raw):
    from conftest import Response
    return Response(raw)


def test_lower_case_method_and_missing_protocol(server):
    r = Response_from(server.raw(b"get /hello.txt HTTP/1.0\r\n\r\n"))
    assert r.status_line == "HTTP/1.1 200 OK"
    # A simple request (no version, HTTP/0.9) is refused at once: no empty
    # line is waited for, and the client's side stays open meanwhile.
    for line, message in [(b"GET /hello.txt\r\n", b"Missing HTTP version."), (b"GET /\n", b"Missing HTTP version."),
                          (b"GET\r\n", b"Unknown HTTP method ''")]:
        start = time.time()
        r = Response_from(server.raw(line, timeout=5))
        assert r.status == 400, r.raw
        assert b"<p>" + message + b"</p>" in r.body
        assert time.time() - start < 2


@pytest.mark.parametrize("line,status,message", [
    ("GET /hello.txt FOO/1.1", 400, "Invalid HTTP version 'FOO/1.1'"),
    ("GET /hello.txt HTTP/1", 400, "Invalid HTTP version 'HTTP/1'"),
    ("GET /hello.txt HTTP/2.0", 505, "Unsupported HTTP version 'HTTP/2.0'"),
    ("GET /hello.txt HTTP/3.0", 505, "Unsupported HTTP version 'HTTP/3.0'"),
])
def test_protocol_versions(server, line, status, message):
    r = Response_from(server.raw(f"{line}\r\nHost: localhost\r\n\r\n", timeout=5))
    assert r.status == status, r.raw
    assert f"<p>{message}</p>".encode() in r.body
    assert b"Hello, world" not in r.raw


@pytest.mark.parametrize("head,status", [
    ("GET /hello.txt HTTP/1.1\r\n", 400),
    ("GET /hello.txt HTTP/1.1\r\nHost: a\r\nHost: a\r\n", 400),
    ("GET /hello.txt HTTP/1.1\r\nHost: a\r\nhost: b\r\n", 400),
    ("GET /hello.txt HTTP/1.0\r\n", 200),
    ("GET /hello.txt HTTP/1.1\r\nX: a\rContent-Length: 5\r\nHost: a\r\n", 400),
    ("GET /hello.txt HTTP/1.1\r\nHost: a\rX: b\r\n", 400),
])
def test_host_lines_and_bare_carriage_returns(server, head, status):
    r = Response_from(server.raw(head + "\r\n", timeout=5))
    assert r.status == status, r.raw


@pytest.mark.parametrize("target", [
    "http://localhost/hello.txt", "HTTP://127.0.0.1:8080/hello.txt", "https://example.com/hello%2etxt?x=1",
    "http://[::1]/hello.txt",
])
def test_absolute_form_serves_the_path(server, target):
    r = Response_from(server.raw(f"GET {target} HTTP/1.1\r\nHost: elsewhere\r\n\r\n"))
    assert r.status == 200, r.raw
    assert r.body == b"Hello, world!\n"


@pytest.mark.parametrize("name,path", [
    ("sp ace.jpg", "/sp%20ace.jpg"),
    ("Caf\u00e9.jpg", "/Caf%C3%A9.jpg"),
    ("Caf\u00e9.jpg", "/Caf%c3%a9.jpg"),
    ("Caf\u00e9.jpg", "/caf%C3%A9.JPG"),
    ("a+b.jpg", "/a%2Bb.jpg"),
    ("a+b.jpg", "/a+b.jpg"),
    ("100%.txt", "/100%25.txt"),
    ("what?.txt", "/what%3F.txt"),
])
def test_escaped_paths_are_decoded(server, name, path):
    (server.docs / name).write_bytes(b"decoded " + name.encode())
    r = server.get(path + "?s=caf%c3%a9")
    assert r.status == 200, r.raw
    assert r.body == b"decoded " + name.encode()


def test_lower_case_hex_in_the_query(server):
    assert server.get("/hello.txt?s=caf%c3%a9&t=%7e").status == 200
    # The query goes on as sent: only the path is decoded.
    assert server.get("/hello.txt?s=%zz").status == 200
    assert server.get("/hello.tx%zz").status == 400


@pytest.mark.parametrize("path", [
    "/../secret.txt", "/folder/../../secret.txt", "/..\\secret.txt", "/folder/..",
    "\\..\\secret.txt", "/%2e%2e/secret.txt", "/%2E%2E/secret.txt", "/.%2e/secret.txt", "/%2e./secret.txt",
    "/folder/%2e%2e/%2e%2e/secret.txt", "/folder%2f..%2f..%2fsecret.txt", "/folder%2F%2E%2E%2F%2E%2E%2Fsecret.txt",
    "/..%5csecret.txt", "/..%5Csecret.txt", "/folder/..%5c..%5csecret.txt", "/%2e%2e%5csecret.txt",
    "/%252e%252e/secret.txt", "/..%00/secret.txt", "/folder/%00/../../secret.txt", "/%c0%ae%c0%ae/secret.txt",
    "http://localhost/../secret.txt", "http://localhost/%2e%2e/secret.txt",
])
def test_traversal_never_leaves_the_root(server, path):
    (server.base / "secret.txt").write_text("TOP-SECRET-CONTENT")
    r = Response_from(server.raw(f"GET {path} HTTP/1.1\r\nHost: localhost\r\n\r\n".encode()))
    assert b"TOP-SECRET" not in r.raw
    assert r.status in (400, 404), r.raw


def test_limits(server):
    long_line = "GET /" + "a" * 9000 + " HTTP/1.1\r\n\r\n"
    assert Response_from(server.raw(long_line.encode())).status == 400
    many = "GET / HTTP/1.1\r\n" + "".join(f"X-H{i}: v\r\n" for i in range(150)) + "\r\n"
    assert Response_from(server.raw(many.encode())).status == 400


def test_connect_without_request_is_closed_quietly(server):
    import socket
    with socket.create_connection(("127.0.0.1", server.port), timeout=5) as s:
        s.shutdown(socket.SHUT_WR)
        assert s.recv(100) == b""
    assert server.get("/hello.txt").status == 200


def test_many_clients_all_served(server):
    import concurrent.futures as cf
    with cf.ThreadPoolExecutor(40) as pool:
        results = list(pool.map(lambda _: server.get("/k1000.bin").status, range(200)))
    assert results == [200] * 200


def test_a_small_file_kept_in_memory_shows_every_change(server):
    # A small file left alone for a while is answered from memory; each kind
    # of change shows in the very next answer, whichever loop gives it.
    page = server.docs / "kept.txt"
    page.write_bytes(b"A" * 1000)
    time.sleep(2.2)
    for _ in range(12):
        assert server.get("/kept.txt").body == b"A" * 1000
    r = server.get("/kept.txt", ["Range: bytes=10-19"])
    assert (r.status, r.body) == (206, b"A" * 10)
    for method, rng, status, length in [("HEAD", "", 200, "1000"), ("HEAD", "bytes=-10", 206, "10"),
                                        ("GET", "bytes=1000-", 416, "0")]:
        r = server.get("/kept.txt", [f"Range: {rng}"] if rng else [], method=method)
        assert (r.status, r.headers["content-length"], r.body) == (status, length, b""), r.raw
    # Rewritten in place to the same size, its modification time put back.
    before = page.stat()
    with open(page, "r+b") as f:
        f.write(b"B" * 1000)
    os.utime(page, ns=(before.st_atime_ns, before.st_mtime_ns))
    for _ in range(12):
        assert server.get("/kept.txt").body == b"B" * 1000
    # Replaced by another file of the same size.
    other = server.docs / "other.txt"
    other.write_bytes(b"C" * 1000)
    os.replace(other, page)
    for _ in range(12):
        assert server.get("/kept.txt").body == b"C" * 1000
    page.unlink()
    assert server.get("/kept.txt").status == 404


def test_large_file_streams_whole(server):
    data = os.urandom(3 * 65535 + 17)
    (server.docs / "big.bin").write_bytes(data)
    r = server.get("/big.bin")
    assert r.headers["content-length"] == str(len(data))
    assert r.body == data


def test_console_log_lines(server):
    server.get("/hello.txt")
    time.sleep(0.2)
    out = server.output()
    assert conftest.WITH_PHP + " running ..." in out
    assert re.search(r"(Sun|Mon|Tue|Wed|Thu|Fri|Sat) \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4} : ", out)
