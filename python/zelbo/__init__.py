"""The Zelbo evaluation board from Python.

`zelbo.Board` opens a board (the simulated one with ``sim=True``) and drives
it: power, pins, references, the step clock, sequences, the oscilloscope and
its measurements and recordings. The calls live in the compiled extension
`zelbo._zelbo`; this package adds what is written in Python on top of it:
`Capture` (a sweep with its settings, as arrays or a DataFrame),
`open_recording` (the .zrec files the window and `Board.record` write) and
`Campaign` (a characterisation plan run point by point into SQLite).
"""

from ._zelbo import *  # noqa: F401,F403
from ._zelbo import __version__  # noqa: F401
from ._capture import Capture  # noqa: F401
from ._recording import Recording, open_recording  # noqa: F401
from .campaign import Campaign  # noqa: F401
