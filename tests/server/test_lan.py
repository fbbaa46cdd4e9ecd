"""tx4410-server as a LAN instrument on the simulated board, in a private network that CTest makes
for the run (scripts/private-network.sh): VXI-11 through PyVISA's pure-Python backend and lxi,
the port mapper through rpcinfo, rpcbind and bare RPC calls, the LXI identification and welcome
page over HTTP, discovery through avahi-daemon (lxi discover -m, avahi-browse) and by VXI-11
broadcast (lxi discover). The daemons are started here, inside that network, and end with it.
"""
import http.client
import os
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import xml.etree.ElementTree as ElementTree

import pyvisa

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_server import RESOURCES, Server  # noqa: E402

CORE, ABORT, PORTMAP = 0x0607AF, 0x0607B0, 100000
END, WAITLOCK, TERMCHAR = 0x08, 0x01, 0x80
LXI = "{http://www.lxistandard.org/InstrumentIdentification/1.0}"
SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lxi-identification-1.0.xsd")


def units(*values):
    return b"".join(struct.pack(">I", value & 0xFFFFFFFF) for value in values)


def opaque(data):
    return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)


class Rpc:
    """A bare ONC RPC client, for what no client here does: fragments, bad calls, the abort
    channel, read sizes and term characters."""

    def __init__(self, port, udp=False):
        self.udp = udp
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if udp else socket.SOCK_STREAM)
        self.sock.settimeout(10)
        self.sock.connect(("127.0.0.1", port))
        self.xid = 1000

    def close(self):
        self.sock.close()

    def send(self, program, version, procedure, arguments=b"", rpc_version=2, pieces=1,
             credential=None):
        self.xid += 1
        message = units(self.xid, 0, rpc_version, program, version, procedure) \
            + (units(0, 0) if credential is None else units(1) + opaque(credential)) \
            + units(0, 0) + arguments
        if self.udp:
            self.sock.send(message)
            return
        size = -(-len(message) // pieces)
        for start in range(0, len(message), size):
            part = message[start:start + size]
            last = 0x80000000 if start + size >= len(message) else 0
            self.sock.sendall(struct.pack(">I", last | len(part)) + part)

    def receive(self):
        """(accept status, results) of the next reply; ("denied", rest) when refused."""
        if self.udp:
            message = self.sock.recv(65536)
        else:
            message, last = b"", False
            while not last:
                header = self._exactly(4)
                (length,) = struct.unpack(">I", header)
                last = bool(length & 0x80000000)
                message += self._exactly(length & 0x7FFFFFFF)
        xid, kind, status = struct.unpack(">III", message[:12])
        assert (xid, kind) == (self.xid, 1), (xid, kind)
        if status == 1:
            return "denied", message[12:]
        (verifier_length,) = struct.unpack(">I", message[16:20])
        at = 20 + verifier_length
        return struct.unpack(">I", message[at:at + 4])[0], message[at + 4:]

    def _exactly(self, count):
        data = b""
        while len(data) < count:
            more = self.sock.recv(count - len(data))
            if not more:
                raise EOFError("the server closed the connection")
            data += more
        return data

    def call(self, program, version, procedure, arguments=b"", **how):
        self.send(program, version, procedure, arguments, **how)
        return self.receive()

    # VXI-11's core channel, each answering its Device_ErrorCode first.
    def create_link(self, device=b"inst0", lock=False, lock_timeout=0):
        status, results = self.call(CORE, 1, 10, units(4242, int(lock), lock_timeout) + opaque(device))
        assert status == 0, status
        return struct.unpack(">iiII", results[:16])  # error, link, abort port, max receive size

    def write(self, link, data, flags=END, lock_timeout=0):
        status, results = self.call(CORE, 1, 11, units(link, 1000, lock_timeout, flags) + opaque(data))
        assert status == 0, status
        return struct.unpack(">iI", results[:8])  # error, size

    def read(self, link, size=1024, flags=0, term=0, io_timeout=1000, lock_timeout=0):
        status, results = self.call(CORE, 1, 12, units(link, size, io_timeout, lock_timeout, flags, term))
        assert status == 0, status
        error, reason, length = struct.unpack(">iiI", results[:12])
        return error, reason, results[12:12 + length]

    def generic(self, procedure, link, flags=0, lock_timeout=0):
        status, results = self.call(CORE, 1, procedure, units(link, flags, lock_timeout, 1000))
        assert status == 0, status
        return struct.unpack(">i", results[:4])[0]

    def lock(self, link, flags=0, lock_timeout=0):
        return struct.unpack(">i", self.call(CORE, 1, 18, units(link, flags, lock_timeout))[1][:4])[0]

    def link_call(self, procedure, link):
        return struct.unpack(">i", self.call(CORE, 1, procedure, units(link))[1][:4])[0]


class Daemons:
    """dbus, avahi-daemon and rpcbind of the private network, each started on demand."""

    def __init__(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.running = {}

    def _start(self, name, command, ready):
        command[0] = shutil.which(command[0], path=os.environ["PATH"] + ":/usr/sbin:/sbin") or command[0]
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(ready):
            if time.monotonic() > deadline or process.poll() is not None:
                process.kill()
                raise AssertionError(f"{name} did not start: {command}")
            time.sleep(0.02)
        self.running[name] = process

    def bus(self):
        config = os.path.join(self.scratch.name, "bus.conf")
        with open(config, "w") as out:
            out.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN" '
                      '"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n<busconfig>'
                      "<type>system</type><listen>unix:path=/run/dbus/system_bus_socket</listen>"
                      '<auth>EXTERNAL</auth><policy context="default"><allow user="*"/>'
                      '<allow own="*"/><allow send_type="method_call"/><allow send_type="signal"/>'
                      '<allow send_type="method_return"/><allow send_type="error"/>'
                      '<allow receive_type="method_call"/><allow receive_type="signal"/>'
                      '<allow receive_type="method_return"/><allow receive_type="error"/>'
                      "</policy></busconfig>\n")
        os.makedirs("/run/dbus", exist_ok=True)
        self._start("dbus", ["dbus-daemon", "--config-file", config, "--nofork", "--nopidfile"],
                    "/run/dbus/system_bus_socket")

    def avahi(self):
        config = os.path.join(self.scratch.name, "avahi.conf")
        with open(config, "w") as out:
            out.write("[server]\nuse-ipv4=yes\nuse-ipv6=no\n"
                      "[publish]\npublish-hinfo=no\npublish-workstation=no\n")
        os.makedirs("/run/avahi-daemon", exist_ok=True)
        self._start("avahi", ["avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits",
                              "-f", config], "/run/avahi-daemon/socket")

    def rpcbind(self):
        os.makedirs("/run/rpcbind", exist_ok=True)
        self._start("rpcbind", ["rpcbind", "-f"], "/run/rpcbind.sock")

    def stop(self, name):
        process = self.running.pop(name)
        process.terminate()
        process.wait(10)
        for leftover in ("/run/rpcbind.sock", "/run/avahi-daemon/socket", "/run/dbus/system_bus_socket"):
            if name in leftover and os.path.exists(leftover):
                os.remove(leftover)

    def stop_all(self):
        for name in list(self.running):
            self.stop(name)


class LanTest(unittest.TestCase):
    def serve(self, *arguments, **settings):
        server = Server(*arguments, **settings)
        self.addCleanup(server.ends_well, self)
        server.logged("VXI-11 o")  # on or off: its port mapper has been settled
        return server

    def instrument(self, resource):
        device = RESOURCES.open_resource(resource, read_termination="\n", write_termination="\n",
                                         timeout=5000)
        self.addCleanup(device.close)
        return device

    def rpc(self, port, udp=False):
        client = Rpc(port, udp)
        self.addCleanup(client.close)
        return client

    def vxi11(self, server):
        return self.rpc(server.endpoint("VXI-11 on"))

    def page(self, server, path, host=None):
        connection = http.client.HTTPConnection("127.0.0.1", server.endpoint("HTTP on"), timeout=10)
        self.addCleanup(connection.close)
        connection.request("GET", path, headers={"Host": host} if host else {})
        reply = connection.getresponse()
        return reply.status, reply.getheader("Content-Type"), reply.read().decode()


class Vxi11Test(LanTest):
    def test_same_answers_as_the_socket(self):
        server = self.serve()
        instr = self.instrument("TCPIP::127.0.0.1::inst0::INSTR")
        sock = server.client()
        self.addCleanup(sock.close)
        rows = [  # settings, queries; through VXI-11 and then the socket
            ("SOUR1:VOLT 2.5", "MEAS1:VOLT?;CODE?"),
            ("SOUR4:VOLT:CODE #H4000;:MEAS:VDD 3.3", "SOUR4:VOLT?;:MEAS4:VOLT?"),
            ("PIN:LDAC 0;:DAC:WORD #H1FFFF", "MEAS2:CODE?;:PIN:LDAC?"),
            ("FOO;SOUR1:VOLT 9", "SYST:ERR:COUN?;:SYST:ERR?;*ESR?"),
            ("*ESE 36;*SRE 32;FOO", "*STB?;*IDN?"),
        ]
        for settings, queries in rows:
            with self.subTest(settings):
                answers = []
                for client in (instr, sock):
                    client.write("*RST;*CLS;" + settings)
                    answers.append(client.query(queries))
                self.assertEqual(answers[0], answers[1])
                self.assertNotEqual(answers[0], "")
        lxi = ["lxi", "scpi", "--address", "127.0.0.1"]
        subprocess.run(lxi + ["SOUR3:VOLT 3.75"], check=True, timeout=20)
        for raw in ([], ["--raw", "--port", str(server.port)]):
            with self.subTest(raw=raw):
                answer = subprocess.run(lxi + raw + ["MEAS3:VOLT?;:SOUR3:VOLT:CODE?"], check=True,
                                        timeout=20, capture_output=True, text=True)
                self.assertEqual(answer.stdout.strip(), "3.75000000000000;49152")

    def test_message_over_several_writes(self):
        server = self.serve()
        instr = self.instrument("TCPIP::127.0.0.1::INSTR")
        # PyVISA cuts what it writes at the 1024 bytes the link allows, END on the last piece.
        self.assertEqual(instr.query("*OPC;" * 600 + "SOUR2:VOLT:CODE 777;CODE?"), "777")
        rpc = self.vxi11(server)
        error, link, _, most = rpc.create_link()
        self.assertEqual((error, most), (0, 1024))
        rows = [  # pieces of one message, the flags of each, the answers
            ([b"SOUR2:VOLT:", b"CODE 5;", b"CODE?"], [0, 0, END], [b"5\n"]),
            ([b"*IDN?;*OPC", b"?\n"], [0, 0], [b"TX4410 bench program,TX4410,sim,1.0.0;1\n"]),
            # Two messages: the second interrupts the first's unread answer (IEEE 488.2's
            # Query INTERRUPTED), so only its own is read.
            ([b"*OPC?\r\n*OPC?", b""], [0, END], [b"1\n"]),
            # 64 KiB runs; one byte more is too much data (-223), dropped to its end.
            ([b"*OPC?" + b" " * (65536 - 5), b""], [0, END], [b"1\n"]),
            ([b"*OPC?" + b" " * (65537 - 5), b"\n*OPC?"], [0, END], [b"1\n"]),
        ]
        for pieces, flags, answers in rows:
            with self.subTest(pieces[0][:20]):
                for piece, flag in zip(pieces, flags):
                    self.assertEqual(rpc.write(link, piece, flag), (0, len(piece)))
                self.assertEqual([rpc.read(link)[2] for _ in answers], answers)
        # The answer interrupted, and the overlong message dropped whole, each said so.
        rpc.write(link, b"SYST:ERR:ALL?")
        errors = rpc.read(link)[2]
        self.assertTrue(errors.startswith(b'-410,"Query INTERRUPTED;an answer was left unread",'
                                          b'-223,"Too much data;a message longer than'), errors)

    def test_read_size_term_char_and_reasons(self):
        server = self.serve()
        rpc = self.vxi11(server)
        link = rpc.create_link()[1]
        rpc.write(link, b"*IDN?;*IDN?")
        rows = [  # request size, flags, term char, reason, data
            (6, 0, 0, 1, b"TX4410"),
            (100, TERMCHAR, ord(","), 2, b" bench program,"),
            (20, TERMCHAR, ord(";"), 2, b"TX4410,sim,1.0.0;"),
            (10, TERMCHAR, ord("\n"), 1, b"TX4410 ben"),
            (100, TERMCHAR, ord("\n"), 2 | 4, b"ch program,TX4410,sim,1.0.0\n"),
        ]
        for size, flags, term, reason, data in rows:
            with self.subTest(data):
                self.assertEqual(rpc.read(link, size, flags, term), (0, reason, data))
        rpc.write(link, b"*OPC?;*OPC?")
        self.assertEqual(rpc.read(link, 4), (0, 1 | 4, b"1;1\n"))
        # Nothing to read: the I/O timeout passes, and the link's queue says so.
        self.assertEqual(rpc.read(link, io_timeout=50), (15, 0, b""))
        rpc.write(link, b"SYST:ERR?")
        self.assertEqual(rpc.read(link)[2], b'-420,"Query UNTERMINATED;a read with no answer waiting"\n')

    def test_status_byte_and_device_clear(self):
        server = self.serve()
        first = self.instrument("TCPIP::127.0.0.1::inst0::INSTR")
        second = self.instrument("TCPIP::127.0.0.1::inst0::INSTR")
        first.write("*IDN?")
        first.write("*ESE 36;*SRE 32;FOO")
        # Each link its own status model. The second message interrupted the first's answer
        # (IEEE 488.2's Query INTERRUPTED, -410, a query error): nothing waits to be read.
        rows = [(first, 4 | 32 | 64), (second, 0)]
        for client, status in rows:
            with self.subTest(status=status):
                self.assertEqual(client.read_stb(), status)
        first.write("*IDN?")
        self.assertEqual(first.read_stb(), 16 | 4 | 32 | 64)  # an answer waits
        first.clear()  # input and output go; the error queue and registers stay
        self.assertEqual(first.read_stb(), 4 | 32 | 64)
        self.assertEqual(first.query("*OPC?"), "1")
        self.assertTrue(first.query("SYST:ERR?").startswith('-410,"Query INTERRUPTED'))
        self.assertTrue(first.query("SYST:ERR?").startswith("-113,"))
        # The socket resource's clear is the client's own: the answers come at once, and it drops
        # them; its status byte is *STB?.
        sock = server.client()
        self.addCleanup(sock.close)
        sock.write("*IDN?;*ESE 32;*SRE 32;FOO")
        sock.clear()
        self.assertEqual(sock.query("*STB?;*OPC?"), "100;1")
        rpc = self.vxi11(server)
        link = rpc.create_link()[1]
        rpc.write(link, b"SOUR1:VOLT:CODE 12;:SOUR1:VOLT:CODE", 0)  # a message not ended
        self.assertEqual(rpc.generic(15, link), 0)  # dropped: never run
        rpc.write(link, b"SOUR1:VOLT:CODE?;:SYST:ERR:COUN?")
        self.assertEqual(rpc.read(link)[2], b"0;0\n")
        for procedure in (16, 17):  # remote, local: there is no front panel to lock out
            self.assertEqual(rpc.generic(procedure, link), 0)

    def test_lock_holds_against_every_other_client(self):
        server = self.serve()
        holder = self.instrument("TCPIP::127.0.0.1::INSTR")
        other = self.instrument("TCPIP::127.0.0.1::INSTR")
        holder.lock_excl()
        with self.assertRaises(pyvisa.VisaIOError):
            other.query("*OPC?")
        rpc = self.vxi11(server)
        link = rpc.create_link()[1]
        rows = [  # what another link tries while the lock is held, and its error
            ("lock", lambda: rpc.lock(link), 11),
            ("lock, waiting 100 ms", lambda: rpc.lock(link, WAITLOCK, 100), 11),
            ("write, waiting 100 ms", lambda: rpc.write(link, b"*OPC?", END | WAITLOCK, 100)[0], 11),
            ("read status byte", lambda: rpc.generic(13, link), 11),
            ("clear", lambda: rpc.generic(15, link), 11),
            ("unlock", lambda: rpc.link_call(19, link), 12),
            ("link made locked, waiting 100 ms", lambda: rpc.create_link(lock=True, lock_timeout=100)[0], 11),
        ]
        for name, attempt, error in rows:
            with self.subTest(name):
                self.assertEqual(attempt(), error)
        with server.socket() as sock:  # a socket client's line waits for the lock
            sock.sendall(b"SOUR1:VOLT:CODE 9;CODE?\n")
            for _ in range(3):  # the server has seen the line by the time these come back
                self.assertEqual(holder.query("*OPC?"), "1")
            self.assertEqual(select.select([sock], [], [], 0)[0], [])
            results = []
            waiting = threading.Thread(target=lambda: results.append(
                rpc.write(link, b"*OPC?", END | WAITLOCK, 30000)))
            waiting.start()
            time.sleep(0.2)  # so that the write waits in the server, though it passes either way
            holder.unlock()
            waiting.join(30)
            self.assertEqual(results, [(0, 5)])
            self.assertEqual(sock.recv(100), b"9\n")
        self.assertEqual(other.query("*OPC?"), "1")
        self.assertEqual(holder.query("*OPC?"), "1")
        # A lock taken with the link; a holder that leaves lets it go.
        locked = self.rpc(server.endpoint("VXI-11 on"))
        self.assertEqual(locked.create_link(lock=True)[0], 0)
        self.assertEqual(rpc.lock(link), 11)
        locked.close()
        self.assertEqual(rpc.lock(link, WAITLOCK, 10000), 0)
        self.assertEqual(rpc.lock(link), 11)  # held once, not counted
        self.assertEqual(rpc.link_call(19, link), 0)

    def test_abort_channel(self):
        server = self.serve()
        rpc = self.vxi11(server)
        error, link, abort_port, _ = rpc.create_link()
        aborter = self.rpc(abort_port)
        results = []
        reading = threading.Thread(target=lambda: results.append(rpc.read(link, io_timeout=60000)))
        reading.start()
        abort = lambda lid: struct.unpack(">i", aborter.call(ABORT, 1, 1, units(lid))[1][:4])[0]
        while reading.is_alive():  # until the read has reached the server and been ended
            self.assertEqual(abort(link), 0)
            reading.join(0.1)
        self.assertEqual(results, [(23, 0, b"")])
        self.assertEqual(abort(link + 100), 4)
        rpc.write(link, b"*OPC?")
        self.assertEqual(rpc.read(link)[2], b"1\n")

    def test_what_is_not_supported_and_what_is_wrong(self):
        server = self.serve()
        instr = self.instrument("TCPIP::127.0.0.1::INSTR")
        with self.assertRaises(pyvisa.VisaIOError) as refused:
            instr.assert_trigger()
        self.assertEqual(refused.exception.error_code, pyvisa.constants.StatusCode.error_nonsupported_operation)
        rpc = self.vxi11(server)
        link = rpc.create_link()[1]
        rows = [  # procedure, arguments, Device_ErrorCode
            ("trigger", 14, units(link, 0, 0, 1000), 8),
            ("enable_srq", 20, units(link, 1) + opaque(b"handle"), 8),
            ("docmd", 22, units(link, 0, 1000, 0, 0x20000, 0, 1) + opaque(b"x"), 8),
            ("create_intr_chan", 25, units(0x7F000001, 1234, 0x0607B1, 1, 0), 8),
            ("destroy_intr_chan", 26, b"", 8),
            ("a link that is not", 11, units(link + 50, 1000, 0, END) + opaque(b"*OPC?"), 4),
            ("unlock without the lock", 19, units(link), 12),
        ]
        for name, procedure, arguments, error in rows:
            with self.subTest(name):
                status, results = rpc.call(CORE, 1, procedure, arguments)
                self.assertEqual((status, struct.unpack(">i", results[:4])[0]), (0, error))
        devices = [(b"inst0", 0), (b"", 0), (b"INST0", 0), (b"inst1", 3), (b"gpib0,5", 3),
                   (b"inst" + b"0" * 300, 3)]  # no instrument's, however long
        for device, error in devices:
            with self.subTest(device=device):
                self.assertEqual(rpc.create_link(device)[0], error)
        # A message that is no call is let be; a record too long to follow ends the connection.
        rpc.sock.sendall(struct.pack(">I", 0x80000008) + units(7, 1))
        self.assertEqual(rpc.call(CORE, 1, 0)[0], 0)
        doomed = self.vxi11(server)
        doomed.sock.sendall(struct.pack(">I", 0x80000000 | (2 << 20)) + b"x" * 1000)
        with self.assertRaises(ConnectionResetError):  # at once, what it sent unread
            doomed.sock.recv(10)
        calls = [  # program, version, procedure, arguments, how; the accept status
            ("unknown procedure", CORE, 1, 99, b"", {}, 3),
            ("version 2", CORE, 2, 10, b"", {}, 2),
            ("another program", 100003, 3, 0, b"", {}, 1),
            ("garbage arguments", CORE, 1, 11, units(link), {}, 4),
            ("the call in five fragments", CORE, 1, 0, b"", {"pieces": 5}, 0),
            ("RPC version 3", CORE, 1, 0, b"", {"rpc_version": 3}, "denied"),
            # RFC 5531: a credential's body is at most 400 bytes; beyond, AUTH_ERROR, AUTH_BADCRED.
            ("a credential of 400 bytes", CORE, 1, 0, b"", {"credential": b"x" * 400}, 0),
            ("a credential of 401 bytes", CORE, 1, 0, b"", {"credential": b"x" * 401}, "denied"),
        ]
        for name, program, version, procedure, arguments, how, status in calls:
            with self.subTest(name):
                answer = rpc.call(program, version, procedure, arguments, **how)
                self.assertEqual(answer[0], status)
                if "credential" in how and status == "denied":
                    self.assertEqual(answer[1][:8], units(1, 1))
        self.assertEqual(rpc.link_call(23, link), 0)  # destroy_link
        self.assertEqual(rpc.link_call(23, link), 4)

    def test_links_and_connections_are_limited(self):
        server = self.serve("--max-clients", "2")
        rpc = self.vxi11(server)
        self.assertEqual([rpc.create_link()[0] for _ in range(3)], [0, 0, 9])
        # A connection beyond the links is told so by create_link, error 9 (no more links), as
        # an instrument tells it, not reset before it can ask.
        self.assertEqual(self.vxi11(server).create_link()[0], 9)
        # Twice as many connections as links: one more is closed unheard.
        core = server.endpoint("VXI-11 on")
        with socket.create_connection(("127.0.0.1", core), timeout=10) as third, \
                socket.create_connection(("127.0.0.1", core), timeout=10) as fourth, \
                socket.create_connection(("127.0.0.1", core), timeout=10) as fifth:
            self.assertEqual(fifth.recv(1), b"")
        server.expect("refused on VXI-11: 4 connections are open, twice --max-clients")
        self.assertEqual(server.stop(), 0)

    def test_idle_connections_close(self):
        server = self.serve("--idle-timeout", "1")
        rpc = self.vxi11(server)
        _, link, abort_port, _ = rpc.create_link()
        silent_abort = socket.create_connection(("127.0.0.1", abort_port), timeout=10)
        self.addCleanup(silent_abort.close)
        # A call that waits longer than the limit is not idleness: it ends as it would.
        self.assertEqual(rpc.read(link, io_timeout=2500), (15, 0, b""))
        self.assertEqual(rpc.sock.recv(1), b"")
        server.expect("closed: idle for 1 s on VXI-11 (0 open)")
        self.assertEqual(silent_abort.recv(1), b"")  # the abort channel's silence too
        with server.socket() as sock:
            self.assertEqual(sock.recv(1), b"")
        server.expect("closed: idle for 1 s (0 open)")


class ConnectionTest(LanTest):
    def test_keepalive_on_every_connection(self):
        server = self.serve()
        instr = self.instrument("TCPIP::127.0.0.1::INSTR")
        sock = server.client()
        self.addCleanup(sock.close)
        web = socket.create_connection(("127.0.0.1", server.endpoint("HTTP on")))
        self.addCleanup(web.close)  # open, before its request
        rows = [("socket", server.port), ("VXI-11", server.endpoint("VXI-11 on")),
                ("HTTP", server.endpoint("HTTP on"))]
        for name, port in rows:
            with self.subTest(name):
                # The server's end of each connection: the system probes a silent client.
                listed = subprocess.run(["ss", "-tnoH", "state", "established", f"( sport = :{port} )"],
                                        capture_output=True, text=True, check=True, timeout=10).stdout
                # Probed after a minute of silence: the timer counts down from 60 s.
                seconds = int(re.search(r"timer:\(keepalive,(\d+)(?:\.\d+)?sec,", listed).group(1))
                self.assertTrue(50 <= seconds <= 60, listed)
        self.assertEqual((sock.query("*OPC?"), instr.query("*OPC?")), ("1", "1"))

    def test_idle_limit_spares_a_client_that_waits(self):
        server = self.serve("--idle-timeout", "1")
        holder = self.instrument("TCPIP::127.0.0.1::INSTR")
        holder.lock_excl()
        with server.socket() as waiting:
            peer = "127.0.0.1:%d" % waiting.getsockname()[1]
            # Parked behind the lock longer than the idle limit; a setting, so nothing is sent
            # back once it has run.
            waiting.sendall(b"SOUR1:VOLT:CODE 3\n")
            for _ in range(10):
                self.assertEqual(holder.query("*OPC?"), "1")
                time.sleep(0.2)
            self.assertNotIn(peer + " closed", "".join(server.log))
            holder.unlock()
            self.assertEqual(holder.query("SOUR1:VOLT:CODE?"), "3")
            # Its line run, it is idle again, and closed for it.
            self.assertEqual(waiting.recv(10), b"")
        server.expect(peer + " closed: idle for 1 s")


class PortMapperTest(LanTest):
    def test_a_port_mapper_of_its_own(self):
        server = self.serve()
        core = server.endpoint("VXI-11 on")
        self.assertIn("found through a port mapper of our own on 127.0.0.1:111 (no rpcbind runs",
                      server.logged("VXI-11 on"))
        listed = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True,
                                timeout=20, check=True).stdout
        self.assertIn(f"395183    1   tcp  {core:>5}", listed)
        getport = lambda program, protocol: units(program, 1, protocol, 0)
        for udp in (False, True):
            mapper = self.rpc(111, udp)
            rows = [  # version, procedure, arguments; accept status, results
                (2, 3, getport(CORE, 6), 0, units(core)),
                (2, 3, getport(CORE, 17), 0, units(0)),
                (2, 3, getport(100003, 6), 0, units(0)),
                (2, 1, getport(100003, 6)[:12] + units(2049), 0, units(0)),  # SET refused
                (3, 3, b"", 2, units(2, 2)),  # rpcbind's versions: only 2 here
                (2, 9, b"", 3, b""),
            ]
            for version, procedure, arguments, status, results in rows:
                with self.subTest(udp=udp, version=version, procedure=procedure):
                    self.assertEqual(mapper.call(PORTMAP, version, procedure, arguments),
                                     (status, results))

    def test_vxi11_off_when_port_111_is_taken(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 111))
            taken.listen()
            server = self.serve()
            line = server.logged("VXI-11 off")
            self.assertIn("no rpcbind runs", line)
            self.assertIn("port 111 cannot be bound on 127.0.0.1", line)
            sock = server.client()
            self.addCleanup(sock.close)
            self.assertEqual(sock.query("*OPC?"), "1")
            status, _, document = self.page(server, "/lxi/identification")
            self.assertNotIn("::INSTR", document)

    def test_registered_with_rpcbind(self):
        daemons = Daemons()
        daemons.rpcbind()
        self.addCleanup(daemons.stop_all)
        server = self.serve()
        core = server.endpoint("VXI-11 on")
        self.assertIn("found through rpcbind", server.logged("VXI-11 on"))
        listed = lambda: subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True,
                                        text=True, timeout=20, check=True).stdout
        self.assertIn(f"395183    1   tcp  {core:>5}", listed())
        instr = RESOURCES.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n")
        self.assertEqual(instr.query("*OPC?"), "1")
        instr.close()
        answer = subprocess.run(["lxi", "scpi", "--address", "127.0.0.1", "*IDN?"], check=True,
                                timeout=20, capture_output=True, text=True)
        self.assertEqual(answer.stdout.strip(), "TX4410 bench program,TX4410,sim,1.0.0")
        self.assertEqual(server.stop(), 0)
        self.assertNotIn("395183", listed())  # taken back at the end


