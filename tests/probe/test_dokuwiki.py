"""A real PHP application on the server: Debian's DokuWiki, copied into a
temporary document folder and served on a free port. It is installed through
its install.php, then an administrator logs in, saves a page, uploads a file
with a non-ASCII name and logs out, as a browser would. Every redirect keeps
the port and no page or log line shows a PHP warning."""
import http.client
import re
import shutil
import struct
import urllib.parse
import zlib
from pathlib import Path

import pytest

DEBIAN_CODE = Path("/usr/share/dokuwiki")
DEBIAN_CONF = Path("/etc/dokuwiki")
DEBIAN_DATA = Path("/var/lib/dokuwiki/data")

PASSWORD = "Probe-Secret-1"
PHP_COMPLAINTS = re.compile(rb"(Warning|Notice|Deprecated|Fatal error|Parse error)(</b>)?:", re.I)


def tiny_png():
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"\x00\xff\x00\x00" * 1
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


class Browser:
    """Cookies, forms and redirects by hand, so that every answer is seen."""

    def __init__(self, port):
        self.port = port
        self.cookies = {}
        self.origin = f"http://127.0.0.1:{port}"
        self.pages = []

    def request(self, method, path, fields=None, files=None, raw=None):
        headers = {"User-Agent": "probe-browser/1", "Accept-Language": "en"}
        body = None
        if raw is not None:
            body = raw
            headers["Content-Type"] = "application/octet-stream"
            headers["X-Requested-With"] = "XMLHttpRequest"
        elif files is not None:
            boundary = "----probe7MA4YWxkTrZu0gW"
            parts = []
            for name, value in (fields or {}).items():
                parts.append(f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"\r\n\r\n{value}\r\n'
                             .encode())
            for name, (filename, content, kind) in files.items():
                # Browsers send the file name as UTF-8 bytes.
                parts.append(f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"; '
                             f'filename="{filename}"\r\nContent-Type: {kind}\r\n\r\n'.encode() + content + b"\r\n")
            body = b"".join(parts) + f"--{boundary}--\r\n".encode()
            headers["Content-Type"] = f"multipart/form-data; boundary={boundary}"
        elif fields is not None:
            body = urllib.parse.urlencode(fields).encode()
            headers["Content-Type"] = "application/x-www-form-urlencoded"
        if self.cookies:
            headers["Cookie"] = "; ".join(f"{k}={v}" for k, v in self.cookies.items())
        if method == "POST":
            headers["Origin"] = self.origin
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20)
        try:
            conn.request(method, path, body=body, headers=headers)
            r = conn.getresponse()
            data = r.read()
            answer = (r.status, r.getheaders(), data)
        finally:
            conn.close()
        for name, value in answer[1]:
            if name.lower() == "set-cookie":
                pair = value.split(";", 1)[0]
                key, _, val = pair.partition("=")
                expired = val in ("", "deleted") or re.search(r"max-age=0|expires=[^;]*19[0-9]{2}", value, re.I)
                if expired:
                    self.cookies.pop(key.strip(), None)
                else:
                    self.cookies[key.strip()] = val
        self.pages.append((method, path, answer[0], data))
        return answer

    def get(self, path):
        return self.request("GET", path)

    def location(self, answer):
        status, headers, _ = answer
        assert status in (301, 302, 303), (status, answer[2][:300])
        where = dict((k.lower(), v) for k, v in headers)["location"]
        # An absolute redirect must name the port the browser used.
        assert where.startswith(self.origin + "/") or where.startswith("/"), where
        return where[len(self.origin):] if where.startswith(self.origin) else where

    def follow(self, answer):
        return self.get(self.location(answer))


def hidden_fields(html, form_marker):
    """The hidden inputs of the form whose opening tag contains form_marker."""
    start = html.find(form_marker)
    assert start >= 0, form_marker
    end = html.find("</form>", start)
    fields = {}
    for tag in re.findall(r"<input[^>]*>", html[start:end]):
        if 'type="hidden"' not in tag:
            continue
        name = re.search(r'name="([^"]*)"', tag)
        value = re.search(r'value="([^"]*)"', tag)
        if name:
            fields[name.group(1)] = value.group(1).replace("&amp;", "&").replace("&quot;", '"') if value else ""
    return fields


