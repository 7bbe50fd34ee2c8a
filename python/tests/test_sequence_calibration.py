"""Calibration and dynamic sequences through the zelbo module on the simulated board."""

import time

import numpy as np
import pytest

import zelbo
import _simcontrol

ROWS = [
    {"time": 100, "vref": 1.0, "mth": 0.5, "clk": 1000, "ps": True, "enable": True, "mode0": 1, "mode1": 1, "cw": "HI"},
    {"time": 200, "vref": 0.8, "mth": 0.5, "clk": 2000, "ps": True, "enable": True, "mode0": 1, "mode1": 1, "cw": "LO"},
    {"time": 300, "vref": 0.6, "mth": 0.5, "clk": 500, "ps": True, "enable": False, "mode0": 0, "mode1": 0, "cw": "HI"},
]


@pytest.fixture
def folder(tmp_path):
    d = tmp_path / "data"
    d.mkdir()
    return d


@pytest.fixture
def board(folder):
    b = zelbo.Board(sim=True, data_folder=str(folder))
    yield b
    b.close()


def rest_means(board):
    """Mean of each channel probing a coil current with the drive at rest."""
    for ch in range(4):
        board.set_source(ch, "I", ch % 2)
    sweep = board.capture(timeout=5)
    return [float(np.mean(c)) for c in sweep["ch"]]


def test_calibration_cancels_the_front_end_offsets_and_is_kept_in_init_clb(board, folder):
    _simcontrol.set_offsets(0.14, 0.048, -0.036)
    try:
        offsets = board.calibrate()
        assert offsets["voltage"] == pytest.approx([-0.14] * 4, abs=0.071)
        assert offsets["current"] == pytest.approx([-0.048] * 4, abs=0.013)
        assert offsets["icc"] == pytest.approx([0.036] * 4, abs=0.013)
        clb = (folder / "init.clb").read_text().split("\n")
        # The file keeps six significant digits.
        assert [float(x) for x in clb[1].split()] == pytest.approx(offsets["current"], rel=1e-5)

        board.power_on()
        board.stop()
        board.set_pin("enable", False)
        assert all(abs(m) < 0.013 for m in rest_means(board))

        # A new session starts with the stored offsets.
        board.close()
        again = zelbo.Board(sim=True, data_folder=str(folder))
        try:
            again.power_on()
            again.stop()
            again.set_pin("enable", False)
            assert all(abs(m) < 0.013 for m in rest_means(again))
        finally:
            again.close()
    finally:
        _simcontrol.default_offsets()


def test_calibration_stops_a_running_acquisition_first_and_restarts_it(board):
    board.power_on()
    board.calibrate()
    assert board.capture(timeout=5)["t"].shape == (4096,)


def test_a_three_row_two_cycle_sequence_ends_and_the_board_played_six_rows(board):
    board.power_on()
    before = _simcontrol.sequence_rows()
    start = time.monotonic()
    board.run_sequence(ROWS, cycles=2)
    assert board.sequence_running
    assert board.wait_sequence(timeout=10)
    assert not board.sequence_running
    assert time.monotonic() - start >= 0.6
    assert _simcontrol.sequence_rows() - before == 6
    # The board is the session's again: a counted run still works.
    board.run(2000, steps=10)
    assert board.wait_run(timeout=5)


def test_a_sequence_from_csv_runs_and_an_endless_one_stops_on_request(board, tmp_path):
    csv = tmp_path / "seq.csv"
    lines = ["Time [ms],VREF [V],MTH [V],CLK [Hz],PS,ENABLE,MODE0,MODE1,CW/CCW,"]
    for r in ROWS:
        lines.append(f"{r['time']},{r['vref']},{r['mth']},{r['clk']},HI,HI,LO,LO,HI,")
    csv.write_text("\n".join(lines) + "\n")
    board.power_on()
    before = _simcontrol.sequence_rows()
    board.run_sequence(csv, cycles=1)
    assert board.wait_sequence(timeout=10)
    assert _simcontrol.sequence_rows() - before == 3

    board.run_sequence(str(csv), cycles=0)
    assert not board.wait_sequence(timeout=1)  # endless: never ends by itself
    assert board.sequence_running
    board.stop_sequence()
    assert not board.sequence_running


def test_bad_sequences_raise_with_the_systems_message(board, tmp_path):
    with pytest.raises(zelbo.BoardError, match="Please power on software first"):
        board.run_sequence(ROWS)
    board.power_on()
    bad = tmp_path / "bad.csv"
    bad.write_text("Time [ms],VREF [V],MTH [V],CLK [Hz],PS,ENABLE,MODE0,MODE1,CW/CCW,\n100,1.0,0.5\n")
    with pytest.raises(zelbo.BoardError, match="Incomplete CSV Settings"):
        board.run_sequence(str(bad))
    with pytest.raises(zelbo.BoardError, match="Unable to open .csv file"):
        board.run_sequence(str(tmp_path / "missing.csv"))
    with pytest.raises(ValueError, match="Time should be increasing"):
        board.run_sequence([{"time": 200}, {"time": 100}])
    with pytest.raises(ValueError, match="Dynamic sequence is empty"):
        board.run_sequence([])
    with pytest.raises(ValueError, match="unknown column \"speed\""):
        board.run_sequence([{"time": 100, "speed": 3}])
    with pytest.raises(ValueError, match="Cycles must be 1 to 99"):
        board.run_sequence(ROWS, cycles=100)
    assert not board.sequence_running
