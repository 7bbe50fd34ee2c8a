"""The committed fx2fw.hex is what SDCC makes of fx2fw.c, and the image fits
the 8 KiB FX2: code and constants below 0x2000, variables in the 8051's
internal RAM or the scratch RAM at 0xE000. Exit code 77 without SDCC."""

import os
import re
import shutil
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
fw = os.path.normpath(os.path.join(here, "../../usbbridge/firmware"))

if not shutil.which("sdcc") or not shutil.which("packihx"):
    print("SDCC (Debian package sdcc) is not installed: the build check is skipped")
    sys.exit(77)

with tempfile.TemporaryDirectory() as work:
    subprocess.run(["bash", os.path.join(fw, "build.sh"), work], check=True, stdout=subprocess.DEVNULL, timeout=60)
    fresh = open(os.path.join(work, "fx2fw.hex")).read()
    symbols = dict((m.group(2), int(m.group(1), 16))
                   for m in re.finditer(r"^C:\s+([0-9A-F]+)\s+([sl]_\w+)", open(os.path.join(work, "fx2fw.map")).read(), re.M))
committed = open(os.path.join(fw, "fx2fw.hex")).read()

failures = []
if fresh != committed:
    failures.append("fx2fw.hex differs from a fresh build of fx2fw.c: run usbbridge/firmware/build.sh")
for seg in ("XSEG", "XISEG", "PSEG"):
    start, size = symbols.get("s_" + seg, 0), symbols.get("l_" + seg, 0)
    in_scratch = 0xE000 <= start and start + size <= 0xE200
    in_low = start + size <= 0x2000
    if not (in_scratch or in_low):
        failures.append("%s at 0x%04X: no RAM there on the 8 KiB FX2" % (seg, start))
top = 0
for line in committed.splitlines():
    if line.startswith(":") and line[7:9] == "00":
        top = max(top, int(line[3:7], 16) + int(line[1:3], 16))
if top > 0x2000:
    failures.append("the image reaches 0x%04X, past the 8 KiB of program RAM" % top)

for f in failures:
    print("FAIL:", f)
print("image ends at 0x%04X; %s" % (top, "ok" if not failures else "%d failure(s)" % len(failures)))
sys.exit(1 if failures else 0)
