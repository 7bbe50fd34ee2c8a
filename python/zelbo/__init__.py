"""The Zelbo evaluation board from Python.

`zelbo.Board` opens a board (the simulated one with ``sim=True``) and drives
it: power, pins, references, the step clock, sequences, the oscilloscope and
its measurements. The calls live in the compiled extension `zelbo._zelbo`;
this package adds what is written in Python on top of it.
"""

from ._zelbo import *  # noqa: F401,F403
from ._zelbo import __version__  # noqa: F401
from .campaign import Campaign  # noqa: F401,E402
