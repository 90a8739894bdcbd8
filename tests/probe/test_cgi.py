"""CGI programs by the rules, seen from a client: status lines, bad output,
standard error, clients that leave, programs that leave children behind.
The server's descriptors and children are checked before and after."""
import os
import socket
import time

import pytest

TEXT = "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n"


@pytest.fixture
def cgi(make_server):
    s = make_server(cgi=".sh;/bin/sh\n")
    d = s.docs
    scripts = {
        "hello.sh": TEXT + "printf hello\n",
        "missing.sh": "printf 'Status: 404 Not Found\\r\\nContent-Type: text/plain\\r\\n\\r\\nno such thing'\n",
        "moved.sh": "printf 'Location: http://localhost/elsewhere\\r\\n\\r\\n'\n",
        "garbled.sh": "printf 'this is no header\\r\\n\\r\\nleaked'\n",
        "crash.sh": "echo 'dying now' >&2\nkill -SEGV $$\n",
        "silent.sh": "exit 0\n",
        "warns.sh": TEXT + "printf out\nprintf 'warn \\033[31mred\\n' >&2\n",
        "waiting.sh": "sleep 30 & echo $! > waiting-child.pid\necho $$ > waiting.pid\n" + TEXT
                      + "printf started\nwait\n",
        "mute.sh": "echo $$ > mute.pid\nexec sleep 30\n",
        "holder.sh": "sleep 30 & echo $! > holder.pid\n" + TEXT + "printf done\n",
        "detached.sh": "sleep 30 >/dev/null 2>&1 & echo $! > detached.pid\n" + TEXT + "printf done\n",
    }
    for name, text in scripts.items():
        (d / name).write_text(text)
    return s.start()


def body(r):
    """What follows the header block (whose lines end in CR LF, whatever the program used)."""
    return r.raw.partition(b"\r\n\r\n")[2]


def error_log(s):
    try:
        return (s.base / "error.log").read_bytes()
    except OSError:
        return b""


def wait_for(condition, seconds=5.0):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.02)
    return condition()


