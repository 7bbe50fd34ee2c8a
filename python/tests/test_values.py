"""What the hardware makes, not the window's slider grid: the clock, VREF and MTH, long counted runs."""

import math
import time

import pytest

import zelbo
import _simcontrol

PERIOD = 145  # the board's clock period register, four bytes LSB first
VREF, MTH = 133, 134  # DAC channels


def board_period():
    return sum(_simcontrol.register_value(PERIOD + i) << (8 * i) for i in range(4))


@pytest.fixture
def board(powered):
    return powered


@pytest.mark.parametrize("f", [1, 2, 15, 99.5, 1234, 2000, 33333, 99999, 100000])
def test_run_reaches_the_board_as_the_generators_period_and_reads_back(board, f):
    n = math.trunc(40e6 / f - 1)
    applied = board.run(f)
    assert board_period() == n
    assert applied == pytest.approx(40e6 / (n + 1), rel=1e-12)
    assert board.clock == applied
    assert board.running and _simcontrol.clock_running()


def test_what_the_generator_cannot_make_is_refused_with_the_range(board):
    for f in (0, 0.001, 100001, float("nan")):
        with pytest.raises(ValueError, match=r"CLK .* is out of range \(0.01 to 100000 Hz\)"):
            board.run(f)


def test_references_are_set_to_the_dacs_millivolt(board):
    assert board.set_vref(1.234) == pytest.approx(1.234)
    assert _simcontrol.dac_code(VREF) == 1234
    assert board.set_vref(0.004) == pytest.approx(0.004)
    assert _simcontrol.dac_code(VREF) == 4
    assert board.vref == pytest.approx(0.004)
    assert board.set_mth(2.3456) == pytest.approx(2.345)  # the DAC truncates to whole mV
    assert _simcontrol.dac_code(MTH) == 2345
    assert board.mth == pytest.approx(2.345)
    with pytest.raises(ValueError, match=r"MTH 3.6 V is out of range \(0 to 3.5 V\)"):
        board.set_mth(3.6)


@pytest.mark.parametrize("steps", [255, 256, 1000])
def test_a_long_counted_run_moves_the_driver_exactly_that_many_steps(board, steps):
    board.set_pin("enable", True)
    board.stop()
    before = _simcontrol.steps()
    board.run(20000, steps=steps)
    assert board.running
    assert board.wait_run(timeout=10)
    assert not board.running
    time.sleep(0.1)
    assert abs(_simcontrol.steps() - before) == steps


def test_exact_values_survive_the_end_of_a_sequence(board):
    board.run(1234)
    board.set_vref(1.234)
    board.stop()
    board.run_sequence([{"time": 0, "clk": 1000, "vref": 0.5}, {"time": 100, "clk": 1000, "vref": 0.5}])
    assert board.wait_sequence(10)
    assert _simcontrol.dac_code(VREF) == 1234
    assert board_period() == math.trunc(40e6 / 1234 - 1)


def test_sequence_rows_are_held_to_what_the_board_can_play(board):
    for row, why in (({"vref": 9}, r"Row 1: VREF 9 V is out of range"),
                     ({"mth": float("nan")}, r"Row 1: MTH nan V is out of range"),
                     ({"clk": -5}, r"Row 1: CLK -5 Hz is out of range"),
                     ({"time": -1}, r"Row 1: time -1 ms")):
        with pytest.raises(ValueError, match=why):
            board.run_sequence([dict({"time": 0}, **row)])
    assert not board.sequence_running


def test_duty_stop_level_and_power_on_with_the_clock_stopped():
    b = zelbo.Board(sim=True)
    try:
        b.power_on(clock=False)
        assert b.powered and not b.running and not _simcontrol.clock_running()
        b.run(1000)
        assert b.set_duty(25.9) == 25  # whole percent, as the generator takes it
        high = sum(_simcontrol.register_value(PERIOD + 4 + i) << (8 * i) for i in range(4))
        assert high == 25 * board_period() // 100
        b.set_stop_level("H")
        assert (b.status()["duty"], b.status()["stop_level"]) == ("25", "H")
        with pytest.raises(ValueError, match=r"Duty 0 % is out of range \(1 to 100 %\)"):
            b.set_duty(0)
    finally:
        b.close()
