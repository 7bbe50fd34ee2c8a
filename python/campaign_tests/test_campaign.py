"""Campaigns from Python and from zelbo-cli on the simulated board, the
database read back as a user reads it (sqlite3, pandas), and the report."""

import os
import random
import signal
import sqlite3
import subprocess
import threading
import time
from pathlib import Path

import pytest

import zelbo

ROOT = Path(__file__).resolve().parents[2]
DEMO = ROOT / "examples" / "campaign_demo.toml"
CLI = Path(os.environ.get("PYTHONPATH", "").split(os.pathsep)[0]).parent / "bin" / "zelbo-cli"


def _cli(*args, **kw):
    env = dict(os.environ)
    env.pop("ZELBO_BOARD", None)
    return subprocess.run([str(CLI), "--board", "sim", *map(str, args)], capture_output=True, text=True,
                          env=env, timeout=120, **kw)


def test_campaign_from_python_with_a_callback_per_point(tmp_path):
    db = tmp_path / "demo.sqlite"
    seen = []
    progress = []
    summary = zelbo.Campaign(DEMO, db=db, sim=True).run(on_point=seen.append, on_progress=progress.append)
    assert summary["outcome"] == "finished"
    assert summary["measured"] == summary["total"] == 8
    assert [p["index"] for p in seen] == list(range(8))
    assert all(p["measurements"][0]["name"] == "Ipeak A" for p in seen)
    assert progress[-1]["done"] == 8
    # Read back as a user would.
    con = sqlite3.connect(db)
    (plan,) = con.execute("SELECT plan_text FROM campaign").fetchone()
    assert plan == DEMO.read_text()
    rows = con.execute(
        "SELECT p.vref, p.mode, m.value, m.low, m.high, m.verdict FROM points p "
        "JOIN measurements m ON m.point = p.id WHERE m.name = 'Ipeak A' ORDER BY p.idx").fetchall()
    assert len(rows) == 8
    for vref, mode, value, low, high, verdict in rows:
        assert low == pytest.approx(vref / 5 / 0.2 * 0.95 - 0.06)
        assert value == pytest.approx(vref / 5 / 0.2, abs=0.1)
        assert verdict == ("pass" if low <= value <= high else "fail")
    pd = pytest.importorskip("pandas")
    df = pd.read_sql("SELECT * FROM points", con)
    assert len(df) == 8 and set(df["mode"]) == {"full", "quarter"}
    con.close()
    # Started again without --resume: refused, the database untouched.
    with pytest.raises(ValueError, match="already holds 8 points"):
        zelbo.Campaign(DEMO, db=db, sim=True).run()
    again = zelbo.Campaign(DEMO, db=db, sim=True, resume=True).run()
    assert again["measured"] == 0 and again["already_done"] == 8


def test_a_bad_plan_is_refused_with_its_line_before_the_board(tmp_path):
    plan = tmp_path / "bad.toml"
    plan.write_text("[matrix]\nvref = [0.5, 1.0]\n[[measure]]\nchannel = 3\nfigure = \"ipeak\"\n")
    with pytest.raises(ValueError, match=r"bad.toml:5: ipeak needs a coil current"):
        zelbo.Campaign(plan, db=tmp_path / "x.sqlite", sim=True).run()
    # No board was left open: one opens at once.
    with zelbo.Board(sim=True) as b:
        assert b.board == "sim"
    r = _cli("campaign", plan, "--db", tmp_path / "y.sqlite")
    assert r.returncode == 2 and "bad.toml:5:" in r.stderr


