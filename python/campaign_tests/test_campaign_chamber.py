"""Campaigns across chamber temperatures on the simulated board, its chamber
reached through the real libCalora.so: a whole three-temperature campaign
read back with sqlite3 and pandas, and a stop in the middle of a soak."""

import os
import signal
import sqlite3
import subprocess
import threading
from pathlib import Path

import pytest

import _simcontrol
import zelbo

ROOT = Path(__file__).resolve().parents[2]
CHAMBER_DEMO = ROOT / "examples" / "chamber_demo.toml"
CLI = Path(os.environ.get("PYTHONPATH", "").split(os.pathsep)[0]).parent / "bin" / "zelbo-cli"

PLAN = """title = "Three temperatures, four VREF, two modes"
[board]
rnf = 0.2
[matrix]
temperature = [25, 35, 45]
mode = ["full", "quarter"]
vref = [0.5, 1.0, 1.5, 2.0]
clk = 2000
[capture]
timebase = "1 ms"
settle = 0.05
ch3 = "I A"
ch4 = "I B"
[chamber]
window = 1.0
tj_band = 0.5
tj_stable = 5
max_soak = 600
safe_setpoint = 24
[[measure]]
name = "Ipeak A"
channel = 3
figure = "ipeak"
expect = "vref / 5 / rnf"
tolerance = "2 %"
tolerance_abs = 0.015
[[measure]]
name = "Ipeak B"
channel = 4
figure = "ipeak"
expect = "vref / 5 / rnf"
tolerance = "2 %"
tolerance_abs = 0.015
"""


@pytest.mark.skipif(os.environ.get("ZELBO_LONG_TESTS") != "1", reason="long: ctest -L long")
def test_three_temperatures_four_vrefs_two_modes_through_the_chamber(tmp_path):
    plan = tmp_path / "three.toml"
    plan.write_text(PLAN)
    db = tmp_path / "three.sqlite"
    port = _simcontrol.start_chamber()
    # A quick chamber (the die keeps its own 20 s time constant), and the
    # front end as a calibration leaves it.
    _simcontrol.chamber_model(600.0, 1.0)
    _simcontrol.zero_offsets()
    temps = []
    try:
        summary = zelbo.Campaign(plan, db=db, sim=True, chamber_port=port).run(
            on_progress=lambda p: temps.append(p["temperature"]))
    finally:
        _simcontrol.default_offsets()
        _simcontrol.chamber_model(30.0, 15.0)
    assert summary["outcome"] == "finished", summary["message"]
    assert summary["measured"] == summary["total"] == 24
    assert summary["passed"] == 24
    # Left safe: the DUT off, the chamber at the plan's safe set point.
    assert _simcontrol.supply_mv() == 0
    assert _simcontrol.chamber()["setpoint"] == pytest.approx(24.0, abs=0.15)

    con = sqlite3.connect(db)
    rows = con.execute(
        "SELECT p.temperature, p.mode, p.vref, p.tj, p.air, p.soak, m.name, m.value, m.low, m.high, m.verdict "
        "FROM points p JOIN measurements m ON m.point = p.id ORDER BY p.idx, m.name").fetchall()
    assert len(rows) == 48
    for t, mode, vref, tj, air, soak, name, value, low, high, verdict in rows:
        expected = vref / 5 / 0.2
        # Every peak current as the model drives it, within the plan's band.
        assert value == pytest.approx(expected, rel=0.02, abs=0.015), (t, mode, vref, name)
        assert low == pytest.approx(expected * 0.98 - 0.015, abs=1e-3)
        assert verdict == "pass" and soak == "settled"
        # Measured in the chamber's air; the die rested through the soak, so
        # it is near the air (the plan's loose Tj band lets the soak end a
        # degree or two short of it), plus what the points heat it by.
        assert air == pytest.approx(t, abs=1.0)
        assert t - 2.5 < tj < t + 15
    # The chamber log holds the ramp to each temperature.
    for t in (35, 45):
        (top,) = con.execute("SELECT max(air) FROM chamber_log WHERE setpoint = ?", (t,)).fetchone()
        assert top == pytest.approx(t, abs=1.0)
    events = [e for (e,) in con.execute("SELECT text FROM events")]
    assert sum("settled after" in e for e in events) == 3
    assert any(e.startswith("chamber left at 24") for e in events)
    assert "DUT powered off" in events
    pd = pytest.importorskip("pandas")
    df = pd.read_sql("SELECT p.temperature, p.mode, p.vref, m.name, m.value FROM points p "
                     "JOIN measurements m ON m.point = p.id", con)
    table = df.pivot_table(index=["name", "mode", "vref"], columns="temperature", values="value")
    assert table.shape == (16, 3) and not table.isna().any().any()
    # Across temperatures the regulated current stays put.
    assert (table.max(axis=1) - table.min(axis=1)).max() < 0.03
    con.close()


def test_sigterm_during_a_soak_stops_with_the_dut_off_and_the_chamber_safe(tmp_path):
    db = tmp_path / "soak.sqlite"
    env = dict(os.environ)
    env.pop("ZELBO_BOARD", None)
    p = subprocess.Popen([str(CLI), "--board", "sim", "campaign", str(CHAMBER_DEMO), "--db", str(db)],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
    soaking = threading.Event()
    lines = []

    def read():
        for line in p.stderr:
            lines.append(line)
            if ", soak," in line:
                soaking.set()

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    try:
        assert soaking.wait(90), "".join(lines)
        p.send_signal(signal.SIGTERM)
        p.wait(timeout=60)
    finally:
        if p.poll() is None:
            p.kill()
            p.wait()
    reader.join(5)
    assert p.returncode == 143, "".join(lines)
    con = sqlite3.connect(db)
    assert con.execute("SELECT outcome FROM runs").fetchone() == ("stopped",)
    assert con.execute("SELECT count(*) FROM points").fetchone() == (0,)
    events = [e for (e,) in con.execute("SELECT text FROM events")]
    assert "stopped: stopped on request during the soak" in events, events
    # Powered off first, then the chamber left at the plan's safe set point.
    off = events.index("DUT powered off")
    assert any(e.startswith("chamber left at 25") for e in events[off:]), events
    con.close()
