"""The chip list of the data folder chooses the coefficients that convert Tj."""

import pytest

import zelbo

CHIPS = ("#Chipname\tA\tB\tMode\n"
         "FAST\t600.0\t2.0\t0\tFull Step\tHalf Step B\tHalf Step A\tQuarter Step\n"
         "SLOW\t700.0\t2.5\t0\tFull Step\tHalf Step B\tHalf Step A\tQuarter Step\n")


def test_the_chosen_chip_converts_tj(tmp_path):
    (tmp_path / "TQ5170x.chip").write_text(CHIPS)
    with zelbo.Board(sim=True, data_folder=tmp_path) as b:
        assert b.chips == ["FAST", "SLOW"]
        b.power_on()
        fast = b.tj()
        assert b.select_chip("SLOW") == "SLOW"
        assert b.status()["chip"] == "SLOW"
        slow = b.tj()
        # The same diode reading: Tj = (A - Vf) / B with each chip's A and B.
        vf = 600.0 - 2.0 * fast
        assert slow == pytest.approx((700.0 - vf) / 2.5, abs=0.5)
        with pytest.raises(ValueError, match=r'No chip "NONE" for this drive mode \("FAST", "SLOW"\)'):
            b.select_chip("NONE")
