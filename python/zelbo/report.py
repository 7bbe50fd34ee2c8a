"""A campaign's results as one self-contained HTML file.

    python3 -m zelbo.report results.sqlite [-o report.html]

The pass/fail summary comes first, then per measurement a plot against VREF
(one panel per chamber temperature, one line per other setting, the limit
band shaded) and a table of every point. The plots are matplotlib's SVG,
inline, so the file opens offline and needs nothing beside it.
"""

import argparse
import html
import io
import os
import sqlite3
import sys
import tempfile
from collections import OrderedDict

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

_STYLE = """
body { font-family: sans-serif; margin: 1.5em auto; max-width: 1200px; color: #222; }
h1 { margin-bottom: 0.2em; }
.meta { color: #555; font-size: 0.9em; }
.summary { font-size: 1.2em; padding: 0.6em 1em; border-radius: 6px; margin: 1em 0; }
.allpass { background: #e3f4e1; border: 1px solid #6ab04c; }
.somefail { background: #fbe4e2; border: 1px solid #d9534f; }
table { border-collapse: collapse; margin: 0.5em 0 1.5em; font-size: 0.85em; }
th, td { border: 1px solid #ccc; padding: 2px 8px; text-align: right; }
th { background: #f0f0f0; }
td.pass { background: #e3f4e1; } td.fail { background: #fbe4e2; font-weight: bold; }
td.nodata { background: #fff3cd; font-weight: bold; }
.plot svg { max-width: 100%; height: auto; }
"""

_SETTINGS = ["temperature", "mode", "vref", "clk", "mth", "direction"]


def _load(path):
    uri = "file:" + os.path.abspath(path) + "?mode=ro"
    con = sqlite3.connect(uri, uri=True)
    con.row_factory = sqlite3.Row
    try:
        campaign = con.execute("SELECT * FROM campaign WHERE id = 1").fetchone()
        if campaign is None:
            raise ValueError("no campaign in this database yet")
        runs = con.execute("SELECT * FROM runs ORDER BY id").fetchall()
        points = con.execute("SELECT * FROM points ORDER BY idx").fetchall()
        rows = con.execute(
            "SELECT m.*, p.idx FROM measurements m JOIN points p ON p.id = m.point ORDER BY p.idx"
        ).fetchall()
        events = con.execute("SELECT t, text FROM events ORDER BY id").fetchall()
    except sqlite3.DatabaseError as e:
        raise ValueError(f"not a campaign database ({e})") from e
    finally:
        con.close()
    return campaign, runs, points, rows, events


def _num(v, digits=4):
    if v is None:
        return "&mdash;"
    return html.escape(f"{v:.{digits}g}")


def _verdict_cell(v):
    cls = {"pass": "pass", "fail": "fail"}.get(v, "nodata")
    return f'<td class="{cls}">{html.escape(v)}</td>'


def _svg(fig):
    buf = io.StringIO()
    fig.savefig(buf, format="svg", bbox_inches="tight")
    plt.close(fig)
    text = buf.getvalue()
    return text[text.find("<svg"):]


def _plot(name, unit, entries, varying):
    """Measurement against VREF, a panel per temperature, the limit band shaded."""
    temps = sorted({e["temperature"] for e in entries}, key=lambda t: (t is None, t))
    fig, axes = plt.subplots(1, len(temps), figsize=(6.5 if len(temps) == 1 else min(4.2 * len(temps), 12), 3.6), squeeze=False, sharey=True)
    others = [s for s in varying if s not in ("temperature", "vref")]
    for ax, temp in zip(axes[0], temps):
        groups = OrderedDict()
        for e in entries:
            if e["temperature"] != temp:
                continue
            label = ", ".join(f"{s} {e[s]}" for s in others) or name
            groups.setdefault(label, []).append(e)
        for label, pts in groups.items():
            pts.sort(key=lambda e: e["vref"])
            xs = [e["vref"] for e in pts]
            lo = [e["low"] if e["low"] is not None else float("nan") for e in pts]
            hi = [e["high"] if e["high"] is not None else float("nan") for e in pts]
            ys = [e["value"] if e["value"] is not None else float("nan") for e in pts]
            (line,) = ax.plot(xs, ys, "o-", label=label, markersize=4)
            ax.fill_between(xs, lo, hi, color=line.get_color(), alpha=0.15, linewidth=0)
            bad = [(x, y) for x, y, e in zip(xs, ys, pts) if e["verdict"] != "pass" and y == y]
            if bad:
                ax.plot([b[0] for b in bad], [b[1] for b in bad], "x", color="#c0392b", markersize=9, mew=2)
        ax.set_title(f"{temp:g} °C" if temp is not None else name)
        ax.set_xlabel("VREF [V]")
        ax.grid(True, alpha=0.3)
    axes[0][0].set_ylabel(f"{name} [{unit}]")
    axes[0][-1].legend(fontsize=7, loc="best")
    return _svg(fig)


