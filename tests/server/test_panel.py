"""The front panel in a real browser: Debian's chromium, headless, driven through chromedriver by
Selenium, on tx4410-server's simulated board, beside SCPI clients (PyVISA) and bare HTTP and
WebSocket requests for what a browser will not send. Run in a private network
(scripts/private-network.sh), as the other server tests.
"""
import base64
import csv
import http.client
import http.server
import io
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_hostile import send_text, websocket  # noqa: E402
from test_lan import WAITLOCK, Rpc  # noqa: E402
from test_server import CLI, SERVER, Server  # noqa: E402

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-dev-shm-usage",
         # A name of the attacker's that it points at this machine (DNS rebinding).
         "--host-resolver-rules=MAP rebound.example 127.0.0.1"]


def browser(downloads):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in FLAGS:
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + tempfile.mkdtemp(dir=downloads))
    options.add_argument("--window-size=1200,1000")
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Elsewhere:
    """Another site's server on this machine, on a port of its own or a given one: it serves one
    page, and ends when told."""

    def __init__(self, page, port=0):
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body = page.encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *arguments):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join(10)


# What the page shows, measured as a person sees it laid out: [the text of each value, split
# into lines as drawn], each label of the cards with its lines, the sizes of the set values and
# their labels, and whether the sweep's placeholders fit their boxes.
LAYOUT = """
const lines = (node) => { const range = document.createRange(); range.selectNodeContents(node);
  return new Set([...range.getClientRects()].map((rect) => Math.round(rect.top))).size; };
const context = document.createElement("canvas").getContext("2d");
const fits = (input) => { const style = getComputedStyle(input); context.font = style.font;
  const room = input.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
  return context.measureText(input.placeholder).width <= room; };
return {
  values: [...document.querySelectorAll("#channels dd")].map((dd) =>
    [...dd.querySelectorAll(".value")].map((value) => [value.textContent, lines(value)])),
  labels: [...document.querySelectorAll("#channels label, #sweep-form label")].map(
    (label) => [label.textContent, lines(label)]),
  sizes: [...document.querySelectorAll("#channels dl")].map((dl) =>
    [parseFloat(getComputedStyle(dl.querySelector("dt")).fontSize),
     parseFloat(getComputedStyle(dl.querySelector("dd")).fontSize)]),
  placeholders: [...document.querySelectorAll("#sweep-form input")].map(
    (input) => [input.id, fits(input)]),
};
"""

# The leftmost column of the chart's plot where channel A's trace is drawn, as a share of the
# plot's width (the plot starts 52 pixels in, and ends 10 before the right edge).
TRACE_START = """
const canvas = document.getElementById("chart");
const ratio = window.devicePixelRatio || 1;
const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
let leftmost = canvas.width;
for (let y = 0; y < canvas.height; ++y)
  for (let x = 0; x < leftmost; ++x) {
    const at = (y * canvas.width + x) * 4;
    if (Math.abs(data[at] - 31) < 30 && Math.abs(data[at + 1] - 119) < 30 && Math.abs(data[at + 2] - 180) < 30)
      leftmost = x;
  }
return (leftmost / ratio - 52) / (canvas.clientWidth - 62);
"""


