"""The TX4410 evaluation board, as tx4410-server serves it, for PyMeasure.

    from tx4410 import TX4410
    board = TX4410("TCPIP::127.0.0.1::5025::SOCKET")    # or "TCPIP::host::inst0::INSTR"
    board.dac_a_voltage = 1.25
    print(board.readback_a_voltage)

The DAC channels A to D are controls (`dac_a_voltage`, `dac_a_code`, ...), the eight readback
inputs A to H measurements (`readback_a_voltage`, `readback_a_code`, ...), the pins `clr_pin` and
`ldac_pin` booleans (True is HIGH). A value out of range raises ValueError before anything is
sent; whatever the instrument refuses raises TX4410Error with its error queue.
"""

import datetime
import json
import re

from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import strict_discrete_set, strict_range
from pyvisa import constants, errors

__all__ = ["TX4410", "TX4410Error"]

# One entry of SYSTem:ERRor:ALL?: a number and a quoted text whose quotes are doubled.
_ENTRY = re.compile(r'([+-]?\d+),"((?:[^"]|"")*)"')

HIGHEST_CODE = 65535


class TX4410Error(Exception):
    """The errors the instrument had queued, oldest first, as (number, text) pairs."""

    def __init__(self, errors):
        self.errors = errors
        super().__init__("; ".join(f"{number}, {text}" for number, text in errors))


def _dac_voltage(n, letter):
    control = Instrument.control(
        f"SOUR{n}:VOLT?", f"SOUR{n}:VOLT %s",
        f"DAC {letter.upper()} in volts, 0 to the reference: the code it was last set to, "
        "written and updated at once when set (the code rounds to the nearest, as the window's).",
        set_process=lambda volts: repr(float(volts)), check_set_errors=True)

    def set_volts(self, volts):
        # The reference is the instrument's; the one this driver last saw bounds the check here,
        # and the instrument checks again against its own.
        control.fset(self, strict_range(volts, (0, self.cached_reference)))

    return property(control.fget, set_volts, doc=control.__doc__)


def _dac_code(n, letter):
    return Instrument.control(
        f"SOUR{n}:VOLT:CODE?", f"SOUR{n}:VOLT:CODE %d",
        f"DAC {letter.upper()} as its 16-bit code, 0 to {HIGHEST_CODE}.",
        validator=strict_discrete_set, values=range(HIGHEST_CODE + 1),
        get_process=int, set_process=int, check_set_errors=True)


def _pin(name):
    return Instrument.control(
        f"PIN:{name}?", f"PIN:{name} %s",
        f"The {name} pin: True is HIGH, False LOW (the level last driven).",
        validator=strict_discrete_set, values={True: "HIGH", False: "LOW"}, map_values=True,
        check_set_errors=True)


