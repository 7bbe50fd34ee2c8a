"""zelbo-server on the simulated board, driven as a lab script drives it:
PyVISA with pyvisa-py over a raw socket."""

import math
import threading
import time

import numpy as np
import pytest

import zelbo
from conftest import open_instrument

NAN_SCPI = 9.91e37


def errors(inst):
    """Every error in the queue, oldest first."""
    out = []
    while True:
        e = inst.query("SYST:ERR?")
        code = int(e.split(",", 1)[0])
        if code == 0:
            return out
        out.append(code)


def test_a_lab_script_identifies_sets_vref_runs_counted_steps_and_reads_errors(start_server, rm):
    server = start_server()
    inst = open_instrument(rm, server)
    maker, model, serial, firmware = inst.query("*IDN?").split(",")
    assert (maker, model, serial) == ("Zelbo", "TQ5170x-EVB", "SIM")
    assert firmware == zelbo.__version__

    inst.write("*RST;*CLS")
    inst.write("POW ON,NOCL")
    # As the DAC makes it: whole millivolts.
    inst.write("VREF 1.2345")
    assert float(inst.query("VREF?")) == pytest.approx(1.234)
    inst.write("SOUR:VREF 800 mV")
    assert float(inst.query("SOURce:VREF?")) == pytest.approx(0.8)

    # A counted run: *OPC? answers once the board has made every step.
    inst.write("CLOC:FREQ 1 kHz")
    assert float(inst.query("CLOC:FREQ?")) == pytest.approx(1000, rel=1e-4)
    t0 = time.monotonic()
    inst.write("CLOC:RUN 600")
    assert inst.query("*OPC?") == "1"
    assert time.monotonic() - t0 >= 0.5
    assert inst.query("CLOC:RUNN?") == "0"
    assert errors(inst) == []

    # Bad commands leave their numbers in the queue, and nothing else happens.
    inst.write("VREF 9")             # out of range
    inst.write("NO:SUCH:THING 1")    # undefined header
    inst.write("VREF")               # missing parameter
    inst.write("VREF 1 V, 2")        # one parameter too many
    inst.write("CLOC:FREQ 2 V")      # wrong unit
    inst.write("POW OFF;:CLOC:RUN 10")   # refused: not powered
    assert errors(inst) == [-222, -113, -109, -108, -131, -221]
    assert float(inst.query("VREF?")) == pytest.approx(0.8)
    inst.close()


def test_the_waveform_block_matches_a_headless_capture_of_the_same_settings(start_server, rm):
    setup = "POW ON,NOCL;:VREF 1.2;:CHAN1:SOUR V;:TIM:SCAL 500 us;:CLOC:FREQ 2 kHz;RUN"
    server = start_server()
    inst = open_instrument(rm, server)
    inst.write(setup)
    inst.write("DIG;:WAV:SOUR CH1;FORM REAL")
    pre = inst.query("WAV:PRE?").split(",")
    assert pre[0] == "REAL" and int(pre[1]) == 4096
    real = np.array(inst.query_binary_values("WAV:DATA?", datatype="f", is_big_endian=False,
                                             container=np.array))
    inst.write("WAV:FORM WORD")
    pre_w = inst.query("WAV:PRE?").split(",")
    codes = np.array(inst.query_binary_values("WAV:DATA?", datatype="h", is_big_endian=False,
                                              container=np.array))
    word = codes * float(pre_w[4]) + float(pre_w[5])
    assert errors(inst) == []
    inst.close()
    server.stop()

    assert real.shape == (4096,)
    # The same sweep in both formats, to the WORD format's step.
    assert np.max(np.abs(word - real)) <= float(pre_w[4])

    with zelbo.Board(sim=True) as b:
        b.power_on()
        b.set_vref(1.2)
        b.set_source(0, "V")
        b.set_time_base("500 us")
        b.run(2000)
        c = b.capture()
    ref = np.asarray(c["ch"][0])
    assert float(pre[2]) == pytest.approx(c["sample_period"])
    assert real.shape == ref.shape
    # The same board at the same settings: the same levels (the phase of the
    # sweep differs between two boards).
    assert real.min() == pytest.approx(ref.min(), abs=0.02)
    assert real.max() == pytest.approx(ref.max(), abs=0.02)
    assert real.mean() == pytest.approx(ref.mean(), abs=0.03)


