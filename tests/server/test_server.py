"""tx4410-server on the simulated board, driven as a bench drives it: PyVISA with its pure-Python
backend, lxi, tx4410-cli, and plain sockets for the clients that misbehave.

Run by CTest with Debian's /usr/bin/python3; TX4410_SERVER_PROGRAM and TX4410_CLI_PROGRAM name the
programs under test. Every server listens on a port the system chooses.
"""
import os
import queue
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import pyvisa

SERVER = os.environ["TX4410_SERVER_PROGRAM"]
CLI = os.environ["TX4410_CLI_PROGRAM"]
RESOURCES = pyvisa.ResourceManager("@py")


class Server:
    """One tx4410-server, its log read line by line as it comes."""

    def __init__(self, *arguments, environment=None, listen="127.0.0.1:0", program=SERVER,
                 pass_fds=(), preexec_fn=None):
        self.scratch = tempfile.TemporaryDirectory()
        self.unplugged = os.path.join(self.scratch.name, "unplugged")
        env = dict(os.environ, TX4410_BOARD="sim", TX4410_SIM_UNPLUGGED=self.unplugged)
        env.update(environment or {})
        self.process = subprocess.Popen([program, "--listen", listen, *arguments], env=env,
                                        stderr=subprocess.PIPE, text=True, pass_fds=pass_fds,
                                        preexec_fn=preexec_fn)
        self.lines = queue.Queue()
        self.log = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.port = None
        self.status = None
        if listen.endswith(":0"):
            self.port = int(self.expect("listening on").split(",")[0].rsplit(":", 1)[1])

    def _read(self):
        for line in self.process.stderr:
            self.log.append(line)
            self.lines.put(line)
        self.lines.put(None)

    def logged(self, text, seconds=10):
        """The first log line that holds text, whenever it came; fails when none comes in time."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for line in list(self.log):
                if text in line:
                    return line
            if self.process.poll() is not None and not self.lines.empty():
                continue
            time.sleep(0.02)
        raise AssertionError(f"no log line with {text!r}; log: {''.join(self.log)}")

    def endpoint(self, text):
        """The port of the endpoint the log line with text names ("VXI-11 on 127.0.0.1:PORT")."""
        return int(self.logged(text).split(text, 1)[1].split()[0].rstrip(":,").rsplit(":", 1)[1])

    def expect(self, text, seconds=10):
        """The next log line that holds text; fails when none comes in time."""
        deadline = time.monotonic() + seconds
        while True:
            try:
                line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                line = None
            if line is None:
                raise AssertionError(f"no log line with {text!r}; log: {''.join(self.log)}")
            if text in line:
                return line

    def client(self):
        return RESOURCES.open_resource(f"TCPIP::127.0.0.1::{self.port}::SOCKET",
                                       read_termination="\n", write_termination="\n",
                                       timeout=5000)

    def socket(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=10)

    def stop(self, number=signal.SIGTERM):
        if self.status is not None:
            return self.status
        if self.process.poll() is None:
            self.process.send_signal(number)
        status = self.process.wait(20)
        # The log is whole only once the reader has met the end of standard error; a join that
        # merely timed out would let a test read a log still coming.
        self.reader.join(60)
        if self.reader.is_alive():
            raise AssertionError("the server's standard error is still open after it ended")
        self.process.stderr.close()
        self.scratch.cleanup()
        self.status = status
        return status

    def ends_well(self, test):
        """A test's last check: a server it did not stop itself ends with status 0."""
        if self.status is None:
            status = self.stop()
            test.assertEqual(status, 0, "the server's exit status; its log: " + "".join(self.log[-30:]))


