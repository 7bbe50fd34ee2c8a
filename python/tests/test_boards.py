"""Several boards: list_boards() names them, Board(serial=...) and zelbo-server --board usb:SERIAL choose one (on a recorded bus)."""

import json
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import zelbo

TWO_BOARDS = pathlib.Path(__file__).resolve().parents[2] / "tests" / "cli" / "two_boards.umockdev"
UMOCKDEV_RUN = shutil.which("umockdev-run")

needs_bus = pytest.mark.skipif(UMOCKDEV_RUN is None, reason="umockdev-run is not installed")


def _on_bus(code):
    """Runs `code` in a fresh interpreter on the recorded bus; its stdout as JSON."""
    env = {k: v for k, v in os.environ.items() if k not in ("ZELBO_BOARD", "ZELBO_USB_BOARD")}
    r = subprocess.run([UMOCKDEV_RUN, "-d", str(TWO_BOARDS), "--", sys.executable, "-c", code],
                       env=env, capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stderr
    return json.loads(r.stdout)


@needs_bus
def test_list_boards_names_each_board_by_path_and_serial_in_port_order():
    boards = _on_bus("import json, zelbo; print(json.dumps(zelbo.list_boards()))")
    assert boards == [
        {"path": "1-1", "serial": "OTHER-A", "id": "04b4:8613", "node": "/dev/bus/usb/001/004"},
        {"path": "1-2", "serial": "SIM-B", "id": "04b4:8613", "node": "/dev/bus/usb/001/007"},
    ]


@needs_bus
def test_a_serial_not_attached_is_refused_naming_the_boards_that_are():
    error = _on_bus(
        "import json, zelbo\n"
        "try:\n"
        "    zelbo.Board(serial='NOT-THERE')\n"
        "    print(json.dumps(None))\n"
        "except zelbo.NoBoardError as e:\n"
        "    print(json.dumps(str(e)))\n")
    assert error == ('No board with the serial number or USB path "NOT-THERE" is attached. '
                     "Attached boards: 1-1 (serial OTHER-A), 1-2 (serial SIM-B).")


def test_a_serial_chooses_a_real_board_and_the_simulated_one_has_none():
    with pytest.raises(ValueError, match="real board"):
        zelbo.Board(sim=True, serial="SIM-B")
    with pytest.raises(ValueError, match="not empty"):
        zelbo.Board(serial="")
    with zelbo.Board(sim=True) as b:
        assert (b.board, b.usb_path, b.serial) == ("sim", "", "")
        assert b.status()["serial"] == "" and repr(b).startswith("<zelbo.Board sim, ")


@needs_bus
def test_the_server_refuses_a_serial_not_attached_naming_the_boards():
    server = pathlib.Path(zelbo.__file__).resolve().parents[2] / "bin" / "zelbo-server"
    if not server.exists():
        pytest.skip("zelbo-server is not built beside the module")
    env = {k: v for k, v in os.environ.items() if k not in ("ZELBO_BOARD", "ZELBO_USB_BOARD")}
    r = subprocess.run([UMOCKDEV_RUN, "-d", str(TWO_BOARDS), "--", str(server), "--board", "usb:NOT-THERE",
                        "--port", "0", "--no-mdns"], env=env, capture_output=True, text=True, timeout=60)
    assert r.returncode == 3, r.stderr
    assert "Attached boards: 1-1 (serial OTHER-A), 1-2 (serial SIM-B)." in r.stderr
