"""tx4410-server's calibration through PyVISA's pure-Python backend: *CAL? against tx4410-sim-meter
reading the simulated board's true outputs, CALibration:STATe ON and SOURce settings then within
an LSB and the stated uncertainty of what was asked, the state kept across a restart, and what a
failed or abandoned calibration leaves. Run by CTest in a private network with Debian's
/usr/bin/python3; TX4410_SIM_METER_PROGRAM names the meter."""
import json
import os
import signal
import socket
import sqlite3
import subprocess
import tempfile
import time
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from test_panel import browser
from test_server import CLI, RESOURCES, Server

METER = os.environ["TX4410_SIM_METER_PROGRAM"]
LSB = 5 / 65536
KNOBS = {"TX4410_SIM_OFFSET_MV": "3", "TX4410_SIM_GAIN_ERROR_PCT": "-0.3",
         "TX4410_SIM_BOW_LSB": "20", "TX4410_SIM_ADC_OFFSET_MV": "4",
         "TX4410_SIM_ADC_GAIN_ERROR_PCT": "0.5"}


def uncertainty(record, volts):
    parts = record["uncertainty"]
    return (parts["noise_v"] + parts["resolution_v"] + parts["interpolation_v"]
            + parts["accuracy_pct"] / 100 * volts + parts["accuracy_v"])


def block(answer):
    """The bytes of an IEEE 488.2 definite-length block."""
    digits = int(answer[1])
    return answer[2 + digits:2 + digits + int(answer[2:2 + digits])]


