"""A sweep of the four channels with the settings it was taken with."""

import numpy as np

__all__ = ["Capture"]


class Capture(dict):
    """One sweep, as returned by ``Board.capture()``.

    A dict (``cap["t"]``, ``cap["ch"][2]``, ``cap["settings"]``, ...) whose
    keys are also attributes (``cap.vref``). Besides the samples it carries
    the settings the sweep was taken with:

    - ``t``: seconds from the first sample; ``ch``: four arrays in V or A
    - ``settings``: per channel ``source`` ('V', 'I', 'ICC'), ``unit``
      ('V', 'A'), ``output`` ('OUT1A' ...), ``value_per_div``
    - ``on``: per channel, acquired or not (a channel not acquired is zeros)
    - ``vref``, ``mth`` (V, as the DAC makes them), ``clk`` (Hz the
      generator makes), ``clock_running``, ``mode`` (excitation)
    - ``time_base`` (SEC/DIV), ``sampling_rate``, ``sample_period`` (s),
      ``index`` (sweep number since the board was opened)
    """

    __slots__ = ()

    def __getattr__(self, name):
        try:
            return self[name]
        except KeyError:
            raise AttributeError(name) from None

    @property
    def sources(self):
        """Per channel: 'V', 'I' or 'ICC'."""
        return [s["source"] for s in self["settings"]]

    @property
    def units(self):
        """Per channel: 'V' or 'A'."""
        return [s["unit"] for s in self["settings"]]

    @property
    def outputs(self):
        """Per channel: the probed output ('OUT1A' ... or 'ICC')."""
        return [s["output"] for s in self["settings"]]

    def to_array(self):
        """The four channels as one 4 x N float64 array (row k is channel k, in V or A)."""
        return np.vstack([np.asarray(c, dtype=float) for c in self["ch"]])

    def columns(self):
        """Column titles as the CSV export writes them: 'CH1 OUT1A [V]' ..."""
        return [f"CH{k + 1} {s['output']} [{s['unit']}]" for k, s in enumerate(self["settings"])]

    def to_dataframe(self):
        """A pandas DataFrame indexed by time (s), one column per channel (see columns());
        the settings are in ``df.attrs``. Needs pandas."""
        try:
            import pandas as pd
        except ImportError as e:  # pragma: no cover - pandas is optional
            raise ImportError("to_dataframe() needs pandas (Debian: python3-pandas)") from e
        df = pd.DataFrame(self.to_array().T, columns=self.columns(),
                          index=pd.Index(np.asarray(self["t"]), name="t [s]"))
        df.attrs.update({k: v for k, v in self.items() if k not in ("t", "ch")})
        return df

    def __repr__(self):
        n = len(self["t"])
        return (f"<zelbo.Capture #{self['index']}: {n} samples x 4, {self['time_base']}/div, "
                f"VREF {self['vref']:.3f} V, CLK {self['clk']:g} Hz, {self['mode']}>")
