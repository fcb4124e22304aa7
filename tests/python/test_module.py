"""solvik.thin and solvik.skeletonize: the command line's results, every
dtype and memory layout, every error, threads, and the properties shared with
scikit-image's skeletonize."""

import concurrent.futures
import os

import numpy as np
import pytest

import solvik
from support import blobs, cli_available, read_result, run_cli, write_asc, write_bmp, write_raw

PROGRAM = os.environ.get("SOLVIK_PROGRAM")
needs_cli = pytest.mark.skipif(not cli_available(PROGRAM), reason="the program's command line is not built")


# name, writer, picture, window, frame, values
CLI_CASES = [
    ("raw keep", write_raw, blobs(1, 37, 53), (100, 200), "keep", (1, 255)),
    ("raw pad", write_raw, blobs(2, 40, 31), (128, 255), "pad", (1, 255)),
    ("bmp keep", write_bmp, blobs(3, 29, 45), (0, 127), "keep", (0, 255)),
    ("bmp pad", write_bmp, blobs(4, 33, 34), (90, 255), "pad", (255, 0)),
    ("asc negative values", write_asc, blobs(5, 31, 41, -300, 300), (-120, 40), "keep", (1, 255)),
    ("asc float32", write_asc, (blobs(6, 35, 27) / 8).astype(np.float32), (12.5, 22.375), "pad", (7, 3)),
    ("1 x N", write_raw, blobs(7, 1, 40), (100, 255), "keep", (1, 255)),
    ("N x 1", write_raw, blobs(8, 40, 1), (100, 255), "pad", (1, 255)),
    ("1 x 1", write_raw, np.full((1, 1), 200), (100, 255), "pad", (1, 255)),
    ("all object", write_raw, np.full((12, 17), 200), (100, 255), "keep", (1, 255)),
    ("all object pad", write_raw, np.full((12, 17), 200), (100, 255), "pad", (1, 255)),
    ("all background", write_bmp, np.full((9, 11), 30), (100, 255), "pad", (1, 255)),
]


@needs_cli
@pytest.mark.parametrize("name, write, picture, window, frame, values", CLI_CASES, ids=[c[0] for c in CLI_CASES])
def test_thin_equals_the_command_line(tmp_path, name, write, picture, window, frame, values):
    ext = {write_raw: ".raw", write_bmp: ".bmp", write_asc: ".asc"}[write]
    source, result = tmp_path / f"in put{ext}", tmp_path / f"out{ext}"
    write(str(source), picture)
    window_word = ":".join(repr(float(v)) if picture.dtype.kind == "f" else str(v) for v in window)
    run_cli(PROGRAM, ["-q", "-w", window_word, "--frame", frame, "--values", f"{values[0]}:{values[1]}",
                      str(source), str(result)])
    expected = read_result(str(result), *picture.shape)
    # the command line thins with the kept frame as the dialogue does, padded with the sound skeleton
    got = solvik.thin(picture, window, frame=frame, values=values, as_dialogue=frame == "keep")
    assert got.dtype == np.uint8 and got.shape == picture.shape
    np.testing.assert_array_equal(got, expected)


# the skeletons: the program's own, the dialogue's with its frame and padded
SKELETONS = [dict(), dict(frame="keep", as_dialogue=True), dict(frame="pad", as_dialogue=True)]
SKELETON_IDS = ["sound", "dialogue keep", "dialogue pad"]


@pytest.mark.parametrize("kind", SKELETONS, ids=SKELETON_IDS)
def test_skeletonize_equals_thin_of_the_same_mask(kind):
    for seed in range(20):
        picture = blobs(seed, 20 + seed, 45 - seed)
        mask = picture > 140
        skeleton = solvik.skeletonize(mask, **kind)
        assert skeleton.dtype == np.bool_
        np.testing.assert_array_equal(skeleton, solvik.thin(mask, (1, 1), **kind) == 1)
        np.testing.assert_array_equal(skeleton, solvik.skeletonize(np.where(mask, -2.5, 0.0), **kind))


DTYPES = [np.bool_, np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16, np.uint32, np.uint64, np.float16,
          np.float32, np.float64, np.longdouble, ">i4", ">u2", ">f8"]


