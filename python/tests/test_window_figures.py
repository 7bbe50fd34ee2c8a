"""measure() headless gives the figures the window's measurement strip shows.

The window's end-to-end test writes what its strip shows for a set-up
(quarter step, coil currents on CH2 and CH4, the trigger on CH2 holding the
steps' phase, the simulated board without probe noise); this module sets up
the same scope headless on a simulated board of its own and measures.
"""

import json
import math
import os
import pathlib
import subprocess

import pytest

import zelbo
import _simcontrol

E2E = pathlib.Path(zelbo.__file__).resolve().parents[2] / "bin" / "e2e_instrument_tests"


@pytest.mark.skipif(not E2E.exists(), reason="the window's end-to-end tests are not built (no GUI)")
def test_measure_gives_the_figures_the_window_strip_shows(tmp_path):
    out = tmp_path / "strip.json"
    env = dict(os.environ, ZELBO_BOARD="sim", QT_QPA_PLATFORM="offscreen", ZELBO_STRIP_FIGURES=str(out))
    r = subprocess.run([str(E2E), "--gtest_filter=Instrument.StripFiguresForThePythonModule"], env=env,
                       capture_output=True, text=True, timeout=180, cwd=E2E.parent)
    assert r.returncode == 0 and out.exists(), r.stdout[-3000:] + r.stderr[-3000:]
    window = json.loads(out.read_text())

    _simcontrol.zero_offsets()
    _simcontrol.probe_noise(False)
    try:
        with zelbo.Board(sim=True) as b:
            b.set_mode("quarter")
            b.set_pin("enable", True)
            b.set_pin("cw", True)
            b.set_vref(window["vref"])
            b.set_rnf(window["rnf"])
            b.power_on()
            for n, ch in enumerate(window["channels"]):
                b.set_source(n, ch["source"], 1 if ch["output"].endswith("B") else 0)
                b.set_channel(n, True)
            assert b.set_time_base(window["time_base"]) == window["time_base"]
            assert b.set_sampling_rate(window["rate"]) == window["rate"]
            b.set_trigger(1, 0.5, "+")
            b.run(2000)
            status = b.status()
            assert float(status["io"]) == window["io_ma"]
            assert [status[f"ch{n + 1}_output"] for n in range(4)] == [c["output"] for c in window["channels"]]
            b.measure(timeout=5)  # the first sweep after the start
            headless = b.measure(timeout=5)
    finally:
        _simcontrol.probe_noise(True)
        _simcontrol.default_offsets()

    # Within one converter code of the channel (the window says how much).
    for n, (w, h) in enumerate(zip(window["channels"], headless)):
        code = w["code"]
        names = ["min", "max", "p_p"]
        # A chopped output's mean, RMS and frequency are not held by the
        # trigger (it holds the steps' phase): they differ sweep to sweep.
        if w["source"] == "I":
            names += ["mean", "rms", "ipeak"]
        assert h["samples"] == w["samples"], n
        for name in names:
            assert h[name] == pytest.approx(w[name], abs=code), (n, name)
        if w["source"] == "I":
            assert h["plateaus"] == w["plateaus"]
            assert h["frequency"] == pytest.approx(w["frequency"], rel=1e-3), n
            assert h["period"] == pytest.approx(w["period"], rel=1e-3), n
            io_a = window["io_ma"] / 1000.0
            for name in ("ipeak_error", "step_error"):
                assert h[name] == pytest.approx(w[name], abs=code / io_a * 100), (n, name)
        else:
            assert math.isnan(h["ipeak"]) and w["ipeak"] is None
