"""Fixtures shared by the module's tests."""

import pytest

import zelbo


@pytest.fixture
def powered():
    """The simulated board, powered on."""
    b = zelbo.Board(sim=True)
    b.power_on()
    yield b
    b.close()
