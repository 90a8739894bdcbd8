"""The embedded PHP runtime as a PHP developer meets it, with the shipped cfg/php.ini."""
import concurrent.futures as cf
import os
import re
import signal
import struct
import time

import pytest

import conftest

EXTENSIONS = ["mysqli", "pdo_mysql", "mysqlnd", "curl", "openssl", "gd", "intl", "zip", "bcmath", "exif",
              "sodium", "sockets", "gettext", "calendar", "Zend OPcache", "PDO", "pdo_sqlite", "sqlite3",
              "mbstring", "dom", "SimpleXML", "xml", "xmlreader", "xmlwriter", "zlib", "iconv", "fileinfo",
              "session", "ctype", "filter", "tokenizer", "json", "date", "pcre", "SPL", "standard"]

OVERFLOW = "function f($n) { return array_map('f', [$n + 1]); }"


def backdate(path):
    """OPcache leaves files alone that changed in the last two seconds."""
    past = time.time() - 3600
    os.utime(path, (past, past))


@pytest.fixture
def php(make_server):
    s = make_server(cgi=".php;PHPBuildIn\n")
    d = s.docs
    (d / "ext.php").write_text("<?php echo implode(',', get_loaded_extensions()), ',',"
                               " implode(',', get_loaded_extensions(true));")
    (d / "mysql.php").write_text("<?php mysqli_report(MYSQLI_REPORT_OFF);"
                                 " $m = @new mysqli('127.0.0.1', 'user', 'secret', 'db', (int)$_GET['port']);"
                                 " echo $m->connect_errno ? 'failed ' . $m->connect_errno : 'connected';")
    (d / "png.php").write_text("<?php $i = imagecreatetruecolor(40, 30);"
                               " imagefilledellipse($i, 20, 15, 30, 20, imagecolorallocate($i, 200, 80, 20));"
                               " header('Content-Type: image/png'); imagepng($i);")
    (d / "status.php").write_text("<?php $s = opcache_get_status(true);"
                                  " echo json_encode(['enabled' => $s['opcache_enabled'],"
                                  " 'hits' => $s['opcache_statistics']['hits'],"
                                  " 'cached' => isset($s['scripts'][__FILE__])]);")
    backdate(d / "status.php")
    (d / "version.php").write_text("<?php echo PHP_VERSION, '|', $_SERVER['SERVER_SOFTWARE'];")
    (d / "hello.php").write_text("<?php echo 'hello';")
    (d / "zts.php").write_text("<?php echo (int)ZEND_THREAD_SAFE;")
    (d / "big.php").write_text("<?php echo str_repeat('x', 10000);")
    (d / "crash.php").write_text("<?php class Leftover {} function leftover() {} " + OVERFLOW +
                                 " register_shutdown_function(function () { f(0); }); echo 'kept back';")
    (d / "destruct.php").write_text("<?php class Leftover {} " + OVERFLOW +
                                    " class Bomb { function __destruct() { f(0); } } $b = new Bomb; echo 'x';")
    (d / "overflow.php").write_text("<?php " + OVERFLOW + " f(0);")
    (d / "fresh.php").write_text("<?php echo class_exists('Leftover', false) ? 'class ' : '',"
                                 " function_exists('leftover') ? 'function ' : '', 'fresh';")
    (d / "sub").mkdir()
    return s.start()


def php_or_skip(s):
    if s.get("/hello.php").body != b"hello":
        pytest.skip("PHP runtime not available")


def our_runtime_or_skip(s):
    """Extensions, OPcache and fresh contexts come with the thread-safe runtime
    scripts/deps/php.sh builds, not with Debian's embed library."""
    php_or_skip(s)
    if s.get("/zts.php").body != b"1":
        pytest.skip("needs the runtime built by scripts/deps/php.sh")


def counts(s):
    """Descriptors and threads of the server process."""
    pid = s.proc.pid
    return len(os.listdir(f"/proc/{pid}/fd")), len(os.listdir(f"/proc/{pid}/task"))


def test_extensions_are_listed_through_the_server(php):
    our_runtime_or_skip(php)
    loaded = php.get("/ext.php").body.decode().split(",")
    missing = [e for e in EXTENSIONS if e not in loaded]
    assert not missing, f"missing {missing} in {loaded}"


def test_mysqli_without_a_server_fails_cleanly(php):
    our_runtime_or_skip(php)
    r = php.get(f"/mysql.php?port={conftest.free_port()}")
    assert r.status == 200
    assert r.body == b"failed 2002"


def test_gd_image_is_made_and_served(php):
    our_runtime_or_skip(php)
    r = php.get("/png.php")
    assert r.status == 200
    assert r.headers["content-type"] == "image/png"
    assert r.body[:8] == b"\x89PNG\r\n\x1a\n"
    assert r.headers["content-length"] == str(len(r.body))
    width, height = struct.unpack(">II", r.body[16:24])
    assert (width, height) == (40, 30)


