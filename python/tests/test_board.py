"""The zelbo module on the simulated board."""

import threading
import time

import numpy as np
import pytest

import zelbo
import _simcontrol


@pytest.fixture
def board():
    b = zelbo.Board(sim=True)
    yield b
    b.close()


def test_a_counted_run_moves_the_driver_model_exactly_that_many_steps(board):
    board.set_pin("enable", True)
    board.power_on()
    board.stop()  # power on starts the continuous clock as set up
    before = _simcontrol.steps()
    board.run(2000, steps=100)
    assert board.wait_run(timeout=5)
    assert not board.running
    time.sleep(0.1)
    assert abs(_simcontrol.steps() - before) == 100


def test_a_capture_returns_four_sweeps_with_the_quarter_step_staircase_at_io(board):
    # Without a calibration the front end's offsets (a few codes) would add on.
    _simcontrol.zero_offsets()
    board.set_mode("quarter")
    board.set_pin("enable", True)
    board.set_vref(1.0)
    board.power_on()
    board.set_source(2, "I", 0)
    board.set_source(3, "I", 1)
    board.run(2000)
    sweep = board.capture(timeout=5)
    assert len(sweep["ch"]) == 4
    for ch in sweep["ch"]:
        assert isinstance(ch, np.ndarray) and ch.shape == (4096,)
    assert sweep["t"].shape == (4096,)
    assert sweep["t"][1] > 0
    assert [s["unit"] for s in sweep["settings"]] == ["V", "V", "A", "A"]
    amplitude = _simcontrol.amplitude()
    assert amplitude > 0
    for ch in sweep["ch"][2:]:
        peak = np.max(np.abs(ch))
        assert peak == pytest.approx(amplitude, rel=0.02), (peak, amplitude, sweep["settings"])


def test_bad_arguments_raise_value_error_with_a_clear_text(board):
    with pytest.raises(ValueError, match="VREF 9 V is out of range"):
        board.set_vref(9)
    with pytest.raises(ValueError, match="Unknown pin"):
        board.set_pin("nose", True)
    with pytest.raises(ValueError, match="Steps must be 1 to 1000000000"):
        board.run(1000, steps=0)
    with pytest.raises(zelbo.BoardError, match="Power on first"):
        board.capture()


def test_settings_survive_a_save_and_load(board, tmp_path):
    board.set_vref(1.5)
    path = tmp_path / "a.set"
    board.save_settings(str(path))
    board.set_vref(0.5)
    board.load_settings(str(path))
    board.save_settings(tmp_path / "b.set")  # a pathlib.Path as well as a str
    assert path.read_bytes() == (tmp_path / "b.set").read_bytes()
    with pytest.raises(zelbo.BoardError, match="Cannot read"):
        board.load_settings(str(tmp_path / "missing.set"))


def test_the_module_and_a_board_say_what_they_are(board):
    assert zelbo.__version__.count(".") == 3
    assert repr(board) == "<zelbo.Board sim, off>"
    board.close()
    assert repr(board) == "<zelbo.Board closed>"


def test_tj_reads_a_plausible_temperature(board):
    board.power_on()
    assert -40 < board.tj(timeout=3) < 200


def test_waits_release_the_interpreter(board):
    board.power_on()
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.001)

    t = threading.Thread(target=count)
    t.start()
    board.capture(timeout=5)
    stop.set()
    t.join()
    assert len(ticks) > 3


def test_a_board_that_vanishes_raises_instead_of_hanging(board):
    board.power_on()
    _simcontrol.set_present(False)
    try:
        start = time.monotonic()
        with pytest.raises(zelbo.BoardError):
            board.capture(timeout=3)
            board.capture(timeout=3)
        assert time.monotonic() - start < 15
    finally:
        _simcontrol.set_present(True)