def test_report_is_one_self_contained_html_file(tmp_path):
    db = tmp_path / "demo.sqlite"
    r = _cli("campaign", DEMO, "--db", db)
    assert r.returncode == 0, r.stderr
    out = tmp_path / "demo.html"
    r = subprocess.run([str(CLI), "report", str(db), "-o", str(out)], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    text = out.read_text()
    assert text.index("points passed") < text.index("<svg")
    assert text.count("<svg") == 3          # one plot per measurement
    assert "src=\"http" not in text and "href=\"http" not in text


def test_kill_9_at_random_moments_then_resume_holds_every_point_once(tmp_path):
    db = tmp_path / "k.sqlite"
    env = dict(os.environ)
    env.pop("ZELBO_BOARD", None)
    rng = random.Random(33)
    for _ in range(5):
        p = subprocess.Popen([str(CLI), "--board", "sim", "campaign", str(DEMO), "--db", str(db), "--resume"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        time.sleep(rng.uniform(0.8, 3.0))
        p.send_signal(signal.SIGKILL)
        p.wait()
    r = _cli("campaign", DEMO, "--db", db, "--resume")
    assert r.returncode == 0, r.stderr
    con = sqlite3.connect(db)
    assert con.execute("SELECT count(*), count(DISTINCT key) FROM points").fetchone() == (8, 8)
    assert con.execute("SELECT count(*) FROM measurements").fetchone() == (24,)
    assert con.execute("PRAGMA integrity_check").fetchone() == ("ok",)
    con.close()


def test_sigterm_stops_after_the_point_with_the_board_off(tmp_path):
    db = tmp_path / "t.sqlite"
    env = dict(os.environ)
    env.pop("ZELBO_BOARD", None)
    p = subprocess.Popen([str(CLI), "--board", "sim", "campaign", str(DEMO), "--db", str(db)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    # Wait for the first committed point, then ask it to stop.
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        try:
            con = sqlite3.connect(db)
            n = con.execute("SELECT count(*) FROM points").fetchone()[0]
            con.close()
            if n >= 1:
                break
        except sqlite3.Error:
            pass
        time.sleep(0.05)
    p.send_signal(signal.SIGTERM)
    out, err = p.communicate(timeout=60)
    assert p.returncode == 143, err
    assert "stopped" in err
    con = sqlite3.connect(db)
    n, = con.execute("SELECT count(*) FROM points").fetchone()
    assert 1 <= n < 8
    assert con.execute("SELECT outcome FROM runs").fetchone() == ("stopped",)
    con.close()


def test_an_exception_in_the_callback_stops_cleanly_and_is_raised(tmp_path):
    db = tmp_path / "cb.sqlite"

    class Enough(Exception):
        pass

    def on_point(p):
        if p["index"] == 2:
            raise Enough()

    with pytest.raises(Enough):
        zelbo.Campaign(DEMO, db=db, sim=True).run(on_point=on_point)
    con = sqlite3.connect(db)
    # The point under way was committed; nothing after it was measured.
    assert con.execute("SELECT count(*) FROM points").fetchone() == (3,)
    assert con.execute("SELECT outcome FROM runs").fetchone() == ("stopped",)
    con.close()
    # The board was powered off and closed: the next one opens.
    with zelbo.Board(sim=True) as b:
        assert b.board == "sim"
    summary = zelbo.Campaign(DEMO, db=db, sim=True, resume=True).run()
    assert summary["already_done"] == 3 and summary["measured"] == 5


def test_the_board_is_the_campaigns_while_it_runs_and_a_campaign_waits_for_a_closed_board(tmp_path):
    import _simcontrol

    db = tmp_path / "own.sqlite"
    result = {}
    first = threading.Event()
    worker = threading.Thread(target=lambda: result.update(
        zelbo.Campaign(DEMO, db=db, sim=True).run(on_point=lambda p: first.set())))
    worker.start()
    try:
        assert first.wait(60)
        # Another user of the board in this process is refused, and the
        # campaign goes on undisturbed.
        with pytest.raises(Exception, match="already open"):
            zelbo.Board(sim=True)
    finally:
        worker.join(120)
    assert result["outcome"] == "finished" and result["measured"] == 8
    # The other way round: a campaign while the board is open is refused
    # before it touches the board or measures anything.
    with zelbo.Board(sim=True) as b:
        b.power_on()
        with pytest.raises(Exception, match="already open"):
            zelbo.Campaign(DEMO, db=tmp_path / "other.sqlite", sim=True).run()
        assert _simcontrol.supply_mv() == 5000
        assert b.board == "sim"
    con = sqlite3.connect(tmp_path / "other.sqlite")
    assert con.execute("SELECT count(*) FROM points").fetchone() == (0,)
    con.close()


def test_recorded_sweeps_open_with_the_recording_reader_and_the_report_names_them(tmp_path):
    plan = tmp_path / "rec.toml"
    plan.write_text(DEMO.read_text().replace("sweeps = 2", "sweeps = 3\nrecord = true")
                    .replace('vref = [0.5, 1.0, 1.5, 2.0]', 'vref = [1.0, 2.0]'))
    db = tmp_path / "rec.sqlite"
    summary = zelbo.Campaign(plan, db=db, sim=True).run()
    assert summary["outcome"] == "finished" and summary["measured"] == 4
    con = sqlite3.connect(db)
    rows = con.execute("SELECT idx, vref, mode, recording FROM points ORDER BY idx").fetchall()
    con.close()
    for idx, vref, mode, name in rows:
        assert name.startswith(f"rec_{idx:04d}_{mode}_vref") and name.endswith(".zrec")
        rec = zelbo.open_recording(tmp_path / name)
        assert len(rec) == 3
        # Channel 3 probes the A coil: its peak is the point's current.
        peak = max(abs(v) for sweep in range(3) for v in rec[sweep][2] if v == v)
        assert peak == pytest.approx(vref / 5 / 0.2, rel=0.15, abs=0.1)
    assert sorted(p.name for p in tmp_path.glob("*.zrec*")) == sorted(r[3] for r in rows)
    html = zelbo.Campaign(plan, db=db).report()
    text = Path(html).read_text()
    assert all(f'<a href="{r[3]}">' in text for r in rows)


def test_kill_9_while_recording_then_resume_leaves_every_point_its_whole_file(tmp_path):
    plan = tmp_path / "krec.toml"
    plan.write_text(DEMO.read_text().replace("sweeps = 2", "sweeps = 2\nrecord = true"))
    db = tmp_path / "krec.sqlite"
    env = dict(os.environ)
    env.pop("ZELBO_BOARD", None)
    rng = random.Random(3333)
    for _ in range(4):
        p = subprocess.Popen([str(CLI), "--board", "sim", "campaign", str(plan), "--db", str(db), "--resume"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        time.sleep(rng.uniform(0.8, 2.5))
        p.send_signal(signal.SIGKILL)
        p.wait()
        # Whenever it was killed, every committed point has its file.
        if db.exists():
            con = sqlite3.connect(db)
            try:
                done = [n for (n,) in con.execute("SELECT recording FROM points")]
            except sqlite3.OperationalError:
                done = []
            con.close()
            assert all((tmp_path / n).is_file() for n in done)
    r = _cli("campaign", plan, "--db", db, "--resume")
    assert r.returncode == 0, r.stderr
    con = sqlite3.connect(db)
    names = [n for (n,) in con.execute("SELECT recording FROM points ORDER BY idx")]
    con.close()
    assert len(names) == 8 and len(set(names)) == 8
    # Each committed point has its whole file, and no part of one is left.
    assert sorted(p.name for p in tmp_path.glob("*.zrec*")) == sorted(names)
    for n in names:
        assert len(zelbo.open_recording(tmp_path / n)) == 2
