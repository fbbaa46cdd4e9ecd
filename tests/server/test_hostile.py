"""tx4410-server against peers that mean it harm or do not care, each case in a private network of
its own (CTest runs one case per run of scripts/private-network.sh), the server's descriptors
held to 256: floods of silent connections on each port, a VXI-11 client that never reads its
replies, records too large in small pieces, a second server beside rpcbind, and SIGTERM with
everything open. After each, the server must answer as before and end with status 0.
Usage: /usr/bin/python3 tests/server/test_hostile.py HostileTest.test_NAME
"""
import base64
import http.client
import json
import os
import resource
import select
import signal
import socket
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_lan import CORE, END, WAITLOCK, Daemons, Rpc, opaque, units  # noqa: E402
from test_server import Server  # noqa: E402

DESCRIPTORS = 256
FLOOD = 1000

# The flood's own sockets: this process may hold far more than the server.
_, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


def few_descriptors():
    resource.setrlimit(resource.RLIMIT_NOFILE, (DESCRIPTORS, DESCRIPTORS))


def flood(port, count=FLOOD, saying=b""):
    """Connections that say nothing more than `saying`, as many as the server lets this side
    make (those it takes, and those its backlog holds)."""
    held = []
    for _ in range(count):
        sock = socket.socket()
        sock.settimeout(0.2)
        try:
            sock.connect(("127.0.0.1", port))
            if saying:
                sock.sendall(saying)
        except OSError:
            sock.close()
            continue
        held.append(sock)
    time.sleep(1)
    return held


def scpi(port, line=b"*IDN?\n", seconds=1.0):
    with socket.create_connection(("127.0.0.1", port), timeout=seconds) as sock:
        sock.sendall(line)
        answer = b""
        while not answer.endswith(b"\n"):
            chunk = sock.recv(4096)
            if not chunk:
                break
            answer += chunk
    return answer


def vxi11(port, line=b"*IDN?\n"):
    rpc = Rpc(port)
    rpc.sock.settimeout(1)
    try:
        error, link, _, _ = rpc.create_link()
        if error:
            return f"create_link error {error}".encode()
        rpc.write(link, line)
        return rpc.read(link)[2]
    finally:
        rpc.close()


