"""tx4410-server --all over several USB boards in a umockdev testbed (the bed host runs it, plugs
and unplugs boards, and reports each board's transfers), in a private network that CTest makes
for the run (scripts/private-network.sh): the socket, VXI-11 through the server's own port
mapper and PyVISA, the index and identification pages, each board's front panel in headless
chromium, DNS-SD through avahi-browse.
"""
import os
import queue
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_lan import CORE, END, LXI, Daemons, Rpc, opaque, units  # noqa: E402
from test_server import CLI, RESOURCES, SERVER  # noqa: E402
from test_hostile import websocket  # noqa: E402
from test_panel import By, WebDriverWait, browser  # noqa: E402

BEDHOST = os.environ["TX4410_BEDHOST"]
WRAPPER = os.environ["UMOCKDEV_WRAPPER"]
# A one-record image: the USB board refuses the stand-in that comes with the programs.
IMAGE = ":03000000020100FA\n:00000001FF\n"


class Bed:
    """The bed host with the board at 1-1, and tx4410-server --all on the ports of the docs."""

    def __init__(self):
        self.scratch = tempfile.TemporaryDirectory()
        server = os.path.join(self.scratch.name, "tx4410-server")
        shutil.copy(SERVER, server)
        with open(os.path.join(self.scratch.name, "TX4413.hex"), "w") as image:
            image.write(IMAGE)
        env = {key: value for key, value in os.environ.items() if not key.startswith("TX4410_")}
        self.process = subprocess.Popen([WRAPPER, BEDHOST, "--", server, "--all"], env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        self.log, self.answers = [], queue.Queue()
        threading.Thread(target=self._read, args=(self.process.stderr, self.log.append), daemon=True).start()
        threading.Thread(target=self._read, args=(self.process.stdout, self.answers.put), daemon=True).start()

    @staticmethod
    def _read(stream, take):
        for line in stream:
            take(line.rstrip("\n"))

    def logged(self, text, seconds=15, after=0):
        """The index of the first log line from `after` on that holds text."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for at in range(after, len(self.log)):
                if text in self.log[at]:
                    return at
            time.sleep(0.02)
        raise AssertionError(f"no log line with {text!r}; log:\n" + "\n".join(self.log))

    def tell(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def plug(self, port, number):
        """A board plugged in, and the instrument's log line that it serves."""
        start = len(self.log)
        self.tell(f"plug {port}")
        return self.logged(f"inst{number} ({port}): listening on 127.0.0.1:{5025 + number}", after=start)

    def run(self, *arguments):
        """A program's output, run on the same boards."""
        self.tell(" ".join(arguments))
        lines = []
        while (line := self.answers.get(timeout=40)) != "end":
            lines.append(line)
        return lines

    def transfers(self):
        self.tell("log")
        lines = []
        while (line := self.answers.get(timeout=10)) != "end":
            lines.append(line)
        return lines

    def stop(self):
        """The server's exit status, as the bed host saw it end."""
        if self.process.poll() is None:
            self.tell("stop")
        self.process.wait(30)
        self.scratch.cleanup()
        ended = [line for line in self.answers.queue if str(line).startswith("exit ")]
        return int(ended[-1].split()[1]) if ended else None

    def pid(self, *words):
        """The process of ours whose command line holds every word."""
        for entry in os.listdir("/proc"):
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                    arguments = cmdline.read().split(b"\0")
            except (OSError, ValueError):
                continue
            if arguments and arguments[0].endswith(b"tx4410-server") \
                    and all(word.encode() in arguments for word in words):
                return int(entry)
        return None


def query(number, line):
    with socket.create_connection(("127.0.0.1", 5025 + number), timeout=10) as sock:
        sock.sendall(line.encode() + b"\n")
        answer = b""
        while not answer.endswith(b"\n"):
            more = sock.recv(4096)
            if not more:
                break
            answer += more
        return answer.decode().strip()


def page(port, path="/"):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=10) as response:
        return response.read().decode()


