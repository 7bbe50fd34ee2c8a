"""zelbo-server under load, on the simulated board.

1. The board's sweep rate (the link reader's, counted by ACQuire:COUNt?) idle,
   then while one local client sends 10 000 commands per second (and reads the
   answers), then while another floods without reading: the rate must hold
   (ratio >= --target) and the server's memory stay bounded (peak RSS under
   --max-rss MB).
2. Round trips over loopback: *IDN?, VREF? and "VREF 1.2;*OPC?", against the
   same calls through the Python module in this process.

Prints the figures; exits 1 when a target is missed.

    ZELBO_SERVER=build/default/bin/zelbo-server PYTHONPATH=build/default/python \\
        /usr/bin/python3 bench/server/bench_server.py
"""

import argparse
import os
import socket
import statistics
import subprocess
import sys
import threading
import time


def rss_kb(pid, field="VmRSS"):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


class Line:
    def __init__(self, port):
        self.s = socket.create_connection(("127.0.0.1", port))
        self.s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.f = self.s.makefile("rb")

    def query(self, q):
        self.s.sendall(q.encode() + b"\n")
        return self.f.readline().decode().strip()

    def close(self):
        self.f.close()
        self.s.close()


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def sweep_rate(c, seconds, pid):
    """Sweeps per second and the server's CPU share over `seconds`."""
    n0, t0, u0 = int(c.query("ACQ:COUN?")), time.monotonic(), cpu_seconds(pid)
    time.sleep(seconds)
    n1, t1, u1 = int(c.query("ACQ:COUN?")), time.monotonic(), cpu_seconds(pid)
    return (n1 - n0) / (t1 - t0), (u1 - u0) / (t1 - t0)


def paced_flood(port, rate, seconds, stop, result):
    """`rate` commands per second in 10 ms batches; the answers are read."""
    c = Line(port)
    sent = answered = 0
    batch = max(1, rate // 100)
    t0 = time.monotonic()
    reader_done = threading.Event()

    def read():
        nonlocal answered
        c.s.settimeout(0.5)
        while not (stop.is_set() and answered >= sent):
            try:
                chunk = c.s.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                break
            answered += chunk.count(b"\n")
        reader_done.set()

    t = threading.Thread(target=read, daemon=True)
    t.start()
    k = 0
    while time.monotonic() - t0 < seconds:
        c.s.sendall(b"VREF?\n" * batch)
        sent += batch
        k += 1
        delay = t0 + k * 0.01 - time.monotonic()
        if delay > 0:
            time.sleep(delay)
    elapsed = time.monotonic() - t0
    stop.set()
    reader_done.wait(30)
    result.update(sent=sent, answered=answered, seconds=elapsed)
    c.close()


def blind_flood(port, seconds, result):
    """As fast as the socket takes it, never reading an answer."""
    s = socket.create_connection(("127.0.0.1", port))
    s.settimeout(0.2)
    sent = 0
    chunk = b"*IDN?\n" * 1000
    t0 = time.monotonic()
    while time.monotonic() - t0 < seconds:
        try:
            sent += s.send(chunk) // 6
        except (socket.timeout, BlockingIOError):
            pass  # the server is not reading us: our socket is full
        except OSError:
            break  # dropped
    result.update(sent=sent)
    s.close()


def round_trips(fn, n):
    times = []
    for _ in range(n):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    times.sort()
    return statistics.median(times) * 1e6, times[int(0.99 * (len(times) - 1))] * 1e6


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--server", default=os.environ.get("ZELBO_SERVER", "zelbo-server"))
    p.add_argument("--seconds", type=float, default=5.0)
    p.add_argument("--rate", type=int, default=10000)
    p.add_argument("--target", type=float, default=0.85)
    p.add_argument("--max-rss", type=float, default=200.0)
    p.add_argument("--trips", type=int, default=300)
    a = p.parse_args()

    proc = subprocess.Popen([a.server, "--board", "sim", "--port", "0", "--no-mdns"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = int(proc.stdout.readline().split(" port ")[1])
    ok = True
    try:
        c = Line(port)
        c.query("POW ON,NOCL;*OPC?")
        time.sleep(1.0)
        rss0 = rss_kb(proc.pid)
        # Idle before and after the floods (the machine may be shared).
        idle, cpu_idle = sweep_rate(c, a.seconds, proc.pid)

        stop, result = threading.Event(), {}
        t = threading.Thread(target=paced_flood, args=(port, a.rate, a.seconds + 1.0, stop, result))
        t.start()
        time.sleep(0.5)
        flooded, cpu_flood = sweep_rate(c, a.seconds, proc.pid)
        t.join()
        served = result["answered"] / result["seconds"]

        blind = {}
        t = threading.Thread(target=blind_flood, args=(port, a.seconds + 1.0, blind))
        t.start()
        time.sleep(0.5)
        blinded, cpu_blind = sweep_rate(c, a.seconds, proc.pid)
        t.join()
        idle2, _ = sweep_rate(c, a.seconds, proc.pid)
        idle = (idle + idle2) / 2
        peak = rss_kb(proc.pid, "VmHWM") / 1024
        alive = c.query("*IDN?").startswith("Zelbo,")

        idn = round_trips(lambda: c.query("*IDN?"), a.trips)
        vq = round_trips(lambda: c.query("VREF?"), a.trips)
        vset = round_trips(lambda: c.query("VREF 1.2;*OPC?"), a.trips)
        c.close()
    finally:
        proc.terminate()
        proc.wait(30)

    r1, r2 = flooded / idle, blinded / idle
    print(f"sweep rate idle {idle:.1f}/s; with {a.rate} commands/s from a reading client {flooded:.1f}/s "
          f"(ratio {r1:.3f}, {served:.0f} answers/s of {result['sent'] / result['seconds']:.0f} sent); "
          f"with a client that never reads {blinded:.1f}/s (ratio {r2:.3f}, {blind['sent']} commands sent)")
    print(f"server CPU: idle {cpu_idle:.0%}, reading flood {cpu_flood:.0%}, blind flood {cpu_blind:.0%} of one core")
    print(f"server RSS {rss0 / 1024:.1f} MB at start, peak {peak:.1f} MB (limit {a.max_rss}); "
          f"answering afterwards: {alive}")
    ok = r1 >= a.target and r2 >= a.target and peak <= a.max_rss and alive

    import zelbo
    with zelbo.Board(sim=True) as b:
        b.power_on(clock=False)
        py_set = round_trips(lambda: b.set_vref(1.2), a.trips)
        py_get = round_trips(lambda: b.status(), a.trips)
    print(f"round trip, median / p99 in us: *IDN? {idn[0]:.0f} / {idn[1]:.0f}; VREF? {vq[0]:.0f} / {vq[1]:.0f}; "
          f"VREF 1.2;*OPC? {vset[0]:.0f} / {vset[1]:.0f}")
    print(f"the Python module in-process: set_vref(1.2) {py_set[0]:.0f} / {py_set[1]:.0f}; "
          f"status() {py_get[0]:.0f} / {py_get[1]:.0f}")
    if not ok:
        print("target missed", file=sys.stderr)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
