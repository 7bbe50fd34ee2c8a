#!/usr/bin/env bash
# Rebuilds fx2fw.hex from fx2fw.c with SDCC (Debian package "sdcc"). The
# normal build does not need SDCC: it reads the committed fx2fw.hex.
#   build.sh          regenerates fx2fw.hex beside this script
#   build.sh DIR      builds into DIR instead (fx2fw.hex with SDCC's map and
#                     listing files), to compare with the committed one
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [[ $# -ge 1 ]]; then
  work=$(mkdir -p "$1" && cd "$1" && pwd)
  out="$work/fx2fw.hex"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  out="$here/fx2fw.hex"
fi
# Code in the 8 KiB of program RAM every FX2 has (the 16 KiB parts too);
# variables, if any outgrow the 8051's internal RAM, in the 512-byte scratch
# RAM at 0xE000, which every part has.
cd "$work"
sdcc -mmcs51 --std-c11 --opt-code-size --code-loc 0x0000 --code-size 0x2000 \
     --xram-loc 0xE000 --xram-size 0x0200 --iram-size 256 \
     -o "$work/fx2fw.ihx" "$here/fx2fw.c"
packihx "$work/fx2fw.ihx" > "$out" 2>/dev/null
echo "fx2fw.hex: $(grep -c '^:10' "$out") full records"
