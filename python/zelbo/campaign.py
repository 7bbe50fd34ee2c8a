"""Characterisation campaigns from Python: the same runner as
``zelbo-cli campaign``, with a callback per point."""

import os

from . import _zelbo


class Campaign:
    """A campaign plan (TOML) run into a SQLite database.

    ``Campaign("plan.toml", db="out.sqlite", sim=True).run(on_point=print)``

    plan: the plan file (str or os.PathLike). db: the results database
    (default: the plan's name with ".sqlite" in the working folder).
    resume: continue a database that already holds points of this plan at
    its first missing point (without it such a database is refused).
    sim: True the simulated board, False a real one, None as ZELBO_BOARD
    says. chamber_port: the chamber controller's port (default the plan's).

    The plan is checked whole, and the database matched to it, before the
    board is touched: a bad plan raises ValueError naming its line. One
    board per process: the campaign opens its own, so close any Board first.
    """

    def __init__(self, plan, db=None, resume=False, sim=None, chamber_port=""):
        self.plan = os.fspath(plan)
        self.db = os.fspath(db) if db is not None else None
        self.resume = bool(resume)
        self.sim = sim
        self.chamber_port = chamber_port or ""

    def run(self, on_point=None, on_progress=None):
        """Runs the campaign; returns its summary as a dict (outcome,
        message, db, total, already_done, measured, skipped, passed, failed).

        on_point(point) is called with each point once it is committed: its
        key, settings as read back, tj, verdict and measurements (name,
        value, low, high, verdict). on_progress(progress) with done, total,
        temperature, state, air, tj and seconds_left. An exception in a
        callback, or Ctrl-C, stops the campaign after the point under way
        (a second Ctrl-C at once), powers the board off, then is raised.
        """
        return _zelbo._run_campaign(self.plan, self.db, self.resume, self.sim, self.chamber_port,
                                    on_point, on_progress)

    def report(self, out=None):
        """Writes the HTML report of the database; returns its path."""
        from .report import write_report

        db = self.db or os.path.splitext(os.path.basename(self.plan))[0] + ".sqlite"
        return write_report(db, out or os.path.splitext(db)[0] + ".html")

    def __repr__(self):
        return f"Campaign({self.plan!r}, db={self.db!r}, resume={self.resume}, sim={self.sim})"
