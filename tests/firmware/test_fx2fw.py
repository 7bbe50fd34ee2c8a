"""The board firmware (fx2fw.hex) run in s51, request by request, and held
against the simulated board: every answer both give is compared byte for
byte, with the board state (input pins, endpoint flags) fed into both.

One firmware run serves the whole suite, as one board serves a host: the
cases run in order (their names are numbered) and each leaves the board as
the host would. Environment: FX2FW_HEX (the image), BOARD_ANSWERS (the
board_answers tool), S51 and S51_WAKE (optional). Exit code 77 when s51 is
not installed: CTest reports the suite as skipped with the reason.
"""

import os
import select
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fx2sim  # noqa: E402

HEX = os.environ.get("FX2FW_HEX", os.path.join(os.path.dirname(__file__), "../../usbbridge/firmware/fx2fw.hex"))
VENDOR_IN, INDEX = 0xC0, 0xBEEF
FX2_CYCLES_PER_S = 12e6  # 48 MHz, four clocks per instruction cycle

fw = None       # the firmware in s51, booted once
board = None    # the simulated board (board_answers)
table = []      # (what, firmware's answer, board's answer) for the documentation


class Board:
    def __init__(self, exe):
        self.proc = subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        if not select.select([self.proc.stdout], [], [], 5)[0]:
            raise fx2sim.HarnessError("board_answers did not answer %r" % line)
        return self.proc.stdout.readline().strip()

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(5)


def setUpModule():
    global fw, board
    fw = fx2sim.Fx2Sim(HEX)
    fw.boot()
    exe = os.environ.get("BOARD_ANSWERS")
    board = Board(exe) if exe else None


def tearDownModule():
    fw.close()
    if board:
        board.close()
    if table and os.environ.get("FX2FW_TABLE"):
        with open(os.environ["FX2FW_TABLE"], "w") as f:
            f.write("| Request | Firmware (s51) | Simulated board |\n|---|---|---|\n")
            for row in table:
                f.write("| %s | %s | %s |\n" % row)


def board_state(**kw):
    """The same board state on both sides: the model's steering, and the
    registers and pins the FX2 would show for it."""
    if board:
        if "blocks" in kw:
            board.ask("blocks %d" % kw["blocks"])
        if "accept" in kw:
            board.ask("accept %d" % kw["accept"])
        if "scope" in kw:
            board.ask("scope %d" % kw["scope"])
    fw.set_board(ep2_packets=kw.get("ep2_packets"), ep4_full=None if "accept" not in kw else not kw["accept"],
                 pd3=kw.get("pd3"), pd4=kw.get("pd4"), pa1=kw.get("scope"))


class Compare(unittest.TestCase):
    def same(self, what, bm, req, value=0, index=0, length=0):
        """One request on both sides; the answers must be equal."""
        got = fw.request(bm, req, value, index, length)
        if got.stalled is False:
            self.assertTrue(got.handshake, "%s: status stage not completed" % what)
        ours = "stall" if got.stalled else ("ok " + got.data.hex()).strip()
        theirs = board.ask("req %02x %02x %04x %04x %04x" % (bm, req, value, index, length)) if board else None
        table.append((what, ours.replace("ok ", "") or "(no data)",
                      (theirs or "-").replace("ok ", "") or "(no data)"))
        if board:
            self.assertEqual(ours, theirs.strip(), "%s: firmware and simulated board differ" % what)
        return got

    def pins_agree(self):
        if not board:
            return
        pa, pd = board.ask("pins").split()[1::2]
        pa, pd = int(pa, 16), int(pd, 16)
        self.assertEqual((pd >> 3) & 3, (fw.inputs["pd3"] | fw.inputs["pd4"] << 1), "port D inputs of the two sides")
        self.assertEqual((pa >> 1) & 1, fw.inputs["pa1"], "port A bit 1 of the two sides")


