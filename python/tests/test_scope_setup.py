"""The oscilloscope set up headless: applied, read back, and in the sweeps."""

import pytest

import zelbo


@pytest.fixture
def board(powered):
    return powered


def test_scope_settings_apply_read_back_and_shape_the_sweep(board):
    assert board.set_time_base("10us") == "10 µs"
    assert board.set_sampling_rate("10 mhz") == "10 MHz"
    board.set_source(2, "I", 1)
    assert board.set_scale(2, "500 mA") == "500 mA"
    assert board.set_trigger(2, 0.25, "-") == pytest.approx(0.25)
    board.set_channel(1, False)
    st = board.status()
    assert (st["timebase"], st["rate"]) == ("10 µs", "10 MHz")
    assert (st["trigger"], st["trigger_channel"], st["trigger_level"], st["trigger_slope"]) == ("on", "3", "0.250", "-")
    assert (st["ch3_source"], st["ch3_output"], st["ch3_scale"], st["ch2_on"]) == ("I", "OUT2B", "500 mA", "off")
    board.set_trigger(on=False)
    assert board.status()["trigger"] == "off"
    sweep = board.capture(timeout=5)
    assert sweep["sample_period"] == pytest.approx(1e-7)
    assert sweep["time_base"] == "10 µs"


def test_what_the_window_does_not_offer_is_refused_with_its_list(board):
    with pytest.raises(ValueError, match="is not one of 500 ns, .*, 50 ms"):
        board.set_time_base("100 ms")  # listed, but beyond one sweep
    with pytest.raises(ValueError, match="is not one of 100 mV"):
        board.set_scale(0, "500 mA")  # a voltage channel
    with pytest.raises(ValueError, match=r"out of range \(-6 to 6 A\)"):
        board.set_source(3, "I")
        board.set_trigger(3, 7)


def test_single_trigger_takes_one_sweep_and_the_board_no_more(board):
    import time

    import _simcontrol

    # The fastest sweeps, free running: the board would go on at once.
    board.set_sampling_rate("10 MHz")
    board.set_trigger(on=False)
    assert board.set_trigger_mode("SINGLE") == "Single"
    assert board.set_holdoff(0) == 0
    # Set while free running, the mode takes hold with the next sweep: a
    # sweep the board is acquiring meanwhile is the free run's, not ours.
    board.capture(timeout=5)
    time.sleep(0.3)
    for _ in range(2):
        before = _simcontrol.sweeps_acquired()
        board.capture(timeout=5)
        time.sleep(0.3)
        assert board.trigger_state() == "Stop"
        assert _simcontrol.sweeps_acquired() == before + 1
    st = board.status()
    assert (st["trigger_mode"], st["trigger_state"], st["holdoff_ms"]) == ("Single", "Stop", "0")
    with pytest.raises(ValueError, match="auto"):
        board.set_trigger_mode("sometimes")
    with pytest.raises(ValueError, match="out of range"):
        board.set_holdoff(-1)
