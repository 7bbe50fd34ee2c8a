"""The board firmware (an Intel HEX image) running in the 8051 simulator s51.

s51 runs the 8051 core and nothing else: the FX2's registers are plain bytes
of XDATA and SFR space. This module stands in for the silicon around the core,
and only for what the firmware's requests depend on:

- USBIRQ (0xE65D) is write-1-to-clear: a write of the firmware clears the
  written bits of what the harness raised (SUDAV, bus reset);
- a SETUP packet is placed in SETUPDAT and SUDAV raised; the request has been
  handled when the main loop has polled USBIRQ a few times with nothing written
  in between;
- EP0CS: the firmware's stall bit (0) and handshake bit (7, HSNAK written 1)
  are read back, then cleared for the next request, as the next SETUP does;
- EP0BCL: its last write is the data stage's byte count, from EP0BUF;
- SUDPTRL: a write makes the silicon send the descriptor at SUDPTR, its length
  from the descriptor (wTotalLength for a configuration), cut to wLength;
- EP4: a packet is placed in EP4FIFOBUF with its byte count and the EP4 empty
  flag cleared; a skip of EP4 (OUTPKTEND 0x84, or EP4BCL with bit 7) hands
  the buffer back to the USB side, which sets the empty flag again;
- input pins (port D bits 3 and 4, port A bit 1) and the endpoint flags are
  written into the registers before each request.

What this cannot show: USB timing, the data toggles and FIFOs themselves
(only that the firmware writes the registers that reset them), the slave-FIFO
interface towards the FPGA, the silicon's own answers (SET_ADDRESS), the
cycle-exact timing of an FX2 (s51 counts the classic 8051's 12-clock machine
cycles; times are given in those cycles), interrupts, and anything the
firmware does not write through a traced register.

s51 always exits 0 and answers every command, so every exchange is checked
here: each command ends with a sentinel expression, a command that does not
complete within its time-out kills the simulator and fails, and a stop that
the harness does not expect fails with the simulator's own words.
"""

import os
import re
import select
import shutil
import subprocess
import time

SENTINEL = 917423  # printed by "expr", marks the end of a command's output

USBIRQ = 0xE65D
USBCS = 0xE680
EP0BCH, EP0BCL = 0xE68A, 0xE68B
EP0CS = 0xE6A0
EP2CS, EP4CS, EP6CS, EP8CS = 0xE6A3, 0xE6A4, 0xE6A5, 0xE6A6
EP2BCH, EP2BCL = 0xE690, 0xE691
EP4BCH, EP4BCL = 0xE694, 0xE695
SUDPTRH, SUDPTRL = 0xE6B3, 0xE6B4
SETUPDAT = 0xE6B8
EP0BUF = 0xE740
EP4FIFOBUF = 0xF400
CPUCS = 0xE600
SFR_IOA, SFR_IOD, SFR_OEA, SFR_OED, SFR_EP2468STAT = 0x80, 0xB0, 0xB2, 0xB5, 0xAA

# Registers whose writes are recorded, in order, as (space, address, value).
TRACED_XRAM = {
    0xE600: "CPUCS", 0xE601: "IFCONFIG", 0xE604: "FIFORESET", 0xE60B: "REVCTL",
    0xE612: "EP2CFG", 0xE613: "EP4CFG", 0xE614: "EP6CFG", 0xE615: "EP8CFG",
    0xE618: "EP2FIFOCFG", 0xE619: "EP4FIFOCFG", 0xE61A: "EP6FIFOCFG", 0xE61B: "EP8FIFOCFG",
    0xE680: "USBCS", 0xE683: "TOGCTL", 0xE68B: "EP0BCL", 0xE695: "EP4BCL",
    0xE6A0: "EP0CS", 0xE6B4: "SUDPTRL", 0xE649: "OUTPKTEND",
}
TRACED_SFR = {SFR_IOA: "IOA", SFR_IOD: "IOD", SFR_OEA: "OEA", SFR_OED: "OED"}

STOP = re.compile(r"Event `(read|write)' at (xram|sfr)\[0x([0-9a-fA-F]+)\]")


class HarnessError(Exception):
    pass


class Reply:
    def __init__(self, stalled, data, handshake, source):
        self.stalled = stalled
        self.data = data  # bytes of the data stage (device to host)
        self.handshake = handshake
        self.source = source  # "EP0BUF", "SUDPTR" or "none"

    def __repr__(self):
        return "stall" if self.stalled else "ok " + self.data.hex()


def find_s51():
    """The simulator: $S51 if set, else s51 on the path; None when missing."""
    exe = os.environ.get("S51") or "s51"
    return shutil.which(exe)


