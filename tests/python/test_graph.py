"""solvik.graph and solvik.prune from Python: the tables they give, the kinds
of skeleton they take, and their errors."""

import numpy as np
import pytest

import solvik
from support import blobs


def columns(table):
    """A table's columns as NumPy arrays, pandas or not."""
    return {name: np.asarray(table[name]) for name in table}


def rows(table):
    c = columns(table)
    return [dict(zip(c, values)) for values in zip(*c.values())]


def picture(rows):
    return np.array([[c == "#" for c in row] for row in rows])


# A line from (4, 1) to (4, 9) with a spur up from (4, 5) of length 3 and a
# spur down from (4, 2) of length 3.
CROSSING = picture([
    "...........",
    ".....#.....",
    ".....#.....",
    ".....#.....",
    ".#########.",
    "..#........",
    "..#........",
    "..#........",
    "...........",
])


def test_the_graph_as_tables():
    g = solvik.graph(CROSSING)
    assert g["components"] == g.components == 1
    nodes = {(n["coord-0"], n["coord-1"]): n for n in rows(g.nodes)}
    assert {c: n["kind"] for c, n in nodes.items()} == {
        (1.0, 5.0): "end", (4.0, 1.0): "end", (4.0, 9.0): "end", (7.0, 2.0): "end",
        (4.0, 2.0): "junction", (4.0, 5.0): "junction"}
    assert [n["node-id"] for n in rows(g.nodes)] == list(range(6))
    branches = sorted((b["kind"], b["branch-distance"], tuple(map(tuple, g.path(b["branch-id"])[[0, -1]])))
                      for b in rows(g.branches))
    assert branches == [
        ("end-junction", 1.0, ((4, 1), (4, 2))),
        ("end-junction", 3.0, ((1, 5), (4, 5))),
        ("end-junction", 3.0, ((7, 2), (4, 2))),
        ("end-junction", 4.0, ((4, 9), (4, 5))),
        ("junction-junction", 3.0, ((4, 2), (4, 5))),
    ]
    for b in rows(g.branches):
        path = g.path(b["branch-id"])
        assert path.shape == (b["pixels"], 2) and path.dtype == np.int32
        ends = {tuple(g.node_pixels(b["node-id-src"])[0]), tuple(g.node_pixels(b["node-id-dst"])[0])}
        assert ends == {tuple(path[0]), tuple(path[-1])}
        assert (b["coord-src-0"], b["coord-src-1"], b["coord-dst-0"], b["coord-dst-1"]) == (*path[0], *path[-1])
        assert b["branch-type"] == ["end-end", "end-junction", "junction-junction", "loop"].index(b["kind"])
    summary = rows(g.summary)
    assert summary == [{"skeleton-id": 0, "branches": 5, "end-points": 4, "junctions": 2, "isolated": 0, "holes": 0,
                        "branch-distance": 14.0, "min-line": 1, "min-column": 1, "max-line": 7, "max-column": 9}]
    ring = solvik.graph(picture(["....", ".##.", "#..#", ".##."]))
    assert len(ring.nodes["node-id"]) == 0 and list(ring.branches["kind"]) == ["loop"]
    assert ring.branches["node-id-src"][0] == -1 and ring.summary["holes"][0] == 1


def test_every_skeleton_pixel_is_in_one_node_or_inside_one_branch():
    for seed in range(15):
        skeleton = solvik.skeletonize(blobs(seed, 60, 70) > 130, frame="pad")
        g = solvik.graph(skeleton)
        count = np.zeros(skeleton.shape, int)
        for n in range(len(g.nodes["node-id"])):
            np.add.at(count, tuple(g.node_pixels(n).T), 1)
        for b in rows(g.branches):
            path = g.path(b["branch-id"])
            inside = path[:-1] if b["kind"] == "loop" else path[1:-1]
            np.add.at(count, tuple(inside.T), 1)
        np.testing.assert_array_equal(count, skeleton.astype(int), err_msg=f"seed {seed}")


