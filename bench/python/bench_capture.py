"""Sweeps per second delivered to Python as NumPy arrays, against the sweeps
the oscilloscope core converted (what the window draws) over the same time on
the same board and time base. Prints both rates and their ratio; exits 1 when
the ratio is under the target."""

import argparse
import sys
import time

import numpy as np

import zelbo


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--seconds", type=float, default=10.0)
    p.add_argument("--target", type=float, default=0.9)
    a = p.parse_args()
    with zelbo.Board(sim=True) as b:
        b.power_on()
        b.capture(timeout=5)  # running
        delivered = 0
        checksum = 0.0
        c0 = b.sweeps_converted
        t0 = time.monotonic()
        while time.monotonic() - t0 < a.seconds:
            s = b.capture(timeout=5, fresh=False)
            checksum += float(np.max(s["ch"][0]))  # the arrays are used, not just made
            delivered += 1
        elapsed = time.monotonic() - t0
        converted = b.sweeps_converted - c0
    ratio = delivered / converted if converted else 0.0
    print(f"time base {s['time_base']}: converted {converted / elapsed:.1f} sweeps/s, "
          f"delivered to Python {delivered / elapsed:.1f} sweeps/s, ratio {ratio:.3f} (target {a.target})")
    return 0 if ratio >= a.target else 1


if __name__ == "__main__":
    sys.exit(main())