class Fx2Sim:
    """One s51 process running the image from reset to its main loop."""

    def __init__(self, hex_path, s51=None, high_speed=True, timeout=10.0):
        self.timeout = timeout
        exe = s51 or find_s51()
        if not exe:
            raise HarnessError("s51 not found")
        env = dict(os.environ)
        wake = os.environ.get("S51_WAKE")  # s51_wake.c, built beside the suite
        if wake and os.path.exists(wake):
            env["LD_PRELOAD"] = wake
        self.proc = subprocess.Popen([exe, "-t", "8051", "-b", "-c", "-"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
        self.buf = b""
        self.trace = []  # (name, value) of every traced write, in order
        self.trace_cycles = []  # machine cycles from reset to each of them
        self.cycles = 0  # machine cycles simulated (classic 8051: 12 clock ticks each)
        self.usbirq = 0  # interrupt requests raised and not yet cleared by the firmware
        self.inputs = {"pd3": 0, "pd4": 0, "pa1": 0}
        self.ep2_packets = 0
        self.ep4_full = False
        self.cmd('file "%s"' % hex_path)
        # Program RAM is also data RAM (the FX2's von Neumann memory): the low
        # 8 KiB that every FX2 has.
        self.cmd("memory create addressdecoder xram 0 0x1fff rom_chip 0")
        self.cmd("fill xram 0xe000 0xffff 0")
        self.set_xram(CPUCS, 0x02)  # reset value: CLKOE set, 12 MHz
        self.set_xram(USBCS, 0x80 if high_speed else 0x00)  # HSM: the bus runs at high speed
        for cs in (EP0CS, EP2CS, EP4CS, EP6CS, EP8CS):
            self.set_xram(cs, 0x04 if cs != EP0CS else 0)
        self.set_sfr(SFR_EP2468STAT, 0x55)
        for addr in TRACED_XRAM:
            self.cmd("break xram w 0x%x" % addr)
        for addr in TRACED_SFR:
            self.cmd("break sfr w 0x%x" % addr)
        self.cmd("break xram w 0x%x" % USBIRQ)
        self.cmd("break xram r 0x%x" % USBIRQ)
        self.boot_trace = None

    # ---- talking to s51 --------------------------------------------------

    def cmd(self, text, timeout=None):
        if self.proc.poll() is not None:
            raise HarnessError("s51 has exited")
        self.proc.stdin.write(("%s\nexpr %d\n" % (text, SENTINEL)).encode())
        self.proc.stdin.flush()
        marker = b"\n%d\n" % SENTINEL
        deadline = time.monotonic() + (timeout or self.timeout)
        while marker not in self.buf:
            left = deadline - time.monotonic()
            ready = select.select([self.proc.stdout], [], [], max(left, 0))[0] if left > 0 else []
            if not ready:
                self.close()
                raise HarnessError("s51 did not finish %r in time; its last output:\n%s"
                                   % (text, self.buf[-600:].decode(errors="replace")))
            chunk = os.read(self.proc.stdout.fileno(), 1 << 16)
            if not chunk:
                raise HarnessError("s51 ended during %r:\n%s" % (text, self.buf[-600:].decode(errors="replace")))
            self.buf += chunk
        out, _, self.buf = self.buf.partition(marker)
        return out.decode(errors="replace")

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.close()
                self.proc.wait(2)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()

    def _value(self, out):
        nums = re.findall(r"^(\d+)\s*$", out, re.M)
        if not nums:
            raise HarnessError("no value in s51's answer:\n" + out)
        return int(nums[-1])

    def xram(self, addr):
        return self._value(self.cmd("expr xram[0x%x]" % addr))

    def xram_bytes(self, addr, n):
        if n == 0:
            return b""
        out = self.cmd("dump /h xram 0x%x 0x%x 16" % (addr, addr + n - 1))
        data = []
        for line in out.splitlines():
            m = re.match(r"^0x([0-9a-f]+)((?: [0-9a-f]{2})+)", line.strip())
            if m:
                data += [int(x, 16) for x in m.group(2).split()]
        if len(data) < n:
            raise HarnessError("short dump at 0x%x:\n%s" % (addr, out))
        return bytes(data[:n])

    def sfr(self, addr):
        return self._value(self.cmd("expr sfr[0x%x]" % addr))

    def set_xram(self, addr, *values):
        self.cmd("set memory xram 0x%x %s" % (addr, " ".join("0x%x" % v for v in values)))

    def set_sfr(self, addr, value):
        self.cmd("set memory sfr 0x%x 0x%x" % (addr, value))

    # ---- the silicon around the core --------------------------------------

    def _run(self, quiet_polls=4, max_stops=20000):
        """Runs until the main loop has polled USBIRQ `quiet_polls` times in a row."""
        polls = 0
        for _ in range(max_stops):
            out = self.cmd("run")
            m = re.search(r"Simulated (\d+) ticks", out)
            if m:
                self.cycles += int(m.group(1)) // 12
            stop = STOP.search(out)
            if not stop:
                raise HarnessError("unexpected stop of s51:\n" + out)
            kind, space, addr = stop.group(1), stop.group(2), int(stop.group(3), 16)
            if kind == "read":
                polls += 1
                if polls >= quiet_polls:
                    return
                continue
            polls = 0
            if space == "xram" and addr == USBIRQ:
                written = self.xram(USBIRQ)
                self.usbirq &= ~written
                self.set_xram(USBIRQ, self.usbirq)
                continue
            value = self.sfr(addr) if space == "sfr" else self.xram(addr)
            name = TRACED_SFR[addr] if space == "sfr" else TRACED_XRAM[addr]
            self.trace.append((name, value))
            self.trace_cycles.append(self.cycles)
            if (name == "EP4BCL" and value & 0x80) or (name == "OUTPKTEND" and value == 0x84):
                self.ep4_full = False  # buffer skipped: back to the USB side
                self._write_flags()
        raise HarnessError("the firmware did not settle in its main loop")

    def boot(self):
        """From reset to the main loop; returns the writes made on the way."""
        self._run()
        self.boot_trace = list(self.trace)
        self.boot_cycles = self.cycles
        return self.boot_trace

    def _write_flags(self):
        p = self.ep2_packets
        stat = 0x50  # EP6, EP8 empty
        stat |= 0x01 if p == 0 else 0
        stat |= 0x02 if p == 2 else 0
        stat |= 0x08 if self.ep4_full else 0x04
        self.set_sfr(SFR_EP2468STAT, stat)
        self.set_xram(EP2CS, (p << 4) | (0x04 if p == 0 else 0) | (0x08 if p == 2 else 0))
        self.set_xram(EP4CS, 0x28 if self.ep4_full else 0x04)
        self.set_xram(EP2BCH, 0x02 if p else 0, 0)

    def set_board(self, ep2_packets=None, ep4_full=None, pd3=None, pd4=None, pa1=None):
        """Board state as the FX2 sees it: packets committed on the double-buffered
        EP2 (0..2), EP4 holding packets the FPGA has not taken, input pins."""
        if ep2_packets is not None:
            self.ep2_packets = min(ep2_packets, 2)
        if ep4_full is not None:
            self.ep4_full = ep4_full
        for k, v in (("pd3", pd3), ("pd4", pd4), ("pa1", pa1)):
            if v is not None:
                self.inputs[k] = v
        self._write_flags()

    def _write_pins(self):
        iod = self.sfr(SFR_IOD) & ~0x18
        iod |= (0x08 if self.inputs["pd3"] else 0) | (0x10 if self.inputs["pd4"] else 0)
        self.set_sfr(SFR_IOD, iod)
        ioa = self.sfr(SFR_IOA) & ~0x02
        self.set_sfr(SFR_IOA, ioa | (0x02 if self.inputs["pa1"] else 0))

    def request(self, bm, req, value=0, index=0, length=0):
        """One control request; the data stage's bytes as the host receives them."""
        setup = [bm, req, value & 0xFF, value >> 8, index & 0xFF, index >> 8, length & 0xFF, length >> 8]
        self._write_pins()
        self.set_xram(SETUPDAT, *setup)
        self.set_xram(EP0CS, 0)
        self.set_xram(SUDPTRH, 0, 0)
        mark = len(self.trace)
        self.usbirq |= 0x01
        self.set_xram(USBIRQ, self.usbirq)
        self._run()
        writes = self.trace[mark:]
        cs = self.xram(EP0CS)
        stalled = bool(cs & 0x01)
        handshake = bool(cs & 0x80)
        counts = [v for n, v in writes if n == "EP0BCL"]
        if stalled:
            return Reply(True, b"", handshake, "none")
        if any(n == "SUDPTRL" for n, _ in writes):
            addr = (self.xram(SUDPTRH) << 8) | self.xram(SUDPTRL)
            head = self.xram_bytes(addr, 4)
            n = head[2] | (head[3] << 8) if head[1] in (2, 7) else head[0]
            return Reply(False, self.xram_bytes(addr, min(n, length)), handshake, "SUDPTR")
        if counts and bm & 0x80:
            n = (self.xram(EP0BCH) << 8) | counts[-1]
            return Reply(False, self.xram_bytes(EP0BUF, n), handshake, "EP0BUF")
        return Reply(False, b"", handshake, "none")

    def bus_reset(self):
        mark = len(self.trace)
        self.usbirq |= 0x10
        self.set_xram(USBIRQ, self.usbirq)
        self._run()
        return self.trace[mark:]

    def ep4_packet(self, data):
        """An OUT packet arrives on EP4; returns the writes it caused."""
        mark = len(self.trace)
        self.set_xram(EP4FIFOBUF, *data)
        self.set_xram(EP4BCH, len(data) >> 8, len(data) & 0xFF)
        self.ep4_full = True
        self._write_flags()
        self._run()
        return self.trace[mark:]


def shifted_bytes(writes):
    """Decodes port D writes as configuration bits: data on bit 0, clocked by
    a rising edge of bit 1, least-significant bit first."""
    bits, prev = [], None
    for name, v in writes:
        if name != "IOD":
            continue
        if prev is not None and not prev & 0x02 and v & 0x02:
            bits.append(v & 1)
        prev = v
    return bytes(sum(b << i for i, b in enumerate(bits[k:k + 8])) for k in range(0, len(bits) - len(bits) % 8, 8))
