#!/usr/bin/env python3
"""Checks that each source folder includes only the folders below it.

The order is the one the docs pages state in their "Depends on" lines: the
simulated board and libCalora stand alone, `common/` is the bottom of the
host side, the cores sit on it, the engine on the cores, and the front ends
on the engine. A quoted include of another folder's header that is not in
the table below fails the check, naming the file and the line.

    check-includes.py [ROOT]       check the tree (default: this checkout)
    check-includes.py --self-test  plant a wrong-way include in a copy and
                                   check that it is caught
"""

import os
import re
import shutil
import sys
import tempfile

HOST_CORES = {"common", "widgets", "drive", "scope", "thermal", "files"}
ALLOWED = {
    "board": set(),  # the far side of the wire: no host code at all
    "calora": set(),  # stands alone; other programs link it
    "common": set(),
    "usbbridge": {"board", "common"},  # loads the simulated board behind its exports; logs on common's channel
    "link": {"common", "usbbridge"},
    "widgets": {"common"},
    "drive": {"common", "widgets"},
    "scope": {"common", "widgets"},
    "thermal": {"common", "widgets"},
    "files": {"common", "drive", "scope"},
    "engine": HOST_CORES | {"link"},
    "campaign": HOST_CORES | {"link", "engine"},
    "server": HOST_CORES | {"link", "engine"},
    "cli": HOST_CORES | {"link", "engine", "campaign"},
    "python": HOST_CORES | {"link", "engine", "campaign"},
    "app": HOST_CORES | {"link", "engine"},
}
# Test-side code may reach the board it drives.
TEST_DIRS = {os.path.join("python", "tests")}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/')


def check(root):
    faults = []
    for folder, allowed in sorted(ALLOWED.items()):
        base = os.path.join(root, folder)
        for dirpath, _, names in os.walk(base):
            rel_dir = os.path.relpath(dirpath, root)
            if any(rel_dir == t or rel_dir.startswith(t + os.sep) for t in TEST_DIRS):
                continue
            for name in sorted(names):
                if not name.endswith((".h", ".hpp", ".cpp", ".c")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        if target == folder or target not in ALLOWED:
                            continue
                        if target not in allowed:
                            faults.append(f"{os.path.relpath(path, root)}:{number}: "
                                          f"{folder}/ may not include {target}/")
    return faults


def self_test(root):
    with tempfile.TemporaryDirectory() as tmp:
        for folder in ("common", "drive"):
            shutil.copytree(os.path.join(root, folder), os.path.join(tmp, folder))
        if check(tmp):
            print("self-test: the copy fails before anything is planted")
            return 1
        with open(os.path.join(tmp, "common", "planted.h"), "w") as f:
            f.write('#pragma once\n#include "drive/drive_core.h"\n')
        faults = check(tmp)
        if len(faults) != 1 or "common/planted.h:2" not in faults[0]:
            print("self-test: a planted wrong-way include was not caught:", faults)
            return 1
    print("self-test: a planted wrong-way include is caught")
    return 0


def main(argv):
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if "--self-test" in argv:
        return self_test(here)
    root = argv[1] if len(argv) > 1 else here
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) against the folder order (see scripts/check-includes.py)")
        return 1
    print("folder order kept")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
