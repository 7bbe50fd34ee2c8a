"""Ipeak error against VREF, from the instrument's own measurements.

The notebook way: set the scope up headless, sweep VREF and ask `measure()`
at each step for the figures the window's measurement strip shows; plot the
peak coil current's error (% of the set Io) against VREF. Run from the build
tree:

    PYTHONPATH=build/default/python /usr/bin/python3 examples/ipeak_error.py --out ipeak_error.png
"""

import argparse
import math

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import zelbo  # noqa: E402


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--out", default="ipeak_error.png")
    p.add_argument("--usb", action="store_true", help="a real board instead of the simulated one")
    p.add_argument("--start", type=float, default=0.2)
    p.add_argument("--stop", type=float, default=2.0)
    p.add_argument("--steps", type=int, default=10)
    a = p.parse_args()

    vrefs, errors = [], []
    with zelbo.Board(sim=not a.usb) as b:
        b.set_mode("quarter")
        b.set_pin("enable", True)
        b.set_rnf(0.2)
        b.power_on()
        b.set_source(2, "I", 0)  # coil A on CH3
        b.set_source(3, "I", 1)  # coil B on CH4
        b.set_time_base("2.5 ms")
        b.set_trigger(2, 0.0, "+")
        b.run(2000)
        for v in np.linspace(a.start, a.stop, a.steps):
            applied = b.set_vref(v)  # what the DAC makes
            m = b.measure(timeout=5)
            vrefs.append(applied)
            errors.append((m[2]["ipeak_error"], m[3]["ipeak_error"]))
            print(f"VREF {applied:.3f} V: Ipeak {m[2]['ipeak'] * 1000:.1f} mA, "
                  f"error A {m[2]['ipeak_error']:+.2f} %, B {m[3]['ipeak_error']:+.2f} %")
    errors = np.array(errors)
    if not np.isfinite(errors).all() or any(math.isnan(e) for e in errors.ravel()):
        raise SystemExit("a sweep had no coil-current cycle to measure")

    fig, ax = plt.subplots(figsize=(7, 4))
    ax.plot(vrefs, errors[:, 0], "o-", label="coil A (CH3)")
    ax.plot(vrefs, errors[:, 1], "s--", label="coil B (CH4)")
    ax.axhline(0, color="grey", lw=0.8)
    ax.set_xlabel("VREF [V]")
    ax.set_ylabel("Ipeak error [% of Io]")
    ax.set_title("Peak coil current error against VREF (quarter step, 2 kHz)")
    ax.legend()
    ax.grid(True, alpha=0.3)
    fig.tight_layout()
    fig.savefig(a.out, dpi=100)
    print(f"wrote {a.out}")


if __name__ == "__main__":
    main()