class CalibrationTest(unittest.TestCase):
    def serve(self, *arguments, **settings):
        server = Server(*arguments, **settings)
        self.addCleanup(server.ends_well, self)
        return server

    def client(self, server):
        client = server.client()
        self.addCleanup(client.close)
        return client

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.addCleanup(self.scratch.cleanup)
        self.outputs = os.path.join(self.scratch.name, "outputs")
        self.database = os.path.join(self.scratch.name, "records.sqlite")
        self.environment = dict(KNOBS, TX4410_SIM_OUTPUTS_FILE=self.outputs)

    def meter(self, *options):
        """A tx4410-sim-meter for as many clients as come: its address."""
        process = subprocess.Popen([METER, "--listen", "127.0.0.1:0", "--noise-mv", "0.01",
                                    *options],
                                   env=dict(os.environ, **self.environment),
                                   stdout=subprocess.PIPE, text=True)
        self.addCleanup(process.wait, 10)
        self.addCleanup(process.terminate)
        return process.stdout.readline().split()[-1]

    def server(self, meter=None, *extra):
        arguments = ["--http", "off", "--database", self.database, *extra]
        if meter:
            arguments += ["--calibration-meter", meter, "--calibration-route", "ROUT:CLOS (@%n)",
                          "--calibration-accuracy", "0.0035%+5e-6"]
        return self.serve(*arguments, environment=self.environment)

    def output(self, channel):
        with open(self.outputs) as file:
            return float(file.read().split()[channel])

    def test_calibrated_settings_through_both_interfaces(self):
        server = self.server(self.meter())
        client = self.client(server)
        client.timeout = 60000
        self.assertEqual(client.query("CAL:STAT?"), "0")
        started = time.monotonic()
        self.assertEqual(client.query("*CAL?"), "0")
        self.assertLess(time.monotonic() - started, 30)
        self.assertEqual(client.query("SYST:ERR?"), '0,"No error"')
        server.logged("*CAL?: calibrated and stored")
        today = time.gmtime()
        self.assertEqual(client.query("CAL3:DATE?"),
                         f"{today.tm_year},{today.tm_mon},{today.tm_mday}")
        self.assertEqual(client.query("CAL3:DUE?").split(",")[0], str(today.tm_year + 1))

        # VXI-11 switches it on for every client.
        instr = RESOURCES.open_resource("TCPIP::127.0.0.1::inst0::INSTR", timeout=10000)
        self.addCleanup(instr.close)
        instr.write("CAL:STAT ON")
        self.assertEqual(instr.query("SYST:ERR?").strip(), '0,"No error"')
        self.assertEqual(client.query("CAL:STAT?"), "1")
        records = [json.loads(block(instr.query("CAL%d:DATA?" % (n + 1)))) for n in range(4)]
        self.assertEqual([record["channel"] for record in records], ["A", "B", "C", "D"])
        self.assertTrue(all(record["board"] == "sim" for record in records))

        worst = 0
        for i in range(50):
            channel = i % 4
            volts = 0.02 + i * 4.9 / 49
            (client if i % 2 else instr).write(f"SOUR{channel + 1}:VOLT {volts:.6f}")
            self.assertEqual(client.query("SYST:ERR?"), '0,"No error"')
            error = abs(self.output(channel) - volts)
            worst = max(worst, error)
            self.assertLessEqual(error, LSB + uncertainty(records[channel], volts),
                                 f"{volts} V on DAC {channel}")
            # The query answers the calibrated output of the code written.
            self.assertAlmostEqual(float(client.query(f"SOUR{channel + 1}:VOLT?")),
                                   self.output(channel), delta=LSB)
        self.assertLess(worst, LSB)
        # The readback through its calibrated line agrees with the meter.
        for volts in (0.5, 2.5, 4.5):
            client.write(f"SOUR2:VOLT {volts}")
            client.query("*OPC?")
            measured = sum(float(client.query("MEAS2:VOLT?")) for _ in range(4)) / 4
            self.assertAlmostEqual(measured, self.output(1), delta=1.3e-3)

        # Off, the same volts are tens of LSB away.
        client.write("CAL:STAT OFF")
        client.write("SOUR1:VOLT 2.5")
        client.query("*OPC?")
        self.assertGreater(abs(self.output(0) - 2.5), 20 * LSB)
        client.write("CAL:STAT ON")
        client.write("SOUR1:VOLT 4.999")
        self.assertEqual(client.query("SYST:ERR?"),
                         '-222,"Data out of range;beyond what the calibrated channel reaches"')
        client.close()
        instr.close()
        self.assertEqual(server.stop(), 0)

        # A new server of the same database applies it from the start.
        again = self.server()
        client = self.client(again)
        self.assertEqual(client.query("CAL:STAT?"), "1")
        client.write("SOUR4:VOLT 1.5")
        client.query("*OPC?")
        self.assertLess(abs(self.output(3) - 1.5), LSB)
        self.assertEqual(client.query("*CAL?"), "1")
        self.assertIn("without a meter", client.query("SYST:ERR?"))

    def test_other_clients_wait_behind_a_calibration(self):
        server = self.server(self.meter())
        asker = server.socket()
        other = server.socket()
        asker.sendall(b"*CAL?\n")
        server.logged("*CAL? from")
        other.sendall(b"SOUR1:VOLT:CODE?\n")
        self.assertEqual(other.recv(100), b"0\n")
        # It waited for the calibration, which had put codes on every channel and set them back.
        self.assertIn("*CAL?: calibrated and stored", "".join(server.log))
        self.assertEqual(asker.recv(100), b"0\n")
        asker.close()
        other.close()

    def test_a_failed_calibration_leaves_the_earlier_in_force(self):
        # An earlier record, made by tx4410-cli on the same board.
        good = self.meter("--once")
        made = subprocess.run([CLI, "--database", self.database, "calibrate", "--channel", "ALL",
                               "--meter", good, "--meter-route", "ROUT:CLOS (@%n)",
                               "--points", "9"],
                              env=dict(os.environ, TX4410_BOARD="sim", **self.environment),
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(made.returncode, 0, made.stderr)
        for fault, said in (("junk@40", "hello"), ("silent@40", "did not answer")):
            with self.subTest(fault=fault):
                server = self.server(self.meter("--fault", fault), "--valid-days", "30")
                client = self.client(server)
                client.timeout = 60000
                before = client.query("CAL2:DATA?")
                self.assertEqual(client.query("*CAL?"), "1")
                error = client.query("SYST:ERR?")
                self.assertTrue(error.startswith('-340,"Calibration failed;'), error)
                self.assertIn(said, error)
                self.assertEqual(client.query("CAL2:DATA?"), before)
                client.close()
                self.assertEqual(server.stop(), 0)

    def test_sigterm_and_a_vanished_asker_mid_calibration(self):
        meter = self.meter("--fault", "silent@60")
        server = self.server(meter)
        asker = server.socket()
        asker.sendall(b"*CAL?\n")
        server.logged("*CAL? from")
        asker.close()
        # The asker gone, the calibration ends as it will, with no one to answer.
        server.logged("*CAL? failed", seconds=30)
        client = self.client(server)
        self.assertEqual(client.query("*IDN?").split(",")[1], "TX4410")
        client.write("CAL:DATE?")
        self.assertIn("-221", client.query("SYST:ERR?"))
        client.close()
        self.assertEqual(server.stop(), 0)

        server = self.server(meter)
        asker = server.socket()
        asker.sendall(b"*CAL?\n")
        server.logged("*CAL? from")
        self.assertEqual(server.stop(signal.SIGTERM), 0)
        self.assertEqual(asker.recv(100), b"1\n")
        asker.close()

    def test_the_front_panel_shows_and_switches_it(self):
        made = subprocess.run([CLI, "--database", self.database, "calibrate", "--channel", "ALL",
                               "--meter", self.meter("--once"), "--meter-route",
                               "ROUT:CLOS (@%n)", "--points", "17"],
                              env=dict(os.environ, TX4410_BOARD="sim", **self.environment),
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(made.returncode, 0, made.stderr)
        with sqlite3.connect(self.database) as records:
            records.execute("UPDATE calibrations SET due_utc = '2020-01-02T00:00:00.000Z' "
                            "WHERE channel = 3")
        server = self.serve("--http", "127.0.0.1:0", "--database", self.database,
                            environment=self.environment)
        server.logged("the calibration of DAC D of board sim was due 2020-01-02")
        http = server.endpoint("HTTP on")
        client = self.client(server)
        downloads = tempfile.mkdtemp(dir=self.scratch.name)
        driver = browser(downloads)
        self.addCleanup(driver.quit)
        driver.get(f"http://127.0.0.1:{http}/panel/")

        def text(name):
            # Read in one step: the list is made anew with each state the server sends.
            return driver.execute_script(
                "const e = document.getElementById(arguments[0]); return e ? e.innerText : ''",
                name)

        def shows(name, part):
            WebDriverWait(driver, 10, poll_frequency=0.05).until(
                lambda d: part in text(name), f"{name} never showed {part!r}")
            return text(name)

        today = time.strftime("%Y-%m-%d", time.gmtime())
        line = shows("calibration-B", "not applied")
        self.assertRegex(line, rf"^DAC B: calibrated {today}, due \d{{4}}-\d\d-\d\d, ±0\.\d{{3}} mV")
        self.assertIn("overdue since 2020-01-02", shows("calibration-D", "overdue"))
        box = driver.find_element(By.ID, "calibration-on")
        self.assertFalse(box.is_selected())
        box.click()
        shows("calibration-B", ", applied")
        self.assertEqual(client.query("CAL:STAT?"), "1")
        self.assertEqual(client.query("STAT:QUES:COND?"), "256")
        field = driver.find_element(By.ID, "volts-B")
        field.send_keys("1.2345\n")
        # The calibrated output of the code written, as the SOURce query answers it.
        WebDriverWait(driver, 10).until(lambda d: abs(self.output(1) - 1.2345) < LSB)
        shown = float(shows("set-B", "(code").split()[0])
        self.assertAlmostEqual(shown, float(client.query("SOUR2:VOLT?")), delta=1e-6)
        # Switched off over SCPI, the page follows.
        client.write("CAL:STAT OFF")
        shows("calibration-A", "not applied")
        self.assertFalse(driver.find_element(By.ID, "calibration-on").is_selected())
        self.assertEqual(driver.find_element(By.ID, "errors").text, "")
        driver.save_screenshot(os.path.join(os.environ.get("TX4410_SCREENSHOT_DIR", downloads),
                                            "panel-calibration.png"))


if __name__ == "__main__":
    unittest.main()
