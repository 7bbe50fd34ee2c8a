"""The board as a PyMeasure instrument, through zelbo-server.

Start ``zelbo-server`` for the board, then::

    from zelbo.pymeasure import ZelboBoard
    board = ZelboBoard("TCPIP::bench-pc::5025::SOCKET")
    board.powered = True
    board.vref = 1.2                # V, as the DAC makes it
    board.run(steps=500, frequency=2000)
    board.wait()                    # *OPC?: the 500 steps are made
    print(board.measure(2)["ipeak"])

Its properties follow PyMeasure's ``control``/``measurement`` (so a procedure
sweeps ``vref`` as it sweeps a supply's voltage); the resource is opened with
pyvisa-py (``visa_library="@py"``) and newline terminations unless told
otherwise. Importing this module needs PyMeasure (Debian's
``python3-pymeasure``); the rest of ``zelbo`` does not.
"""

import numpy as np
from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import strict_discrete_set, strict_range

# The figures of MEASure:ALL?, in its order.
FIGURES = ("min", "max", "p_p", "mean", "rms", "frequency", "period", "ipeak", "ipeak_error", "step_error")
# SCPI's not-a-number: a figure that does not apply.
SCPI_NAN = 9.91e37


def _onoff(v):
    return bool(int(float(v)))


class ZelboBoard(Instrument):
    """The Zelbo evaluation board served by ``zelbo-server``."""

    powered = Instrument.control(
        "POW?", "POW %d", "Power switch: True runs the power-on sequence (clock started), False the off sequence.",
        validator=strict_discrete_set, values={True: 1, False: 0}, map_values=True)
    supply = Instrument.control(
        "SUPP?", "SUPP %g", "Supply of the driver IC, V: 3.3 or 5.0.",
        validator=strict_discrete_set, values=[3.3, 5.0])
    vref = Instrument.control(
        "VREF?", "VREF %.4f", "VREF, V (0 to 3): whole millivolts as the DAC makes them; reads back what was applied.",
        validator=strict_range, values=[0.0, 3.0])
    mth = Instrument.control(
        "MTH?", "MTH %.4f", "MTH, V (0 to 3.5), as the DAC makes it.",
        validator=strict_range, values=[0.0, 3.5])
    rnf = Instrument.control(
        "RNF?", "RNF %g", "Sense resistor, ohm (0.01 to 1).",
        validator=strict_range, values=[0.01, 1.0])
    mode = Instrument.control(
        "MODE?", "MODE %s", "Excitation mode: 'full', 'half-a', 'half-b' or 'quarter'.",
        validator=strict_discrete_set,
        values={"full": "FULL", "half-a": "HALFA", "half-b": "HALFB", "quarter": "QUAR"}, map_values=True)
    frequency = Instrument.control(
        "CLOC:FREQ?", "CLOC:FREQ %g", "Step clock, Hz (0.01 to 100 000), as the generator makes it.",
        validator=strict_range, values=[0.01, 100e3])
    duty = Instrument.control(
        "CLOC:DUTY?", "CLOC:DUTY %g", "Duty of the step clock, % (1 to 100, whole percent).",
        validator=strict_range, values=[1, 100])
    running = Instrument.measurement("CLOC:RUNN?", "True while the step clock runs.", get_process=_onoff)
    temperature = Instrument.measurement("TEMP?", "Junction temperature, degrees Celsius.")
    time_base = Instrument.control(
        "TIM:SCAL?", "TIM:SCAL %g", "Oscilloscope SEC/DIV, s (500 ns to 50 ms, as the window lists them).")
    sweeps = Instrument.measurement("ACQ:COUN?", "Sweeps the board has delivered since the server started.")

    def __init__(self, adapter, name="Zelbo evaluation board", **kwargs):
        if isinstance(adapter, str):
            kwargs.setdefault("visa_library", "@py")
            kwargs.setdefault("read_termination", "\n")
            kwargs.setdefault("write_termination", "\n")
            kwargs.setdefault("timeout", 20000)
        super().__init__(adapter, name, includeSCPI=True, **kwargs)

    def set_pin(self, name, high):
        """One pin: 'ps', 'enable', 'mode0', 'mode1' or 'cw'."""
        self.write("PIN %s,%d" % (name, 1 if high else 0))

    def pin(self, name):
        """A pin's level, True for high."""
        return _onoff(self.ask("PIN? %s" % name))

    def run(self, steps=None, frequency=None):
        """Starts the clock: continuous, or `steps` (1 to 10**9) counted."""
        if frequency is not None:
            self.frequency = frequency
        self.write("CLOC:RUN" if steps is None else "CLOC:RUN %d" % int(steps))

    def stop(self):
        """Stops the step clock."""
        self.write("CLOC:STOP")

    def wait(self):
        """Returns once a counted run or sequence has ended (*OPC?)."""
        self.ask("*OPC?")

    def source(self, channel, source, output="A"):
        """What oscilloscope channel 1..4 probes: 'V', 'I' (coil current of output 'A' or 'B') or 'ICC'."""
        self.write("CHAN%d:SOUR %s,%s" % (channel, source, output))

    def measure(self, channel=1):
        """The measurement strip of a fresh sweep for channel 1..4, as a dict
        (NaN where a figure does not apply)."""
        values = [float(v) for v in self.ask("MEAS:ALL? CH%d" % channel).split(",")]
        return {k: (float("nan") if v == SCPI_NAN else v) for k, v in zip(FIGURES, values)}

    def waveform(self, channel=1):
        """Channel 1..4 of a fresh sweep: (t in s, values in V or A)."""
        self.write("DIG;:WAV:SOUR CH%d;FORM REAL" % channel)
        pre = self.ask("WAV:PRE?").split(",")
        data = self.adapter.connection.query_binary_values(
            "WAV:DATA?", datatype="f", is_big_endian=False, container=np.array)
        t = float(pre[3]) + np.arange(len(data)) * float(pre[2])
        return t, data

    def errors(self):
        """Empties this client's error queue: [(number, text), ...]."""
        out = []
        while True:
            code, text = self.ask("SYST:ERR?").split(",", 1)
            if int(code) == 0:
                return out
            out.append((int(code), text.strip('"')))

    def shutdown(self):
        """Stops the clock and powers the board off; returns once the server
        has done both (*OPC? answers after the commands before it)."""
        self.write("CLOC:STOP;:POW OFF")
        self.ask("*OPC?")
        super().shutdown()
