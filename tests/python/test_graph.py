"""solvik.graph and solvik.prune from Python: the data they give, the two
kinds of skeleton they take, and their errors."""

import numpy as np
import pytest

import solvik
from support import blobs


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


def test_the_graph_as_python_data():
    g = solvik.graph(CROSSING)
    assert g["components"] == 1
    nodes = {tuple(n["coords"]): n for n in g["nodes"]}
    assert {c: n["kind"] for c, n in nodes.items()} == {
        (1.0, 5.0): "end", (4.0, 1.0): "end", (4.0, 9.0): "end", (7.0, 2.0): "end",
        (4.0, 2.0): "junction", (4.0, 5.0): "junction"}
    assert [n["id"] for n in g["nodes"]] == list(range(6))
    branches = sorted((b["kind"], b["length"], tuple(map(tuple, b["coords"][[0, -1]]))) for b in g["branches"])
    assert branches == [
        ("end-junction", 1.0, ((4, 1), (4, 2))),
        ("end-junction", 3.0, ((1, 5), (4, 5))),
        ("end-junction", 3.0, ((7, 2), (4, 2))),
        ("end-junction", 4.0, ((4, 9), (4, 5))),
        ("junction-junction", 3.0, ((4, 2), (4, 5))),
    ]
    for b in g["branches"]:
        assert b["coords"].shape == (len(b["coords"]), 2) and b["coords"].dtype == np.int32
        ends = {tuple(g["nodes"][b["from_node"]]["pixels"][0]), tuple(g["nodes"][b["to_node"]]["pixels"][0])}
        assert ends == {tuple(b["coords"][0]), tuple(b["coords"][-1])}
    ring = solvik.graph(picture(["....", ".##.", "#..#", ".##."]))
    assert ring["nodes"] == [] and [b["kind"] for b in ring["branches"]] == ["loop"]
    assert ring["branches"][0]["from_node"] is None


def test_every_skeleton_pixel_is_in_one_node_or_inside_one_branch():
    for seed in range(15):
        skeleton = solvik.skeletonize(blobs(seed, 60, 70) > 130, frame="pad")
        g = solvik.graph(skeleton)
        count = np.zeros(skeleton.shape, int)
        for n in g["nodes"]:
            np.add.at(count, tuple(n["pixels"].T), 1)
        for b in g["branches"]:
            inside = b["coords"][:-1] if b["kind"] == "loop" else b["coords"][1:-1]
            np.add.at(count, tuple(inside.T), 1)
        np.testing.assert_array_equal(count, skeleton.astype(int), err_msg=f"seed {seed}")


def test_thins_result_and_bool_skeleton_give_the_same_answers():
    image = blobs(3, 80, 90)
    result = solvik.thin(image, (128, 255), frame="pad")
    skeleton = result == 1
    assert str(solvik.graph(result)) == str(solvik.graph(skeleton))
    other = np.where(skeleton, 7, 0).astype(np.int16)
    assert str(solvik.graph(other, values=(7, 0))) == str(solvik.graph(skeleton))
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
        short_spurs = [b for b in solvik.graph(pruned)["branches"] if b["kind"] == "end-junction" and b["length"] < 8]
        assert short_spurs == [], seed


ERRORS = [
    (lambda: solvik.graph(np.array([[1, 255, 3]], np.uint8)), ValueError, "holds 3 at (0, 2)"),
    (lambda: solvik.prune(np.array([[0, 1], [1, 0]], np.uint8), 2), ValueError, "neither its skeleton value 1"),
    (lambda: solvik.graph(np.zeros((2, 2)), values=(1, 0)), TypeError, "float64"),
    (lambda: solvik.graph(np.zeros((2, 2, 2), bool)), ValueError, "2-D"),
    (lambda: solvik.prune(np.zeros((0, 3), bool), 2), ValueError, "empty"),
    (lambda: solvik.prune(CROSSING, -1), ValueError, "0 or more"),
    (lambda: solvik.prune(CROSSING, "long"), ValueError, "number of pixels"),
    (lambda: solvik.prune(CROSSING, 2, values=(1, 300)), ValueError, "0..255"),
]


@pytest.mark.parametrize("call, error, words", ERRORS, ids=[e[2] for e in ERRORS])
def test_errors(call, error, words):
    with pytest.raises(error, match=words.replace("(", r"\(").replace(")", r"\)")):
        call()