def websocket(port, path="/panel/socket"):
    """A page's socket, opened as a browser opens it; the socket, past the upgrade."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    key = base64.b64encode(os.urandom(16)).decode()
    sock.sendall((f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                  f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                  f"Sec-WebSocket-Version: 13\r\nOrigin: http://127.0.0.1:{port}\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += sock.recv(1)
    assert head.startswith(b"HTTP/1.1 101"), head
    return sock


def send_text(sock, text):
    """One masked text frame, as a page sends it."""
    data = text.encode()
    mask = os.urandom(4)
    header = bytes([0x81]) + (bytes([0x80 | len(data)]) if len(data) < 126
                              else bytes([0x80 | 126]) + struct.pack(">H", len(data)))
    sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))


class HostileTest(unittest.TestCase):
    def serve(self, *arguments):
        server = Server("--http", "127.0.0.1:0", *arguments, preexec_fn=few_descriptors)
        self.addCleanup(server.ends_well, self)
        server.http = server.endpoint("HTTP on")
        server.core = server.endpoint("VXI-11 on")
        return server

    def answers_again(self, server):
        """Within a second of a flood's end, every interface answers."""
        deadline = time.monotonic() + 1
        while True:
            try:
                self.assertTrue(scpi(server.port).startswith(b"TX4410 bench program,"))
                self.assertTrue(vxi11(server.core).startswith(b"TX4410 bench program,"))
                page = http.client.HTTPConnection("127.0.0.1", server.http, timeout=1)
                page.request("GET", "/panel/")
                self.assertEqual(page.getresponse().status, 200)
                page.close()
                return
            except (OSError, AssertionError):
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)

    def flooded(self, which, head=False):
        server = self.serve()
        ports = {"socket": server.port, "core": server.core, "http": server.http,
                 "portmapper": 111, "abort": vxi11_abort_port(server.core)}
        # HTTP: requests whose body never comes, or whose head never ends, which the server
        # cannot take for silence.
        saying = (b"POST /panel/login HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Length: 100\r\n\r\n"
                  % server.http) if which == "http" else b""
        if head:
            saying = saying.split(b"\r\n\r\n")[0]
        held = flood(ports[which], saying=saying)
        # Every other interface is asked meanwhile, so that each meets whatever the flood left
        # of the descriptors. Those of a flood held to its share answer all along.
        for port in (server.port, server.core, server.http, 111):
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=0.5) as poke:
                    poke.sendall(b"*OPC?\n")
                    poke.recv(16)
            except OSError:
                pass
        if which != "socket":
            self.assertTrue(scpi(server.port).startswith(b"TX4410 bench program,"))
        for sock in held:
            sock.close()
        self.answers_again(server)
        # Each refusal counted, not each written out: the log stays readable, and a reader that
        # falls behind never makes the server wait.
        self.assertLess(sum("refused" in line for line in server.log), 50)
        self.assertEqual(server.stop(), 0)

    def test_flood_on_the_socket(self):
        self.flooded("socket")

    def test_flood_on_vxi11s_core_channel(self):
        self.flooded("core")

    def test_flood_on_the_abort_channel(self):
        self.flooded("abort")

    def test_flood_on_the_port_mapper(self):
        self.flooded("portmapper")

    def test_flood_on_http(self):
        self.flooded("http")

    def test_flood_of_unfinished_http_heads(self):
        self.flooded("http", head=True)

    def test_vxi11_client_that_never_reads(self):
        server = self.serve()
        rpc = Rpc(server.core)
        link = rpc.create_link()[1]
        def call(xid):  # device_write of four queries, one record
            body = units(xid, 0, 2, CORE, 1, 11, 0, 0, 0, 0) + units(link, 1000, 0, END) \
                + opaque(b"*IDN?;" * 3 + b"*IDN?\n")
            return struct.pack(">I", 0x80000000 | len(body)) + body
        sent, xid, closed = 0, 1, False
        rpc.sock.setblocking(False)
        while sent < 40 * 1024 * 1024 and not closed:
            batch = b"".join(call(xid + i) for i in range(256))
            xid += 256
            view = memoryview(batch)
            while view and not closed:
                select.select([], [rpc.sock], [], 1)
                try:
                    view = view[rpc.sock.send(view):]
                except BlockingIOError:
                    continue
                except OSError:
                    closed = True
            sent += len(batch)
        rpc.close()
        server.expect("left more than 4194304 bytes of replies untaken", seconds=30)
        with open(f"/proc/{server.process.pid}/status") as status:
            peak = next(int(line.split()[1]) for line in status if line.startswith("VmHWM"))
        # The address sanitizer keeps freed memory in quarantine: its peak is the sanitizer's.
        with open(f"/proc/{server.process.pid}/exe", "rb") as program:
            sanitized = b"__asan_init" in program.read()
        if not sanitized:
            self.assertLess(peak, 100 * 1024, "kB at its peak")
        self.answers_again(server)
        self.assertEqual(server.stop(), 0)

    def test_descriptor_limit_raised_to_the_hard_limit(self):
        # A unit's soft limit is often far below what the system allows the server.
        server = Server("--http", "off", preexec_fn=lambda: resource.setrlimit(
            resource.RLIMIT_NOFILE, (DESCRIPTORS, 4096)))
        self.addCleanup(server.ends_well, self)
        with open(f"/proc/{server.process.pid}/limits") as limits:
            row = next(line for line in limits if line.startswith("Max open files"))
        self.assertEqual(row.split()[3:5], ["4096", "4096"])

    def test_a_record_too_large_in_small_pieces(self):
        # Each fragment small, the record as a whole over the limit: the stream is dropped.
        server = self.serve()
        with socket.create_connection(("127.0.0.1", server.core), timeout=10) as sock:
            fragment = struct.pack(">I", 60000) + b"\0" * 60000
            try:
                for _ in range(40):
                    sock.sendall(fragment)
                self.assertEqual(sock.recv(1), b"")
            except ConnectionResetError:
                pass
        self.answers_again(server)
        self.assertEqual(server.stop(), 0)

    def test_idle_limit_restarted_by_input(self):
        server = self.serve("--idle-timeout", "1")
        rpc = Rpc(server.core)
        link = rpc.create_link()[1]
        with socket.create_connection(("127.0.0.1", server.port), timeout=5) as sock, \
                socket.create_connection(("127.0.0.1", server.port), timeout=5) as setter:
            for _ in range(10):  # three seconds, three times the limit, never silent a second
                sock.sendall(b"*OPC?\n")
                self.assertEqual(sock.recv(16), b"1\n")
                rpc.write(link, b"*OPC?\n")
                self.assertEqual(rpc.read(link)[2], b"1\n")
                setter.sendall(b"*CLS\n")  # input alone, nothing sent back
                time.sleep(0.3)
            setter.sendall(b"*OPC?\n")
            self.assertEqual(setter.recv(16), b"1\n")
        rpc.close()
        self.assertEqual(server.stop(), 0)

    def test_second_server_beside_rpcbind(self):
        daemons = Daemons()
        daemons.rpcbind()
        self.addCleanup(daemons.stop_all)
        listed = lambda: subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True,
                                        text=True, timeout=20, check=True).stdout
        first = self.serve()
        self.assertTrue(first.logged("VXI-11 on").rstrip().endswith(", found through rpcbind"))
        # The second finds the first's registration answering, and leaves it.
        second = Server("--http", "off", preexec_fn=few_descriptors)
        self.addCleanup(second.ends_well, self)
        self.assertIn(f"names another server's VXI-11 at 127.0.0.1:{first.core}, which answers",
                      second.logged("VXI-11 off"))
        self.assertEqual(second.stop(), 0)
        self.assertIn(f"395183    1   tcp  {first.core:>5}", listed())
        self.assertTrue(vxi11(first.core).startswith(b"TX4410 bench program,"))
        # A server that died without taking its registration back leaves it to the next.
        first.stop(signal.SIGKILL)
        third = Server("--http", "off", preexec_fn=few_descriptors)
        self.addCleanup(third.ends_well, self)
        began = time.monotonic()
        third.core = third.endpoint("VXI-11 on")
        # A refused probe is a dead server: its registration is taken at once, not waited out.
        self.assertLess(time.monotonic() - began, 1.5)
        self.assertIn("in place of a server that has gone", third.logged("VXI-11 on"))
        self.assertIn(f"395183    1   tcp  {third.core:>5}", listed())
        self.assertEqual(third.stop(), 0)
        self.assertNotIn("395183", listed())

    def test_sigterm_with_everything_open(self):
        for ending in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=ending):
                self.ended_with_everything_open(ending)

    def ended_with_everything_open(self, ending):
        server = self.serve()
        pages = [websocket(server.http) for _ in range(2)]
        send_text(pages[0], json.dumps({"action": "sweep", "channel": 2, "points": "4000",
                                        "id": 1}))
        server.expect("sweep of DAC B started from the front panel")
        waiting = Rpc(server.core)
        link = waiting.create_link()[1]
        waiting.send(CORE, 1, 18, units(link, WAITLOCK, 60000))  # waits for the sweep's lock
        other = Rpc(server.core)
        other.create_link()
        sock = socket.create_connection(("127.0.0.1", server.port), timeout=10)
        sock.sendall(b"SOUR1:VOLT:CODE 5\n")  # waits for the lock as well
        self.assertEqual(server.stop(ending), 0)
        for each in pages + [sock, waiting.sock, other.sock]:
            each.close()


def vxi11_abort_port(core):
    rpc = Rpc(core)
    try:
        return rpc.create_link()[2]
    finally:
        rpc.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