@pytest.mark.parametrize("dtype", DTYPES, ids=[np.dtype(d).str for d in DTYPES])
def test_every_dtype_gives_the_uint8_result(dtype):
    picture = blobs(11, 30, 40, 0, 100)
    window = (1, 1) if np.dtype(dtype).kind == "b" else (40, 70)
    reference = solvik.thin((picture > 50) if window == (1, 1) else picture.astype(np.uint8), window)
    converted = (picture > 50) if window == (1, 1) else picture.astype(dtype)
    np.testing.assert_array_equal(solvik.thin(converted, window), reference)


def test_float_windows_are_exact_and_nan_is_background():
    picture = blobs(12, 25, 25) / 16.0
    lo, hi = np.quantile(picture, [0.3, 0.8])  # both bounds are values of the picture: included
    expected = solvik.thin(((picture >= lo) & (picture <= hi)).astype(np.uint8), (1, 1))
    np.testing.assert_array_equal(solvik.thin(picture, (lo, hi)), expected)
    with_nan = np.where((picture >= lo) & (picture <= hi), picture, np.nan)
    np.testing.assert_array_equal(solvik.thin(with_nan, (-np.inf, np.inf)), expected)


def test_views_are_read_in_place_as_their_copies():
    base = blobs(13, 48, 60)
    records = np.zeros(base.shape, dtype=[("a", np.uint8), ("b", np.int32)])  # packed: "b" is not aligned
    records["b"] = base
    stack = np.stack([base, base[::-1], base.T[:48, :48].repeat(2, 1)[:, :60]], axis=2)
    views = {
        "every other line, every third column": base[::2, ::3],
        "transposed": base.T,
        "reversed both ways": base[::-1, ::-1],
        "Fortran order": np.asfortranarray(base),
        "a field of packed records": records["b"],
        "a plane of a 3-D stack": stack[:, :, 1],
        "a window": base[5:40, 7:51],
        "one line repeated (stride 0)": np.broadcast_to(base[20], (30, base.shape[1])),
    }
    for name, view in views.items():
        before = view.copy()
        got = solvik.thin(view, (128, 255), frame="pad")
        np.testing.assert_array_equal(got, solvik.thin(np.ascontiguousarray(view), (128, 255), frame="pad"),
                                      err_msg=name)
        np.testing.assert_array_equal(view, before, err_msg=f"{name}: input changed")
    assert solvik.thin([[0, 200, 200], [0, 200, 0]]).shape == (2, 3)  # nested lists are arrays too


@pytest.mark.parametrize("kind", SKELETONS, ids=SKELETON_IDS)
@pytest.mark.parametrize("shape", [(1, 1), (1, 9), (9, 1), (2, 2), (3, 50)])
def test_small_and_uniform_pictures(shape, kind):
    nothing = solvik.thin(np.zeros(shape, np.uint8), values=(4, 9), **kind)
    assert (nothing == 9).all()
    everything = solvik.thin(np.full(shape, 255, np.uint8), values=(4, 9), **kind)
    assert set(np.unique(everything)) <= {4, 9}
    assert not solvik.skeletonize(np.zeros(shape, bool), **kind).any()


ERRORS = [
    (lambda: solvik.thin(np.zeros((3, 4, 2))), ValueError, "2-D"),
    (lambda: solvik.thin(np.zeros(5)), ValueError, "2-D"),
    (lambda: solvik.skeletonize(np.zeros((2, 2, 2), bool)), ValueError, "2-D"),
    (lambda: solvik.thin(np.zeros((0, 5, 2))), ValueError, "2-D"),  # empty 2-D arrays give empty results
    (lambda: solvik.skeletonize(np.zeros((4, 0, 1), bool)), ValueError, "2-D"),
    (lambda: solvik.thin(np.zeros((3, 3)), (200, 100)), ValueError, "MIN is above its MAX"),
    (lambda: solvik.thin(np.zeros((3, 3)), (np.nan, 1)), ValueError, "NaN"),
    (lambda: solvik.thin(np.zeros((3, 3)), (1,)), ValueError, "pair"),
    (lambda: solvik.thin(np.zeros((3, 3)), "128:255"), ValueError, "pair"),
    (lambda: solvik.thin(np.zeros((3, 3)), frame="wrap"), ValueError, "unknown frame mode 'wrap'"),
    (lambda: solvik.skeletonize(np.zeros((3, 3)), frame="Pad"), ValueError, "unknown frame mode 'Pad'"),
    (lambda: solvik.thin(np.zeros((3, 3)), frame="keep"), ValueError, "frame='keep' is the dialogue's"),
    (lambda: solvik.thin(np.zeros((3, 3)), values=(0, 256)), ValueError, "0..255"),
    (lambda: solvik.thin(np.zeros((3, 3)), values=(1.5, 2)), ValueError, "whole numbers"),
    (lambda: solvik.thin(np.zeros((3, 3), complex)), TypeError, "complex128"),
    (lambda: solvik.thin(np.array([["a", "b"]])), TypeError, "integers or floats"),
    (lambda: solvik.thin(np.zeros((3, 3), object)), TypeError, "object"),
]


