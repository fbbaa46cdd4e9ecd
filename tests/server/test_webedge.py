"""tx4410-server's web edge as raw HTTP and WebSocket clients see it, the ones that mean harm
among them: every spelling of a protected path against the one gate, framing that two readers
could disagree on, the panel's headers, a TLS proxy's requests (those of server.md's own nginx
example), odd and oversized requests, unfinished and silent ones, the connection budget, the
WebSocket's protocol faults and the pages' places. Run in a private network
(scripts/private-network.sh), as the other server tests.
"""
import base64
import collections
import json
import os
import re
import select
import socket
import struct
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_server import Server  # noqa: E402

TOKEN = "0123456789abcdef"
SERVER_MD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "server.md")
CSP = "default-src 'self'; frame-ancestors 'none'; form-action 'self'; base-uri 'none'"

Reply = collections.namedtuple("Reply", "status fields body")


class Raw:
    """One connection as bytes, its answers read one by one."""

    def __init__(self, port, timeout=5, address="127.0.0.1"):
        self.sock = socket.create_connection((address, port), timeout=timeout)
        self.buffer = b""

    def send(self, data):
        self.sock.sendall(data)

    def _more(self):
        try:
            chunk = self.sock.recv(65536)
        except ConnectionResetError:
            chunk = b""
        self.buffer += chunk
        return chunk

    def reply(self, head=False):
        """The next answer (1xx passed over), or None when the server closed first."""
        while True:
            while b"\r\n\r\n" not in self.buffer:
                if not self._more():
                    return None
            top, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
            lines = top.decode("latin-1").split("\r\n")
            status = int(lines[0].split()[1])
            fields = {}
            for line in lines[1:]:
                name, value = line.split(":", 1)
                fields[name.strip().lower()] = value.strip()
            if status == 100:
                continue
            length = 0 if head or status == 101 else int(fields.get("content-length", "0"))
            while len(self.buffer) < length:
                if not self._more():
                    return None
            body, self.buffer = self.buffer[:length], self.buffer[length:]
            return Reply(status, fields, body)

    def closed(self):
        """Whether the server closes with nothing more said."""
        while self._more():
            pass
        return self.buffer == b""

    def close(self):
        self.sock.close()


def request(method, target, host, *fields, body=b"", version="HTTP/1.1"):
    lines = [f"{method} {target} {version}"] + ([f"Host: {host}"] if host is not None else [])
    lines += list(fields) + ([f"Content-Length: {len(body)}"] if body else [])
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


def upgrade_fields(origin=None):
    key = base64.b64encode(os.urandom(16)).decode()
    return ["Upgrade: websocket", "Connection: Upgrade", f"Sec-WebSocket-Key: {key}",
            "Sec-WebSocket-Version: 13"] + ([f"Origin: {origin}"] if origin else [])


def frame(first, payload, masked=True):
    """A client's frame: `first` is FIN, the reserved bits and the opcode."""
    mask = os.urandom(4) if masked else b""
    size = len(payload)
    head = bytes([first]) + (bytes([(0x80 if masked else 0) | size]) if size < 126 else
                             bytes([(0x80 if masked else 0) | 126]) + struct.pack(">H", size))
    return head + mask + (bytes(b ^ mask[i % 4] for i, b in enumerate(payload)) if masked else payload)


class Page:
    """A page's WebSocket, opened as a browser opens it."""

    def __init__(self, port, cookie=None):
        self.raw = Raw(port)
        fields = upgrade_fields(f"http://127.0.0.1:{port}") + ([f"Cookie: {cookie}"] if cookie else [])
        self.raw.send(request("GET", "/panel/socket", f"127.0.0.1:{port}", *fields))
        self.status = self.raw.reply().status

    def send(self, data):
        self.raw.send(data)

    def frame(self):
        """The server's next frame, (opcode, payload); None when it closed."""
        while len(self.raw.buffer) < 2 or len(self.raw.buffer) < self._length():
            if not self.raw._more():
                return None
        size = self._length()
        first, payload = self.raw.buffer[0], self.raw.buffer[self._start():size]
        self.raw.buffer = self.raw.buffer[size:]
        assert first & 0x80, "the server's frames are whole"
        return first & 0x0F, payload

    def _start(self):
        size = self.raw.buffer[1] & 0x7F
        assert not self.raw.buffer[1] & 0x80, "the server's frames are never masked"
        return 2 if size < 126 else 4 if size == 126 else 10

    def _length(self):
        size = self.raw.buffer[1] & 0x7F
        if size == 126:
            if len(self.raw.buffer) < 4:
                return 4
            size = struct.unpack(">H", self.raw.buffer[2:4])[0]
        elif size == 127:
            if len(self.raw.buffer) < 10:
                return 10
            size = struct.unpack(">Q", self.raw.buffer[2:10])[0]
        return self._start() + size

    def message(self, kind):
        """The next JSON message of that type; None when the socket closed."""
        while (got := self.frame()) is not None:
            if got[0] == 1 and json.loads(got[1])["type"] == kind:
                return json.loads(got[1])
        return None

    def close_code(self):
        """The code of the server's close frame, past the messages before it."""
        while (got := self.frame()) is not None:
            if got[0] == 8:
                return struct.unpack(">H", got[1][:2])[0]
        return None

    def close(self):
        self.raw.close()


