"""One board per process, several threads, Ctrl-C and the choice of board."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import zelbo
import _simcontrol


@pytest.fixture
def board():
    b = zelbo.Board(sim=True)
    yield b
    b.close()


def child(script, **kw):
    """A fresh interpreter running `script` (the module on the same path)."""
    env = dict(os.environ)
    env.pop("ZELBO_BOARD", None)
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(script)], env=env, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def test_a_second_board_is_refused_at_once_and_the_first_keeps_working(board):
    board.power_on()
    start = time.monotonic()
    with pytest.raises(zelbo.BoardError, match="already open in this process"):
        zelbo.Board(sim=True)
    assert time.monotonic() - start < 0.5
    assert board.board == "sim"
    assert board.capture(timeout=5)["t"].shape == (4096,)
    board.close()
    again = zelbo.Board(sim=True)  # closed: the next open is allowed
    again.close()


def test_threads_share_one_board_without_a_deadlock_or_a_sweep_twice():
    # A fresh interpreter: the first capture of the process from two threads.
    p = child("""
        import threading, zelbo
        b = zelbo.Board(sim=True)
        b.power_on()
        seen, errors = [], []
        def grab():
            try:
                for _ in range(8):
                    seen.append(b.capture(timeout=5, fresh=False)["index"])
            except Exception as e:
                errors.append(e)
        ts = [threading.Thread(target=grab) for _ in range(2)]
        for t in ts: t.start()
        for t in ts: t.join()
        b.close()
        print(len(seen), len(set(seen)), errors)
    """)
    out, err = p.communicate(timeout=60)
    assert p.returncode == 0, err
    assert out.split()[:2] == ["16", "16"], out


def test_sim_never_leaks_into_a_later_open():
    p = child("""
        import zelbo
        with zelbo.Board(sim=True) as b:
            print(b.board)
        for kw in ({}, {"sim": False}):
            try:
                zelbo.Board(**kw).close()
                print("opened")
            except zelbo.NoBoardError as e:
                print("no board" if "?" not in str(e) else "a question: " + str(e))
    """)
    out, err = p.communicate(timeout=60)
    assert out.split("\n")[:3] == ["sim", "no board", "no board"], (out, err)


# Each wait, and how long its clean stop may take after the signal: the poll
# (100 ms) and the stop's writes; a sequence's stop as the dialog's, half a
# second for the last row, then the settings back on the board.
WAITS = {
    "wait_run": (0.6, """
        b.power_on()
        b.run(10, steps=2000)
        wait = lambda: b.wait_run(60)
        still = lambda: b.running or _simcontrol.clock_running()
    """),
    "wait_sequence": (2.5, """
        b.power_on()
        b.run_sequence([{"time": 0, "clk": 1000, "enable": True}, {"time": 60000, "clk": 1000}])
        wait = lambda: b.wait_sequence(90)
        still = lambda: b.sequence_running
    """),
    # The recording ends with every sweep it took in the file, none cut.
    "record": (0.6, """
        import os, struct, tempfile
        b.power_on()
        path = os.path.join(tempfile.mkdtemp(), "r.zrec")
        wait = lambda: b.record(path, seconds=60)
        whole = lambda raw: (len(raw) - 28 - struct.unpack_from("<I", raw, 24)[0]) % struct.unpack_from("<I", raw, 20)[0] == 0
        still = lambda: len(zelbo.open_recording(path)) == 0 or not whole(open(path, "rb").read())
    """),
}


@pytest.mark.parametrize("name", WAITS)
def test_ctrl_c_ends_a_wait_within_100_ms_after_a_clean_stop(name):
    p = child("""
        import time, zelbo, _simcontrol
        b = zelbo.Board(sim=True)
    """ + WAITS[name][1] + """
        print("ready", flush=True)
        try:
            wait()
            print("not interrupted", flush=True)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic(), still(), flush=True)
        b.close()
    """)
    assert p.stdout.readline().strip() == "ready"
    time.sleep(0.3)
    sent = time.monotonic()
    p.send_signal(signal.SIGINT)
    out, err = p.communicate(timeout=30)
    words = out.split()
    assert words[0] == "interrupted", (out, err)
    assert float(words[1]) - sent < WAITS[name][0]
    assert words[2] == "False"
