"""Indexing from Python: cells found again from lines worked out by Bragg's law, and the refusals."""
import itertools
import math

import pytest

import powderkit as pk

WAVELENGTH = 1.5406


def bragg_lines(metric, allowed, count=14):
    """The distinct Q = 1/d² (Å⁻²) of the reflexions `allowed` keeps, ascending, the first `count`."""
    q = {round(metric(*hkl), 12) for hkl in itertools.product(range(9), repeat=3) if any(hkl) and allowed(*hkl)}
    return sorted(v for v in q if WAVELENGTH * math.sqrt(v) / 2 < 1)[:count]


# F-centred cubic a = 5 Å given as 2θ = 2 asin(λ √Q / 2); I-centred tetragonal a = 4, c = 6.5 Å given as d = 1/√Q.
CASES = [("cubic", "F", (5.0, 5.0), lambda h, k, l: (h * h + k * k + l * l) / 25.0,
          lambda h, k, l: h % 2 == k % 2 == l % 2, WAVELENGTH),
         ("tetragonal", "I", (4.0, 6.5), lambda h, k, l: (h * h + k * k) / 16.0 + l * l / 42.25,
          lambda h, k, l: (h + k + l) % 2 == 0, 0.0)]


@pytest.mark.parametrize("system, centring, edges, metric, allowed, wavelength", CASES)
def test_index_finds_the_cell_of_bragg_lines(system, centring, edges, metric, allowed, wavelength):
    q = bragg_lines(metric, allowed)
    given = ([2 * math.degrees(math.asin(WAVELENGTH * math.sqrt(v) / 2)) for v in q] if wavelength
             else [1 / math.sqrt(v) for v in q])
    found = pk.index(given[::-1], wavelength=wavelength, systems="cubic,tetragonal")
    best = found[0]
    assert (best.system, best.centring, best.rank, len(best.unindexed)) == (system, centring, 1, 0)
    assert best.cell[0] == pytest.approx(edges[0], abs=1e-4) and best.cell[2] == pytest.approx(edges[1], abs=1e-4)
    assert best.le_bail_rwp is None and "rank" in repr(found)
    # Each line's h k l puts it at its Q by the true metric; the lines come ascending in 2θ.
    assert len(best.hkl) == len(found.lines) == len(q)
    for hkl, line in zip(best.hkl, found.lines):
        observed = (2 * math.sin(math.radians(line) / 2) / WAVELENGTH) ** 2 if wavelength else line ** -2
        assert metric(*hkl) == pytest.approx(observed, rel=1e-6)


def test_index_refuses_bad_arguments():
    lines = [20.0 + 5 * k for k in range(10)]
    for arguments, message in [(dict(systems="cubic,cubik"), "'cubik' is not a crystal system"),
                               (dict(volume=(10,)), "volume must be None or"),
                               (dict(max_unindexed=1.5), "max_unindexed must be a whole number"),
                               (dict(lines=4), "^lines = 4 is not within 6")]:
        with pytest.raises(pk.Error, match=message):
            pk.index(lines, wavelength=WAVELENGTH, **arguments)
    with pytest.raises(pk.Error, match="needs the wavelength"):
        pk.index(lines)
    with pytest.raises(pk.Error, match="not str"):
        pk.index("peaks.txt", wavelength=WAVELENGTH)