class BoardsTest(unittest.TestCase):
    def boards(self, count):
        """1-1 to 1-count, each plugged in once its predecessor is served."""
        if not hasattr(self, "bed"):
            self.bed = Bed()
            # Whatever the test did, the server of every board ends well.
            self.addCleanup(lambda: self.assertEqual(self.bed.stop(), 0))
        ports = [f"1-{n}" for n in range(1, count + 1)]
        self.bed.logged("inst0 (1-1): listening on 127.0.0.1:5025")
        for number, port in enumerate(ports[1:], 1):
            if not any(f"inst{number} ({port}): listening" in line for line in self.bed.log):
                self.bed.plug(port, number)
        return ports

    def test_each_instrument_reaches_only_its_board(self):
        for count in (2, 4):
            ports = self.boards(count)
            self.bed.transfers()
            for number, port in enumerate(ports):
                with self.subTest(count=count, port=port):
                    self.assertEqual(query(number, "*IDN?"), f"TX4410 bench program,TX4410,{port},1.0.0")
                    self.assertEqual(query(number, f"SOUR2:VOLT:CODE {4660 + number};CODE?"), str(4660 + number))
                    # One command word, to this board alone (1-1's transfers have no prefix).
                    transfers = self.bed.transfers()
                    self.assertEqual(len(transfers), 1, transfers)
                    self.assertTrue(transfers[0].startswith(("" if port == "1-1" else port + ": ") + "40 dd "),
                                    transfers)

    def test_cli_list_and_server(self):
        self.boards(2)
        listed = self.bed.run("run", CLI, "list")
        for port in ("1-1", "1-2"):
            with self.subTest(port=port):
                # Its own instrument alone: a node of another bed that ends the same is not it.
                self.assertRegex("\n".join(listed), f"(?m)^{port} +6666:4410  firmware running  "
                                                    r"held by tx4410-server \(pid \d+\)$")
        self.bed.transfers()
        self.assertEqual(self.bed.run("run", CLI, "--server", "127.0.0.1:5026", "read", "--channel", "C"),
                         ["4.99878"])
        transfers = self.bed.transfers()
        self.assertTrue(transfers and all(line.startswith("1-2: ") for line in transfers), transfers)

    def test_vxi11_device_per_board(self):
        ports = self.boards(3)
        core = int(self.bed.log[self.bed.logged("VXI-11 on 127.0.0.1:")].split("127.0.0.1:")[1].split()[0])
        rows = [(b"inst2", 0, "1-3"), (b"INST1", 0, "1-2"), (b"", 0, "1-1"), (b"inst0", 0, "1-1"),
                (b"inst3", 3, None), (b"inst01", 3, None), (b"gpib0", 3, None)]
        # Before a link, as one instrument answers it: a procedure VXI-11 has not is
        # PROC_UNAVAIL, one on a link that does not exist says so.
        rpc = Rpc(core)
        self.addCleanup(rpc.close)
        self.assertEqual(rpc.call(CORE, 1, 99)[0], 3)
        self.assertEqual(rpc.write(42, b"*IDN?"), (4, 0))
        for device, error, port in rows:
            with self.subTest(device=device):
                rpc = Rpc(core)
                self.addCleanup(rpc.close)
                self.assertEqual(rpc.call(CORE, 1, 0), (0, b""))  # a null call first is answered
                made, link, _, _ = rpc.create_link(device)
                self.assertEqual(made, error)
                if port:
                    self.assertEqual(rpc.write(link, b"*IDN?", END), (0, 5))
                    self.assertEqual(rpc.read(link)[2], f"TX4410 bench program,TX4410,{port},1.0.0\n".encode())
        for number, port in enumerate(ports):
            with self.subTest(resource=number):
                device = RESOURCES.open_resource(f"TCPIP::127.0.0.1::inst{number}::INSTR",
                                                 read_termination="\n", timeout=5000)
                self.addCleanup(device.close)
                self.assertEqual(device.query("*IDN?").split(",")[2], port)

    def test_numbers_and_ports_stay_with_port_paths(self):
        self.boards(2)
        self.assertEqual(query(1, "SOUR1:VOLT:CODE 7;CODE?"), "7")
        page_open = websocket(8082)  # a front panel open on the board that goes
        self.addCleanup(page_open.close)
        at = len(self.bed.log)
        self.bed.tell("unplug 1-2")
        self.bed.logged("inst1 (1-2): ending")
        self.bed.logged("inst1 (1-2) ended (exit status 0)", after=at)
        self.assertEqual(query(0, "*IDN?").split(",")[2], "1-1")
        with self.assertRaises(OSError):
            query(1, "*IDN?")
        # A board on a new port while 1-2 is away: the next number, not the one away.
        self.bed.plug("1-3", 2)
        at = self.bed.plug("1-2", 1)
        self.bed.logged("inst1 (1-2): VXI-11 as inst1", after=at - 1)
        self.assertEqual([query(n, "*IDN?").split(",")[2] for n in range(3)], ["1-1", "1-2", "1-3"])
        # Back from the load: the DAC at zero.
        self.assertEqual(query(1, "SOUR1:VOLT:CODE?"), "0")
        # An instrument that ends leaves nothing of its own open in the server of every board:
        # once its board is back, as many descriptors as before it went.
        supervisor = self.bed.pid("--all")
        descriptors = lambda: sorted(os.readlink(f"/proc/{supervisor}/fd/{fd}").split(":")[0]
                                     for fd in os.listdir(f"/proc/{supervisor}/fd"))
        before = descriptors()
        at = len(self.bed.log)
        self.bed.tell("unplug 1-3")
        self.bed.logged("inst2 (1-3) ended", after=at)
        time.sleep(1.5)  # seen away by a look at the bus after its end: started at its return
        at = self.bed.plug("1-3", 2)
        self.bed.logged("inst2 (1-3): VXI-11 as inst2", after=at - 1)
        deadline = time.monotonic() + 5
        while descriptors() != before and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(descriptors(), before)
        rows = [f'<tr id="inst{number}"><th scope="row">inst{number}</th><td>{port}</td>'
                f'<td>on the bus</td><td><code>TCPIP::127.0.0.1::inst{number}::INSTR</code><br>'
                f'<code>TCPIP::127.0.0.1::{5025 + number}::SOCKET</code></td>'
                f'<td><a href="http://127.0.0.1:{8081 + number}/">'
                for number, port in enumerate(["1-1", "1-2", "1-3"])]
        # The supervisor lists an instrument's ports once it has said it serves, which may come
        # a moment after the instrument's own log line.
        deadline = time.monotonic() + 10
        while not all(row in (index := page(8080)) for row in rows) and time.monotonic() < deadline:
            time.sleep(0.1)
        for number, port in enumerate(["1-1", "1-2", "1-3"]):
            with self.subTest(index=port):
                self.assertIn(rows[number], index)
                root = ElementTree.fromstring(page(8081 + number, "/lxi/identification"))
                self.assertEqual(root.findtext(LXI + "SerialNumber"), port)

    def test_an_instrument_that_cannot_start_is_tried_again(self):
        self.boards(1)
        taken = socket.socket()  # the next instrument's socket port, taken: it cannot start
        taken.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        taken.bind(("127.0.0.1", 5026))
        taken.listen()
        at = len(self.bed.log)
        self.bed.tell("plug 1-2")
        self.bed.logged("inst1 (1-2) ended (exit status 1): started again in 1 s", after=at)
        self.bed.logged("inst1 (1-2) ended (exit status 1): started again in 2 s", after=at)
        taken.close()
        self.bed.logged("inst1 (1-2): listening on 127.0.0.1:5026", seconds=20, after=at)
        self.assertEqual(query(1, "*IDN?").split(",")[2], "1-2")

    def test_a_stopped_instrument_holds_up_no_other(self):
        self.boards(2)
        core = int(self.bed.log[self.bed.logged("VXI-11 on 127.0.0.1:")].split("127.0.0.1:")[1].split()[0])
        stopped = self.bed.pid("--instrument", "1")
        os.kill(stopped, signal.SIGSTOP)
        self.addCleanup(os.kill, stopped, signal.SIGCONT)
        # Clients of the stopped one pile up in the hand-over, never in front of the others.
        waiting = []
        for _ in range(40):  # more than the system and the server of every board hold for it
            rpc = Rpc(core)
            self.addCleanup(rpc.close)
            rpc.send(CORE, 1, 10, units(4242, 0, 0) + opaque(b"inst1"))
            waiting.append(rpc)
            time.sleep(0.02)  # handed on one by one, never more than the dispatcher holds
        start = time.monotonic()
        self.assertIn('<tr id="inst1">', page(8080))
        rpc = Rpc(core)
        self.addCleanup(rpc.close)
        link = rpc.create_link(b"inst0")[1]
        self.assertEqual(rpc.write(link, b"*IDN?", END), (0, 5))
        self.assertIn(b",1-1,", rpc.read(link)[2])
        self.assertEqual(query(0, "*OPC?"), "1")
        self.assertLess(time.monotonic() - start, 2)
        # Those that waited too long are told error 9 (no more links); none is left hanging.
        self.bed.logged("did not take a VXI-11 connection in time: refused with error 9",
                        seconds=10)
        told_nine = []
        os.kill(stopped, signal.SIGCONT)
        for client in waiting:
            client.sock.settimeout(15)
            status, results = client.receive()
            if struct.unpack(">i", results[:4])[0] == 9:
                told_nine.append(client)
        # Those the supervisor refused are let go; the instrument's own refusal of a link
        # beyond its limit keeps the connection, as VXI-11 has it.
        time.sleep(0.5)
        closed = 0
        for client in told_nine:
            try:
                closed += client.sock.recv(1, socket.MSG_DONTWAIT) == b""
            except (BlockingIOError, TimeoutError):  # open: nothing to read
                pass
        by_supervisor = sum("one more refused with error 9" in line
                            or "did not take a VXI-11 connection in time" in line
                            for line in self.bed.log)
        self.assertGreater(by_supervisor, 0)
        self.assertEqual(closed, by_supervisor)

    def test_front_panel_per_board(self):
        self.boards(2)
        driver = browser(self.bed.scratch.name)
        self.addCleanup(driver.quit)
        driver.get("http://127.0.0.1:8080/")
        driver.find_element(By.XPATH, "//tr[@id='inst1']//a[.='front panel']").click()
        shown = lambda name, text: WebDriverWait(driver, 15).until(
            lambda d: text in d.find_element(By.ID, name).text, f"{name} never showed {text!r}")
        shown("port", "on 1-2")
        shown("board", "Board up")
        driver.find_element(By.ID, "volts-A").send_keys("2.5\n")
        shown("set-A", "2.500000 V (code 32768)")
        self.assertEqual((query(1, "SOUR1:VOLT:CODE?"), query(0, "SOUR1:VOLT:CODE?")), ("32768", "0"))
        self.assertEqual(driver.current_url, "http://127.0.0.1:8082/panel/")

    def test_load_holds_no_other_board(self):
        self.boards(1)
        self.bed.tell("hold")  # the next board loaded stays off the bus: its server waits for it
        self.bed.tell("plug 1-2")
        deadline = time.monotonic() + 15
        while not any(line == "1-2: 40 a0 e600 0000 [00]" for line in self.bed.transfers()):
            self.assertLess(time.monotonic(), deadline, "1-2 was never let run")
        for _ in range(20):
            self.assertEqual(query(0, "*OPC?"), "1")
        # Answered while the other one still waited for its board.
        self.assertNotIn("not brought up", "\n".join(self.bed.log))
        self.bed.logged("inst1 (1-2): the board was not brought up")

    def test_board_away_while_its_firmware_starts(self):
        self.boards(1)
        self.bed.tell("slow 1500")  # longer than the bus is looked at: seen away, not gone
        self.bed.plug("1-2", 1)
        self.bed.tell("slow 0")
        self.bed.plug("1-3", 2)  # the bus looked at again since
        self.assertNotIn("inst1 (1-2) ended", "\n".join(self.bed.log))

    def test_dns_sd_instance_per_board(self):
        daemons = Daemons()
        self.addCleanup(daemons.stop_all)
        daemons.bus()
        daemons.avahi()
        self.boards(2)
        for port in ("1-1", "1-2"):
            self.bed.logged(f'({port}): DNS-SD: announced as "TX4410 {port} on')
        browsed = subprocess.run(["avahi-browse", "-rtp", "_scpi-raw._tcp"], capture_output=True,
                                 text=True, timeout=30).stdout
        resolved = sorted((fields[3].replace("\\032", " "), fields[8], fields[9]) for fields in
                          (line.split(";") for line in browsed.splitlines() if line.startswith("=")))
        host = socket.gethostname()
        self.assertEqual(resolved, [
            (f"TX4410 1-1 on {host}", "5025", '"txtvers=1" "Manufacturer=TX4410 bench program" '
             '"Model=TX4410" "SerialNumber=1-1" "FirmwareVersion=1.0.0"'),
            (f"TX4410 1-2 on {host}", "5026", '"txtvers=1" "Manufacturer=TX4410 bench program" '
             '"Model=TX4410" "SerialNumber=1-2" "FirmwareVersion=1.0.0"')])
        # TCPIP::host::INSTR, which a tool makes of a _vxi-11._tcp record, opens inst0: only
        # instrument 0's record may lead there.
        vxi11 = subprocess.run(["avahi-browse", "-rtp", "_vxi-11._tcp"], capture_output=True,
                               text=True, timeout=30).stdout
        self.assertEqual(sorted((fields[3].replace("\\032", " "), fields[8]) for fields in
                                (line.split(";") for line in vxi11.splitlines() if line.startswith("="))),
                         [(f"TX4410 1-1 on {host}", "111")])


if __name__ == "__main__":
    unittest.main(verbosity=2)