class T01Boot(unittest.TestCase):
    """From reset to the main loop, as the writes to the traced registers show."""

    def writes(self, name):
        return [v for n, v in fw.boot_trace if n == name]

    def index(self, name):
        return [n for n, _ in fw.boot_trace].index(name)

    def test_clock_is_48mhz_and_clkout_kept(self):
        cpucs = self.writes("CPUCS")
        self.assertTrue(cpucs, "CPUCS never written")
        self.assertEqual(cpucs[-1] & 0x18, 0x10, "CLKSPD is not 48 MHz")
        self.assertTrue(cpucs[-1] & 0x02, "CLKOE cleared: CLKOUT stops")

    def test_levels_before_outputs(self):
        for io, oe in (("IOA", "OEA"), ("IOD", "OED")):
            self.assertLess(self.index(io), self.index(oe), "%s enabled before %s is written" % (oe, io))
        iod_before_oe = [v for n, v in fw.boot_trace[:self.index("OED")] if n == "IOD"]
        self.assertTrue(iod_before_oe[-1] & 0x80, "nCONFIG (PD7) would drive low")

    def test_revctl_before_endpoints(self):
        self.assertEqual(self.writes("REVCTL")[:1], [0x03], "REVCTL not set to DYN_OUT | ENH_PKT")
        self.assertLess(self.index("REVCTL"), self.index("EP2CFG"))

    def test_starts_in_slave_fifo_mode(self):
        self.assertEqual(self.writes("IFCONFIG")[-1] & 0x03, 0x03, "interface not in slave-FIFO mode")
        self.assertEqual(self.writes("EP4FIFOCFG")[-1] & 0x10, 0x10, "EP4 not handed to the FIFO (AUTOOUT)")
        self.assertEqual(self.writes("OUTPKTEND").count(0x84), 2, "EP4's two buffers not armed")

    def test_renumerates_after_a_pause_of_over_a_second(self):
        usbcs = [(v, fw.trace_cycles[i]) for i, (n, v) in enumerate(fw.boot_trace) if n == "USBCS"]
        self.assertEqual(len(usbcs), 2, usbcs)
        (gone, t0), (back, t1) = usbcs
        self.assertTrue(gone & 0x08 and gone & 0x02, "DISCON and RENUM not set")
        self.assertFalse(back & 0x08, "never reconnects")
        seconds = (t1 - t0) / FX2_CYCLES_PER_S
        self.assertTrue(1.0 <= seconds <= 3.0, "off the bus for %.3f s" % seconds)


class T02Standard(Compare):
    """Standard requests: descriptors at both speeds, configuration, interface, status."""

    def test_descriptors_and_state_requests(self):
        cases = [
            ("GET_DESCRIPTOR device", 0x80, 6, 0x0100, 0, 64),
            ("GET_DESCRIPTOR device, wLength 8", 0x80, 6, 0x0100, 0, 8),
            ("GET_DESCRIPTOR configuration, wLength 9", 0x80, 6, 0x0200, 0, 9),
            ("GET_DESCRIPTOR configuration", 0x80, 6, 0x0200, 0, 255),
            ("GET_DESCRIPTOR configuration 1", 0x80, 6, 0x0201, 0, 255),
            ("GET_DESCRIPTOR device qualifier", 0x80, 6, 0x0600, 0, 10),
            ("GET_DESCRIPTOR other speed configuration", 0x80, 6, 0x0700, 0, 255),
            ("GET_DESCRIPTOR string 0", 0x80, 6, 0x0300, 0, 255),
            ("GET_DESCRIPTOR string 1", 0x80, 6, 0x0301, 0x0409, 255),
            ("GET_DESCRIPTOR string 2", 0x80, 6, 0x0302, 0x0409, 255),
            ("GET_DESCRIPTOR string 2, wLength 2", 0x80, 6, 0x0302, 0x0409, 2),
            ("GET_DESCRIPTOR string 3", 0x80, 6, 0x0303, 0x0409, 255),
            ("GET_DESCRIPTOR type 8", 0x80, 6, 0x0800, 0, 255),
            ("SET_CONFIGURATION 1", 0x00, 9, 1, 0, 0),
            ("SET_CONFIGURATION 2", 0x00, 9, 2, 0, 0),
            ("GET_CONFIGURATION", 0x80, 8, 0, 0, 1),
            ("GET_INTERFACE", 0x81, 0x0A, 0, 0, 1),
            ("SET_INTERFACE 0", 0x01, 0x0B, 0, 0, 0),
            ("SET_INTERFACE alternate 1", 0x01, 0x0B, 1, 0, 0),
            ("GET_STATUS device", 0x80, 0, 0, 0, 2),
            ("GET_STATUS endpoint 0x82", 0x82, 0, 0, 0x82, 2),
        ]
        for what, *setup in cases:
            with self.subTest(what):
                self.same(what, *setup)

    def test_full_speed_packets(self):
        fw.set_xram(fx2sim.USBCS, 0x00)  # the bus came up at full speed
        try:
            full = fw.request(0x80, 6, 0x0200, 0, 255)
            other = fw.request(0x80, 6, 0x0700, 0, 255)
        finally:
            fw.set_xram(fx2sim.USBCS, 0x80)
        self.assertEqual(full.data[1], 2)
        self.assertEqual([full.data[i + 4] | full.data[i + 5] << 8 for i in range(18, 46, 7)], [64] * 4)
        self.assertEqual(other.data[1], 7)
        self.assertEqual([other.data[i + 4] | other.data[i + 5] << 8 for i in range(18, 46, 7)], [512] * 4)
        table.append(("GET_DESCRIPTOR configuration at full speed", full.data.hex(), "- (high speed only)"))