@pytest.mark.parametrize("call, error, words", ERRORS, ids=[e[2] + f" {k}" for k, e in enumerate(ERRORS)])
def test_errors_are_python_exceptions_with_clear_messages(call, error, words):
    with pytest.raises(error, match=words.replace("(", r"\(")):
        call()


def test_four_threads_give_the_single_thread_results():
    pictures = [blobs(20 + k, 300 + 20 * k, 280) for k in range(4)]
    frames = ["keep", "pad", "keep", "pad"]
    alone = [solvik.thin(p, (120, 255), frame=f, as_dialogue=True) for p, f in zip(pictures, frames)]
    for _ in range(3):
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            together = list(pool.map(lambda pf: solvik.thin(pf[0], (120, 255), frame=pf[1], as_dialogue=True),
                                     zip(pictures, frames)))
        for a, b in zip(alone, together):
            np.testing.assert_array_equal(a, b)


def test_properties_shared_with_scikit_image():
    """On random masks with frame="pad" (scikit-image's skeletonize also
    treats the outside as background): the same holes as the mask and as
    scikit-image's skeleton, one component per mask component that keeps a
    skeleton (compact objects without holes may thin away wholly, as the
    thinning rules say: a 2x2 block vanishes), inside the mask, and one pixel
    wide: a 2x2 block of skeleton only where three or more branches leave
    it, which holds for both."""
    ndimage = pytest.importorskip("scipy.ndimage")
    skimage_skeletonize = pytest.importorskip("skimage.morphology").skeletonize
    eight = np.ones((3, 3), int)

    def holes(mask):  # 4-connected background regions not touching the edge
        return ndimage.label(np.pad(~mask, 1, constant_values=True))[1] - 1

    def thick_spots(skeleton):  # 2x2 blocks that fewer than three branches leave
        padded, spots = np.pad(skeleton, 1), 0
        blocks = skeleton[:-1, :-1] & skeleton[1:, :-1] & skeleton[:-1, 1:] & skeleton[1:, 1:]
        for i, j in np.argwhere(blocks):
            around = padded[i:i + 4, j:j + 4].copy()
            around[1:3, 1:3] = False
            spots += ndimage.label(around, structure=eight)[1] < 3
        return spots

    for seed in range(300):
        rng = np.random.default_rng(seed)
        mask = blobs(seed, *rng.integers(3, 70, 2)) >= rng.integers(60, 200)
        ours = solvik.skeletonize(mask, frame="pad")
        theirs = skimage_skeletonize(mask)
        assert holes(ours) == holes(mask) == holes(theirs), seed
        labels, count = ndimage.label(mask, structure=eight)
        ours_labels, ours_count = ndimage.label(ours, structure=eight)
        kept = 0
        for k in range(1, count + 1):
            inside = np.unique(ours_labels[(labels == k) & ours])
            assert len(inside) <= 1, f"seed {seed}: component {k} split"
            kept += len(inside)
            if not len(inside):
                assert holes(labels == k) == 0, f"seed {seed}: a component with a hole vanished"
        assert ours_count == kept == ndimage.label(theirs, structure=eight)[1] - (count - kept), seed
        assert not (ours & ~mask).any(), seed
        assert thick_spots(ours) == thick_spots(theirs) == 0, seed
