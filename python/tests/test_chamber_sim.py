"""The simulated board's chamber from Python: libCalora.so through ctypes
against the controller on its pseudo-terminal, and its faults."""

import ctypes
import math
import os
import pathlib

import pytest

import _simcontrol

CALORA = pathlib.Path(_simcontrol.__file__).resolve().parent.parent / "bin" / "libCalora.so"


@pytest.fixture
def calora(monkeypatch):
    if not CALORA.exists():
        pytest.skip("libCalora.so not built")
    monkeypatch.setenv("CALORA_PORT", _simcontrol.start_chamber())
    lib = ctypes.CDLL(str(CALORA))
    lib.ReadTemp.restype = ctypes.c_double
    lib.GetSetPoint1.restype = ctypes.c_double
    lib.SetPoint1.restype = ctypes.c_double
    lib.SetPoint1.argtypes = [ctypes.c_double]
    yield lib
    # The chamber's air is the board's ambient for every later test of this
    # process: back to the room before the air has moved.
    _simcontrol.chamber_fault("none")
    assert lib.SetPoint1(25.0) == 1.0


def test_set_point_and_reading_round_trip_and_faults_show(calora):
    assert calora.SetPoint1(40.0) == 1.0
    assert abs(calora.GetSetPoint1() - 40.0) < 0.1
    assert abs(_simcontrol.chamber()["setpoint"] - 40.0) < 0.1
    assert abs(calora.ReadTemp() - _simcontrol.chamber()["air"]) < 0.2

    _simcontrol.chamber_fault("garbled")
    assert math.isnan(calora.ReadTemp())
    _simcontrol.chamber_fault("stuck")
    assert not math.isnan(calora.ReadTemp())
    assert _simcontrol.chamber()["requests"] >= 5
    with pytest.raises(ValueError):
        _simcontrol.chamber_fault("smoke")
