#!/usr/bin/env bash
# Rebuilds fx2fw.hex from fx2fw.c with SDCC (Debian package "sdcc"). The
# normal build does not need SDCC: it reads the committed fx2fw.hex.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Program and data share the FX2's 16 KiB of RAM: code from 0, variables high.
sdcc -mmcs51 --std-c11 --opt-code-size --code-loc 0x0000 --code-size 0x3000 \
     --xram-loc 0x3000 --xram-size 0x0C00 --iram-size 256 \
     -o "$work/fx2fw.ihx" fx2fw.c
packihx "$work/fx2fw.ihx" > fx2fw.hex
echo "fx2fw.hex: $(grep -c '^:10' fx2fw.hex) full records"
