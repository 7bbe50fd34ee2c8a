"""Peak coil current against VREF, on the simulated board (or a real one).

Sweeps VREF, captures a sweep at each step with both coil currents on the
oscilloscope, and plots the peak current against VREF next to the current the
set-up promises (VREF / 5 / RNF). Run from the build tree:

    PYTHONPATH=build/default/python /usr/bin/python3 examples/vref_sweep.py --out vref_sweep.png
"""

import argparse

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import zelbo  # noqa: E402


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--out", default="vref_sweep.png")
    p.add_argument("--usb", action="store_true", help="a real board instead of the simulated one")
    p.add_argument("--start", type=float, default=0.2)
    p.add_argument("--stop", type=float, default=2.0)
    p.add_argument("--steps", type=int, default=10)
    a = p.parse_args()

    rnf = 0.2
    vrefs = np.linspace(a.start, a.stop, a.steps)
    peaks = []
    with zelbo.Board(sim=not a.usb) as board:
        board.set_mode("quarter")
        board.set_pin("enable", True)
        board.set_rnf(rnf)
        board.power_on()
        board.set_source(2, "I", 0)  # coil A
        board.set_source(3, "I", 1)  # coil B
        board.run(2000)
        for v in vrefs:
            board.set_vref(float(v))
            sweep = board.capture(timeout=5)
            peaks.append(max(float(np.max(np.abs(sweep["ch"][2]))), float(np.max(np.abs(sweep["ch"][3])))))
            print(f"VREF {v:.2f} V: peak {peaks[-1]:.3f} A")
        board.stop()

    fig, ax = plt.subplots(figsize=(6, 4), dpi=100)
    ax.plot(vrefs, peaks, "o-", label="measured peak")
    ax.plot(vrefs, vrefs / 5 / rnf, "--", label="VREF / 5 / RNF")
    ax.set_xlabel("VREF [V]")
    ax.set_ylabel("peak coil current [A]")
    ax.set_title("Quarter step, 2 kHz")
    ax.grid(True)
    ax.legend()
    fig.tight_layout()
    fig.savefig(a.out)
    print(f"wrote {a.out}")


if __name__ == "__main__":
    main()