def test_opcache_hits_and_an_edit_shows_at_once(php):
    our_runtime_or_skip(php)
    php.get("/status.php")
    import json
    status = json.loads(php.get("/status.php").body)
    assert status["enabled"] and status["hits"] >= 1 and status["cached"], status
    page = php.docs / "edited.php"
    page.write_text("<?php echo 'first';")
    backdate(page)
    assert php.get("/edited.php").body == b"first"
    assert php.get("/edited.php").body == b"first"
    page.write_text("<?php echo 'second';")
    assert php.get("/edited.php").body == b"second"
    page.write_text("<?php echo 'third';")
    assert php.get("/edited.php").body == b"third"


def test_version_is_the_embedded_runtimes_everywhere(php):
    php_or_skip(php)
    r = php.get("/version.php")
    version, software = r.body.decode().split("|")
    name = "Zorvane with PHP " + version
    assert conftest.WITH_PHP == name
    assert software == name
    assert r.header_lines[0] == f"Server: {name} V1.1"
    out = php.output()
    assert f"{name} running ..." in out
    assert "5.4.3" not in out and b"5.4.3" not in r.raw
    # The windowed program's title and autostart entry are built in the same way.
    gui = os.path.join(os.path.dirname(php.exe), "zorvane_gui")
    if os.path.exists(gui):
        with open(gui, "rb") as f:
            data = f.read()
        assert name.encode() in data and b"PHP 5.4.3" not in data


def test_missing_script_is_404_without_a_path(php):
    php_or_skip(php)
    for path in ["/nothere.php", "/sub/nothere.php"]:
        r = php.get(path)
        assert r.status == 404, path
        assert str(php.docs).encode() not in r.raw
        assert b"Failed opening" not in r.raw


def test_fully_buffered_answer_carries_its_length(php):
    php_or_skip(php)
    r = php.get("/hello.php")
    assert r.headers.get("content-length") == "5" and r.body == b"hello"
    # Output beyond the 4 KiB buffer went out while the script ran: it streams.
    r = php.get("/big.php")
    assert "content-length" not in r.headers and r.body == b"x" * 10000


def test_crash_in_request_shutdown_is_500_and_leaves_nothing_behind(php):
    our_runtime_or_skip(php)
    before = counts(php)
    log = php.base / "error.log"
    lines_before = log.read_text().count("\n") if log.exists() else 0
    n = 30
    with cf.ThreadPoolExecutor(15) as pool:
        answers = list(pool.map(lambda i: php.get("/crash.php" if i % 2 else "/destruct.php"), range(n)))
    for r in answers:
        assert r.status_line == "HTTP/1.1 500 Internal Server Error"
        assert r.body == b"PHP has encountered a Stack overflow"
    with cf.ThreadPoolExecutor(15) as pool:
        bodies = list(pool.map(lambda i: php.get("/fresh.php").body, range(n)))
    assert bodies == [b"fresh"] * n
    # One line each, or counted in the line that says how many were not logged.
    deadline = time.monotonic() + 3
    while True:
        lines = log.read_text().splitlines()[lines_before:]
        logged = sum("PHP has encountered a Stack overflow" in line for line in lines)
        counted = [int(m) for line in lines
                   for m in re.findall(r"(\d+) more request error lines? in the last second (?:was|were) not", line)]
        if logged + sum(counted) >= n or time.monotonic() > deadline:
            break
        time.sleep(0.1)
    assert logged + sum(counted) == n and logged + len(counted) == len(lines), lines
    assert counts(php) == before


def test_sent_segv_leaves_the_crash_guard_armed(php):
    php_or_skip(php)
    for _ in range(3):
        os.kill(php.proc.pid, signal.SIGSEGV)
    time.sleep(0.2)
    assert php.proc.poll() is None
    r = php.get("/overflow.php")
    assert r.status == 500 and r.body == b"PHP has encountered a Stack overflow"
    assert php.proc.poll() is None
    assert php.get("/hello.php").body == b"hello"


@pytest.mark.parametrize("tz,zone", [("Europe/Berlin", "Europe/Berlin"), (":America/New_York", "America/New_York")])
def test_date_follows_the_system_time_zone(make_server, tz, zone):
    if not os.path.exists(f"/usr/share/zoneinfo/{zone}"):
        pytest.skip("no zone files on this machine")
    s = make_server(cgi=".php;PHPBuildIn\n", env={"TZ": tz})
    (s.docs / "zone.php").write_text("<?php echo date_default_timezone_get();")
    s.start()
    r = s.get("/zone.php")
    if r.status != 200:
        pytest.skip("PHP runtime not available")
    assert r.body.decode() == zone
