"""One activity at a time, and what ends it, through the zelbo module on the simulated board."""

import time

import pytest

import zelbo
import _simcontrol

ENABLE = 129  # the ENABLE pin's DAC channel
HIGH_5V = 2500  # a High pin's code at 5 V

# The last row drops ENABLE: the end of the sequence must give it back.
ROWS = [
    {"time": 100, "vref": 1.0, "mth": 0.5, "clk": 1000, "ps": True, "enable": True, "mode0": 1, "mode1": 1, "cw": "HI"},
    {"time": 200, "vref": 0.8, "mth": 0.5, "clk": 2000, "ps": True, "enable": False, "mode0": 0, "mode1": 0, "cw": "LO"},
]


@pytest.fixture
def board(tmp_path):
    d = tmp_path / "data"
    d.mkdir()
    b = zelbo.Board(sim=True, data_folder=d)  # a pathlib.Path
    yield b
    b.close()


def test_the_end_of_a_sequence_gives_the_pins_back(board):
    board.power_on()
    board.set_pin("enable", True)
    assert _simcontrol.dac_code(ENABLE) == HIGH_5V
    board.run_sequence(ROWS, cycles=1)
    assert board.wait_sequence(timeout=10)
    assert _simcontrol.dac_code(ENABLE) == HIGH_5V, "ENABLE stays as the session set it"


def test_activities_refuse_each_other_with_the_same_texts_as_the_window(board):
    board.power_on()
    board.run_sequence(ROWS, cycles=0)  # endless
    with pytest.raises(zelbo.BoardError, match="Cannot start the oscilloscope calibration while dynamic mode is running"):
        board.calibrate()
    with pytest.raises(zelbo.BoardError, match="Cannot run the clock while dynamic mode is running"):
        board.run(1000, steps=10)
    assert board.sequence_running
    board.stop_sequence()
    board.run(1000, steps=10)  # the board is the session's again
    assert board.wait_run(timeout=5)


def test_power_off_ends_a_sequence_and_nothing_plays_on_the_unpowered_board(board):
    board.power_on()
    board.run_sequence(ROWS, cycles=0)
    time.sleep(0.3)
    board.power_off()
    assert not board.sequence_running
    assert _simcontrol.supply_mv() == 0
    assert _simcontrol.register_value(192) == 0, "the sequencer is stopped"
    rows = _simcontrol.sequence_rows()
    time.sleep(0.5)
    assert _simcontrol.sequence_rows() == rows


def test_loading_settings_ends_what_runs_first(board, tmp_path):
    board.power_on()
    path = str(tmp_path / "bench.set")
    board.save_settings(path)
    board.run_sequence(ROWS, cycles=0)
    board.load_settings(path)
    assert not board.sequence_running
    assert _simcontrol.register_value(192) == 0
    assert _simcontrol.supply_mv() == 5000