class ServerTest(unittest.TestCase):
    def serve(self, *arguments, **settings):
        server = Server(*arguments, **settings)
        self.addCleanup(server.ends_well, self)
        return server

    def client(self, server):
        client = server.client()
        self.addCleanup(client.close)
        return client

    def test_set_and_read_back(self):
        server = self.serve()
        client = self.client(server)
        rows = [  # settings, queries, answer; *RST before each
            ("SOUR1:VOLT 2.5", "MEAS1:VOLT?;CODE?", "2.50000000000000;2048"),
            ("source2:voltage:level:immediate:amplitude 1250 mV", "MEASure2:VOLTage:DC?",
             "1.25000000000000"),
            ("SOUR3:VOLT MAX", "MEAS3:CODE?;:SOUR3:VOLT:CODE?", "4095;65535"),
            ("SOUR4:VOLT:CODE #H4000;:MEAS:VDD 3.3", "SOUR4:VOLT?;:MEAS4:VOLT?",
             "1.25000000000000;0.82500000000000"),
            ("SOUR:VOLT:REF 2.5;:SOUR:VOLT 1.25E0", "SOUR:VOLT:CODE?;:MEAS1:CODE?", "32768;2048"),
            ("SOUR1:VOLT 4;:PIN:CLR LOW", "MEAS1:CODE?;:PIN:CLR?", "0;LOW"),
            ("PIN:LDAC 0;:DAC:WORD #H1FFFF", "MEAS2:CODE?;:PIN:LDAC?", "4095;LOW"),
        ]
        for settings, queries, answer in rows:
            with self.subTest(settings):
                client.write("*RST;" + settings)
                self.assertEqual(client.query(queries), answer)
                self.assertEqual(client.query("SYST:ERR:COUN?"), "0")

    def test_errors(self):
        server = self.serve()
        client = self.client(server)
        rows = [("FOO:BAR", -113), ("SOUR1:VOLT 'one'", -104), ("SOUR1:VOLT", -109),
                ("SOUR1:VOLT 5.1", -222), ("*IDN? 1", -108), ("MEAS9:CODE?", -114),
                ("SOUR1:VOLT 1 A", -131), ("SOUR1:VOLT:CODE 9 V", -138),
                ("PIN:CLR MIDDLE", -224), ("SOUR1:VOLT 1.2.3", -121)]
        for command, number in rows:
            with self.subTest(command):
                client.write(command)
                self.assertTrue(client.query("SYST:ERR?").startswith(f"{number},"))
        client.write("FOO;" * 40)
        errors = [client.query("SYST:ERR?") for _ in range(32)]
        self.assertEqual(errors[-1], '-350,"Queue overflow"')
        self.assertEqual(client.query("SYST:ERR?"), '0,"No error"')

    def test_failed_request(self):
        server = self.serve(environment={"TX4410_SIM_FAIL_REQUESTS": "1"})
        client = self.client(server)
        client.write("SOUR1:VOLT 1")
        self.assertEqual(client.query("SYST:ERR?;*ESR?;*TST?"),
                         '-240,"Hardware error;request SendCommandWord (0xdd) failed: a USB '
                         'transfer failed. Fix: check the cable and plug the board in again '
                         '(\'tx4410-cli doctor\' checks the rest) [status 14, RequestFailed]";16;1')
        server.expect("request SendCommandWord (0xdd) failed: a USB transfer failed. Fix:")

    def test_status_model(self):
        server = self.serve()
        client = self.client(server)
        self.assertEqual(client.query("*ESR?;*STB?"), "0;16")
        client.write("*ESE 36;*SRE 32;FOO;SOUR1:VOLT 9")
        self.assertEqual(client.query("*STB?;*ESR?;*STB?"), "100;48;20")
        client.write("*CLS;*OPC")
        self.assertEqual(client.query("*STB?;*ESR?;*OPC?;*ESE?;*SRE?"), "0;1;1;36;32")

    def test_power_on_after_board_loss(self):
        server = self.serve()
        first, second = self.client(server), self.client(server)
        first.write("SOUR1:VOLT 2.5")
        self.assertEqual(second.query("*ESR?;:MEAS1:CODE?"), "0;2048")
        open(server.unplugged, "w").close()
        self.assertTrue(first.query("MEAS1:CODE?;:SYST:ERR?").startswith('-241,"Hardware missing;'))
        server.expect("the board has gone")
        second.write("SOUR2:VOLT 1")
        self.assertTrue(second.query("SYST:ERR?").startswith("-241,"))
        for client in (first, second):
            client.write("*CLS")
        os.remove(server.unplugged)
        server.expect("the board is back")
        for client in (first, second):
            self.assertEqual(client.query("*ESR?;*ESR?"), "128;0")
        self.assertEqual(first.query("MEAS1:CODE?;:SOUR1:VOLT:CODE?"), "0;0")

    def test_clients_have_their_own_queues_and_share_the_board(self):
        server = self.serve()
        clients = [self.client(server) for _ in range(3)]
        for number, client in enumerate(clients):
            client.write(f"SOUR{number + 1}:VOLT:CODE {1000 * (number + 1)};:SOUR{number + 5}:VOLT 1")
        for number, client in enumerate(clients):
            self.assertEqual(client.query("SYST:ERR:COUN?;:SYST:ERR?"),
                             f'1;-114,"Header suffix out of range;:SOUR{number + 5}:VOLT"')
            self.assertEqual(client.query(f"SOUR{3 - number}:VOLT:CODE?"), str(1000 * (3 - number)))
        for line in server.log:
            self.assertNotIn("refused", line)

    def test_client_limit(self):
        server = self.serve("--max-clients", "2")
        first, second = self.client(server), self.client(server)
        with server.socket() as third:
            self.assertEqual(third.recv(1), b"")
        server.expect("refused: 2 clients are connected")
        first.close()
        server.expect("closed (1 open)")
        self.assertEqual(self.client(server).query("*OPC?"), "1")
        self.assertEqual(second.query("*OPC?"), "1")

    def test_line_limit(self):
        server = self.serve()
        client = self.client(server)
        client.write_raw(b"*OPC?" + b" " * (65536 - 5) + b"\n")
        self.assertEqual(client.read(), "1")
        client.write_raw(b"*OPC?" + b" " * 300000 + b"\r\n*OPC?\r\n")
        self.assertEqual(client.read(), "1")  # the line after it
        self.assertEqual(client.query("SYST:ERR?"),
                         '-223,"Too much data;a line longer than 65536 bytes, discarded up to its end"')
        self.assertEqual(client.query("SYST:ERR:COUN?"), "0")

    def test_client_that_never_reads(self):
        server = self.serve()
        reader = self.client(server)
        with server.socket() as flood:
            line = b"*IDN?;" * 200 + b"\n"
            try:
                for _ in range(20000):
                    flood.sendall(line)
                    if _ % 1000 == 0:  # the others are served all along
                        self.assertEqual(reader.query("*OPC?"), "1")
            except OSError:
                pass  # closed by the server
            server.expect("closed: it left more than 4194304 bytes of answers unread")
        self.assertEqual(reader.query("*OPC?"), "1")

    def test_disconnect_mid_line_and_mid_query(self):
        server = self.serve()
        client = self.client(server)
        with server.socket() as leaving:
            leaving.sendall(b"SOUR2:VOLT:CODE 7\nSOUR2:VOLT:CODE 8")
        with server.socket() as leaving:
            leaving.sendall(b"MEAS1:CODE?;" * 5000 + b"*IDN?\n")
        server.expect("closed (")
        server.expect("closed (")
        self.assertEqual(client.query("SOUR2:VOLT:CODE?;:SYST:ERR:COUN?"), "7;0")

    def test_signals_end_the_server(self):
        for number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(number):
                server = Server()
                client = server.client()
                self.assertEqual(client.query("*OPC?"), "1")
                self.assertEqual(server.stop(number), 0)
                self.assertIn(f"ending on {number.name}", "".join(server.log))
                self.assertIn("closed: the server ends (0 open)", server.log[-1])
                client.close()

    def test_half_closed_client_gets_every_answer(self):
        server = self.serve()
        for lines in (2000, 20000):  # as nc -N, or a script feeding a file
            with self.subTest(lines=lines), server.socket() as sock:
                sock.sendall(b"*IDN?\n" * lines)
                sock.shutdown(socket.SHUT_WR)
                received = b""
                while chunk := sock.recv(65536):
                    received += chunk
                self.assertEqual(received, b"TX4410 bench program,TX4410,sim,1.0.0\n" * lines)

    def test_signal_closes_busy_clients_cleanly(self):
        server = self.serve()
        answer = b"TX4410 bench program,TX4410,sim,1.0.0\n"
        with socket.socket() as sock:
            # A small window: the answers wait in the server's system while the server ends.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            sock.settimeout(10)
            sock.connect(("127.0.0.1", server.port))
            flood = threading.Thread(target=sock.sendall, args=(b"*IDN?\n" * 40000,), daemon=True)
            flood.start()
            received = sock.recv(len(answer))
            server.process.send_signal(signal.SIGTERM)
            server.expect("ending on SIGTERM")
            time.sleep(0.5)  # not reading while the server closes, so that answers are still owed
            while chunk := sock.recv(65536):  # a reset would raise here
                received += chunk
            flood.join(10)
        self.assertTrue(received.endswith(b"\n"))
        self.assertEqual(set(received.splitlines(keepends=True)), {answer})
        self.assertEqual(server.stop(), 0)
        self.assertIn("closed: the server ends (0 open)", server.log[-1])

    def test_power_on_for_connections_that_open_later(self):
        server = self.serve()
        rows = [  # whether a client is connected while the board comes back; *ESR? of the next
            # two to connect
            (False, ["128", "0"]),
            (True, ["0", "0"]),
        ]
        for connected, later in rows:
            with self.subTest(connected=connected):
                client = server.client()
                open(server.unplugged, "w").close()
                self.assertTrue(client.query("MEAS1:CODE?;:SYST:ERR?").startswith("-241,"))
                server.expect("the board has gone")
                client.query("*ESR?")  # read, and so cleared
                if not connected:
                    client.close()
                    server.expect("closed (0 open)")
                os.remove(server.unplugged)
                server.expect("the board is back")
                if connected:
                    self.assertEqual(client.query("*ESR?"), "128")
                    client.close()
                for expected in later:
                    each = server.client()
                    self.assertEqual(each.query("*ESR?"), expected)
                    each.close()

    def test_board_brought_up_only_when_it_is_there(self):
        trace = tempfile.NamedTemporaryFile(suffix=".log")
        self.addCleanup(trace.close)
        server = self.serve(environment={"TX4410_BOARD_TRACE": trace.name})
        client = self.client(server)
        open(server.unplugged, "w").close()
        client.query("MEAS1:CODE?;:SYST:ERR?")
        server.expect("the board has gone")
        attempts = lambda: open(trace.name).read().count("Search_For_Boards")
        before = attempts()
        time.sleep(2.5)  # looks at the bus twice meanwhile
        # No bring-up while no board is there: an attempt may hold every client for seconds.
        self.assertEqual(attempts(), before)
        self.assertTrue(client.query("SYST:ERR:COUN?").isdigit())
        os.remove(server.unplugged)
        server.expect("the board is back")
        self.assertEqual(attempts(), before + 1)
        self.assertEqual(client.query("MEAS1:CODE?"), "0")

    def test_start_refused(self):
        server = self.serve()
        rows = [  # arguments, environment, status, message
            (["--listen", f"127.0.0.1:{server.port}"], {}, 1, "cannot listen on 127.0.0.1:"),
            ([], {"TX4410_SIM_ABSENT_ATTEMPTS": "always"}, 3,
             "the board was not brought up: no board found"),
            (["--attach"], {}, 3, "runs only its loader"),
            (["--listen", "127.0.0.1"], {}, 2, '--listen "127.0.0.1" is not ADDRESS:PORT'),
            (["--max-clients", "0"], {}, 2, '--max-clients "0" is not 1 to 1000'),
            (["--http", "off", "--http-token", "/dev/null"], {}, 2,
             "--http-token goes with the web pages, and --http is off"),
            (["--http-origin", "https://bench7.example/panel/"], {}, 2,
             '--http-origin "https://bench7.example/panel" is not an origin'),
            (["--http-origin", "https://a.example,ftp://b.example"], {}, 2,
             '--http-origin "ftp://b.example" is not an origin'),
            (["--http-origin", "https://a.example:0"], {}, 2, "is not an origin"),
            (["--http", "off", "--http-origin", "https://a.example"], {}, 2,
             "--http-origin goes with the web pages, and --http is off"),
        ]
        for arguments, environment, status, message in rows:
            with self.subTest(message):
                if "--listen" not in arguments:
                    arguments = ["--listen", "127.0.0.1:0", *arguments]
                refused = subprocess.run([SERVER, *arguments], stderr=subprocess.PIPE, text=True,
                                         env=dict(os.environ, TX4410_BOARD="sim", **environment),
                                         timeout=20)
                self.assertEqual(refused.returncode, status)
                self.assertIn(message, refused.stderr)

    def cli(self, *arguments, server=None, environment=None):
        env = dict(os.environ, TX4410_BOARD="sim", **(environment or {}))
        if server:
            env["TX4410_SERVER"] = f"127.0.0.1:{server.port}"
        return subprocess.run([CLI, *arguments], env=env, capture_output=True, text=True,
                              timeout=30)

    def test_cli_through_the_server(self):
        server = self.serve()
        write = ["write", "--command", "3", "--address", "B", "--volts", "1.25"]
        through = self.cli("--server", f"127.0.0.1:{server.port}", *write)
        self.assertEqual((through.returncode, through.stdout), (0, self.cli(*write).stdout))
        # The next run sees the DAC as the last one left it.
        self.assertEqual(self.cli("read", "--channel", "B", server=server).stdout, "1.25000\n")
        # Several channels: each reading asks for its own.
        self.assertEqual(self.cli("read", "--channel", "D,B", server=server).stdout,
                         "0.00000 1.25000\n")
        batch = subprocess.run([CLI, "--server", f"localhost:{server.port}", "batch"], timeout=30,
                               input="pins --clr 0\nread --channel B --csv\npins --clr 1\n",
                               capture_output=True, text=True)
        self.assertEqual(batch.stdout.splitlines(),
                         ["CLR LOW", "time_s,channel,code,volts", "0.000,B,0,0.00000", "CLR HI"])
        # CLR low cleared the DAC register, and the next run still sees it so.
        self.assertEqual(self.cli("read", "--channel", "B", server=server).stdout, "0.00000\n")
        with socket.socket() as probe:  # a port that nothing listens on once it is closed
            probe.bind(("127.0.0.1", 0))
            closed = probe.getsockname()[1]
        rows = [  # arguments, environment, status, error
            (["--server", f"127.0.0.1:{closed}", "pins", "--clr", "1"], {}, 3,
             f"the server at 127.0.0.1:{closed} cannot be reached (Connection refused)"),
            (["--server", "127.0.0.1", "--board", "1-2", "word", "1"], {}, 2,
             "--board and --attach choose the board of this machine"),
            (["--server", "127.0.0.1", "list"], {}, 2, "list looks at this machine's USB"),
            (["word", "1"], {"TX4410_SERVER": "bench:99999"}, 2,
             'TX4410_SERVER "bench:99999" is not HOST[:PORT]'),
        ]
        for arguments, environment, status, error in rows:
            with self.subTest(error):
                refused = self.cli(*arguments, environment=environment)
                self.assertEqual(refused.returncode, status)
                self.assertIn(error, refused.stderr.splitlines()[0])

    def test_cli_through_a_failing_server(self):
        failing = {"TX4410_SIM_FAIL_REQUESTS": "1"}
        server = self.serve(environment=failing)
        through = self.cli("read", "--channel", "C", server=server)
        local = self.cli("read", "--channel", "C", environment=failing)
        self.assertEqual((through.returncode, through.stderr), (4, local.stderr))
        open(server.unplugged, "w").close()
        gone = self.cli("pins", "--ldac", "0", server=server)
        self.assertEqual(gone.returncode, 3)
        self.assertIn(f"server at 127.0.0.1:{server.port} has no board (request SetLdacPin (0xf0) "
                      "failed: the board left the bus. Fix: check the cable", gone.stderr)
        # A reason that holds a ';' of its own comes through whole.
        away = self.cli("pins", "--ldac", "0", server=server)
        self.assertIn(f"server at 127.0.0.1:{server.port} has no board (the board has gone; the "
                      "server brings it up again once it is back)", away.stderr)

    def test_sweep_through_the_server(self):
        # The same figures as a sweep of this machine's board, the bow found at mid-scale.
        bow = {"TX4410_SIM_BOW_LSB": "100"}
        server = self.serve(environment=bow)
        sweep = ["sweep", "--channel", "C", "--points", "33", "--method", "endpoint"]
        through, local = self.cli(*sweep, server=server), self.cli(*sweep, environment=bow)
        figures = [line for line in through.stdout.splitlines()
                   if line.split(":")[0] in ("offset error", "gain error", "INL", "DNL")]
        self.assertEqual((through.returncode, len(figures)), (0, 4))
        self.assertEqual(figures, [line for line in local.stdout.splitlines() if line in figures])
        # The record names the server's board by its port path, as a local sweep names it.
        self.assertIn("\nboard: sim\n", through.stdout)
        self.assertRegex(through.stdout, r"INL: max \+[5-9]\d\.\d\d LSB")

    def test_lxi(self):
        server = self.serve()
        lxi = ["lxi", "scpi", "--raw", "--address", "127.0.0.1", "--port", str(server.port)]
        subprocess.run(lxi + ["SOUR3:VOLT 3.75"], check=True, timeout=20)
        answer = subprocess.run(lxi + ["MEAS3:VOLT?"], check=True, timeout=20,
                                capture_output=True, text=True)
        self.assertEqual(answer.stdout.strip(), "3.75000000000000")


if __name__ == "__main__":
    unittest.main(verbosity=2)
