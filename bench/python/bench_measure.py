"""Measurements per sweep against conversion per sweep: the time a
`measure()` (a fresh sweep, converted and measured by the window's measurer)
takes against a fresh `capture()` (the same sweep, converted only), on the
same board and time base, alternating so that both see the same load.
Prints both and the ratio; exits 1 when measuring makes a sweep slower than
the target ratio allows."""

import argparse
import sys
import time

import zelbo


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--rounds", type=int, default=20)
    p.add_argument("--target", type=float, default=1.2)
    a = p.parse_args()
    with zelbo.Board(sim=True) as b:
        b.set_mode("quarter")
        b.set_pin("enable", True)
        b.power_on()
        b.set_source(2, "I", 0)
        b.set_source(3, "I", 1)
        b.run(2000)
        b.capture(timeout=5)
        tc = tm = 0.0
        for _ in range(a.rounds):
            t0 = time.monotonic()
            b.capture(timeout=5)
            t1 = time.monotonic()
            m = b.measure(timeout=5)
            t2 = time.monotonic()
            tc += t1 - t0
            tm += t2 - t1
            assert m[2]["samples"] == 4096
    per_c, per_m = tc / a.rounds * 1000, tm / a.rounds * 1000
    ratio = per_m / per_c
    print(f"capture (converted): {per_c:.1f} ms/sweep, measure (converted + measured): {per_m:.1f} ms/sweep")
    print(f"ratio measure/capture: {ratio:.3f} (target <= {a.target})")
    return 0 if ratio <= a.target else 1


if __name__ == "__main__":
    sys.exit(main())