def text_frame(message):
    return frame(0x81, json.dumps(message).encode())


class WebEdgeTest(unittest.TestCase):
    def serve(self, *arguments, listen="127.0.0.1:0"):
        server = Server("--http", listen.rsplit(":", 1)[0] + ":0", *arguments, listen=listen)
        self.addCleanup(server.ends_well, self)
        server.http = server.endpoint("HTTP on")
        return server

    def token_file(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        path = os.path.join(scratch.name, "token")
        with open(path, "w") as file:
            file.write(TOKEN + "\n")
        return path

    def ask(self, server, data, head=False):
        raw = Raw(server.http)
        try:
            raw.send(data)
            return raw.reply(head)
        finally:
            raw.close()

    def dac_a(self, server):
        with server.socket() as sock:
            sock.sendall(b"SOUR1:VOLT:CODE?\n")
            return sock.recv(64).strip().decode()

    def sweep(self, server):
        """A short sweep from a page, so that the panel has files to hand out."""
        page = Page(server.http, cookie=f"tx4410_token={TOKEN}")
        page.send(text_frame({"id": 1, "action": "sweep", "channel": 2, "points": "16"}))
        server.expect("sweep from the front panel done", seconds=60)
        page.close()
        own = f"127.0.0.1:{server.http}"
        deadline = time.monotonic() + 30
        while self.ask(server, request("GET", "/panel/made/sweep.png", own,
                                       f"Cookie: tx4410_token={TOKEN}")).status != 200:
            self.assertLess(time.monotonic(), deadline, "the sweep's picture never came")
            time.sleep(0.2)

    def test_every_spelling_of_a_protected_path(self):
        server = self.serve("--http-token", self.token_file())
        self.sweep(server)
        own = f"127.0.0.1:{server.http}"
        rebound = f"rebound.example:{server.http}"
        cookie = f"Cookie: tx4410_token={TOKEN}"

        def spellings(path):  # a name, and the target it is spelt as
            return [("a letter percent-encoded", path.replace("/panel", "/p%61nel", 1)),
                    ("an escape in capital hex", path.replace("/panel", "/pa%6Eel", 1)),
                    ("slashes percent-encoded", "/panel" + path[6:].replace("/", "%2F")),
                    ("dot segments", "/x/y/../.." + path),
                    ("dot segments percent-encoded", "/x/%2e%2E" + path),
                    ("a dot segment inside", path.replace("/panel/", "/panel/./", 1)),
                    ("repeated slashes", path.replace("/", "//")),
                    ("a query", path + "?/panel/login")]

        for path in ["/panel/", "/panel/panel.js", "/panel/made/sweep.csv",
                     "/panel/made/sweep.png", "/panel/socket"]:
            fields = upgrade_fields() if path.endswith("socket") else []
            for who, host, extra, plain_status in [
                    ("a rebound name", rebound, [], 421),
                    ("no token", own, [], 401 if fields else 303),
                    ("the token", own, [cookie], 101 if fields else 200)]:
                def answer(target, before=b"", authority=None):
                    raw = Raw(server.http)
                    try:
                        if authority:
                            target = f"http://{authority}{target}"
                        raw.send(before + request("GET", target, own if authority else host,
                                                  *fields, *extra))
                        if before:
                            self.assertIn(raw.reply().status, (200, 404))
                        got = raw.reply()
                        return got.status, got.fields.get("location"), got.body
                    finally:
                        raw.close()

                plain = answer(path)
                self.assertEqual(plain[0], plain_status, f"{path} for {who}")
                rows = spellings(path) + [
                    ("absolute form", path, b"", host),
                    ("pipelined after a 404", path, request("GET", "/nothing", own)),
                    ("pipelined after a 200", path, request("GET", "/", own))]
                for row in rows:
                    name, target, before, authority = (row + (b"", None))[:4]
                    with self.subTest(path=path, who=who, spelling=name):
                        self.assertEqual(answer(target, before, authority), plain)
        self.assertEqual(server.stop(), 0)

    def test_framing_two_readers_could_disagree_on(self):
        server = self.serve("--http-token", self.token_file())
        self.sweep(server)
        own = f"127.0.0.1:{server.http}"
        # What a second reader would take for a request of its own: the sweep, with the token.
        hidden = request("GET", "/panel/made/sweep.csv", own, f"Cookie: tx4410_token={TOKEN}")
        chunked = b"0\r\n\r\n" + hidden
        rows = [  # the head's fields, what follows it, the answer
            (["Content-Length: %d" % len(chunked), "Transfer-Encoding: chunked"], chunked, 400),
            (["Transfer-Encoding: chunked", "Content-Length: %d" % len(chunked)], chunked, 400),
            (["Transfer-Encoding: chunked"], chunked, 501),
            (["Content-Length: 0", "Content-Length: %d" % len(hidden)], hidden, 400),
            (["Content-Length: %d" % len(hidden), "Content-Length: %d" % len(hidden)], hidden, 400),
            (["Content-Length: 0, 0"], hidden, 400),
            (["X-Folded: a", " Content-Length: 0"], hidden, 400),
        ]
        for fields, after, status in rows:
            with self.subTest(fields=fields):
                raw = Raw(server.http)
                raw.send(request("POST", "/", own, *fields) + after)
                reply = raw.reply()
                self.assertEqual((reply.status, reply.fields.get("connection")), (status, "close"))
                self.assertTrue(raw.closed(), "something after it was answered")
                raw.close()
        self.assertEqual(server.stop(), 0)

    def test_headers_on_every_panel_answer(self):
        server = self.serve("--http-token", self.token_file())
        own = f"127.0.0.1:{server.http}"
        cookie = f"Cookie: tx4410_token={TOKEN}"
        form = f"token={TOKEN}".encode()
        rows = [  # method, path, host, fields, body, status, content type
            ("GET", "/panel/", own, [cookie], b"", 200, "text/html; charset=utf-8"),
            ("HEAD", "/panel/", own, [cookie], b"", 200, "text/html; charset=utf-8"),
            ("GET", "/panel/panel.js", own, [cookie], b"", 200, "text/javascript; charset=utf-8"),
            ("GET", "/panel/panel.css", own, [], b"", 200, "text/css; charset=utf-8"),
            ("GET", "/panel", own, [cookie], b"", 303, None),
            ("GET", "/panel/nothing", own, [cookie], b"", 404, None),
            ("GET", "/panel/made/sweep.csv", own, [cookie], b"", 404, None),  # none yet
            ("GET", "/panel/", f"rebound.example:{server.http}", [], b"", 421, None),
            ("GET", "/panel/panel.js", own, [], b"", 303, None),
            ("GET", "/panel/login", own, [], b"", 200, "text/html; charset=utf-8"),
            ("POST", "/panel/login", own, [], b"token=wrong", 401, "text/html; charset=utf-8"),
            ("POST", "/panel/login", own, [], form, 303, None),
            ("POST", "/panel/", own, [cookie], b"x", 405, None),
        ]
        for method, path, host, fields, body, status, kind in rows:
            with self.subTest(method=method, path=path, host=host, fields=fields):
                reply = self.ask(server, request(method, path, host, *fields, body=body),
                                 head=method == "HEAD")
                self.assertEqual(reply.status, status)
                self.assertEqual(reply.fields.get("content-security-policy"), CSP)
                self.assertEqual(reply.fields.get("x-frame-options"), "DENY")
                self.assertEqual(reply.fields.get("x-content-type-options"), "nosniff")
                self.assertEqual(reply.fields.get("referrer-policy"), "no-referrer")
                if kind:
                    self.assertEqual(reply.fields.get("content-type"), kind)
                # The token's cookie: for the panel alone, out of scripts' reach, never sent
                # with another site's requests.
                self.assertEqual(reply.fields.get("set-cookie"),
                                 f"tx4410_token={TOKEN}; Path=/panel; HttpOnly; SameSite=Strict"
                                 if body == form else None)
        self.assertEqual(server.stop(), 0)

    def proxied(self, location, path, host, origin=None, extra=()):
        """A request as server.md's nginx example passes it on: the fields that its location
        sets, the version it speaks, and what nginx passes as the browser sent it."""
        with open(SERVER_MD) as page:
            example = re.search(r"```nginx\n(.*?)```", page.read(), re.S).group(1)
        block = re.search(r"location %s \{(.*?)\}" % re.escape(location), example, re.S).group(1)
        socket_ = path.endswith("/socket")
        variables = {"$host": host, "$http_host": host,
                     "$http_upgrade": "websocket" if socket_ else "",
                     "$proxy_add_x_forwarded_for": "10.44.0.2"}
        fields = []
        for name, value in re.findall(r"proxy_set_header (\S+) (.+?);", block):
            value = value.strip('"')
            for variable in re.findall(r"\$\w+", value):
                self.assertIn(variable, variables, "a variable the test does not know")
                value = value.replace(variable, variables[variable])
            if value:  # nginx leaves out a field set empty
                fields.append(f"{name}: {value}")
        version = re.search(r"proxy_http_version ([\d.]+);", block)
        passed = [f"Sec-WebSocket-Key: {base64.b64encode(os.urandom(16)).decode()}",
                  "Sec-WebSocket-Version: 13"] if socket_ else []
        passed += [f"Origin: {origin}"] if origin else []
        return "\r\n".join([f"{'POST' if extra else 'GET'} {path} HTTP/{version.group(1) if version else '1.0'}"]
                           + fields + passed + list(extra)).encode() + b"\r\n\r\n"

    def test_behind_a_tls_proxy(self):
        public = "https://bench7.example"
        rows = [  # --http-origin, the location, path, host, origin, the answer
            (None, "/", "/panel/", "bench7.example", None, 421),
            (None, "/panel/socket", "/panel/socket", "bench7.example", public, 421),
            (None, "/", "/lxi/identification", "bench7.example", None, 200),
            (public, "/", "/panel/", "bench7.example", None, 200),
            (public, "/", "/panel/", "bench7.example:443", None, 200),
            (public, "/", "/panel/", "bench7.example:8443", None, 421),
            (public, "/", "/panel/", "bench7.example.evil.example", None, 421),
            (public, "/panel/socket", "/panel/socket", "bench7.example", public, 101),
            (public, "/panel/socket", "/panel/socket", "bench7.example", public + ":443", 101),
            (public, "/panel/socket", "/panel/socket", "bench7.example", "http://bench7.example", 403),
            (public, "/panel/socket", "/panel/socket", "bench7.example", public + ":8443", 403),
            (public, "/panel/socket", "/panel/socket", "bench7.example", public + ".evil.example", 403),
            (public, "/panel/socket", "/panel/socket", "bench7.example", "https://evil.example", 403),
            (public + ":8443", "/", "/panel/", "bench7.example:8443", None, 200),
            (public + ":8443", "/", "/panel/", "bench7.example", None, 421),
            ("https://other.example," + public, "/panel/socket", "/panel/socket", "bench7.example", public, 101),
        ]
        servers = {}
        for origins, location, path, host, origin, status in rows:
            with self.subTest(origins=origins, path=path, host=host, origin=origin):
                if origins not in servers:
                    servers[origins] = self.serve(*(["--http-origin", origins] if origins else []))
                server = servers[origins]
                self.assertEqual(self.ask(server, self.proxied(location, path, host, origin)).status,
                                 status)
        # Signing in through the proxy: the form's POST, the cookie back.
        server = self.serve("--http-origin", public, "--http-token", self.token_file())
        form = f"token={TOKEN}"
        reply = self.ask(server, self.proxied("/", "/panel/login", "bench7.example", public,
                                              extra=["Content-Type: application/x-www-form-urlencoded",
                                                     f"Content-Length: {len(form)}"]) + form.encode())
        self.assertEqual((reply.status, reply.fields.get("location")), (303, "/panel/"))
        self.assertIn(f"tx4410_token={TOKEN}", reply.fields.get("set-cookie", ""))
        for each in list(servers.values()) + [server]:
            self.assertEqual(each.stop(), 0)

    def test_no_port_means_80(self):
        # Neither Host nor Origin names the port: both mean 80.
        server = self.serve(listen="127.0.0.1:0")
        with self.subTest("on another port"):
            reply = self.ask(server, request("GET", "/panel/socket", "127.0.0.1",
                                             *upgrade_fields("http://127.0.0.1")))
            self.assertEqual(reply.status, 421)
        self.assertEqual(server.stop(), 0)
        on80 = Server("--http", "127.0.0.1:80", listen="127.0.0.1:0")
        self.addCleanup(on80.ends_well, self)
        on80.http = on80.endpoint("HTTP on")
        self.assertEqual(on80.http, 80)
        rows = [("http://127.0.0.1", 101), ("http://127.0.0.1:80", 101), ("https://127.0.0.1", 403),
                ("http://127.0.0.1:8080", 403)]
        for origin, status in rows:
            with self.subTest(origin):
                self.assertEqual(self.ask(on80, request("GET", "/panel/socket", "127.0.0.1",
                                                        *upgrade_fields(origin))).status, status)
        self.assertEqual(on80.stop(), 0)

    def test_odd_and_oversized_requests(self):
        server = self.serve()
        own = f"127.0.0.1:{server.http}"
        key = ["Upgrade: websocket", "Connection: Upgrade"]
        rows = [  # what is sent, the answer, whether the connection closes after it
            (request("GET", "/", own, "X-Big: " + "a" * 65536), 431, True),
            (request("GET", "/", own, *["X-A: b"] * 10000), 431, True),
            (request("GET", "/", own, *["A:"] * 100), 431, True),
            (request("GET", "/", own, *["A:"] * 99), 200, False),
            (request("POST", "/", own, body=b"x"), 405, False),
            (request("BREW", "/panel/", own), 405, False),
            (request("DELETE", "/nothing", own), 404, False),
            (request("GET", "/", own, version="HTTP/2.0"), 505, True),
            (request("GET", "/", None), 400, True),
            (request("GET", "/", own, "Host: " + own), 400, True),
            (request("GET", "/panel/%zz", own), 400, True),
            (b"GET / HTTP/1.1\nHost: " + own.encode() + b"\n\n", 400, True),
            (request("POST", "/panel/login", own, body=b"x" * 16385), 413, True),
            (request("GET", "/", own, "Connection: close"), 200, True),
            (request("GET", "/", None, version="HTTP/1.0"), 200, True),
            (request("GET", "/panel/socket", own), 426, False),
            (request("GET", "/panel/socket", own, *key, "Sec-WebSocket-Version: 8",
                     "Sec-WebSocket-Key: " + base64.b64encode(b"k" * 16).decode()), 426, False),
            (request("GET", "/panel/socket", own, *key, "Sec-WebSocket-Version: 13",
                     "Sec-WebSocket-Key: short"), 400, False),
        ]
        for sent, status, closes in rows:
            with self.subTest(sent[:60]):
                raw = Raw(server.http)
                raw.send(sent)
                reply = raw.reply()
                self.assertEqual(reply.status, status)
                self.assertEqual(reply.fields.get("connection") == "close", closes)
                if status == 426 and b"Version: 8" in sent:
                    self.assertEqual(reply.fields.get("sec-websocket-version"), "13")
                elif status == 426:  # a plain request is told what to upgrade to
                    self.assertEqual(reply.fields.get("upgrade"), "websocket")
                if status == 405:
                    self.assertEqual(reply.fields.get("allow"), "GET, HEAD")
                if closes:
                    self.assertTrue(raw.closed())
                raw.close()
        # HEAD where GET is served: the same fields, no body, and the next answer read right.
        for path in ("/", "/lxi/identification", "/panel/", "/panel/panel.js"):
            with self.subTest(head=path):
                raw = Raw(server.http)
                raw.send(request("HEAD", path, own) + request("GET", path, own))
                head, got = raw.reply(head=True), raw.reply()
                raw.close()
                self.assertEqual((head.status, got.status), (200, 200))
                self.assertEqual(head.fields["content-length"], str(len(got.body)))
                self.assertEqual(head.fields["content-type"], got.fields["content-type"])
        self.assertEqual(server.stop(), 0)

    def test_a_silent_spare_connection_gives_its_place(self):
        server = self.serve("--max-clients", "1")
        spare = Raw(server.http)  # as a browser opens one ahead, and never uses it
        time.sleep(1.2)
        asking = Raw(server.http)
        asking.send(request("GET", "/", f"127.0.0.1:{server.http}"))
        self.assertEqual(asking.reply().status, 200)
        self.assertIsNone(spare.reply())  # closed to make room
        for raw in (spare, asking):
            raw.close()
        self.assertEqual(server.stop(), 0)

    def test_unfinished_and_silent_requests(self):
        server = self.serve("--idle-timeout", "60")
        own = f"127.0.0.1:{server.http}"
        head = request("POST", "/panel/login", own, body=b"token=0123456789")
        rows = [  # name, what is sent, then a byte a second?, the answer (None: closed)
            ("a head that never ends", head[:40], False, 408),
            ("a body that never comes", head[:-5], False, 408),
            ("a head sent a byte a second", head[:40], True, 408),
            ("nothing at all", b"", False, None),
            ("a second request that never ends", request("GET", "/", own) + head[:40], False, 408),
        ]
        outcomes = {}

        def run(name, sent, trickle):
            raw = Raw(server.http, timeout=30)
            raw.send(sent)
            for byte in b"X-Slow: " + b"a" * 20 if trickle else b"":
                if select.select([raw.sock], [], [], 1)[0]:
                    break
                try:
                    raw.send(bytes([byte]))
                except OSError:
                    break
            reply = raw.reply()
            if name.startswith("a second"):
                reply = raw.reply()
            outcomes[name] = (reply.status if reply else None, raw.closed())
            raw.close()

        threads = [threading.Thread(target=run, args=row[:3]) for row in rows]
        for thread in threads:
            thread.start()
        # Meanwhile, beside a server of its own with a short idle limit: a connection kept
        # open after its answer, then silent, is closed.
        quick = self.serve("--idle-timeout", "1")
        kept = Raw(quick.http, timeout=30)
        kept.send(request("GET", "/", f"127.0.0.1:{quick.http}"))
        self.assertEqual(kept.reply().status, 200)
        self.assertIsNone(kept.reply())
        kept.close()
        quick.logged("closed: idle for 1 s")
        self.assertEqual(quick.stop(), 0)
        for thread in threads:
            thread.join(40)
        for name, _, _, status in rows:
            with self.subTest(name):
                self.assertEqual(outcomes[name], (status, True))
        server.logged("closed: a request not whole within 10 s")
        server.logged("closed: no request within 10 s")
        self.assertEqual(server.stop(), 0)

    def test_connections_counted(self):
        server = self.serve("--max-clients", "2")
        own = f"127.0.0.1:{server.http}"
        get = request("GET", "/", own)
        # Two connections in the middle of a request hold both places.
        busy = [Raw(server.http) for _ in range(2)]
        for raw in busy:
            raw.send(get[:10])
        time.sleep(0.3)
        # Two more wait their turn, unanswered meanwhile.
        waiting = [Raw(server.http) for _ in range(2)]
        for raw in waiting:
            raw.send(get)
        self.assertEqual(select.select([raw.sock for raw in waiting], [], [], 0.5)[0], [])
        # One more is told at once.
        refused = Raw(server.http)
        refused.send(get)
        reply = refused.reply()
        self.assertEqual((reply.status, reply.fields.get("retry-after")), (503, "2"))
        self.assertTrue(refused.closed())
        server.logged("refused: 2 connections are open, as many as --max-clients allows")
        # A place freed by a client's reset goes at once to the first that waits.
        busy[0].sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        busy[0].sock.close()
        self.assertEqual(select.select([waiting[0].sock], [], [], 2)[0], [waiting[0].sock])
        self.assertEqual(waiting[0].reply().status, 200)
        # A place freed by a request served goes to the next.
        busy[1].send(get[10:])
        self.assertEqual(busy[1].reply().status, 200)
        self.assertEqual(waiting[1].reply().status, 200)
        # Kept open between requests, they give their places to new connections.
        fresh = [Raw(server.http) for _ in range(2)]
        for raw in fresh:
            raw.send(get)
            self.assertEqual(raw.reply().status, 200)
        self.assertEqual(sum(raw.reply() is None for raw in waiting + busy[1:]), 3)
        with server.socket() as sock:  # the socket's share untouched
            sock.sendall(b"*OPC?\n")
            self.assertEqual(sock.recv(8), b"1\n")
        for raw in busy[1:] + waiting + fresh + [refused]:
            raw.close()
        self.assertEqual(server.stop(), 0)

    def test_websocket_protocol(self):
        server = self.serve()
        setting = json.dumps({"id": 5, "action": "code", "channel": 1, "value": "3000"}).encode()
        rows = [  # name, what the page sends, the close code (None: it goes on)
            ("not masked", frame(0x81, setting, masked=False), 1002),
            ("a reserved bit", frame(0xC1, setting), 1002),
            ("an unknown opcode", frame(0x83, setting), 1002),
            ("a piece with no start", frame(0x80, setting), 1002),
            ("a ping in pieces", frame(0x09, b"x"), 1002),
            ("a message over 4 KiB", frame(0x81, b" " * 4097), 1009),
            ("a message over 4 KiB in pieces", frame(0x01, b" " * 4000) + frame(0x80, b" " * 100), 1009),
            ("not UTF-8", frame(0x81, b'{"action": "\xff"}'), 1007),
            ("a close code no one may send", frame(0x88, struct.pack(">H", 1005)), 1002),
        ]
        for name, sent, code in rows:
            with self.subTest(name):
                page = Page(server.http)
                self.assertEqual(page.status, 101)
                page.send(sent)
                self.assertEqual(page.close_code(), code)
                self.assertTrue(page.raw.closed())
                page.close()
                self.assertEqual(self.dac_a(server), "0")
        page = Page(server.http)
        with self.subTest("binary"):
            page.send(frame(0x82, setting))
            result = page.message("result")
            self.assertEqual(result["id"], None)
            self.assertIn("a binary message is not a request", result["errors"][0])
        with self.subTest("a ping"):
            page.send(frame(0x89, b"are you there"))
            while (got := page.frame())[0] != 0xA:
                pass
            self.assertEqual(got[1], b"are you there")
        with self.subTest("a message in three pieces, a ping between"):
            page.send(frame(0x01, setting[:10]) + frame(0x89, b"p") + frame(0x00, setting[10:20])
                      + frame(0x80, setting[20:]))
            self.assertEqual(page.message("result"), {"type": "result", "id": 5, "message":
                                                      "SOUR1:VOLT:CODE 3000", "errors": []})
            self.assertEqual(self.dac_a(server), "3000")
        with self.subTest("the closing handshake"):
            page.send(frame(0x88, struct.pack(">H", 1001)))
            self.assertEqual(page.close_code(), 1001)
            self.assertTrue(page.raw.closed())
        page.close()
        self.assertEqual(server.stop(), 0)

    def test_a_closed_page_frees_its_place(self):
        server = self.serve("--max-clients", "1")
        setting = json.dumps({"id": 1, "action": "code", "channel": 1, "value": "7"}).encode()

        def shut(page):
            page.raw.sock.shutdown(socket.SHUT_WR)

        def reset(page):
            page.raw.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            page.raw.sock.close()

        rows = [  # how the page goes
            ("a close frame", lambda page: page.send(frame(0x88, struct.pack(">H", 1000)))),
            ("its end shut, no close frame", shut),
            ("reset", reset),
            ("closed by the server: not masked", lambda page: page.send(frame(0x81, setting, False))),
            ("closed by the server: too large", lambda page: page.send(frame(0x81, b" " * 5000))),
        ]
        for name, end in rows:
            with self.subTest(name):
                first = Page(server.http)
                self.assertEqual(first.message("state")["clients"]["web"], 1)
                # While it is open, one more is refused.
                other = Page(server.http)
                self.assertEqual(other.message("refused")["type"], "refused")
                self.assertEqual(other.close_code(), 1008)
                other.close()
                end(first)
                deadline = time.monotonic() + 3
                while True:
                    again = Page(server.http)
                    state = again.message("state") if again.status == 101 else None
                    again.close()
                    if state or time.monotonic() > deadline:
                        break
                    time.sleep(0.1)
                self.assertIsNotNone(state, "the closed page kept its place")
                first.close()
        self.assertEqual(server.stop(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
