#!/usr/bin/env python3
"""Opens a temperature-monitor workbook with openpyxl and checks what a reader
finds: check_workbook.py PATH SHEET CHIP ROWS [TEMP...]. Exits non-zero with
the reason on the first mismatch."""
import sys

import openpyxl


def fail(text):
    print(text)
    sys.exit(1)


path, sheet, chip, rows = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
temps = [float(t) for t in sys.argv[5:]]
wb = openpyxl.load_workbook(path)
if wb.sheetnames[0] != sheet:
    fail(f"first sheet {wb.sheetnames!r}, expected {sheet!r}")
ws = wb[sheet]
expect = {"A1": "Temperature Monitor", "A2": "Chip Name: " + chip,
          "A5": "Time (mins)", "B5": "Io (mA)", "C5": "Temp (C)", "D5": "Vf (mV)"}
for cell, text in expect.items():
    if ws[cell].value != text:
        fail(f"{cell} = {ws[cell].value!r}, expected {text!r}")
for r in range(6, 6 + rows):
    for c in "ABCD":
        v = ws[f"{c}{r}"].value
        if not isinstance(v, (int, float)):
            fail(f"{c}{r} = {v!r} is not a number")
if ws[f"A{6 + rows}"].value is not None:
    fail(f"more than {rows} rows")
for i, t in enumerate(temps):
    if abs(ws[f"C{6 + i}"].value - t) > 0.005:
        fail(f"C{6 + i} = {ws[f'C{6 + i}'].value}, expected {t}")

charts = [c for cs in wb.chartsheets for c in cs._charts] + [c for w in wb.worksheets for c in w._charts]
if len(charts) != 1:
    fail(f"{len(charts)} charts")
chart = charts[0]
if chart.tagname != "lineChart":
    fail(f"chart type {chart.tagname}")
title = "".join(r.t for p in chart.title.tx.rich.p for r in (p.r or []))
if title != "Time vs Temp":
    fail(f"title {title!r}")
if len(chart.series) != 1:
    fail(f"{len(chart.series)} series")
s = chart.series[0]
quoted = "'" + sheet.replace("'", "''") + "'" if any(ch in sheet for ch in " -'") else sheet
want_val = f"{quoted}!$C$6:$C${5 + rows}"
want_cat = f"{quoted}!$A$6:$A${5 + rows}"
if s.val.numRef.f != want_val:
    fail(f"values {s.val.numRef.f!r}, expected {want_val!r}")
cat = s.cat.numRef.f if s.cat.numRef is not None else s.cat.strRef.f
if cat != want_cat:
    fail(f"categories {cat!r}, expected {want_cat!r}")
if s.marker is not None and s.marker.symbol == "none":
    fail("no markers")
print("ok", wb.sheetnames)
