"""A real CGI program on the server: Debian's gitweb, a Perl script, copied
into a temporary document folder and run over a small repository. Its
configuration lies beside it and is found through the working directory, its
pages name the commits, files come out byte for byte (a snapshot too), PATH_INFO
addresses a project, and the error log stays free of the program's complaints."""
import gzip
import io
import os
import shutil
import subprocess
import tarfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest
from conftest import Response

GITWEB = Path("/usr/share/gitweb")
GIT = Path("/usr/bin/git")
PERL = Path("/usr/bin/perl")

README = b"Probe repository\n"
MAIN_C = b'#include <stdio.h>\n\nint main(void)\n{\n    puts("hello");\n    return 0;\n}\n'
# Every byte value, with the CR LF pairs a header parser would trip over.
DATA = bytes(range(256)) + b"\r\n\r\nafter a blank line\n"
SUBJECTS = ["Start with a README", "Add the program in src", "Add binary data and a second line"]


def git(repo, *args, env=None):
    return subprocess.run([str(GIT), "-C", str(repo), *args], check=True, capture_output=True,
                          env=env).stdout.decode().strip()


def make_repository(base):
    """Three commits with fixed dates and names, so that each run makes the
    same objects; served bare, as gitweb's projects usually are."""
    work = base / "work"
    work.mkdir()
    env = dict(os.environ, HOME=str(base), GIT_CONFIG_NOSYSTEM="1", TZ="UTC")
    git(work, "init", "-q", "-b", "main", env=env)
    git(work, "config", "user.name", "Probe Author", env=env)
    git(work, "config", "user.email", "probe@example.org", env=env)
    steps = [
        {"README.txt": README},
        {"src/main.c": MAIN_C},
        {"data.bin": DATA, "README.txt": README + b"Second line\n"},
    ]
    shas = []
    for i, (files, subject) in enumerate(zip(steps, SUBJECTS)):
        for name, content in files.items():
            (work / name).parent.mkdir(exist_ok=True)
            (work / name).write_bytes(content)
        date = f"2024-01-0{i + 1}T12:00:00+0000"
        git(work, "add", "-A", env=env)
        git(work, "commit", "-q", "-m", subject, env=dict(env, GIT_AUTHOR_DATE=date, GIT_COMMITTER_DATE=date))
        shas.append(git(work, "rev-parse", "HEAD", env=env))
    projects = base / "projects"
    projects.mkdir()
    git(base, "clone", "-q", "--bare", str(work), str(projects / "repo.git"), env=env)
    (projects / "repo.git" / "description").write_text("Repository of the probe\n")
    return projects, shas


@pytest.fixture
def gitweb(make_server, tmp_path):
    if not ((GITWEB / "gitweb.cgi").exists() and GIT.exists() and PERL.exists()):
        pytest.skip("gitweb or git is not installed (scripts/setup.sh installs them)")
    if subprocess.run([str(PERL), "-MCGI", "-e", "1"], capture_output=True).returncode != 0:
        pytest.skip("Perl's CGI module is not installed (the gitweb package brings it)")
    projects, shas = make_repository(tmp_path)
    # Perl no longer looks for do "name" in the current folder: "-I." puts it
    # back, so gitweb's own default, "gitweb_config.perl", is found only when
    # the program runs in its script's folder.
    s = make_server(cgi=".cgi;/usr/bin/perl -I.\n")
    shutil.copy(GITWEB / "gitweb.cgi", s.docs / "gitweb.cgi")
    shutil.copytree(GITWEB / "static", s.docs / "static")
    (s.docs / "gitweb_config.perl").write_text(
        f'our $projectroot = "{projects}";\nour $site_name = "Probe Git";\n'
        'our @stylesheets = ("static/gitweb.css");\n1;\n')
    s.shas = shas
    return s.start()


