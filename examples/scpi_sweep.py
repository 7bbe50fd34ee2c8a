"""Peak coil current against VREF, through zelbo-server with PyVISA.

The lab-script way: the board is one SCPI instrument on the network, driven
like the supplies and meters beside it. Start a server for the board first
(``zelbo-server --board usb --listen 0.0.0.0 --allow 192.168.1.0/24``), then

    /usr/bin/python3 examples/scpi_sweep.py --resource TCPIP::bench-pc::5025::SOCKET

``--server build/default/bin/zelbo-server`` starts one on the simulated board
for the run instead. Prints one CSV row per VREF; ``--out`` also saves the last
sweep's coil current as a plot (needs matplotlib).
"""

import argparse
import subprocess
import sys

import numpy as np
import pyvisa


def start_server(path):
    proc = subprocess.Popen([path, "--board", "sim", "--port", "0", "--no-mdns"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline()
    if " port " not in line:
        proc.kill()
        sys.exit("zelbo-server did not start")
    return proc, f"TCPIP::127.0.0.1::{int(line.split(' port ')[1])}::SOCKET"


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--resource", help="the server, e.g. TCPIP::bench-pc::5025::SOCKET")
    p.add_argument("--server", help="start this zelbo-server on the simulated board instead")
    p.add_argument("--start", type=float, default=0.2)
    p.add_argument("--stop", type=float, default=1.2)
    p.add_argument("--steps", type=int, default=6)
    p.add_argument("--out", help="a PNG of the last sweep")
    p.add_argument("--check", action="store_true", help="exit 1 when a peak is more than 25 %% off")
    a = p.parse_args()
    if not a.resource and not a.server:
        p.error("give --resource or --server")

    proc, resource = start_server(a.server) if a.server else (None, a.resource)
    rm = pyvisa.ResourceManager("@py")
    try:
        board = rm.open_resource(resource, read_termination="\n", write_termination="\n", timeout=20000)
        print("#", board.query("*IDN?"))
        if board.query("SYST:LOCK:REQ?") != "1":
            sys.exit("another client controls the board")
        rnf = 0.2
        board.write(f"*RST;*CLS;:MODE QUAR;:PIN ENAB,ON;:RNF {rnf};:POW ON")
        board.write("CHAN3:SOUR I,A;:CHAN4:SOUR I,B;:CLOC:FREQ 2 kHz;RUN")
        print("vref_V,ipeak_A,expected_A,ipeak_error_pct")
        worst = 0.0
        for vref in np.linspace(a.start, a.stop, a.steps):
            board.write(f"VREF {vref:.3f}")
            applied = float(board.query("VREF?"))
            fig = [float(v) for v in board.query("MEAS:ALL? CH3").split(",")]
            print(f"{applied:.3f},{fig[7]:.4f},{applied / 5 / rnf:.4f},{fig[8]:.2f}")
            worst = max(worst, abs(fig[7] / (applied / 5 / rnf) - 1))
        board.write("DIG;:WAV:SOUR CH3;FORM REAL")
        pre = board.query("WAV:PRE?").split(",")
        data = board.query_binary_values("WAV:DATA?", datatype="f", is_big_endian=False, container=np.array)
        errors = board.query("SYST:ERR?")
        board.write("CLOC:STOP;:POW OFF;:SYST:LOCK:REL")
        board.close()
        if not errors.startswith("0,"):
            sys.exit("the board reported " + errors)
        if a.check and worst > 0.25:
            sys.exit(f"a peak is {worst:.0%} off the expected current")
        if a.out:
            import matplotlib
            matplotlib.use("Agg")
            import matplotlib.pyplot as plt
            t = np.arange(len(data)) * float(pre[2]) * 1e3
            plt.plot(t, data)
            plt.xlabel("t [ms]")
            plt.ylabel("coil A [A]")
            plt.title(f"VREF {applied:.3f} V")
            plt.savefig(a.out, dpi=100)
    finally:
        rm.close()
        if proc:
            proc.terminate()
            proc.wait(30)


if __name__ == "__main__":
    main()