class T03Vendor(Compare):
    """The board's vendor requests, in the order bring-up and the link use them."""

    def test_01_before_the_fpga_is_configured(self):
        board_state(blocks=0, accept=1, scope=1, pd3=1, pd4=0, ep2_packets=0)
        self.pins_agree()
        self.same("0xBA FPGA pins, not configured", VENDOR_IN, 0xBA, 0, INDEX, 2)
        self.same("0xB3 scope capable", VENDOR_IN, 0xB3, 0, INDEX, 1)
        board_state(scope=0)
        self.same("0xB3 not scope capable", VENDOR_IN, 0xB3, 0, INDEX, 1)
        board_state(scope=1)
        self.same("0xB5 value 0 (PA7 high)", VENDOR_IN, 0xB5, 0, INDEX, 1)
        self.same("0xB5 value 2 (no change)", VENDOR_IN, 0xB5, 2, INDEX, 1)
        self.same("0xB5 value 1 (PA7 low)", VENDOR_IN, 0xB5, 1, INDEX, 1)
        self.same("0xB2 (PA4 high)", VENDOR_IN, 0xB2, 0, INDEX, 1)
        self.same("0xB4 chunk code 8", VENDOR_IN, 0xB4, 8, INDEX, 2)
        self.same("0xB7 wait 5", VENDOR_IN, 0xB7, 5, INDEX, 1)
        self.same("0xBB", VENDOR_IN, 0xBB, 0, INDEX, 1)
        self.same("0xBC firmware version", VENDOR_IN, 0xBC, 0, INDEX, 2)
        self.same("0x20 EP2 byte count, idle", VENDOR_IN, 0x20, 0, INDEX, 2)
        self.same("0xFD status, idle", VENDOR_IN, 0xFD, 1, INDEX, 6)
        self.same("0xB6 (not in the table)", VENDOR_IN, 0xB6, 0, INDEX, 1)
        self.same("0xD0 NAK-all", VENDOR_IN, 0xD0, 0, INDEX, 0)
        self.same("0xD1 NAK-all off", VENDOR_IN, 0xD1, 0, INDEX, 0)

    def test_02_command_path_until_configuration(self):
        # FIFO mode from the start: a packet on EP4 is the FPGA's, not port D's.
        writes = fw.ep4_packet([0x00, 0x00, 0x01, 0x02, 0x03, 0x04])
        self.assertEqual([n for n, _ in writes if n == "IOD"], [], "a command packet was shifted out on port D")

    def test_03_configuration(self):
        self.same("0xB1 configuration mode", VENDOR_IN, 0xB1, 0, INDEX, 1)
        self.same("0xB9 nCONFIG pulse", VENDOR_IN, 0xB9, 0, INDEX, 1)
        self.same("0xBA FPGA pins, taking the image", VENDOR_IN, 0xBA, 0, INDEX, 2)
        image = bytes([0x5A, 0x81, 0xFF, 0x00, 0x3C])
        writes = fw.ep4_packet(list(image))
        self.assertEqual(fx2sim.shifted_bytes(writes), image, "bits on port D (PD0 data, PD1 clock, LSB first)")
        iod = [v for n, v in writes if n == "IOD"]
        self.assertEqual(len(iod), 2 * 8 * len(image) + 1)
        self.assertEqual(iod[-1], 0xC0, "port D not left idle")
        self.assertFalse(fw.ep4_full, "EP4 not handed back after the packet")
        if board:
            self.assertEqual(board.ask("ep4 " + image.hex()), "done")
            self.assertEqual(board.ask("image"), image.hex(), "the simulated board took other bits")
        self.same("0xB4 chunk code 0x19", VENDOR_IN, 0xB4, 0x19, INDEX, 2)
        writes = fw.ep4_packet([0, 0, 0])
        self.assertEqual(fx2sim.shifted_bytes(writes), bytes(3))
        if board:
            self.assertEqual(board.ask("ep4 000000"), "done")
        board_state(pd3=1, pd4=1)  # CONF_DONE: the FPGA runs
        self.pins_agree()
        self.same("0xBA FPGA pins, configured", VENDOR_IN, 0xBA, 0, INDEX, 2)
        self.same("0xB0 FIFO mode", VENDOR_IN, 0xB0, 0, INDEX, 1)
        writes = fw.ep4_packet([0x00, 0x00, 0x01, 0x02, 0x03, 0x04])
        self.assertEqual([n for n, _ in writes if n == "IOD"], [], "after 0xB0, EP4 still goes to port D")
        fw.set_board(ep4_full=False)  # the FPGA took it

    def test_04_status_with_blocks_waiting(self):
        # EP2 is double-buffered: one block is a packet in one buffer (neither
        # empty nor full), two fill it, more wait in the FPGA.
        for blocks, total in ((1, 1), (1, 2), (3, 5)):
            board_state(blocks=blocks, ep2_packets=total)
            self.same("0xFD status, %d block(s) waiting" % total, VENDOR_IN, 0xFD, 1, INDEX, 6)
            self.same("0x20 EP2 byte count, %d block(s) waiting" % total, VENDOR_IN, 0x20, 0, INDEX, 2)
        reply = fw.request(VENDOR_IN, 0xFD, 1, INDEX, 6)
        self.assertEqual(reply.data[0], 1)

    def test_05_status_with_commands_not_taken(self):
        board_state(accept=0)
        self.same("0xFD status, EP4 not taken", VENDOR_IN, 0xFD, 1, INDEX, 6)
        board_state(accept=1)

    def test_06_one_block_reads_as_waiting(self):
        board_state(ep2_packets=1)
        self.assertEqual(fw.request(VENDOR_IN, 0xFD, 1, INDEX, 6).data[0], 1,
                         "one committed EP2 packet reads as nothing waiting")


