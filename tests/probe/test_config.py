"""Virtual directories, MIME types, case, console options."""
import subprocess
import time

import pytest

from conftest import Response


def test_virtual_directory(make_server, tmp_path):
    pics = tmp_path / "pictures"
    pics.mkdir()
    (pics / "logo.png").write_bytes(b"PNG!")
    s = make_server(vdir=f"# comment\n\n  /img/ ; {pics} \n").start()
    r = s.get("/IMG/Logo.PNG")
    assert r.status == 200 and r.body == b"PNG!"
    assert r.headers["content-type"] == "image/png"
    r = s.get("/img")
    assert r.status == 301 and r.headers["location"] == "/img/"


def test_case_insensitive_fallback(make_server):
    s = make_server()
    (s.docs / "Docs").mkdir()
    (s.docs / "Docs" / "ReadMe.TXT").write_bytes(b"read me")
    s.start()
    assert s.get("/Docs/ReadMe.TXT").body == b"read me"
    assert s.get("/docs/readme.txt").body == b"read me"


def test_help_prints_usage(make_server):
    s = make_server()
    out = subprocess.run([s.exe, "--help"], capture_output=True, cwd=s.base, timeout=10)
    assert out.stdout == (
        b"Usage: zorvane_cmd.exe\r\n\r\n--host=<host>\r\n--port=<port>\r\n--docpath=<document path>\r\n"
        b"--loglevel=<0..3>\r\n--open-url=<url>\r\n--auto-finish=<finishcode>\r\n\r\n"
        b"<finishcode>: 0=run infinite, x=x seconds, -x=x requests\r\n\r\n"
        b"<loglevel>: 0=only errors, 1=default, 2=notice, 3=http headers\r\n\r\n"
        b"Example:\r\nStart webserver on port 81, open url, finish after 1 request.\r\n"
        b"zorvane_cmd.exe --port=81 --open-url=http://127.0.0.1:81/myscript.php --auto-finish=-1\r\n\r\n"
        b"Note: Default configuration in cfg/ directory is used.")
    assert out.returncode == 0


def test_auto_finish_seconds(make_server):
    s = make_server(extra_args=["--auto-finish=1"]).start()
    s.proc.wait(10)
    assert "Auto finish after 1 seconds" in s.output()
    assert "Webserver stopped" in s.output()


def test_missing_init_file_is_an_error(make_server):
    s = make_server()
    (s.base / "cfg" / "init.txt").unlink()
    out = subprocess.run([s.exe], capture_output=True, cwd=s.base, timeout=10)
    assert out.returncode != 0
    assert b"File not found" in out.stdout + out.stderr


def test_bind_failure_reported(make_server):
    s = make_server(extra_args=["--port=70000"])
    out = subprocess.run([s.exe, "--port=70000"], capture_output=True, cwd=s.base, timeout=10)
    assert b"Cannot bind to" in out.stdout + out.stderr
