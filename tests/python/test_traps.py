"""What a new user tries first: booleans, skeletons of 0 and 1, empty and
unaligned arrays, a mask given to graph, thread counts, and the tables with
and without pandas."""

import os
import sys

import numpy as np
import pytest

import solvik
from support import blobs

MASK = blobs(5, 40, 50) > 140
SKELETON = solvik.skeletonize(MASK, frame="pad")


def unaligned_int32(picture):
    """The picture's values as int32 at an odd address: contiguous, unaligned."""
    raw = bytearray(picture.size * 4 + 1)
    a = np.frombuffer(raw, np.int32, picture.size, offset=1).reshape(picture.shape)
    a[...] = picture
    assert not a.flags.aligned and a.flags.c_contiguous
    return a


def same(expected):
    return lambda got: np.testing.assert_array_equal(got, expected)


def empty_like(shape, dtype, value=0):
    def check(got):
        assert got.shape == shape and got.dtype == dtype and (got == value).all()
    return check


def with_environment(variables, call):
    saved = {k: os.environ.get(k) for k in variables}
    os.environ.update(variables)
    try:
        return call()
    finally:
        for k, v in saved.items():
            os.environ.pop(k) if v is None else os.environ.__setitem__(k, v)


def graph_rows(g):
    return {name: len(np.asarray(table[next(iter(table))])) for name, table in
            (("branches", g.branches), ("nodes", g.nodes), ("summary", g.summary))}


# name, call, check of the result (or the exception and words of its message)
TRAPS = [
    ("thin of a bool mask thins its True pixels",
     lambda: solvik.thin(MASK, frame="pad"), same(np.where(SKELETON, 1, 255))),
    ("thin of a bool mask with a window uses the window",
     lambda: solvik.thin(MASK, (0, 0), frame="pad"), same(solvik.thin(~MASK, (1, 1), frame="pad"))),
    ("thin's window 'nonzero'",
     lambda: solvik.thin(np.where(MASK, -3, 0), "nonzero", frame="pad"), same(np.where(SKELETON, 1, 255))),
    ("prune of a 0/1 skeleton keeps its dtype and values",
     lambda: solvik.prune(SKELETON.astype(np.uint8), 5), same(solvik.prune(SKELETON, 5).astype(np.uint8))),
    ("prune of thin's 1/255 result",
     lambda: solvik.prune(np.where(SKELETON, 1, 255), 5), same(np.where(solvik.prune(SKELETON, 5), 1, 255))),
    ("graph of a 0/1 skeleton",
     lambda: graph_rows(solvik.graph(SKELETON.astype(np.int64))), same(graph_rows(solvik.graph(SKELETON)))),
    ("graph of a mask thinned first",
     lambda: graph_rows(solvik.graph(MASK, thin=True, frame="pad")), same(graph_rows(solvik.graph(SKELETON)))),
    ("thin of an empty array", lambda: solvik.thin(np.zeros((0, 5))), empty_like((0, 5), np.uint8)),
    ("thin of an empty array gives its background",
     lambda: solvik.thin(np.zeros((3, 0), np.int16), values=(1, 7)), empty_like((3, 0), np.uint8)),
    ("skeletonize of an empty array", lambda: solvik.skeletonize(np.zeros((4, 0), bool)), empty_like((4, 0), bool)),
    ("prune of an empty skeleton", lambda: solvik.prune(np.zeros((0, 0), bool), 3), empty_like((0, 0), bool)),
    ("graph of an empty skeleton",
     lambda: (solvik.graph(np.zeros((0, 7), np.uint8)).components, graph_rows(solvik.graph(np.zeros((0, 7), bool)))),
     same((0, {"branches": 0, "nodes": 0, "summary": 0}))),
    ("thin of an unaligned int32 array",
     lambda: solvik.thin(unaligned_int32(blobs(6, 30, 20)), frame="pad"), same(solvik.thin(blobs(6, 30, 20), frame="pad"))),
    ("every thread count gives the same bytes",
     lambda: [solvik.thin(blobs(7, 300, 200), threads=n).tobytes() for n in (1, 2, 3, 8, None)],
     lambda got: len(set(got)) == 1 or pytest.fail("thread counts differ")),
    ("the dialogue's skeleton keeps its frame unless told",
     lambda: solvik.skeletonize(MASK, as_dialogue=True), same(solvik.thin(MASK, frame="keep", as_dialogue=True) == 1)),
    ("SOLVIK_THREADS is read when no count is given",
     lambda: with_environment({"SOLVIK_THREADS": "3"}, lambda: solvik._threads(None)), same(3)),
    ("a SOLVIK_THREADS that is no count means every core",
     lambda: with_environment({"SOLVIK_THREADS": "many"}, lambda: solvik._threads(None)), same(0)),
    # errors
    ("graph of a mask", lambda: solvik.graph(MASK), (ValueError, r"2x2 block of skeleton pixels at \(\d+, \d+\)")),
    ("graph of a line two pixels wide", lambda: solvik.graph(np.pad(np.ones((2, 6), bool), 2)),
     (ValueError, r"at \(2, 2\).*thin=True")),
    ("graph of a filled 3x3 block inside a skeleton",
     lambda: solvik.graph(np.pad(np.ones((3, 3), np.uint8), 1)), (ValueError, r"at \(1, 1\)")),
    ("a picture beyond memory", lambda: solvik.skeletonize(np.broadcast_to(np.True_, (2**30, 2**30))), (MemoryError, "")),
    ("prune of three values", lambda: solvik.prune(np.array([[0, 1, 2]]), 3), (ValueError, "values=")),
    ("thin with negative threads", lambda: solvik.thin(MASK, threads=-1), (ValueError, "threads")),
    ("graph with threads of a float", lambda: solvik.graph(SKELETON, threads=1.5), (ValueError, "threads")),
    ("empty arrays check their settings", lambda: solvik.thin(np.zeros((0, 5)), frame="wrap"),
     (ValueError, "unknown frame mode")),
    ("an empty array keeps its dtype check", lambda: solvik.thin(np.zeros((0, 5), complex)), (TypeError, "complex")),
]