def copy_dokuwiki(docs):
    """The package keeps its configuration and data outside the code, reached
    through links; the copy has the plain upstream layout, all of it writable."""
    shutil.rmtree(docs)
    shutil.copytree(DEBIAN_CODE, docs, symlinks=False, ignore=shutil.ignore_patterns(".htaccess"))
    (docs / "inc" / "preload.php").unlink()
    conf = docs / "conf"
    conf.mkdir()
    for f in DEBIAN_CONF.iterdir():
        if f.name in ("local.php", "acl.auth.php", "users.auth.php") or not f.is_file():
            continue
        shutil.copy(f, conf / f.name)
    main = (conf / "dokuwiki.php").read_text()
    (conf / "dokuwiki.php").write_text(main.replace("'/var/lib/dokuwiki/data'", "'./data'"))
    shutil.copytree(DEBIAN_DATA, docs / "data", symlinks=False)


@pytest.fixture
def dokuwiki(make_server):
    if not (DEBIAN_CODE / "doku.php").exists():
        pytest.skip("Debian's dokuwiki package is not installed (scripts/setup.sh installs it)")
    s = make_server(cgi=".php;PHPBuildIn\n")
    copy_dokuwiki(s.docs)
    return s.start()


def test_dokuwiki_installs_edits_uploads_and_logs_out(dokuwiki):
    b = Browser(dokuwiki.port)
    status, _, page = b.get("/install.php")
    if status == 500 and b"PHP" in page:
        pytest.skip("PHP runtime not available")
    assert status == 200 and b'name="d[title]"' in page, page[:500]
    status, _, page = b.request("POST", "/install.php", {
        "l": "en", "d[title]": "Probe Wiki", "d[acl]": "on", "d[superuser]": "admin",
        "d[fullname]": "Ada Admin", "d[email]": "ada@example.org", "d[password]": PASSWORD,
        "d[confirm]": PASSWORD, "d[policy]": "0", "d[allowreg]": "on", "d[license]": "cc-by-sa",
        "submit": ""})
    assert status == 200 and b"finished successfully" in page, page[-1500:]

    # Log in.
    status, _, page = b.get("/doku.php?id=start&do=login")
    assert status == 200
    form = hidden_fields(page.decode(), 'id="dw__login"')
    form.update({"u": "admin", "p": PASSWORD})
    status, _, page = b.follow(b.request("POST", "/doku.php?id=start&do=login", form))
    assert status == 200 and b"do=logout" in page, page[:2000]

    # Save a page.
    status, _, page = b.get("/doku.php?id=playground:probe&do=edit")
    form = hidden_fields(page.decode(), 'id="dw__editform"')
    form.update({"wikitext": "Hello from the probe, Grüße!", "summary": "probe", "do[save]": "Save"})
    status, _, page = b.follow(b.request("POST", "/doku.php?id=playground:probe", form))
    assert status == 200 and "Hello from the probe, Grüße!".encode() in page

    # Upload a file whose name is not ASCII, as the media manager's uploader
    # does: the name in the query, the file as the body.
    status, _, page = b.get("/doku.php?id=playground:probe&do=media&ns=playground&tab_files=upload")
    token = re.search(r'name="sectok" value="([0-9a-f]+)"', page.decode()).group(1)
    png = tiny_png()
    query = urllib.parse.urlencode({"tab_files": "files", "tab_details": "view", "do": "media", "ns": "playground",
                                    "call": "mediaupload", "sectok": token, "qqfile": "Blüte.png", "ow": "true"})
    status, _, answer = b.request("POST", "/lib/exe/ajax.php?" + query, raw=png)
    assert status == 200 and b'"success":true' in answer, answer
    stored = list((dokuwiki.docs / "data" / "media" / "playground").glob("bl*.png"))
    assert len(stored) == 1, list((dokuwiki.docs / "data" / "media").rglob("*"))
    assert stored[0].read_bytes() == png
    status, headers, data = b.get("/lib/exe/fetch.php?media=" + urllib.parse.quote("playground:blüte.png"))
    assert status == 200 and data == png

    # Log out.
    status, _, page = b.get("/doku.php?id=start")
    logout = re.search(r'href="([^"]*do=logout[^"]*)"', page.decode()).group(1).replace("&amp;", "&")
    answer = b.get(logout if logout.startswith("/") else "/" + logout.split("/", 3)[-1])
    status, _, page = b.follow(answer) if answer[0] in (301, 302, 303) else answer
    assert status == 200 and b"do=login" in page and b"do=logout" not in page

    for method, path, status, data in b.pages:
        assert not PHP_COMPLAINTS.search(data), (method, path, PHP_COMPLAINTS.search(data).group(0),
                                                 data[max(0, PHP_COMPLAINTS.search(data).start() - 300):][:600])
    assert not PHP_COMPLAINTS.search(dokuwiki.output().encode()), dokuwiki.output()[-3000:]
