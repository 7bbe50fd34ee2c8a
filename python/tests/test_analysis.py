"""Spectrum, THD and math channels from Python, on the simulated board."""

import math

import numpy as np
import pytest

import zelbo


@pytest.fixture
def board():
    b = zelbo.Board(sim=True)
    b.set_pin("enable", True)
    b.set_vref(2.0)
    b.set_rnf(0.2)
    yield b
    b.close()


def test_spectrum_of_the_coil_current_full_against_quarter_step(board):
    thd = {}
    for mode, clk in (("quarter", 10000), ("full", 2500)):
        if board.powered:
            board.power_off()
        board.set_mode(mode)
        board.power_on()
        board.set_source(2, "I", 0)
        board.run(clk)
        s = board.spectrum("CH3", window="hann")
        assert s["valid"], s["reason"]
        assert s["unit"] == "A" and s["window"] == "Hann"
        assert s["expected_hz"] == pytest.approx(625, rel=1e-3)
        assert s["fundamental_hz"] == pytest.approx(625, rel=0.01)
        assert len(s["frequency"]) == len(s["amplitude"]) == 2049
        # The strongest bin is the fundamental.
        assert s["frequency"][int(np.argmax(s["amplitude"][1:])) + 1] == pytest.approx(625, rel=0.03)
        assert s["thd_db"] == pytest.approx(20 * math.log10(s["thd"]))
        assert len(s["harmonics_dbc"]) == len(s["harmonics"]) - 1
        thd[mode] = s["thd_db"]
    assert thd["full"] > thd["quarter"] + 10


def test_math_channel_power_and_refusals(board):
    board.set_mode("quarter")
    board.power_on()
    board.set_source(1, "I", 0)
    board.run(2000)
    assert board.set_math(0, "CH1 * CH2") == "W"
    with pytest.raises(ValueError, match="Cannot add"):
        board.set_math(1, "CH1 + CH2")
    with pytest.raises(ValueError, match="Unexpected"):
        board.set_math(1, "__import__('os')")
    assert board.math == ["CH1 * CH2", ""]
    c = board.capture()
    m1, m2 = c["math"]
    assert m2 is None and m1["unit"] == "W"
    np.testing.assert_array_equal(m1["values"], c["ch"][0] * c["ch"][1])
    figures = board.measure(math=True)
    assert len(figures) == 5 and figures[4]["source"] == "M1" and figures[4]["unit"] == "W"
    assert len(board.measure()) == 4
    with pytest.raises(ValueError, match="M2 is off"):
        board.spectrum("M2")