class HttpTest(LanTest):
    def test_identification(self):
        server = self.serve()
        status, kind, document = self.page(server, "/lxi/identification")
        self.assertEqual((status, kind), (200, "text/xml; charset=utf-8"))
        root = ElementTree.fromstring(document)
        self.assertEqual(root.tag, LXI + "LXIDevice")
        # The schema's order, and *IDN?'s fields.
        self.assertEqual([child.tag[len(LXI):] for child in root],
                         ["Manufacturer", "Model", "SerialNumber", "FirmwareRevision",
                          "ManufacturerDescription", "IdentificationURL", "Interface", "LXIVersion"])
        idn = server.client()
        self.addCleanup(idn.close)
        self.assertEqual(",".join(root.findtext(LXI + name) for name in
                                  ("Manufacturer", "Model", "SerialNumber", "FirmwareRevision")),
                         idn.query("*IDN?"))
        port = server.endpoint("HTTP on")
        self.assertEqual(root.findtext(LXI + "IdentificationURL"),
                         f"http://127.0.0.1:{port}/lxi/identification")
        interface = root.find(LXI + "Interface")
        self.assertEqual((interface.get("InterfaceType"), interface.get("IPType"),
                          interface.get("InterfaceName")), ("LXI", "IPv4", "lo"))
        resources = [each.text for each in interface.findall(LXI + "InstrumentAddressString")]
        self.assertEqual(resources, ["TCPIP::127.0.0.1::inst0::INSTR",
                                     f"TCPIP::127.0.0.1::{server.port}::SOCKET"])
        for resource in resources:  # each opens as it says
            with self.subTest(resource):
                self.assertEqual(self.instrument(resource).query("*OPC?"), "1")
        self.assertEqual(interface.findtext(LXI + "IPAddress"), "127.0.0.1")
        # Asked without a Host header (HTTP/1.0, as lxi asks): the address it reached; the
        # connection closes after the answer, as HTTP/1.0 clients read until it does.
        with socket.create_connection(("127.0.0.1", port), timeout=10) as bare:
            bare.sendall(b"GET /lxi/identification HTTP/1.0\r\n\r\n")
            answer = b""
            while chunk := bare.recv(65536):
                answer += chunk
        self.assertIn(b"Connection: close\r\n", answer)
        self.assertIn(b"<Hostname>127.0.0.1</Hostname>", answer)
        # The host as the client named it.
        document = self.page(server, "/lxi/identification", host="bench-pc.example:80")[2]
        self.assertIn("<Hostname>bench-pc.example</Hostname>", document)
        self.assertIn("TCPIP::bench-pc.example::inst0::INSTR", document)

    def test_identification_as_the_lan_reaches_it(self):
        server = self.serve(listen="0.0.0.0:0")
        port = server.endpoint("HTTP on")
        # A leased address on veth0, a link-local one on veth1, and a default route by veth0.
        for command in (["ip", "addr", "add", "10.44.0.3/24", "dev", "veth0", "valid_lft", "300",
                         "preferred_lft", "300"],
                        ["ip", "addr", "add", "169.254.7.7/16", "dev", "veth1"],
                        ["ip", "route", "add", "default", "via", "10.44.0.254", "dev", "veth0"]):
            subprocess.run(command, check=True)
            undo = command[:]
            undo[2] = "del"
            self.addCleanup(subprocess.run, undo)

        def mac(interface):
            shown = subprocess.run(["ip", "-o", "link", "show", "dev", interface], check=True,
                                   capture_output=True, text=True).stdout
            return shown.split("link/ether ")[1].split()[0].upper()
        rows = [  # from, to, the Host sent, what the document says
            ("10.44.0.2", "10.44.0.1", None, ("10.44.0.1", "10.44.0.1", "veth0", "255.255.255.0",
                                              mac("veth0"), "10.44.0.254", "false", "false")),
            ("10.44.0.1", "10.44.0.2", None, ("10.44.0.2", "10.44.0.2", "veth1", "255.255.255.0",
                                              mac("veth1"), "0.0.0.0", "false", "false")),
            ("10.44.0.2", "10.44.0.3", None, ("10.44.0.3", "10.44.0.3", "veth0", "255.255.255.0",
                                              mac("veth0"), "10.44.0.254", "true", "false")),
            ("10.44.0.2", "169.254.7.7", None, ("169.254.7.7", "169.254.7.7", "veth1", "255.255.0.0",
                                                mac("veth1"), "0.0.0.0", "false", "true")),
            ("127.0.0.1", "127.0.0.1", None, ("127.0.0.1", "127.0.0.1", "lo", "255.0.0.0",
                                              "00:00:00:00:00:00", "0.0.0.0", "false", "false")),
            # A router's address in front is none of ours; a name is the one the client used.
            ("10.44.0.2", "10.44.0.1", f"192.0.2.7:{port}", ("10.44.0.1", "10.44.0.1", "veth0",
                                                             "255.255.255.0", mac("veth0"),
                                                             "10.44.0.254", "false", "false")),
            ("10.44.0.2", "10.44.0.1", f"bench-pc.example:{port}", ("bench-pc.example", "10.44.0.1",
                                                                    "veth0", "255.255.255.0",
                                                                    mac("veth0"), "10.44.0.254",
                                                                    "false", "false")),
        ]
        for source, target, host, facts in rows:
            with self.subTest(source=source, target=target, host=host):
                with socket.create_connection((target, port), timeout=10,
                                              source_address=(source, 0)) as bare:
                    bare.sendall(b"GET /lxi/identification HTTP/1.0\r\n"
                                 + (f"Host: {host}\r\n".encode() if host else b"") + b"\r\n")
                    answer = b""
                    while chunk := bare.recv(65536):
                        answer += chunk
                document = answer.split(b"\r\n\r\n", 1)[1]
                valid = subprocess.run(["xmllint", "--noout", "--schema", SCHEMA, "-"],
                                       input=document, capture_output=True, timeout=20)
                self.assertEqual(valid.returncode, 0, valid.stderr.decode())
                root = ElementTree.fromstring(document)
                interface = root.find(LXI + "Interface")
                self.assertEqual((interface.findtext(LXI + "Hostname"),
                                  interface.findtext(LXI + "IPAddress"),
                                  interface.get("InterfaceName"))
                                 + tuple(interface.findtext(LXI + name) for name in
                                         ("SubnetMask", "MACAddress", "Gateway", "DHCPEnabled",
                                          "AutoIPEnabled")), facts)
                resources = [each.text for each in interface.findall(LXI + "InstrumentAddressString")]
                self.assertEqual(resources[-1], f"TCPIP::{facts[0]}::{server.port}::SOCKET")
                self.assertEqual(root.findtext(LXI + "IdentificationURL"),
                                 f"http://{facts[0]}:{port}/lxi/identification")
        self.assertEqual(server.stop(), 0)

    def test_ipv6(self):
        server = self.serve(listen="[::1]:0")
        self.assertIn("a port mapper of our own answers IPv4 only", server.logged("VXI-11 off"))
        connection = http.client.HTTPConnection("::1", server.endpoint("HTTP on"), timeout=10)
        self.addCleanup(connection.close)
        connection.request("GET", "/lxi/identification")
        root = ElementTree.fromstring(connection.getresponse().read())
        interface = root.find(LXI + "Interface")
        self.assertEqual((interface.get("IPType"), interface.findtext(LXI + "IPAddress")), ("IPv6", "::1"))
        self.assertEqual([each.text for each in interface.findall(LXI + "InstrumentAddressString")],
                         [f"TCPIP::[::1]::{server.port}::SOCKET"])
        with socket.create_connection(("::1", server.port)) as sock:
            sock.sendall(b"*OPC?\n")
            self.assertEqual(sock.recv(10), b"1\n")

    def test_identification_over_a_link_local_address(self):
        server = self.serve(listen="[::]:0")
        port = server.endpoint("HTTP on")
        command = ["ip", "-6", "addr", "add", "fe80::7/64", "dev", "veth0", "nodad"]
        subprocess.run(command, check=True)
        self.addCleanup(subprocess.run, command[:3] + ["del"] + command[4:-1])
        with socket.create_connection(("fe80::7%veth0", port), timeout=10) as bare:
            bare.sendall(b"GET /lxi/identification HTTP/1.0\r\n\r\n")
            answer = b""
            while chunk := bare.recv(65536):
                answer += chunk
        document = answer.split(b"\r\n\r\n", 1)[1]
        valid = subprocess.run(["xmllint", "--noout", "--schema", SCHEMA, "-"], input=document,
                               capture_output=True, timeout=20)
        self.assertEqual(valid.returncode, 0, valid.stderr.decode())
        interface = ElementTree.fromstring(document).find(LXI + "Interface")
        # The address a LAN client can use, without this machine's name for the link.
        self.assertEqual((interface.get("InterfaceName"), interface.findtext(LXI + "IPAddress")),
                         ("veth0", "fe80::7"))
        self.assertEqual(server.stop(), 0)

    def test_welcome_page(self):
        server = self.serve()
        instr = self.instrument("TCPIP::127.0.0.1::INSTR")
        instr.write("SOUR2:VOLT 1.25;:PIN:CLR LOW")
        instr.lock_excl()
        status, kind, page = self.page(server, "/")
        self.assertEqual((status, kind), (200, "text/html; charset=utf-8"))
        rows = ["<td>TX4410 bench program</td>", "<td>1.0.0</td>", "<td>sim</td>", "<td>running</td>",
                "<th scope=\"row\">B</th><td class=\"number\">1.25000000000000</td><td class=\"number\">16384</td>",
                "<th scope=\"row\">A</th><td class=\"number\">0.00000000000000</td>",
                "<tr><th scope=\"row\">CLR pin</th><td>LOW</td>",
                "<tr><th scope=\"row\">VXI-11 links</th><td>1</td>",
                f"<code>TCPIP::127.0.0.1::{server.port}::SOCKET</code>",
                "held by a VXI-11 link from 127.0.0.1:", "<td>0 times</td>",
                # LXI's items for the welcome page.
                "<tr><th scope=\"row\">LXI version</th><td>1.5</td>",
                "<tr><th scope=\"row\">MAC address</th><td>00:00:00:00:00:00</td>",
                "<tr><th scope=\"row\">IP address</th><td>127.0.0.1</td>"]
        for row in rows:
            with self.subTest(row):
                self.assertIn(row, page)
        instr.unlock()
        open(server.unplugged, "w").close()
        instr.query("MEAS1:CODE?;:SYST:ERR?")
        server.expect("the board has gone")
        self.assertIn("<td>gone: brought up again when it is back on the bus</td>", self.page(server, "/")[2])
        os.remove(server.unplugged)
        server.expect("the board is back")
        page = self.page(server, "/")[2]
        self.assertIn("<td>1 time</td>", page)
        self.assertIn("<td>running</td>", page)
        self.assertEqual(self.page(server, "/nothing")[0], 404)

    def test_http_address_and_off(self):
        taken = socket.socket()
        self.addCleanup(taken.close)
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        rows = [  # --listen, --http, the log line
            ("127.0.0.1:5025", [], "HTTP on 127.0.0.1:8080:"),
            ("127.0.0.1:0", [], "HTTP on 127.0.0.1:"),  # any free port, as --listen's
            ("127.0.0.1:0", ["--http", "127.0.0.1:0"], "HTTP on 127.0.0.1:"),
            ("127.0.0.1:0", ["--http", "off"], None),
            ("127.0.0.1:0", ["--http", f"127.0.0.1:{port}"], f"HTTP off: cannot listen on 127.0.0.1:{port}"),
        ]
        for listen, arguments, line in rows:
            with self.subTest(listen=listen, arguments=arguments):
                server = Server(*arguments, listen=listen)
                self.addCleanup(server.ends_well, self)
                if listen.endswith(":0") and line and line.startswith("HTTP on"):
                    self.assertNotEqual(server.endpoint("HTTP on"), 8080)
                server.logged("VXI-11 on")
                text = "".join(server.log)
                if line:
                    self.assertIn(line, text)
                else:
                    self.assertNotIn("HTTP", text)
                self.assertEqual(server.stop(), 0)