class T04Resets(unittest.TestCase):
    """What the host's resets do to the bulk endpoints."""

    def check(self, writes, what):
        tog = [v for n, v in writes if n == "TOGCTL"]
        for ep in (0x12, 0x04, 0x16, 0x18):  # EP2 IN, EP4 OUT, EP6 IN, EP8 IN
            self.assertIn(ep | 0x20, tog, "%s: toggle of 0x%02x not reset" % (what, ep))
        fifo = [v for n, v in writes if n == "FIFORESET"]
        self.assertEqual(fifo[:1], [0x80], "%s: FIFOs not reset under NAK-all" % what)
        self.assertTrue({2, 4, 6, 8} <= set(fifo), "%s: FIFOs reset: %s" % (what, fifo))
        self.assertEqual(fifo[-1], 0, "%s: NAK-all left on" % what)

    def test_set_configuration_set_interface_and_bus_reset(self):
        for what, action in (("SET_CONFIGURATION", lambda: fw.request(0x00, 9, 1)),
                             ("SET_INTERFACE", lambda: fw.request(0x01, 0x0B, 0)),
                             ("bus reset", fw.bus_reset)):
            mark = len(fw.trace)
            action()
            self.check(fw.trace[mark:], what)
        # The mode survives: EP4 still belongs to the FIFO after a reset.
        self.assertEqual([v for n, v in fw.trace[mark:] if n == "IFCONFIG"][-1] & 3, 3)


if __name__ == "__main__":
    if not fx2sim.find_s51():
        print("s51 (Debian package sdcc-ucsim) is not installed: the firmware suite is skipped")
        sys.exit(77)
    unittest.main(verbosity=2)
