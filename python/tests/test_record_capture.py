"""Recording headless and reading it back; a capture with its settings; outputs and counted steps."""

import json
import time

import numpy as np
import pytest

import zelbo
import _simcontrol


def test_record_writes_what_open_recording_reads_back(powered, tmp_path):
    b = powered
    b.set_source(2, "I", 0)
    b.set_output(2, "B")
    path = tmp_path / "run.zrec"  # a pathlib.Path
    st = b.record(path, seconds=0.6)
    assert st["sweeps"] >= 2 and st["bytes"] == path.stat().st_size
    rec = zelbo.open_recording(path)
    assert len(rec) == st["sweeps"]
    assert list(rec.index) == list(range(st["first_sweep"], st["last_sweep"] + 1))
    assert rec.data.shape == (len(rec), 4, 4096)
    assert rec.channels[1] == {"key": "CH2", "label": "OUT1B", "unit": "V", "source": "Voltage"}
    assert rec.channels[2] == {"key": "CH3", "label": "OUT2B", "unit": "A", "source": "Current"}
    assert rec.time_base == b.status()["timebase"] and rec.started.endswith("Z")
    assert rec.math == []
    # The same sweeps as a capture sees them: codes times the factors.
    assert np.isfinite(rec.data).all()
    assert rec.t(0)[1] == pytest.approx(rec.sample_period[0])
    # A part of it, from a record on.
    part = zelbo.open_recording(str(path), first=1, count=1)
    assert len(part) == 1 and part.index[0] == rec.index[1]
    np.testing.assert_array_equal(part[0], rec[1])


def test_a_recording_names_the_math_channels_that_were_on(powered, tmp_path):
    b = powered
    b.set_source(2, "I", 0)
    assert b.set_math(1, "CH2 * CH3") == "W"
    try:
        path = tmp_path / "math.zrec"
        b.record(path, seconds=0.3)
        rec = zelbo.open_recording(path)
        assert rec.math == [{"key": "M2", "label": "", "unit": "W", "expression": "CH2 * CH3"}]
        # What the header names is what a reader needs: M2 from the records.
        p = rec.data[0, 1] * rec.data[0, 2]
        assert np.isfinite(p).all() and p.shape == (4096,)
    finally:
        b.set_math(1, "")


def test_record_refuses_bad_arguments_and_no_power(tmp_path):
    with zelbo.Board(sim=True) as b:
        with pytest.raises(zelbo.BoardError):
            b.record(tmp_path / "x.zrec", seconds=1)
        b.power_on()
        for seconds in (0, -1, float("nan"), 1e9):
            with pytest.raises(ValueError):
                b.record(tmp_path / "x.zrec", seconds=seconds)
        with pytest.raises(zelbo.BoardError, match="could not be started"):
            b.record(tmp_path / "no" / "such" / "x.zrec", seconds=1)
        assert not (tmp_path / "x.zrec").exists()


@pytest.mark.parametrize("content", [b"", b"ZLBOREC1", b"not a recording at all" * 10,
                                     b"ZLBOREC1" + bytes(20) + b"{}"])
def test_open_recording_refuses_what_is_not_one(tmp_path, content):
    p = tmp_path / "bad.zrec"
    p.write_bytes(content)
    with pytest.raises(zelbo.BoardError, match="cannot be read"):
        zelbo.open_recording(p)
    with pytest.raises(zelbo.BoardError):
        zelbo.open_recording(tmp_path / "missing.zrec")


def test_a_recording_cut_short_or_with_a_broken_header_still_reads(powered, tmp_path):
    path = tmp_path / "r.zrec"
    st = powered.record(path, seconds=0.4)
    data = bytearray(path.read_bytes())
    rec_bytes = json.loads(data[28:28 + int.from_bytes(data[24:28], "little")])["recordBytes"]
    cut = tmp_path / "cut.zrec"
    cut.write_bytes(bytes(data[:-rec_bytes // 2]))  # the last record half written
    assert len(zelbo.open_recording(cut)) == st["sweeps"] - 1
    data[28] = ord("[")  # the JSON text no longer parses: the samples are still there
    path.write_bytes(bytes(data))
    rec = zelbo.open_recording(path)
    assert rec.header == {} and len(rec) == st["sweeps"] and rec.channels[0]["key"] == "CH1"


def test_capture_carries_its_settings_and_converts(powered):
    b = powered
    b.set_mode("quarter")
    b.set_source(3, "I", 1)
    vref = b.set_vref(1.234)
    clk = b.run(1234)
    b.set_time_base("1 ms")
    cap = b.capture(timeout=5)
    assert isinstance(cap, dict) and isinstance(cap, zelbo.Capture)
    assert cap["vref"] == vref and cap.vref == vref and cap.clk == clk and cap.clock_running
    assert cap.mode == b.status()["mode"] and cap.time_base == "1 ms"
    assert cap.sampling_rate == b.status()["rate"]
    assert cap.sources == ["V", "V", "V", "I"] and cap.units == ["V", "V", "V", "A"]
    arr = cap.to_array()
    assert arr.shape == (4, len(cap.t)) and arr.dtype == np.float64
    np.testing.assert_array_equal(arr[3], cap.ch[3])
    pd = pytest.importorskip("pandas")
    df = cap.to_dataframe()
    assert isinstance(df, pd.DataFrame) and list(df.columns) == cap.columns()
    assert df.columns[3] == "CH4 OUT2B [A]" and df.index.name == "t [s]"
    np.testing.assert_array_equal(df.iloc[:, 1].to_numpy(), cap.ch[1])
    assert df.attrs["vref"] == vref
    assert "VREF 1.234 V" in repr(cap)


def test_set_output_only_where_the_window_offers_it(powered):
    b = powered
    with pytest.raises(ValueError, match="fixed"):
        b.set_output(0, "B")  # a voltage channel
    b.set_source(1, "I", 0)
    assert b.set_output(1, "B") == "OUT1B" and b.status()["ch2_output"] == "OUT1B"
    assert b.set_output(1, 0) == "OUT1A"
    for bad in ("C", 2, True, None):
        with pytest.raises((ValueError, TypeError)):
            b.set_output(1, bad)


def test_counted_steps_follow_the_boards_step_counter(powered):
    b = powered
    b.set_pin("enable", True)  # the driver steps only when enabled
    b.stop()
    time.sleep(0.1)
    before = _simcontrol.steps()
    b.run(20000, steps=600)
    assert b.wait_run(timeout=10)
    b.run(20000, steps=7)
    assert b.wait_run(timeout=5)
    time.sleep(0.1)
    assert b.counted_steps == 607 == abs(_simcontrol.steps() - before)
    b.run(20000)  # continuous runs are not counted
    b.stop()
    assert b.counted_steps == 607