def render(path):
    campaign, runs, points, rows, events = _load(path)
    by_idx = {p["idx"]: p for p in points}
    varying = [s for s in _SETTINGS if len({p[s] for p in points}) > 1]
    recorded = any(p["recording"] for p in points)
    passed = sum(1 for p in points if p["verdict"] == "pass")
    failed = len(points) - passed
    title = campaign["title"] or os.path.basename(path)
    out = ["<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
           f"<title>{html.escape(title)}</title><style>{_STYLE}</style></head><body>",
           f"<h1>{html.escape(title)}</h1>"]
    last = runs[-1] if runs else None
    meta = [f"plan {html.escape(campaign['plan_source'] or '')} ({html.escape(campaign['plan_hash'])})",
            html.escape(campaign["program"] or ""), f"board {html.escape(campaign['board'] or '')}",
            f"chip {html.escape(campaign['chip'] or '')}", html.escape(campaign["firmware"] or "")]
    if campaign["chamber"]:
        meta.append("chamber " + html.escape(campaign["chamber"]))
    out.append('<p class="meta">' + " &middot; ".join(meta) + "</p>")
    if last is not None:
        out.append(f'<p class="meta">{len(runs)} run(s); the last started {html.escape(last["started"] or "")}, '
                   f'ended {html.escape(last["outcome"] or "without an ending (killed?)")}</p>')
    cls = "allpass" if failed == 0 and points else "somefail"
    timed_out = sum(1 for p in points if p["soak"] == "soak timed out")
    summary = f"<b>{passed} of {len(points)} points passed</b>, {failed} failed"
    if timed_out:
        summary += f"; {timed_out} measured after a soak that timed out"
    out.append(f'<div class="summary {cls}">{summary}</div>')

    # The failures, one line each.
    bad = [r for r in rows if r["verdict"] != "pass"]
    if bad:
        out.append("<h2>Failures</h2><table><tr><th>point</th><th>measurement</th><th>value</th>"
                   "<th>low</th><th>high</th><th>verdict</th></tr>")
        for r in bad[:200]:
            out.append(f"<tr><td>{html.escape(by_idx[r['idx']]['key'])}</td><td>{html.escape(r['name'])}</td>"
                       f"<td>{_num(r['value'])}</td><td>{_num(r['low'])}</td><td>{_num(r['high'])}</td>"
                       f"{_verdict_cell(r['verdict'])}</tr>")
        out.append("</table>")
        if len(bad) > 200:
            out.append(f"<p>... and {len(bad) - 200} more.</p>")

    names = OrderedDict()
    for r in rows:
        names.setdefault(r["name"], []).append(r)
    for name, mrows in names.items():
        unit = mrows[0]["unit"]
        entries = []
        for r in mrows:
            p = by_idx[r["idx"]]
            entries.append({**{s: p[s] for s in _SETTINGS}, "value": r["value"], "low": r["low"],
                            "high": r["high"], "verdict": r["verdict"]})
        out.append(f"<h2>{html.escape(name)} [{html.escape(unit)}]</h2>")
        out.append('<div class="plot">' + _plot(name, unit, entries, varying) + "</div>")
        cols = varying or ["vref"]
        out.append("<table><tr>" + "".join(f"<th>{html.escape(c)}</th>" for c in cols)
                   + "<th>Tj [°C]</th><th>value</th><th>low</th><th>high</th><th>verdict</th>"
                   + ("<th>sweeps</th>" if recorded else "") + "</tr>")
        for r, e in zip(mrows, entries):
            p = by_idx[r["idx"]]
            cells = "".join(f"<td>{html.escape(str(e[c]))}</td>" for c in cols)
            # The point's recording lies beside the database (and the report).
            rec = html.escape(p["recording"] or "", quote=True)
            link = f'<td><a href="{rec}">{rec}</a></td>' if recorded else ""
            out.append(f"<tr>{cells}<td>{_num(p['tj'], 3)}</td><td>{_num(r['value'])}</td><td>{_num(r['low'])}</td>"
                       f"<td>{_num(r['high'])}</td>{_verdict_cell(r['verdict'])}{link}</tr>")
        out.append("</table>")

    if events:
        out.append("<h2>Log</h2><table>")
        for t, text in events[-300:]:
            out.append(f'<tr><td>{html.escape(t)}</td><td style="text-align:left">{html.escape(text)}</td></tr>')
        out.append("</table>")
    out.append("</body></html>")
    return "\n".join(out)


def write_report(db, out):
    """Writes the report of `db` to `out` (atomically) and returns `out`."""
    text = render(db)
    folder = os.path.dirname(os.path.abspath(out))
    fd, tmp = tempfile.mkstemp(prefix=".report-", suffix=".html", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write(text)
        mask = os.umask(0)
        os.umask(mask)
        os.chmod(tmp, 0o666 & ~mask)
        os.replace(tmp, out)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise
    return out


def main(argv=None):
    ap = argparse.ArgumentParser(prog="zelbo.report", description="A campaign's results as one HTML file.")
    ap.add_argument("db")
    ap.add_argument("-o", "--out")
    a = ap.parse_args(argv)
    out = a.out or os.path.splitext(a.db)[0] + ".html"
    try:
        write_report(a.db, out)
    except (ValueError, OSError, sqlite3.Error) as e:
        print(f"zelbo.report: {a.db}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
