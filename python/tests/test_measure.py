"""The window's measurement strip, headless, on the simulated board's known currents."""

import math

import pytest

import zelbo
import _simcontrol


@pytest.fixture
def board():
    _simcontrol.zero_offsets()
    b = zelbo.Board(sim=True)
    yield b
    b.close()
    _simcontrol.default_offsets()


@pytest.mark.parametrize("mode,steps_per_cycle", [("quarter", 16), ("full", 4)])
def test_measure_gives_the_coil_currents_figures(board, mode, steps_per_cycle):
    board.set_mode(mode)
    board.set_pin("enable", True)
    board.set_vref(1.0)
    board.set_rnf(0.2)
    board.power_on()
    board.set_source(2, "I", 0)
    board.set_source(3, "I", 1)
    clk = board.run(2000)
    figures = board.measure(timeout=5)
    assert len(figures) == 4
    io = 1.0 / 0.2 / 5  # VREF / RNF at the default rate 1/5
    amplitude = _simcontrol.amplitude()
    for m in figures[2:]:
        assert m["source"] == "I" and m["unit"] == "A" and m["samples"] == 4096
        assert m["frequency"] == pytest.approx(clk / steps_per_cycle, rel=0.01)
        assert m["period"] == pytest.approx(steps_per_cycle / clk, rel=0.01)
        assert m["ipeak"] == pytest.approx(amplitude, rel=0.02)
        assert m["ipeak_error"] == pytest.approx((m["ipeak"] - io) / io * 100, abs=1e-9)
        assert m["p_p"] == pytest.approx(m["max"] - m["min"])
        assert abs(m["step_error"]) < 5
    for m in figures[:2]:
        assert m["source"] == "V" and math.isnan(m["ipeak"])


def test_measure_needs_power(board):
    with pytest.raises(zelbo.BoardError, match="Power on first"):
        board.measure()
