"""Reading the oscilloscope's .zrec recordings (the window's and Board.record()'s)."""

import json
import os

import numpy as np

from ._zelbo import _read_recording

__all__ = ["Recording", "open_recording"]


class Recording:
    """The sweeps of a recording file, as NumPy arrays.

    - ``header``: the file's JSON header as a dict (``timeBase``,
      ``samplingRate``, ``started``, ``channels`` ...); empty when it is
      not readable JSON (the samples are still read)
    - ``channels``: per channel 0..3, ``None`` when not recorded, else a
      dict ``key``, ``label``, ``unit`` ('V' or 'A'), ``source``
    - ``math``: the math channels that were on, each a dict ``key`` ('M1'),
      ``label``, ``unit``, ``expression`` ('CH1 * CH3'); their values are not
      in the file, the expression over ``data`` gives them
    - ``index``: the sweep numbers (uint64), ``sample_period``: seconds per sweep
    - ``data``: sweeps x 4 x samples, in V or A; NaN where a channel was not
      recorded or not converted in that sweep
    - ``len(rec)``, ``rec[k]`` (sweep k as 4 x samples), ``rec.t(k)`` (its times, s)
    """

    def __init__(self, path, first=0, count=None):
        raw, mask, samples, index, period, data = _read_recording(
            path, first, -1 if count is None else count)
        self.path = os.fspath(path)
        self.mask = mask
        self.samples = samples
        self.index = index
        self.sample_period = period
        self.data = data
        try:
            header = json.loads(raw.decode("utf-8", "replace"))
        except ValueError:
            header = None
        self.header = header if isinstance(header, dict) else {}
        listed = self.header.get("channels")
        listed = [c for c in listed if isinstance(c, dict)] if isinstance(listed, list) else []
        self.channels = []
        for k in range(4):
            if not mask & (1 << k):
                self.channels.append(None)
                continue
            c = listed.pop(0) if listed else {}
            self.channels.append({"key": f"CH{k + 1}", "label": str(c.get("label", "")),
                                  "unit": str(c.get("unit", "")), "source": str(c.get("source", ""))})

    @property
    def math(self):
        """The math channels that were on while recording (see the class)."""
        listed = self.header.get("math")
        listed = listed if isinstance(listed, list) else []
        return [{k: str(m.get(k, "")) for k in ("key", "label", "unit", "expression")}
                for m in listed if isinstance(m, dict) and m.get("expression")]

    @property
    def time_base(self):
        """SEC/DIV when the recording began ('' when the header does not say)."""
        return str(self.header.get("timeBase", ""))

    @property
    def sampling_rate(self):
        """The sampling rate when the recording began."""
        return str(self.header.get("samplingRate", ""))

    @property
    def started(self):
        """When the recording began (ISO 8601, UTC)."""
        return str(self.header.get("started", ""))

    def __len__(self):
        return len(self.index)

    def __getitem__(self, k):
        return self.data[k]

    def t(self, k=0):
        """Seconds from the first sample of sweep k."""
        return np.arange(self.samples) * float(self.sample_period[k])

    def __repr__(self):
        keys = ", ".join(c["key"] for c in self.channels if c)
        return f"<zelbo.Recording {self.path!r}: {len(self)} sweeps of {keys}>"


def open_recording(path, first=0, count=None):
    """Reads a .zrec recording: sweeps from record `first`, at most `count` (all when None).

    An hour at 20 sweeps/s of four channels takes about 9 GB as float64: read
    long recordings a part at a time. Raises BoardError when the file is not a
    recording or a record is damaged; a last record cut short is left out.
    """
    if first < 0 or (count is not None and count < 0):
        raise ValueError("first and count must not be negative")
    return Recording(path, first, count)
