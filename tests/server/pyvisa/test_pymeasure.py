"""zelbo.pymeasure.ZelboBoard: a PyMeasure procedure sweeps VREF on a running
zelbo-server, through PyMeasure's own worker and results file."""

import math

import pytest

pytest.importorskip("pymeasure")

from pymeasure.experiment import FloatParameter, IntegerParameter, Procedure, Results, Worker  # noqa: E402

from zelbo.pymeasure import ZelboBoard  # noqa: E402

RESOURCE = None  # set by the test before the worker starts


class VrefSweep(Procedure):
    """VREF from start to stop; at each, a counted run and the coil current."""

    start = FloatParameter("Start", units="V", default=0.4)
    stop = FloatParameter("Stop", units="V", default=1.2)
    points = IntegerParameter("Points", default=3)
    DATA_COLUMNS = ["VREF (V)", "Ipeak (A)", "Steps done"]

    def startup(self):
        self.board = ZelboBoard(RESOURCE)
        self.board.set_pin("enable", True)
        self.board.rnf = 0.2
        self.board.powered = True
        self.board.source(2, "I", "A")

    def execute(self):
        for k in range(self.points):
            v = self.start + (self.stop - self.start) * k / (self.points - 1)
            self.board.vref = v
            self.board.run(steps=50, frequency=1000)
            self.board.wait()
            self.board.run(frequency=500)
            fig = self.board.measure(2)
            self.emit("results", {"VREF (V)": self.board.vref, "Ipeak (A)": fig["ipeak"],
                                  "Steps done": int(not self.board.running)})
            if self.should_stop():
                break

    def shutdown(self):
        self.board.shutdown()


def test_a_pymeasure_procedure_sweeps_vref_on_the_server(start_server, tmp_path):
    global RESOURCE
    server = start_server()
    RESOURCE = server.resource
    results = Results(VrefSweep(), str(tmp_path / "sweep.csv"))
    worker = Worker(results)
    worker.start()
    worker.join(timeout=60)
    assert not worker.is_alive()
    data = Results.load(str(tmp_path / "sweep.csv")).data
    assert list(data["VREF (V)"]) == pytest.approx([0.4, 0.8, 1.2])
    ipeak = list(data["Ipeak (A)"])
    assert all(math.isfinite(i) and i > 0 for i in ipeak)
    # The coil current follows VREF: VREF / 5 / RNF.
    assert ipeak == pytest.approx([0.4, 0.8, 1.2], rel=0.1)
    # The procedure's shutdown powered the board off.
    assert server.last_write("01") == "E0"


def test_properties_read_back_what_the_board_applied(start_server):
    server = start_server()
    board = ZelboBoard(server.resource)
    assert board.id.startswith("Zelbo,")
    board.powered = True
    assert board.powered is True
    board.vref = 1.2345
    assert board.vref == pytest.approx(1.234)
    board.frequency = 1234
    assert board.frequency == pytest.approx(40e6 / 32414, rel=1e-9)
    board.mode = "quarter"
    assert board.mode == "quarter"
    board.set_pin("enable", True)
    assert board.pin("enable") is True
    with pytest.raises(ValueError):
        board.vref = 5  # refused before it is sent
    assert board.errors() == []
    t, v = board.waveform(1)
    assert len(t) == len(v) == 4096
    board.shutdown()
