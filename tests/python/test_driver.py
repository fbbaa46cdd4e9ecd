"""The PyMeasure driver in python/ against tx4410-server on the simulated board, through
PyMeasure's own VISA adapter and PyVISA's pure-Python backend, over each resource the server
offers. Run by CTest with Debian's /usr/bin/python3; TX4410_SERVER_PROGRAM names the server."""
import os
import re
import subprocess
import tempfile
import time
import unittest

from tx4410 import TX4410, TX4410Error

SERVER = os.environ["TX4410_SERVER_PROGRAM"]
METER = os.environ["TX4410_SIM_METER_PROGRAM"]


class Server:
    """A tx4410-server on ports the system chooses, its board unpluggable through a file; its log
    goes to a file, so that it never waits on a pipe no one reads."""

    def __init__(self, *arguments, environment=None):
        self.scratch = tempfile.TemporaryDirectory()
        self.unplugged = os.path.join(self.scratch.name, "unplugged")
        self.log = os.path.join(self.scratch.name, "log")
        env = dict(os.environ, TX4410_BOARD="sim", TX4410_SIM_UNPLUGGED=self.unplugged,
                   **(environment or {}))
        with open(self.log, "w") as log:
            self.process = subprocess.Popen([SERVER, "--listen", "127.0.0.1:0", *arguments],
                                            env=env, stderr=log)
        # VXI-11 is on once the port mapper (rpcbind, or the server's own) knows it.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and self.process.poll() is None:
            with open(self.log) as log:
                text = log.read()
            found = re.search(r"listening on 127\.0\.0\.1:(\d+)", text)
            vxi11 = re.search(r"VXI-11 (on|off).*", text)
            if found and vxi11:
                self.port = int(found.group(1))
                self.vxi11 = vxi11.group(0)
                return
            time.sleep(0.05)
        raise AssertionError("the server did not listen with VXI-11 settled: " + open(self.log).read())

    def resources(self):
        return {"socket": f"TCPIP::127.0.0.1::{self.port}::SOCKET",
                "instr": "TCPIP::127.0.0.1::inst0::INSTR"}

    def stop(self):
        self.process.terminate()
        self.process.wait(20)
        self.scratch.cleanup()


class DriverTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server()
        # Run in a private network as root, the server answers the port mapper itself.
        assert cls.server.vxi11.startswith("VXI-11 on"), cls.server.vxi11

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def each_board(self, check, **settings):
        """Runs check(board) through the driver over each resource, the board reset first."""
        for kind, resource in self.server.resources().items():
            with self.subTest(kind):
                board = TX4410(resource, **settings)
                try:
                    board.reset()
                    check(board)
                finally:
                    board.adapter.connection.close()

    def test_controls_reach_the_dac_and_the_readback(self):
        def check(board):
            board.dac_a_voltage = 1.25
            board.dac_b_code = 49152
            # 12-bit readback of 5 V Vdd: 1.25 V is code 1024, 3.75 V code 3072.
            self.assertEqual((board.dac_a_code, board.readback_a_code), (16384, 1024))
            self.assertEqual((type(board.dac_a_code), type(board.readback_a_code)), (int, int))
            self.assertEqual((board.dac_b_voltage, board.readback_b_voltage), (3.75, 3.75))
            board.clr_pin = False
            board.ldac_pin = True
            self.assertEqual((board.clr_pin, board.ldac_pin, board.readback_a_code),
                             (False, True, 0))
            self.assertEqual(board.ask("PIN:CLR?;LDAC?").strip(), "LOW;HIGH")
            board.clr_pin = True
            board.reference = 2.5
            board.vdd = 2.5
            board.dac_d_voltage = 1.25
            self.assertEqual((board.dac_d_code, board.readback_d_code, board.readback_h_code),
                             (32768, 2048, 0))
        self.each_board(check)

    def test_validators_refuse_before_anything_is_sent(self):
        rows = [("dac_a_voltage", 5.001), ("dac_a_voltage", -0.001), ("dac_c_code", 65536),
                ("dac_c_code", -1), ("dac_c_code", 1.5), ("clr_pin", "HIGH"), ("vdd", 0)]

        def check(board):
            board.dac_a_code = 7
            board.dac_c_code = 9
            for name, value in rows:
                with self.subTest(name=name, value=value), self.assertRaises(ValueError):
                    setattr(board, name, value)
            self.assertEqual((board.dac_a_code, board.dac_c_code, board.clr_pin), (7, 9, True))
            board.reference = 2.5
            with self.assertRaises(ValueError):
                board.dac_b_voltage = 2.6
            board.dac_b_voltage = 2.5
            board.dac_c_code = 65535
            self.assertEqual((board.dac_b_code, board.dac_c_code), (65535, 65535))
            # After *RST the reference is 5 V again, and so is the driver's bound.
            board.reset()
            board.dac_b_voltage = 4
            self.assertEqual(board.dac_b_code, 52429)
        self.each_board(check)

    def test_the_error_queue_raised(self):
        def check(board):
            board.write("FOO;:SOUR1:VOLT 1 A")
            board.write('FO"O,X')
            with self.assertRaises(TX4410Error) as raised:
                board.check_errors()
            self.assertEqual(raised.exception.errors,
                             [(-113, "Undefined header;FOO"),
                              (-131, "Invalid suffix;:SOUR1:VOLT"),
                              (-102, 'Syntax error;FO"O,X')])
            self.assertEqual(board.check_errors(), [])
            # The reference another client set: the instrument refuses what the driver allowed.
            board.write("SOUR:VOLT:REF 1")
            with self.assertRaises(TX4410Error) as raised:
                board.dac_a_voltage = 2
            self.assertEqual(raised.exception.errors[0][0], -222)
            board.write("FOO")
            board.clear()
            self.assertEqual(board.check_errors(), [])
        self.each_board(check)

    def test_a_board_gone_raises_its_reason(self):
        def check(board):
            restarts = board.restarts
            open(self.server.unplugged, "w").close()
            try:
                with self.assertRaises(TX4410Error) as raised:
                    board.readback_a_voltage
                self.assertEqual(raised.exception.errors[0][0], -241)
            finally:
                os.remove(self.server.unplugged)
            deadline = time.monotonic() + 30
            while board.restarts == restarts and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(board.restarts, restarts + 1)
            self.assertEqual(board.readback_a_code, 0)
        # A refused query is answered with nothing: a short timeout finds that sooner.
        self.each_board(check, timeout=500)