class DiscoveryTest(LanTest):
    def setUp(self):
        self.daemons = Daemons()
        self.addCleanup(self.daemons.stop_all)

    def lxi_mdns(self):
        return subprocess.run(["lxi", "discover", "--mdns", "--timeout", "1"], capture_output=True,
                              text=True, timeout=30).stdout

    def test_dns_sd(self):
        self.daemons.bus()
        self.daemons.avahi()
        server = self.serve(listen="0.0.0.0:0")
        name = server.logged("DNS-SD: announced as").split('"')[1]
        self.assertEqual(name, f"TX4410 sim on {socket.gethostname()}")
        http_port = server.endpoint("HTTP on")
        found = self.lxi_mdns()
        for kind, port in (("scpi-raw", server.port), ("vxi-11", 111), ("lxi", http_port)):
            with self.subTest(kind):
                self.assertIn(f'Found "{name}" on address 10.44.0.1\n    {kind} service on port {port}', found)
        browsed = subprocess.run(["avahi-browse", "-rt", "_scpi-raw._tcp"], capture_output=True,
                                 text=True, timeout=30).stdout
        self.assertIn(name, browsed)
        self.assertIn(f"port = [{server.port}]", browsed)
        self.assertIn('txt = ["txtvers=1" "Manufacturer=TX4410 bench program" "Model=TX4410" '
                      '"SerialNumber=sim" "FirmwareVersion=1.0.0"]', browsed)
        http = subprocess.run(["avahi-browse", "-rt", "_http._tcp"], capture_output=True,
                              text=True, timeout=30).stdout
        self.assertIn('"path=/"', http)

    def test_vxi11_broadcast(self):
        server = self.serve(listen="0.0.0.0:0")
        server.logged("VXI-11 on")
        found = subprocess.run(["lxi", "discover", "--timeout", "1"], capture_output=True,
                               text=True, timeout=30).stdout
        # Found by the broadcast on the virtual Ethernet, not only by the call to loopback.
        self.assertRegex(found, r'Broadcasting on interface veth.\n  Found "TX4410 bench program,'
                                r'TX4410,sim,1\.0\.0" on address 10\.44\.0\.[12]\n')

    def test_names_and_interfaces(self):
        self.daemons.bus()
        self.daemons.avahi()
        first, second = self.serve(), self.serve()
        # Two on one machine: Avahi's next name for the one that comes second.
        names = {each.logged("DNS-SD: announced as").split('"')[1] for each in (first, second)}
        name = f"TX4410 sim on {socket.gethostname()}"
        self.assertEqual(names, {name, name + " #2"})
        browsed = subprocess.run(["avahi-browse", "-rtp", "_scpi-raw._tcp"], capture_output=True,
                                 text=True, timeout=30).stdout
        resolved = [line.split(";") for line in browsed.splitlines() if line.startswith("=")]
        # Listening on 127.0.0.1, they are announced on loopback alone.
        self.assertEqual(sorted((fields[1], fields[8]) for fields in resolved),
                         sorted([("lo", str(first.port)), ("lo", str(second.port))]))

    def test_avahi_daemon_restarted(self):
        self.daemons.bus()
        self.daemons.avahi()
        server = self.serve(listen="0.0.0.0:0")
        name = server.logged("DNS-SD: announced as").split('"')[1]

        def announced():
            browsed = subprocess.run(["avahi-browse", "-rtp", "_scpi-raw._tcp"],
                                     capture_output=True, text=True, timeout=30).stdout
            return any(line.startswith("=") and name.replace(" ", "\\032") in line
                       for line in browsed.splitlines())
        self.assertTrue(announced())
        for attempt in range(2):  # and again: the records outlive more than one restart
            with self.subTest(attempt=attempt):
                self.daemons.stop("avahi")
                server.expect("DNS-SD waits: avahi-daemon has gone")
                self.daemons.avahi()
                started = time.monotonic()
                server.expect("DNS-SD: announced as")
                while not announced():
                    self.assertLess(time.monotonic() - started, 5, "the records did not come back")
                self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(server.stop(), 0)

    def test_avahi_later_or_never(self):
        server = self.serve()
        self.assertIn("DNS-SD off: avahi-daemon cannot be reached", server.logged("DNS-SD"))
        sock = server.client()
        self.addCleanup(sock.close)
        self.assertEqual(sock.query("*OPC?"), "1")
        self.daemons.bus()
        later = self.serve()
        later.logged("DNS-SD waits: avahi-daemon does not run")
        self.daemons.avahi()
        later.logged("DNS-SD: announced as")
        self.assertIn("scpi-raw service on port %d" % later.port, self.lxi_mdns())


if __name__ == "__main__":
    unittest.main(verbosity=2)