def test_thins_result_and_bool_skeleton_give_the_same_answers():
    image = blobs(3, 80, 90)
    result = solvik.thin(image, (128, 255), frame="pad")
    skeleton = result == 1
    same = str(columns(solvik.graph(skeleton).branches))
    assert str(columns(solvik.graph(result).branches)) == same
    other = np.where(skeleton, 7, 0).astype(np.int16)
    assert str(columns(solvik.graph(other, values=(7, 0)).branches)) == same
    assert str(columns(solvik.graph(skeleton.astype(np.float32)).branches)) == same  # 0 and 1, found alone
    for length in (0, 3, 10):
        pruned = solvik.prune(skeleton, length)
        assert pruned.dtype == np.bool_
        np.testing.assert_array_equal(solvik.prune(result, length), np.where(pruned, 1, 255).astype(np.uint8))
        np.testing.assert_array_equal(solvik.prune(other, length, values=(7, 0)), np.where(pruned, 7, 0))
    np.testing.assert_array_equal(solvik.prune(skeleton, 0), skeleton)


def test_pruning_removes_short_spurs_shortest_first():
    # 1.5: the spur of one pixel goes, its junction then joins the spur
    # below with the line. 3.5: the spur up goes too (3 < 3.5), but the spur
    # below is now part of a side branch of length 6 and stays.
    without_tip = CROSSING.copy()
    without_tip[4, 1] = False
    joined = picture([
        "...........",
        "...........",
        "...........",
        "...........",
        "..########.",
        "..#........",
        "..#........",
        "..#........",
        "...........",
    ])
    for length, expected in [(1.0, CROSSING), (1.5, without_tip), (3.5, joined)]:
        np.testing.assert_array_equal(solvik.prune(CROSSING, length), expected, err_msg=f"length {length}")


def test_pruning_keeps_components_and_holes():
    ndimage = pytest.importorskip("scipy.ndimage")
    eight = np.ones((3, 3), int)
    for seed in range(15):
        skeleton = solvik.skeletonize(blobs(seed, 70, 60) > 120, frame="pad")
        pruned = solvik.prune(skeleton, 8)
        assert (pruned <= skeleton).all()
        assert ndimage.label(pruned, structure=eight)[1] == ndimage.label(skeleton, structure=eight)[1], seed
        holes = [ndimage.label(np.pad(~s, 1, constant_values=True))[1] for s in (pruned, skeleton)]
        assert holes[0] == holes[1], seed
        g = solvik.graph(pruned)
        branches = columns(g.branches)
        short_spurs = (branches["kind"] == "end-junction") & (branches["branch-distance"] < 8)
        assert not short_spurs.any(), seed
        # the summary counts the skeleton's holes and components
        in_summary = columns(g.summary)["holes"]
        assert in_summary.sum() == holes[0] - 1 and len(in_summary) == g.components, seed  # less the outside


ERRORS = [
    (lambda: solvik.graph(np.array([[1, 255, 3]], np.uint8), values=(1, 255)), ValueError, "holds 3 at (0, 2)"),
    (lambda: solvik.graph(np.array([[1, 255, 3]], np.uint8)), ValueError, "holds the values 1, 3, 255"),
    (lambda: solvik.prune(np.array([[0, 1], [1, 0]], np.uint8), 2, values=(1, 255)), ValueError,
     "neither its skeleton value 1"),
    (lambda: solvik.graph(np.zeros((2, 2), complex), values=(1, 0)), TypeError, "complex128"),
    (lambda: solvik.graph(np.zeros((2, 2, 2), bool)), ValueError, "2-D"),
    (lambda: solvik.prune(np.zeros((0, 3), bool), -2), ValueError, "0 or more"),
    (lambda: solvik.prune(CROSSING, -1), ValueError, "0 or more"),
    (lambda: solvik.prune(CROSSING, "long"), ValueError, "number of pixels"),
    (lambda: solvik.prune(CROSSING, 2, values=(1, 300)), ValueError, "0..255"),
]


@pytest.mark.parametrize("call, error, words", ERRORS, ids=[e[2] for e in ERRORS])
def test_errors(call, error, words):
    with pytest.raises(error, match=words.replace("(", r"\(").replace(")", r"\)")):
        call()