def fetch(s, path, method="GET"):
    # The Host a browser sends, port and all: gitweb builds its absolute URLs from it.
    r = Response(s.raw(f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{s.port}\r\nConnection: close\r\n\r\n"))
    assert r.status == 200, (path, r.status_line, r.body[:500], error_log(s)[-2000:])
    return r


def error_log(s):
    try:
        return (s.base / "error.log").read_text(errors="replace")
    except OSError:
        return ""


def test_gitweb_shows_a_repository(gitweb):
    s = gitweb
    first, second, last = s.shas
    summary = "/gitweb.cgi?p=repo.git;a=summary"
    paths = ["/gitweb.cgi", summary, "/gitweb.cgi?p=repo.git;a=log", f"/gitweb.cgi?p=repo.git;a=commit;h={second}",
             "/gitweb.cgi?p=repo.git;a=tree;hb=main", "/gitweb.cgi?p=repo.git;a=blob_plain;f=src/main.c;hb=main",
             f"/gitweb.cgi?p=repo.git;a=blob_plain;f=data.bin;hb={last}", "/gitweb.cgi/repo.git",
             "/gitweb.cgi/repo.git/blob_plain/main:/README.txt", "/gitweb.cgi?p=repo.git;a=snapshot;h=main;sf=tgz",
             "/static/gitweb.css"]
    # Several programs at once, as a browser's parallel connections would
    # have them: each answer must still be its own.
    with ThreadPoolExecutor(4) as pool:
        head = pool.submit(fetch, s, summary, "HEAD")
        pages = dict(zip(paths, pool.map(lambda path: fetch(s, path), paths)))
        head = head.result()

    r = pages["/gitweb.cgi"]
    assert r.headers["content-type"].startswith("text/html"), r.headers
    assert b"Probe Git" in r.body, "gitweb_config.perl beside the script was not read"
    assert b"Repository of the probe" in r.body, r.body[:3000]
    assert b'href="/gitweb.cgi?p=repo.git;a=summary"' in r.body, r.body[:3000]

    r = pages[summary]
    assert r.headers["content-type"].startswith("text/html")
    for subject in SUBJECTS:
        assert subject.encode() in r.body and subject.encode() in pages["/gitweb.cgi?p=repo.git;a=log"].body, subject
    # A HEAD request gets the same head and no body.
    assert head.body == b"" and head.headers["content-type"] == r.headers["content-type"]

    r = pages[f"/gitweb.cgi?p=repo.git;a=commit;h={second}"]
    assert SUBJECTS[1].encode() in r.body and b"src/main.c" in r.body and first.encode() in r.body
    r = pages["/gitweb.cgi?p=repo.git;a=tree;hb=main"]
    assert b"README.txt" in r.body and b"data.bin" in r.body and b">src<" in r.body, r.body[-3000:]

    assert pages["/gitweb.cgi?p=repo.git;a=blob_plain;f=src/main.c;hb=main"].body == MAIN_C
    r = pages[f"/gitweb.cgi?p=repo.git;a=blob_plain;f=data.bin;hb={last}"]
    assert r.headers["content-type"].startswith("application/octet-stream") and r.body == DATA

    # PATH_INFO names the project, the action and the file.
    r = pages["/gitweb.cgi/repo.git"]
    assert SUBJECTS[2].encode() in r.body and b"static/gitweb.css" in r.body
    # Relative links resolve against the script, not against the PATH_INFO.
    assert f'<base href="http://127.0.0.1:{s.port}/gitweb.cgi" />'.encode() in r.body, r.body[:1500]
    r = pages["/gitweb.cgi/repo.git/blob_plain/main:/README.txt"]
    assert r.headers["content-type"].startswith("text/plain") and r.body == README + b"Second line\n"

    r = pages["/gitweb.cgi?p=repo.git;a=snapshot;h=main;sf=tgz"]
    assert r.headers["content-type"].startswith("application/x-gzip"), r.headers
    with tarfile.open(fileobj=io.BytesIO(gzip.decompress(r.body))) as tar:
        names = tar.getnames()
        member = next(n for n in names if n.endswith("src/main.c"))
        assert tar.extractfile(member).read() == MAIN_C, names

    r = pages["/static/gitweb.css"]
    css = (GITWEB / "static" / "gitweb.css").read_bytes()
    assert r.headers["content-type"].startswith("text/css") and r.body == css

    # Nothing the program wrote to its standard error, nor a failed start.
    assert "gitweb.cgi" not in error_log(s) and "CGI" not in error_log(s), error_log(s)