def upgrade(port, origin=None, host=None, path="/panel/socket", cookie=None):
    """A bare WebSocket upgrade; the status line and what came with it."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        key = base64.b64encode(os.urandom(16)).decode()
        lines = [f"GET {path} HTTP/1.1", f"Host: {host or f'127.0.0.1:{port}'}",
                 "Upgrade: websocket", "Connection: Upgrade", f"Sec-WebSocket-Key: {key}",
                 "Sec-WebSocket-Version: 13"]
        lines += [f"Origin: {origin}"] if origin else []
        lines += [f"Cookie: {cookie}"] if cookie else []
        sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        answer = b""
        while b"\r\n\r\n" not in answer and (chunk := sock.recv(4096)):
            answer += chunk
    return answer.split(b"\r\n", 1)[0].decode()


class PanelTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp()
        cls.driver = browser(cls.scratch)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def serve(self, *arguments, environment=None):
        server = Server("--http", "127.0.0.1:0", *arguments, environment=environment)
        self.addCleanup(server.ends_well, self)
        server.http = server.endpoint("HTTP on")
        return server

    def scpi(self, server):
        client = server.client()
        self.addCleanup(client.close)
        return client

    def open_panel(self, server):
        self.driver.get(f"http://127.0.0.1:{server.http}/panel/")
        self.text("board", "Board up")
        return self.driver

    def second_window(self):
        """Opens a window beside the first; both handles. Closed again after the test."""
        first = self.driver.current_window_handle
        self.driver.switch_to.new_window("window")
        second = self.driver.current_window_handle

        def close():
            self.driver.switch_to.window(second)
            self.driver.close()
            self.driver.switch_to.window(first)
        self.addCleanup(close)
        return first, second

    def field(self, name):
        return self.driver.find_element(By.ID, name)

    def text(self, name, part, seconds=10):
        """Waits until the element's text holds part; returns the text."""
        WebDriverWait(self.driver, seconds, poll_frequency=0.05).until(
            lambda d: part in self.field(name).text, f"{name} never showed {part!r}")
        return self.field(name).text

    def enter(self, name, value):
        box = self.field(name)
        box.clear()
        box.send_keys(value + "\n")

    def test_set_from_the_page_reads_back_over_scpi(self):
        server = self.serve()
        client = self.scpi(server)
        self.open_panel(server)
        rows = [  # field, entry, SCPI query, its answer, the readback the page shows
            ("volts-A", "2.5", "SOUR1:VOLT?", "2.50000000000000", ("read-A", "2.500000 V (code 2048)")),
            ("volts-B", "1250 mV", "SOUR2:VOLT:CODE?", "16384", ("read-B", "(code 1024)")),
            ("code-C", "#HFFFF", "SOUR3:VOLT?", "4.99992370605469", ("read-C", "(code 4095)")),
            ("code-D", "16384", "SOUR4:VOLT?", "1.25000000000000", ("set-D", "1.250000 V (code 16384)")),
            ("reference", "2.5", "SOUR:VOLT:REF?", "2.50000000000000", ("supplies", "Reference 2.500000 V")),
            ("vdd", "2.5", "MEAS:VDD?;:MEAS4:VOLT?", "2.50000000000000;0.62500000000000",
             ("read-D", "0.625000 V (code 1024)")),
        ]
        for name, entry, query, answer, (shown, text) in rows:
            with self.subTest(name):
                self.enter(name, entry)
                self.text(shown, text)
                self.assertEqual(client.query(query), answer)
                self.assertEqual(self.field(name).get_attribute("value"), "")
        for button, query, answer in [("CLR low", "PIN:CLR?", "LOW"), ("LDAC low", "PIN:LDAC?", "LOW"),
                                      ("CLR high", "PIN:CLR?", "HIGH")]:
            with self.subTest(button):
                self.driver.find_element(By.XPATH, f"//button[.='{button}']").click()
                self.text(query[4:-1].lower() + "-level", answer)
                self.assertEqual(client.query(query), answer)
        self.assertEqual(self.field("errors").text, "")
        self.assertEqual(client.query("SYST:ERR:COUN?"), "0")

    def test_scpi_settings_followed_by_the_page(self):
        server = self.serve()
        client = self.scpi(server)
        self.open_panel(server)
        rows = [("SOUR4:VOLT 3.75", "set-D", "3.750000 V (code 49152)"),
                ("SOUR1:VOLT:CODE 100", "set-A", "(code 100)"),
                ("PIN:LDAC LOW", "ldac-level", "LOW"),
                ("MEAS:VDD 2.5", "supplies", "Vdd 2.500000 V"),
                ("*RST", "set-D", "0.000000 V (code 0)")]
        for command, shown, text in rows:
            with self.subTest(command):
                client.write(command)
                self.text(shown, text)
        self.text("clients", "1 on the socket, 0 over VXI-11, 1 page.")

    def test_readback_moves_and_the_chart_downloads_as_csv(self):
        server = self.serve(environment={"TX4410_SIM_NOISE_MV": "20"})
        client = self.scpi(server)
        client.write("SOUR1:VOLT 2;:SOUR2:VOLT 4")
        self.assertEqual(client.query("*OPC?"), "1")
        self.open_panel(server)
        self.field("pick-B").click()
        seen = {self.text("read-A", "V (code")}

        def moved(_):
            seen.add(self.field("read-A").text)
            return len(seen) >= 3
        WebDriverWait(self.driver, 15).until(moved, "the readback of DAC A did not move")
        for old in os.listdir(self.scratch):
            if old.endswith(".csv"):
                os.remove(os.path.join(self.scratch, old))
        self.field("csv").click()
        path = os.path.join(self.scratch, "tx4410-readback.csv")
        WebDriverWait(self.driver, 10).until(lambda d: os.path.exists(path))
        with open(path) as file:
            rows = list(csv.reader(file))
        header = subprocess.run([CLI, "--server", f"127.0.0.1:{server.port}", "read", "--channel",
                                 "A", "--csv"], capture_output=True, text=True, timeout=20)
        self.assertEqual(rows[0], header.stdout.splitlines()[0].split(","))
        self.assertEqual({row[1] for row in rows[1:]}, {"A", "B"})
        self.assertEqual(rows[1][0], "0.000")
        times = [float(row[0]) for row in rows[1:] if row[1] == "A"]
        self.assertEqual(times, sorted(times))
        steps = [later - earlier for earlier, later in zip(times, times[1:])]
        self.assertTrue(all(0.5 < step < 1.6 for step in steps), steps)  # seconds, once a second
        for row in rows[1:]:
            code, volts = int(row[2]), float(row[3])
            self.assertAlmostEqual(volts, code / 4096 * 5, places=12)
            self.assertLess(abs(code - (1638 if row[1] == "A" else 3277)), 60)

    def test_invalid_entries_shown_as_errors(self):
        server = self.serve()
        client = self.scpi(server)
        self.open_panel(server)
        client.write("SOUR1:VOLT 1.25")
        rows = [("volts-A", "6", "Data out of range (-222)"),
                ("code-A", "70000", "Data out of range (-222)"),
                ("volts-A", "1 A", "Invalid suffix (-131)"),
                ("volts-A", "1;*RST", "\"1;*RST\" is not a number"),
                ("volts-A", "1;VOLT 2", "\"1;VOLT 2\" is not a number"),  # one command only
                ("volts-A", "", "nothing entered"),
                ("reference", "0", "Data out of range (-222)")]
        for name, entry, error in rows:
            with self.subTest(entry):
                self.enter(name, entry)
                self.text("errors", error)
                self.assertEqual(self.field(name).get_attribute("aria-invalid"), "true")
                self.driver.find_element(By.ID, "clear-errors").click()
        self.assertEqual(client.query("SOUR1:VOLT?;:SOUR:VOLT:REF?"), "1.25000000000000;5.00000000000000")

    def test_board_away_and_back(self):
        server = self.serve()
        client = self.scpi(server)
        self.open_panel(server)
        client.write("SOUR2:VOLT 3.75")
        self.text("read-B", "3.750000 V (code 3072)")
        client.close()  # no SCPI client open while the board comes back: the next one is told
        open(server.unplugged, "w").close()
        self.assertIn("the board has gone", self.text("board", "Board away:").lower())
        self.text("read-B", "not read: Hardware missing (-241)")
        self.enter("volts-B", "1")
        self.text("errors", "Hardware missing (-241)")
        os.remove(server.unplugged)
        self.text("board", "Board up, brought back 1 time since the server started.")
        self.text("read-B", "0.000000 V (code 0)")
        self.enter("volts-B", "1.25")
        self.text("read-B", "1.250000 V (code 1024)")
        # The page saw the restart; the power-on bit still waits for the next SCPI client.
        self.assertEqual(self.scpi(server).query("*ESR?;*ESR?"), "128;0")

    def test_two_pages_and_a_scpi_client(self):
        server = self.serve()
        client = self.scpi(server)
        self.open_panel(server)
        first, second = self.second_window()
        self.open_panel(server)
        self.text("clients", "1 on the socket, 0 over VXI-11, 2 pages.")
        self.enter("volts-C", "3.75")
        self.driver.switch_to.window(first)
        self.text("set-C", "3.750000 V")
        self.enter("code-A", "1000")
        client.write("SOUR2:VOLT:CODE 2000")
        self.driver.switch_to.window(second)
        self.text("set-A", "(code 1000)")
        self.text("set-B", "(code 2000)")
        self.assertEqual(client.query("SOUR1:VOLT:CODE?;:SOUR3:VOLT?"), "1000;3.75000000000000")

    def test_sweep_from_the_page_while_a_client_writes(self):
        server = self.serve(environment={"TX4410_SIM_BOW_LSB": "100"})
        self.open_panel(server)
        writer = self.scpi(server)
        stop = threading.Event()
        answers = []

        def hammer():  # DAC C to 0 over and over: any of it between the sweep's steps spoils it
            while not stop.is_set():
                answers.append(writer.query("SOUR3:VOLT:CODE 0;:SOUR3:VOLT:CODE?"))
        self.assertEqual(self.field("sweep-progress").get_attribute("value"), "0")  # none yet
        self.field("sweep-channel").send_keys("C")
        # Long enough (seconds) that the page sees it running and a setting meets it.
        self.field("sweep-points").send_keys("1000")
        self.field("sweep-start").click()
        self.text("sweep-state", "Sweeping DAC C")
        thread = threading.Thread(target=hammer)
        thread.start()
        self.addCleanup(thread.join)
        self.addCleanup(stop.set)
        self.enter("volts-A", "1")
        self.text("errors", "a sweep is running: try again when it is done")
        self.text("sweep-state", "Sweep of DAC C done", seconds=120)
        stop.set()
        thread.join()
        # The figures of the same sweep on a board of its own, that no one else wrote to.
        alone = subprocess.run([CLI, "sweep", "--channel", "C", "--points", "1000", "--vref", "5",
                                "--vdd", "5", "--csv", os.path.join(self.scratch, "alone.csv")],
                               capture_output=True, text=True, timeout=120,
                               env=dict(os.environ, TX4410_BOARD="sim", TX4410_SIM_BOW_LSB="100"))
        figures = [line for line in alone.stdout.splitlines()
                   if line.split(":")[0] in ("offset error", "gain error", "INL", "DNL")]
        self.assertEqual(len(figures), 4)
        summary = self.field("sweep-summary").text.splitlines()
        self.assertEqual([line for line in summary if line in figures], figures)
        WebDriverWait(self.driver, 20).until(
            lambda d: d.execute_script("return document.getElementById('sweep-picture').naturalWidth") > 400)
        table = self.driver.execute_async_script(
            "fetch(document.getElementById('sweep-csv').href).then(r => r.text()).then(arguments[0])")
        rows = [line for line in table.splitlines() if line[:1].isdigit()]
        self.assertIn("\ncode,ideal_v,measured_v,", table)
        with open(os.path.join(self.scratch, "alone.csv")) as alone_csv:  # the grid and the codes around the carries
            self.assertEqual(len(rows), sum(line[:1].isdigit() for line in alone_csv))
        self.assertEqual(set(answers), {"0"})
        self.assertEqual(writer.query("SOUR1:VOLT:CODE?"), "0")  # the page's setting was refused
        # A long one, stopped: the summary and CSV of what was measured; the output back where
        # it was set.
        self.enter("volts-C", "1.25")
        self.text("set-C", "1.250000 V (code 16384)")
        before = writer.query("MEAS3:CODE?")  # as the bowed board reads it
        self.field("sweep-points").clear()
        self.field("sweep-points").send_keys("20000")
        self.field("sweep-start").click()
        self.text("sweep-state", "Sweeping DAC C")
        WebDriverWait(self.driver, 20).until(
            lambda d: int(self.field("sweep-state").text.split(": ")[1].split()[0]) > 0)
        self.field("sweep-stop").click()
        stopped = self.text("sweep-state", "stopped after", seconds=30)
        self.assertLess(float(self.field("sweep-progress").get_attribute("value")), 1)
        self.assertIn(f"measured: {stopped.split('after ')[1].split()[0]} of 20000 points",
                      self.field("sweep-summary").text)
        self.text("read-C", f"(code {before})")
        self.assertEqual(writer.query("MEAS3:CODE?;:SOUR3:VOLT:CODE?"), f"{before};16384")

    def sweep_from_the_page(self, channel, points, then="done"):
        """Starts a sweep on the page; waits until it is running, or (then) ended so."""
        self.field("sweep-channel").send_keys(channel)
        self.field("sweep-points").clear()
        self.field("sweep-points").send_keys(str(points))
        before = self.field("sweep-csv").get_attribute("href")  # a new sweep, a new link
        self.field("sweep-start").click()
        if then == "running":
            return self.text("sweep-state", f"Sweeping DAC {channel}")
        WebDriverWait(self.driver, 60, poll_frequency=0.05).until(
            lambda d: self.field("sweep-csv").get_attribute("href") != before
            and f"Sweep of DAC {channel} {then}" in self.field("sweep-state").text,
            f"the sweep never ended {then}")
        return self.field("sweep-state").text

    def test_a_waiting_link_gets_the_lock_after_the_sweep_set_its_channel_back(self):
        server = self.serve()
        self.open_panel(server)
        scpi = self.scpi(server)
        # PyVISA's pure-Python backend never waits for a lock: a bare VXI-11 client does.
        rpc = Rpc(server.endpoint("VXI-11 on"))
        self.addCleanup(rpc.close)
        link = rpc.create_link()[1]
        for attempt in range(20):
            with self.subTest(attempt=attempt):
                scpi.write(f"SOUR3:VOLT:CODE {1000 + attempt}")  # what the sweep sets back
                self.sweep_from_the_page("C", 600, then="running")
                self.assertEqual(rpc.lock(link, WAITLOCK, 20000), 0)  # waits for the sweep
                # Set back before the lock was let go: the link finds the channel as it was.
                rpc.write(link, b"SOUR3:VOLT:CODE?\n")
                self.assertEqual(rpc.read(link)[2], f"{1000 + attempt}\n".encode())
                mine = 30000 + attempt
                rpc.write(link, f"SOUR3:VOLT:CODE {mine};:SOUR3:VOLT:CODE?\n".encode())
                self.assertEqual(rpc.read(link)[2], f"{mine}\n".encode())
                self.assertEqual(rpc.link_call(19, link), 0)  # unlock
                self.text("sweep-state", "Sweep of DAC C done", seconds=30)
                self.assertEqual(scpi.query("SOUR3:VOLT:CODE?"), str(mine))
        self.assertEqual(server.stop(), 0)

    def test_the_sweep_runs_in_the_server_and_its_picture_gets_nothing_of_it(self):
        # The server beside a tx4410-plot that writes down what it was given instead of drawing.
        folder = tempfile.mkdtemp(dir=self.scratch)
        program = os.path.join(folder, "tx4410-server")
        shutil.copy(SERVER, program)
        shutil.copy(os.path.join(os.path.dirname(SERVER), "TX4413.hex"), folder)
        with open(os.path.join(folder, "tx4410-plot"), "w") as plot:
            plot.write("#!/bin/sh\nfor fd in /proc/$$/fd/*; do echo \"${fd##*/} $(readlink $fd)\"; done"
                       " > \"$0.fds\"\ncat > \"$0.csv\"\nexit 1\n")
        os.chmod(os.path.join(folder, "tx4410-plot"), 0o755)
        ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        self.addCleanup(ours.close)
        server = Server("--http", "127.0.0.1:0", "--instrument", "0", "--handoff",
                        str(theirs.fileno()), "--handoff-no-vxi11", program=program,
                        pass_fds=(theirs.fileno(),))
        theirs.close()
        self.addCleanup(server.ends_well, self)
        server.http = server.endpoint("HTTP on")
        # It says where it serves over the channel, not only in its log.
        ours.settimeout(10)
        self.assertEqual(ours.recv(256).decode(), f"ready socket={server.port} http={server.http}")
        # A message with no connection in it is no reason to end.
        ours.send(b"\1hello")
        server.expect("a hand-off without a connection from the server of every board: ignored")

        def listening():
            inodes = {os.readlink(f"/proc/{server.process.pid}/fd/{fd}")
                      for fd in os.listdir(f"/proc/{server.process.pid}/fd")}
            ports = set()
            for table in ("/proc/net/tcp", "/proc/net/tcp6"):
                with open(table) as rows:
                    for row in list(rows)[1:]:
                        cells = row.split()
                        if cells[3] == "0A" and f"socket:[{cells[9]}]" in inodes:
                            ports.add(int(cells[1].rsplit(":", 1)[1], 16))
            return ports

        def children():
            with open(f"/proc/{server.process.pid}/task/{server.process.pid}/children") as kids:
                return kids.read().split()
        before = listening()
        self.open_panel(server)
        self.sweep_from_the_page("B", 2000, then="running")
        self.assertEqual((listening(), children()), (before, []))
        self.text("sweep-state", "Sweep of DAC B done", seconds=60)
        with open(os.path.join(folder, "tx4410-plot.fds")) as given:
            handed = given.read()
        self.assertNotIn("socket:", handed)
        self.assertEqual(server.stop(), 0)

    def test_the_same_sweep_from_the_page_and_the_command_line(self):
        server = self.serve()
        self.open_panel(server)
        self.sweep_from_the_page("B", 33)
        page = self.driver.execute_async_script(
            "fetch(document.getElementById('sweep-csv').href).then(r => r.text()).then(arguments[0])")
        summary = self.field("sweep-summary").text
        path = os.path.join(self.scratch, "cli.csv")
        cli = subprocess.run([CLI, "sweep", "--channel", "B", "--points", "33", "--vref", "5",
                              "--vdd", "5", "--csv", path], capture_output=True, text=True,
                             timeout=60, env=dict(os.environ, TX4410_BOARD="sim"))
        self.assertEqual(cli.returncode, 0, cli.stderr)

        def alike(text):  # times aside
            lines = [line for line in text.splitlines() if not line.startswith(("# date:", "date:"))]
            return [",".join(cell for at, cell in enumerate(line.split(",")) if at != 5)
                    if line[:1].isdigit() else line for line in lines]
        with open(path) as written:
            self.assertEqual(alike(page), alike(written.read()))
        self.assertEqual(alike(summary), alike(cli.stdout))
        self.assertIn("\nboard: sim\n", summary)
        self.assertEqual(server.stop(), 0)

    def test_pages_beyond_the_limit_refused(self):
        server = self.serve("--max-clients", "1")
        self.open_panel(server)
        self.second_window()
        self.driver.get(f"http://127.0.0.1:{server.http}/panel/")
        self.text("errors", "as many pages as the server takes (1)")
        self.assertIn("No connection", self.field("board").text)

    def test_foreign_hosts_and_origins_refused(self):
        server = self.serve()
        client = self.scpi(server)
        own = f"http://127.0.0.1:{server.http}"
        rows = [  # origin, host, status line
            (own, None, "HTTP/1.1 101 Switching Protocols"),
            (None, None, "HTTP/1.1 101 Switching Protocols"),  # not a browser: no page to fear
            ("http://evil.example", None, "HTTP/1.1 403 Forbidden"),
            ("null", None, "HTTP/1.1 403 Forbidden"),
            (f"http://127.0.0.1:{server.http + 1}", None, "HTTP/1.1 403 Forbidden"),
            ("http://evil.example", "evil.example", "HTTP/1.1 421 Misdirected Request"),
            (None, f"evil.example:{server.http}", "HTTP/1.1 421 Misdirected Request"),
            (None, f"localhost:{server.http}", "HTTP/1.1 101 Switching Protocols"),
            (None, f"127.0.0.1:{server.http + 1}", "HTTP/1.1 421 Misdirected Request"),
        ]
        for origin, host, status in rows:
            with self.subTest(origin=origin, host=host):
                self.assertEqual(upgrade(server.http, origin, host), status)
        connection = http.client.HTTPConnection("127.0.0.1", server.http, timeout=10)
        self.addCleanup(connection.close)
        for method, path, headers, status in [
                ("GET", "/panel/", {"Host": f"rebound.example:{server.http}"}, 421),
                ("POST", "/panel/login", {"Origin": "http://evil.example"}, 403),
                ("GET", "/panel/panel.js", {}, 200),
                ("GET", "/panel/../panel/", {}, 200),  # the same page, however spelt
                ("POST", "/panel/", {"Origin": own}, 405)]:
            with self.subTest(path=path, headers=headers):
                connection.request(method, path, body="token=x" if method == "POST" else None,
                                   headers=headers)
                reply = connection.getresponse()
                reply.read()
                connection.close()
                self.assertEqual(reply.status, status)
        # A page of another origin, in the browser itself, tries both ways.
        self.driver.get("data:text/html,<p>elsewhere</p>")
        outcome = self.driver.execute_async_script(f"""
            const done = arguments[arguments.length - 1];
            const socket = new WebSocket('ws://127.0.0.1:{server.http}/panel/socket');
            socket.onopen = () => {{
                socket.send(JSON.stringify({{id: 1, action: 'volts', channel: 1, value: '3'}}));
                done('opened');
            }};
            socket.onclose = () => done('closed');""")
        self.assertEqual(outcome, "closed")
        self.assertEqual(client.query("SOUR1:VOLT:CODE?"), "0")
        # From its own origin: a message no page sends closes the socket, and the server goes on.
        self.open_panel(server)
        rows = [("'x'.repeat(100000)", "closed"), ("'not json'", 'no such action ""'),
                ("JSON.stringify({id: 2})", 'no such action ""')]
        for message, answer in rows:
            with self.subTest(message=message[:20]):
                outcome = self.driver.execute_async_script(f"""
                    const done = arguments[arguments.length - 1];
                    const socket = new WebSocket(`ws://${{location.host}}/panel/socket`);
                    socket.onopen = () => socket.send({message});
                    socket.onmessage = (e) => {{
                        const m = JSON.parse(e.data);
                        if (m.type === 'result') done(m.errors.join());
                    }};
                    socket.onclose = () => done('closed');""")
                self.assertEqual(outcome, answer)
        self.text("board", "Board up")
        self.assertEqual(client.query("*OPC?"), "1")

    def test_framed_by_another_site(self):
        server = self.serve()
        elsewhere = Elsewhere("<p>elsewhere</p>"
                              f"<iframe id='panel' src='http://127.0.0.1:{server.http}/panel/'></iframe>"
                              f"<iframe id='welcome' src='http://127.0.0.1:{server.http}/'></iframe>")
        self.addCleanup(elsewhere.stop)
        self.driver.get(f"http://127.0.0.1:{elsewhere.port}/")
        # The welcome page, which changes nothing, may be shown inside another site's page: the
        # frames are looked into as a person would see them.
        self.driver.switch_to.frame("welcome")
        WebDriverWait(self.driver, 10).until(lambda d: d.find_elements(By.TAG_NAME, "h1"))
        self.driver.switch_to.default_content()
        self.driver.switch_to.frame("panel")
        time.sleep(2)  # as long as the page takes to show the board's state
        self.assertEqual(self.driver.find_elements(By.ID, "volts-A"), [])
        self.assertEqual(self.driver.find_elements(By.TAG_NAME, "button"), [])
        self.driver.switch_to.default_content()
        # Beside it, the panel itself counts only its own page.
        first, second = self.second_window()
        self.open_panel(server)
        self.text("clients", "0 on the socket, 0 over VXI-11, 1 page.")
        self.assertEqual(server.stop(), 0)

    def test_a_rebound_name_reads_nothing(self):
        # The attacker's page, at its name and the port the instrument will use.
        with socket.socket() as free:
            free.bind(("127.0.0.1", 0))
            port = free.getsockname()[1]
        attacker = Elsewhere("""<p>attacker</p><script>
            window.results = null;
            const paths = ["/panel/made/sweep.csv", "/panel/", "/p%61nel/made/sweep.csv",
                           "/panel//panel.js", "/x/../panel/made/sweep.csv"];
            async function attack() {
              // The instrument's welcome page (its words made here, so that this page's own
              // text never matches).
              const welcome = await fetch("/").then((r) => r.text()).catch(() => "");
              if (!welcome.includes(["Nothing on this page", "changes the board"].join(" "))) {
                setTimeout(attack, 100);
                return;
              }
              const results = [];
              for (const path of paths) {
                const reply = await fetch(path);
                results.push([path, reply.status, await reply.text()]);
              }
              const socket = new WebSocket(`ws://${location.host}/panel/socket`);
              socket.onopen = () => { socket.send(JSON.stringify({id: 1, action: "code", channel: 1, value: "7"}));
                                      results.push(["socket", "opened"]); window.results = results; };
              socket.onerror = () => { results.push(["socket", "refused"]); window.results = results; };
            }
            attack();</script>""", port)
        self.driver.get(f"http://rebound.example:{port}/")
        self.assertIn("attacker", self.driver.page_source)
        attacker.stop()
        # The name now leads to the instrument, which holds a sweep's results.
        server = self.serve("--http", f"127.0.0.1:{port}")
        page = websocket(port)
        send_text(page, '{"id": 1, "action": "sweep", "channel": 2, "points": "16"}')
        server.expect("sweep from the front panel done", seconds=60)
        page.close()
        WebDriverWait(self.driver, 30).until(lambda d: d.execute_script("return window.results"))
        results = self.driver.execute_script("return window.results")
        for path, status, *body in results[:-1]:
            with self.subTest(path):
                self.assertEqual(status, 421)
                self.assertNotIn("code,ideal_v", body[0])
        self.assertEqual(results[-1], ["socket", "refused"])
        client = self.scpi(server)
        self.assertEqual(client.query("SOUR1:VOLT:CODE?"), "0")
        self.assertEqual(server.stop(), 0)

    def test_laid_out_for_a_desk_and_a_phone(self):
        server = self.serve(environment={"TX4410_SIM_NOISE_MV": "2"})
        client = self.scpi(server)
        client.write("SOUR1:VOLT 1.25;:SOUR3:VOLT:CODE 40000")
        self.addCleanup(self.driver.execute_cdp_cmd, "Emulation.clearDeviceMetricsOverride", {})
        for width, height in [(1280, 800), (390, 844)]:
            with self.subTest(width=width):
                self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                    "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 500})
                self.open_panel(server)
                self.text("read-A", "V (code")
                shown = self.driver.execute_script(LAYOUT)
                for values in shown["values"]:
                    self.assertEqual([text.split()[-1] for text, _ in values][-1][-1], ")")
                    for text, lines in values:  # "1.250000 V", "(code 16384)": whole
                        self.assertEqual(lines, 1, text)
                for text, lines in shown["labels"]:
                    self.assertEqual(lines, 1, text)
                for label, value in shown["sizes"]:
                    self.assertGreaterEqual(value, label)
                self.assertEqual([name for name, fits in shown["placeholders"] if not fits], [])
                # A fresh chart's trace starts at the plot's left edge, not a sliver at the right.
                WebDriverWait(self.driver, 10).until(
                    lambda d: d.execute_script("return window.panel.csvText()").count("\n") >= 4)
                self.assertLess(self.driver.execute_script(TRACE_START), 0.05)
        self.assertEqual(server.stop(), 0)

    def test_token(self):
        token = os.path.join(self.scratch, "token")
        with open(token, "w") as file:
            file.write("0123456789abcdef\nsecond line ignored\n")
        server = self.serve("--http-token", token)
        client = self.scpi(server)
        self.assertEqual(upgrade(server.http), "HTTP/1.1 401 Unauthorized")
        for wrong in ("0123456789abcdeF", "0123456789abcde", "0123456789abcdef0"):
            self.assertEqual(upgrade(server.http, cookie="tx4410_token=" + wrong),
                             "HTTP/1.1 401 Unauthorized")
        self.assertEqual(upgrade(server.http, cookie="tx4410_token=0123456789abcdef"),
                         "HTTP/1.1 101 Switching Protocols")
        self.driver.delete_all_cookies()
        self.driver.get(f"http://127.0.0.1:{server.http}/panel/")
        # The sign-in page in the panel's own style.
        self.assertEqual(self.driver.execute_script("return getComputedStyle(document.body).fontFamily"),
                         "sans-serif")
        self.assertEqual(self.driver.execute_script(
            "return getComputedStyle(document.querySelector('form')).borderTopStyle"), "solid")
        for attempt, shown in [("wrong", "That is not the server's token."), ("0123456789abcdef", None)]:
            self.field("token").send_keys(attempt + "\n")
            if shown:
                WebDriverWait(self.driver, 10).until(lambda d: shown in d.page_source)
        self.text("board", "Board up")
        self.enter("volts-A", "2.5")
        self.text("set-A", "2.500000 V")
        self.assertEqual(client.query("SOUR1:VOLT?"), "2.50000000000000")
        self.driver.delete_all_cookies()
        for content in (None, "short\n"):
            with self.subTest(content=content):
                path = os.path.join(self.scratch, "bad-token")
                if content:
                    with open(path, "w") as file:
                        file.write(content)
                refused = subprocess.run([SERVER, "--http-token", path], capture_output=True,
                                         text=True, timeout=20)
                self.assertEqual(refused.returncode, 2)
                self.assertIn("--http-token", refused.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