class CalibratedDriverTest(unittest.TestCase):
    """The driver's calibration: *CAL? against tx4410-sim-meter on an imperfect simulated board,
    the record read back, and calibrated settings switched on and off."""

    def test_calibrate_read_the_record_and_switch(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        outputs = os.path.join(scratch.name, "outputs")
        environment = {"TX4410_SIM_OUTPUTS_FILE": outputs, "TX4410_SIM_OFFSET_MV": "3",
                       "TX4410_SIM_GAIN_ERROR_PCT": "-0.3", "TX4410_SIM_BOW_LSB": "20"}
        meter = subprocess.Popen([METER, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                                 text=True, env=dict(os.environ, **environment))
        self.addCleanup(meter.wait, 10)
        self.addCleanup(meter.terminate)
        server = Server("--database", os.path.join(scratch.name, "records.sqlite"),
                        "--calibration-meter", meter.stdout.readline().split()[-1],
                        "--calibration-route", "ROUT:CLOS (@%n)", environment=environment)
        lsb = 5 / 65536

        def output(channel):
            with open(outputs) as file:
                return float(file.read().split()[channel])

        for kind, resource in server.resources().items():
            with self.subTest(kind):
                board = TX4410(resource)
                try:
                    if kind == "socket":
                        self.assertIsNone(board.calibration("b"))
                        with self.assertRaises(TX4410Error) as refused:
                            board.calibration_enabled = True
                        self.assertEqual(refused.exception.errors[0][0], -221)
                        board.calibrate()
                    record = board.calibration("b")
                    self.assertEqual((record["channel"], record["board"]), ("B", "sim"))
                    self.assertEqual(record["due"].year, record["date"].year + 1)
                    self.assertFalse(record["overdue"])
                    self.assertAlmostEqual(record["coefficients"]["gain_error_pct"], -0.3,
                                           delta=0.01)
                    board.calibration_enabled = True
                    self.assertTrue(board.calibration_enabled)
                    board.dac_b_voltage = 1.2345
                    self.assertLess(abs(output(1) - 1.2345), lsb)
                    self.assertAlmostEqual(board.dac_b_voltage, output(1), delta=lsb)
                    board.calibration_enabled = False
                    self.assertFalse(board.calibration_enabled)
                    # Where offset, gain and bow do not cancel: over a hundred LSB off.
                    board.dac_b_voltage = 4
                    self.assertGreater(abs(output(1) - 4), 100 * lsb)
                finally:
                    board.adapter.connection.close()
        self.assertEqual(server.process.poll(), None)
        server.process.terminate()
        self.assertEqual(server.process.wait(20), 0)
        server.scratch.cleanup()


if __name__ == "__main__":
    unittest.main()