def ended(pid):
    """Gone, or a zombie waiting for whoever inherited it."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rpartition(")")[2].split()[0] == "Z"
    except OSError:
        return True


def read_pid(s, name):
    # The programs write it into their working directory, their own folder.
    path = s.docs / name
    assert wait_for(lambda: path.exists() and path.read_text().strip() != ""), name
    return int(path.read_text())


def descriptors(s):
    return len(os.listdir(f"/proc/{s.proc.pid}/fd"))


def threads(s):
    return len(os.listdir(f"/proc/{s.proc.pid}/task"))


def children(s):
    found = []
    for task in os.listdir(f"/proc/{s.proc.pid}/task"):
        try:
            with open(f"/proc/{s.proc.pid}/task/{task}/children") as f:
                found += f.read().split()
        except OSError:
            pass
    return found


def test_status_line_comes_from_the_program(cgi):
    r = cgi.get("/missing.sh")
    assert r.status_line == "HTTP/1.1 404 Not Found"
    assert "status" not in r.headers
    assert body(r) == b"no such thing"
    r = cgi.get("/moved.sh")
    assert r.status == 302
    assert r.headers["location"] == "http://localhost/elsewhere"


@pytest.mark.parametrize("path,text", [
    ("/garbled.sh", b"The CGI program sent a malformed header line."),
    ("/crash.sh", b"The CGI program ended by signal 11 (SIGSEGV) before any output."),
    ("/silent.sh", b"The CGI program ended with exit code 0 before any output."),
])
def test_bad_output_answers_502(cgi, path, text):
    r = cgi.get(path)
    assert r.status_line == "HTTP/1.1 502 Bad Gateway"
    assert b"<p>" + text + b"</p>" in r.body
    assert str(cgi.docs).encode() not in r.raw, "no path reaches the client"
    assert b"leaked" not in r.body and b"dying" not in r.body
    assert wait_for(lambda: text in error_log(cgi))


def test_standard_error_goes_to_error_log(cgi):
    r = cgi.get("/warns.sh")
    assert r.status == 200
    assert body(r) == b"out"
    line = f"CGI {cgi.docs / 'warns.sh'}: warn \\x1b[31mred".encode()
    assert wait_for(lambda: line in error_log(cgi)), error_log(cgi)
    assert b"\x1b" not in error_log(cgi)


@pytest.mark.parametrize("path,pid_file,child_file,read_first", [
    ("/waiting.sh", "waiting.pid", "waiting-child.pid", True),
    ("/mute.sh", "mute.pid", None, False),
])
def test_quiet_program_ends_when_the_client_leaves(cgi, path, pid_file, child_file, read_first):
    with socket.create_connection(("127.0.0.1", cgi.port), timeout=5) as c:
        c.sendall(f"GET {path} HTTP/1.1\r\nHost: localhost\r\n\r\n".encode())
        if read_first:
            assert c.recv(4096)
        pid = read_pid(cgi, pid_file)
        child = read_pid(cgi, child_file) if child_file else None
    assert wait_for(lambda: ended(pid), 3), "the program outlived its client"
    if child:
        assert wait_for(lambda: ended(child), 3), "the program's child outlived the client"


@pytest.mark.parametrize("name", ["holder", "detached"])
def test_programs_children_end_with_it(cgi, name):
    started = time.time()
    r = cgi.get(f"/{name}.sh")
    assert body(r) == b"done"
    assert time.time() - started < 5, "a child holding the output open does not hold the answer"
    child = read_pid(cgi, f"{name}.pid")
    assert wait_for(lambda: ended(child), 3)


def test_misbehaving_programs_leave_no_descriptor_thread_or_child(cgi):
    cgi.get("/hello.sh")
    fds = descriptors(cgi)
    tasks = threads(cgi)
    for path in ["/garbled.sh", "/crash.sh", "/silent.sh", "/holder.sh", "/detached.sh", "/warns.sh"]:
        cgi.get(path)
    for path in ["/mute.sh", "/waiting.sh"]:
        with socket.create_connection(("127.0.0.1", cgi.port), timeout=5) as c:
            c.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
            time.sleep(0.2)
    assert wait_for(lambda: descriptors(cgi) <= fds, 5), (descriptors(cgi), fds)
    assert wait_for(lambda: children(cgi) == [], 5), children(cgi)
    assert wait_for(lambda: threads(cgi) <= tasks, 5), (threads(cgi), tasks)
    assert body(cgi.get("/hello.sh")) == b"hello"


def test_trickling_body_ends_at_its_progress_window(make_server):
    s = make_server(cgi=".sh;/bin/sh\n", env={"ZORVANE_BODY_TIMEOUT_MS": "1500"})
    (s.docs / "echo.sh").write_text(TEXT + "cat\n")
    s.start()
    s.get("/echo.sh")
    fds = descriptors(s)
    with socket.create_connection(("127.0.0.1", s.port), timeout=10) as c:
        # Too large for the server to wait for before the program starts.
        c.sendall(b"POST /echo.sh HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1000000\r\n\r\nab")
        c.setblocking(False)
        started = time.time()
        answer = b""
        # One byte every 200 ms: never silent long enough for the receive time-out.
        while time.time() - started < 8:
            try:
                c.send(b"c")
            except OSError:
                pass
            time.sleep(0.2)
            try:
                data = c.recv(65536)
            except BlockingIOError:
                continue
            if not data:
                break
            answer += data
        took = time.time() - started
    # Too little moved within the window: 408, and the program never ran
    # on a part of the body.
    assert took < 4, "the body's window did not end the upload"
    assert answer.startswith(b"HTTP/1.1 408 Request Timeout"), answer[:100]
    assert b"abc" not in answer
    assert wait_for(lambda: descriptors(s) <= fds, 5), (descriptors(s), fds)


def test_program_runs_in_its_folder_with_absolute_paths(make_server):
    # The shipped configuration names its document folder relatively.
    s = make_server(cgi=".sh;/bin/sh\n.run;\n", extra_args=["--docpath=docs"])
    tools = s.docs / "tools"
    tools.mkdir()
    (tools / "beside.txt").write_text("found beside")
    (tools / "where.sh").write_text(TEXT + "pwd; cat beside.txt; echo\n"
                                    "echo \"$DOCUMENT_ROOT|$SCRIPT_FILENAME|${PATH_TRANSLATED-unset}\"\n")
    (s.docs / "warn.sh").write_text(TEXT + "echo marker >&2\n")
    s.start()
    docs = os.path.realpath(s.docs)
    lines = body(s.get("/tools/where.sh/p%20q/r")).decode().splitlines()
    assert lines == [f"{docs}/tools", "found beside", f"{docs}|{docs}/tools/where.sh|{docs}/p q/r"]
    assert body(s.get("/tools/where.sh")).decode().splitlines()[2] == f"{docs}|{docs}/tools/where.sh|unset"
    # A script that is not there is a missing page: no interpreter starts,
    # nothing reaches the error log between two lines of a program that warns.
    s.get("/warn.sh")
    assert wait_for(lambda: b"marker" in error_log(s))
    before = error_log(s)
    for path in ["/tools/nothing.sh", "/nothing.sh/more", "/nothing.run"]:
        r = s.get(path)
        assert r.status == 404, r.raw
        assert docs.encode() not in r.raw
    s.get("/warn.sh")
    assert wait_for(lambda: error_log(s).count(b"marker") == 2)
    assert error_log(s).count(b"\n") == before.count(b"\n") + 1, error_log(s)