def test_meas_queries_give_the_figures_measure_gives(start_server, rm):
    server = start_server()
    inst = open_instrument(rm, server)
    inst.write("POW ON;:VREF 1.0;:CHAN2:SOUR I,A;:CLOC:FREQ 500;RUN")
    remote = [float(v) for v in inst.query("MEAS:ALL? CH2").split(",")]
    vpp = float(inst.query("MEAS:VPP? CHAN2"))
    inst.close()
    server.stop()

    with zelbo.Board(sim=True) as b:
        b.power_on()
        b.set_vref(1.0)
        b.set_source(1, "I", 0)
        b.run(500)
        local = b.measure()[1]
    names = ["min", "max", "p_p", "mean", "rms", "frequency", "period", "ipeak", "ipeak_error", "step_error"]
    for name, r in zip(names, remote):
        l = local[name]
        if l is None or (isinstance(l, float) and math.isnan(l)):
            assert r == NAN_SCPI, name
        else:
            assert r == pytest.approx(l, rel=0.05, abs=0.02), name
    assert vpp == pytest.approx(remote[2], rel=0.05, abs=0.02)


def test_two_servers_on_two_boards_are_driven_at_once_from_one_script(start_server, rm):
    a, b = start_server(name="a"), start_server(name="b")
    ia, ib = open_instrument(rm, a), open_instrument(rm, b)
    for inst, vref in ((ia, 0.5), (ib, 1.5)):
        inst.write(f"POW ON,NOCL;:VREF {vref};:CLOC:FREQ 1kHz")
    # Both runs at once: the two boards step side by side.
    t0 = time.monotonic()
    ia.write("CLOC:RUN 500")
    ib.write("CLOC:RUN 500")
    answers = {}
    threads = [threading.Thread(target=lambda n, i: answers.__setitem__(n, i.query("*OPC?")), args=(n, i))
               for n, i in (("a", ia), ("b", ib))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert answers == {"a": "1", "b": "1"}
    assert time.monotonic() - t0 < 0.45 + 0.45 + 2.0  # side by side, not one after the other
    assert float(ia.query("VREF?")) == pytest.approx(0.5)
    assert float(ib.query("VREF?")) == pytest.approx(1.5)
    ia.close()
    ib.close()


def test_a_client_that_drops_mid_run_leaves_the_clock_stopped_and_power_off(start_server, rm):
    server = start_server()
    inst = open_instrument(rm, server)
    inst.write("POW ON;:CLOC:FREQ 100;RUN 100000")
    assert inst.query("CLOC:RUNN?") == "1"
    inst.close()
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and not (server.last_write("90") == "00" and server.last_write("01") == "E0"):
        time.sleep(0.05)
    assert server.last_write("90") == "00"   # the clock stopped
    assert server.last_write("01") == "E0"   # the supply off
    assert "gone: clock stopped, power off" in server.err.read_text()


def test_a_second_client_is_refused_control_while_the_first_holds_the_lock(start_server, rm):
    server = start_server()
    first, second = open_instrument(rm, server), open_instrument(rm, server)
    assert first.query("SYST:LOCK:REQ?") == "1"
    assert second.query("SYST:LOCK:REQ?") == "0"
    first.write("POW ON,NOCL;:VREF 1.1")
    second.write("VREF 0.3")
    assert float(second.query("VREF?")) == pytest.approx(1.1)
    assert errors(second) == [-203]
    first.close()
    second.close()


def test_sequences_from_csv_calibration_and_the_windows_refusals(start_server, rm):
    server = start_server()
    lines = ["Time [ms],VREF [V],MTH [V],CLK [Hz],PS,ENABLE,MODE0,MODE1,CW/CCW,"]
    for t, v, f in ((50, 1.0, 1000), (100, 0.8, 2000), (150, 0.6, 500)):
        lines.append(f"{t},{v},0.5,{f},HI,HI,LO,LO,HI,")
    (server.folder / "seq.csv").write_text("\n".join(lines) + "\n")
    inst = open_instrument(rm, server)

    # A sequence needs power: refused with the instrument's own words.
    inst.write('SEQ:RUN "seq.csv"')
    err = inst.query("SYST:ERR?")
    assert err == "-221,\"Settings conflict;Please power on software first.\"", err

    inst.write("POW ON")
    t0 = time.monotonic()
    inst.write('SEQ:RUN "seq.csv",2')
    assert inst.query("SEQ:RUNN?") == "1"
    assert inst.query("*OPC?") == "1"           # both cycles played: 2 x 0.3 s
    assert time.monotonic() - t0 >= 0.5
    assert inst.query("SEQ:RUNN?") == "0"
    inst.write('SEQ:RUN "seq.csv",0')           # endless: stopped on request
    inst.write("SEQ:STOP")
    assert inst.query("SEQ:RUNN?") == "0"
    inst.write('SEQ:RUN "missing.csv"')
    assert inst.query("SYST:ERR?").startswith("-221,")
    assert errors(inst) == []

    inst.write("CAL")
    offsets = [float(v) for v in inst.query("CAL:OFFS?").split(",")]
    assert len(offsets) == 12 and all(math.isfinite(v) for v in offsets)
    assert any(server.folder.rglob("init.clb"))  # kept in the data folder, as the window keeps it
    assert errors(inst) == []
    inst.close()