class TX4410(Instrument):
    """The TX4410 board behind a tx4410-server, over either VISA resource.

    `adapter`: a VISA resource name (`TCPIP::host::5025::SOCKET` or `TCPIP::host::inst0::INSTR`)
    or a PyMeasure adapter. PyVISA's pure-Python backend is used unless `visa_library` says
    otherwise.
    """

    clr_pin = _pin("CLR")
    ldac_pin = _pin("LDAC")

    vdd = Instrument.control(
        "MEAS:VDD?", "MEAS:VDD %s", "The readback ADC's full scale in volts, 0.001 to 1000.",
        validator=strict_range, values=(0.001, 1000), set_process=lambda volts: repr(float(volts)),
        check_set_errors=True)

    restarts = Instrument.measurement(
        "SYST:BOAR:REST?",
        "How many times the server brought the board back since it started: a larger number "
        "than the last one read means every DAC output was reset meanwhile.", get_process=int)

    def __init__(self, adapter, name="TX4410 evaluation board", **kwargs):
        if isinstance(adapter, str):
            kwargs.setdefault("visa_library", "@py")
            kwargs.setdefault("read_termination", "\n")
            kwargs.setdefault("write_termination", "\n")
            kwargs.setdefault("timeout", 5000)
        super().__init__(adapter, name, includeSCPI=True, **kwargs)
        self.cached_reference = self.reference

    @property
    def reference(self):
        """The reference the voltages are converted against, 0.001 to 1000 V, one for the four
        channels."""
        self.cached_reference = float(self.ask("SOUR:VOLT:REF?"))
        return self.cached_reference

    @reference.setter
    def reference(self, volts):
        volts = strict_range(volts, (0.001, 1000))
        self.write(f"SOUR:VOLT:REF {float(volts)!r}")
        self.check_errors()
        self.cached_reference = float(volts)

    def values(self, command, **kwargs):
        try:
            return super().values(command, **kwargs)
        except errors.VisaIOError as error:
            self._explain(error)
            raise

    def ask(self, command):
        try:
            return super().ask(command)
        except errors.VisaIOError as error:
            self._explain(error)
            raise

    def _explain(self, error):
        # A query the instrument refuses is answered with nothing: the reason is in its queue.
        if error.error_code == constants.StatusCode.error_timeout:
            self.check_errors()

    def reset(self):
        """*RST: every DAC output at 0 V, CLR and LDAC high, the reference and Vdd at 5 V."""
        self.write("*RST")
        self.check_errors()
        self.cached_reference = 5.0

    def clear(self):
        """*CLS: this connection's error queue and event registers emptied."""
        self.write("*CLS")

    @property
    def calibration_enabled(self):
        """Whether the board's calibrations apply, for every client: voltages set then give the
        code whose calibrated output is nearest, and read back as calibrated volts. Remembered by
        the server across restarts."""
        return self.ask("CAL:STAT?").strip() == "1"

    @calibration_enabled.setter
    def calibration_enabled(self, on):
        on = strict_discrete_set(on, (True, False))
        self.write("CAL:STAT ON" if on else "CAL:STAT OFF")
        self.check_errors()

    def calibration(self, channel):
        """DAC channel "a" to "d"'s calibration in force, as stored: a dict with "date" and
        "due" (datetime.date), "overdue", and the record's figures ("coefficients",
        "uncertainty" part by part, "table" with each point's residual, "meter"). None when the
        channel has none."""
        n = "abcd".index(channel.lower()) + 1
        # A channel without one answers nothing to the date, and -221 to the error query.
        answer = self.ask(f"CAL{n}:DATE?;:SYST:ERR?").strip()
        if answer.startswith("-221,"):
            return None
        if not answer.endswith('0,"No error"'):
            raise TX4410Error([(int(number), text.replace('""', '"'))
                               for number, text in _ENTRY.findall(answer)])
        answer = answer.split(";")[0]
        data = self.ask(f"CAL{n}:DATA?")
        digits = int(data[1])
        record = json.loads(data[2 + digits:2 + digits + int(data[2:2 + digits])])
        record["date"] = datetime.date(*map(int, answer.split(",")))
        record["due"] = datetime.date.fromisoformat(record["due_utc"][:10])
        record["overdue"] = record["due"] < datetime.datetime.now(datetime.timezone.utc).date()
        return record

    def calibrate(self, timeout=300000):
        """*CAL?: the server calibrates the four channels against its meter, and the answer
        comes when it ends (`timeout` in ms). Raises TX4410Error with the reason when it failed;
        the calibration stored before then stays in force."""
        before = self.adapter.connection.timeout
        self.adapter.connection.timeout = timeout
        try:
            answer = self.ask("*CAL?").strip()
        finally:
            self.adapter.connection.timeout = before
        if answer != "0":
            self.check_errors()
            raise TX4410Error([(-340, "Calibration failed")])

    def check_errors(self):
        """Reads the error queue; raises TX4410Error when it held any, returns [] otherwise."""
        answer = self.adapter.ask("SYST:ERR:ALL?")
        queued = [(int(number), text.replace('""', '"'))
                  for number, text in _ENTRY.findall(answer) if int(number) != 0]
        if queued:
            raise TX4410Error(queued)
        return []


for _n, _letter in enumerate("abcd", 1):
    setattr(TX4410, f"dac_{_letter}_voltage", _dac_voltage(_n, _letter))
    setattr(TX4410, f"dac_{_letter}_code", _dac_code(_n, _letter))
for _n, _letter in enumerate("abcdefgh", 1):
    setattr(TX4410, f"readback_{_letter}_voltage", Instrument.measurement(
        f"MEAS{_n}:VOLT?", f"Readback input {_letter.upper()} in volts: the ADC's code / 4096 x Vdd."))
    setattr(TX4410, f"readback_{_letter}_code", Instrument.measurement(
        f"MEAS{_n}:CODE?", f"Readback input {_letter.upper()} as the ADC's 12-bit code.",
        get_process=int))
del _n, _letter