@pytest.mark.parametrize("name, call, check", TRAPS, ids=[t[0] for t in TRAPS])
def test_traps(name, call, check):
    if isinstance(check, tuple):
        error, words = check
        with pytest.raises(error, match=words):
            call()
    else:
        check(call())


@pytest.mark.parametrize("frame", ["keep", "pad"])
def test_skeletons_are_taken_by_graph_and_masks_refused(frame):
    kind = dict(frame=frame, as_dialogue=frame == "keep")
    """graph refuses thick spots, and never one of skeletonize's (masks of
    every density; pixel noise in pad frame, where its skeleton keeps
    blocks round one-pixel holes) nor one of scikit-image's; every mask
    with an object at least three pixels thick is refused."""
    skimage = pytest.importorskip("skimage.morphology") if frame == "pad" else None
    for seed in range(150):
        rng = np.random.default_rng(seed)
        shape = rng.integers(2, 80, 2)
        noise = seed % 3 == 0
        mask = rng.random(shape) < rng.random() if noise else blobs(seed, *shape) >= rng.integers(40, 220)
        skeletons = [] if noise and frame == "keep" else [solvik.skeletonize(mask, **kind)]
        if skimage and not noise:
            skeletons.append(skimage.skeletonize(mask))
        for skeleton in skeletons:
            g = solvik.graph(skeleton)  # raises on a thick spot
            assert g.components == len(np.asarray(g.summary["holes"])), seed
        inside = mask[:-2, :-2] & mask[1:-1, 1:-1] & mask[2:, 2:] & mask[:-2, 2:] & mask[2:, :-2]
        if not noise and inside.any():
            with pytest.raises(ValueError, match="thin=True"):
                solvik.graph(mask)


def test_tables_are_dicts_of_arrays_without_pandas(monkeypatch):
    with_pandas = solvik.graph(SKELETON)
    monkeypatch.setitem(sys.modules, "pandas", None)  # import pandas now fails
    g = solvik.graph(SKELETON)
    for name in ("branches", "nodes", "summary"):
        table = getattr(g, name)
        assert isinstance(table, dict) and all(isinstance(v, np.ndarray) for v in table.values())
        assert list(table) == list(with_pandas[name])
        for column in table:
            np.testing.assert_array_equal(table[column], np.asarray(with_pandas[name][column]))
    assert {"skeleton-id", "node-id-src", "node-id-dst", "branch-distance", "branch-type", "coord-src-0",
            "coord-dst-1", "euclidean-distance"} <= set(g.branches)
    assert "holes" in g.summary and "loops" not in g.summary


def test_tables_are_data_frames_with_pandas():
    pandas = pytest.importorskip("pandas")
    g = solvik.graph(SKELETON)
    assert all(isinstance(t, pandas.DataFrame) for t in (g.branches, g.nodes, g.summary))
    assert g.summary["branches"].sum() == len(g.branches)
