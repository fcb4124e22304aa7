"""Thinning of images into skeletons one pixel wide, on NumPy arrays.

Functions
---------
skeletonize(mask, *, frame=None, threads=None, as_dialogue=False)
    Bool in, bool out: every non-zero value is object.
thin(image, window=None, *, frame=None, values=(1, 255), threads=None, as_dialogue=False)
    Any numbers in, uint8 out: the values inside the window are object.
prune(skeleton, length, *, values=None, threads=None)
    The skeleton without its short side branches.
graph(skeleton, *, values=None, thin=False, frame=None, threads=None, as_dialogue=False)
    The nodes, branches and components of a skeleton, as tables.

Each call is one run of the program's pipeline, the one its command line
runs: `thin(..., as_dialogue=True)` gives exactly the result the `solvik`
program writes for the same values, window, frame and output values.
`solvik.dask` thins stacks of images held in Dask arrays, and runs the
program over many files on a Dask cluster.

Notes
-----
The skeleton is the program's own (sound) skeleton, which thins every
picture as if it were surrounded by background, so an object touching the
edge is thinned down its middle. `as_dialogue=True` gives the dialogue's
skeleton byte for byte instead, with a frame: frame="keep" (its default)
thins as the program's dialogue does, the outermost lines and columns being
a frame that the skeleton runs along; frame="pad" as if the picture were
surrounded by background. Results have the input's size.

A boolean array's objects are its True pixels (unless a window is given),
an empty array gives an empty result, and views of any strides are read in
place (unaligned ones are copied first).

`threads` is how many threads the thinning of one picture may use (None:
the environment variable SOLVIK_THREADS when it holds a count, else one per
core).

The kernels release the GIL: threads may thin different pictures at once.
Errors are ValueError (shape, window, frame, values, a mask given where a
skeleton is wanted), TypeError (dtype) and MemoryError.
"""

import os as _os

import numpy as _np

from ._solvik import __version__, _graph, _prune, _skeletonize, _thin

__all__ = ["Graph", "skeletonize", "thin", "prune", "graph", "__version__"]


def _readable(array, what):
    """The array as the compiled kernels read it: numeric, native byte order,
    aligned on whole values. Views that qualify are passed as they are (no
    copy), unaligned ones too; float16 becomes float32 and long double
    float64, exactly for every value a window can tell apart in practice."""
    a = _np.asarray(array)
    if a.dtype.kind not in "biuf":
        raise TypeError(f"{what} must hold booleans, integers or floats, not {a.dtype}")
    if a.dtype.kind == "f" and a.dtype.itemsize not in (4, 8):
        a = a.astype(_np.float32 if a.dtype.itemsize < 4 else _np.float64)
    elif not a.dtype.isnative:
        a = a.astype(a.dtype.newbyteorder("="))
    return a  # aligned or not: the compiled module reads each value as bytes


def _frame(frame, as_dialogue):
    """The frame word of a call: the sound skeleton is always padded, the
    dialogue's keeps its frame unless told otherwise."""
    if frame is None:
        return "keep" if as_dialogue else "pad"
    if frame == "keep" and not as_dialogue:
        raise ValueError("frame='keep' is the dialogue's: pass as_dialogue=True for it (the program's own skeleton "
                         "is always thinned as if the picture were surrounded by background)")
    return frame


def _empty(a):
    """True for a 2-D array without lines or columns: its result is empty."""
    return a.ndim == 2 and a.size == 0


def _threads(threads):
    if threads is None:
        # as the command line reads it: a whole number from 1, else one per core
        text = _os.environ.get("SOLVIK_THREADS", "")
        return min(int(text), 1024) if text.isdigit() and int(text) >= 1 else 0
    if isinstance(threads, (bool, _np.bool_)) or not isinstance(threads, (int, _np.integer)) or threads < 0:
        raise ValueError(f"threads must be a whole number, 1 or more (None or 0: every core), not {threads!r}")
    return int(threads)


def _pair(value, what, names):
    try:
        first, second = value
    except (TypeError, ValueError):
        raise ValueError(f"{what} must be a pair ({names}), not {value!r}") from None
    for v in (first, second):
        if isinstance(v, (bool, _np.bool_)) or not isinstance(v, (int, float, _np.integer, _np.floating)):
            raise ValueError(f"{what} must be a pair of numbers ({names}), not {value!r}")
    return first, second


def _byte_pair(value, what, names):
    first, second = _pair(value, what, names)
    for v in (first, second):
        if v != int(v) or not 0 <= v <= 255:
            raise ValueError(f"{what} must be whole numbers in 0..255 ({names}), not {value!r}")
    return int(first), int(second)


def skeletonize(mask, *, frame=None, threads=None, as_dialogue=False):
    """The skeleton of a 2-D mask: every non-zero value is object.

    Parameters
    ----------
    mask : array_like, 2-D
        Booleans, integers or floats; non-zero (NaN included) is object.
        Views are read in place.
    frame : {"pad", "keep"}, optional
        For the dialogue's skeleton: "keep" (its default) thins as the
        dialogue does, "pad" as if the mask were surrounded by background.
        The program's own skeleton is always "pad".
    threads : int, optional
        Threads for this picture (None: SOLVIK_THREADS, else every core).
    as_dialogue : bool
        The dialogue's skeleton, byte for byte.

    Returns
    -------
    numpy.ndarray of bool
        The mask's shape, True on the skeleton. Equals
        ``thin(mask != 0, frame=frame, as_dialogue=as_dialogue) == 1``.
    """
    a = _readable(mask, "the mask")
    n = _threads(threads)
    frame = _frame(frame, as_dialogue)
    if _empty(a):
        _skeletonize(_np.zeros((1, 1), bool), frame, n, bool(as_dialogue))  # checks the frame
        return _np.zeros(a.shape, bool)
    return _skeletonize(a, frame, n, bool(as_dialogue))


def thin(image, window=None, *, frame=None, values=(1, 255), threads=None, as_dialogue=False):
    """The skeleton of the pixels whose values lie in the window.

    Parameters
    ----------
    image : array_like, 2-D
        Integers, floats or booleans; views and non-contiguous arrays are
        read in place through their strides.
    window : (MIN, MAX) or "nonzero", optional
        Values from MIN to MAX, both included, are object, in the image's
        own values (decimals for floats; NaN is never object). MIN above
        MAX is an error. "nonzero": every non-zero value. The default is
        "nonzero" for a boolean image (its True pixels) and (128, 255) for
        any other.
    frame : {"pad", "keep"}, optional
        As for `skeletonize`.
    values : (SKELETON, BACKGROUND)
        The two values of the result, 0..255.
    threads : int, optional
        Threads for this picture (None: SOLVIK_THREADS, else every core).
    as_dialogue : bool
        The dialogue's skeleton, byte for byte.

    Returns
    -------
    numpy.ndarray of uint8
        The image's shape: SKELETON on the skeleton, BACKGROUND elsewhere;
        with ``as_dialogue=True`` byte for byte what the program writes.
    """
    a = _readable(image, "the image")
    if window is None:
        window = "nonzero" if a.dtype.kind == "b" else (128, 255)
    if isinstance(window, str) and window == "nonzero":
        nonzero, lo, hi = True, 0.0, 0.0
    else:
        nonzero = False
        lo, hi = (float(v) for v in _pair(window, "the window", 'MIN, MAX, or "nonzero"'))
    skeleton, background = _byte_pair(values, "the values", "SKELETON, BACKGROUND")
    n = _threads(threads)
    frame = _frame(frame, as_dialogue)
    if _empty(a):
        # the settings are checked as for any picture
        _thin(_np.zeros((1, 1), _np.uint8), lo, hi, nonzero, frame, skeleton, background, n, bool(as_dialogue))
        return _np.full(a.shape, background, _np.uint8)
    return _thin(a, lo, hi, nonzero, frame, skeleton, background, n, bool(as_dialogue))


# --- skeletons as the graph functions take them ------------------------------

def _skeleton_plane(skeleton, values):
    """The skeleton as C-contiguous 1/0 bytes, and the (SKELETON,
    BACKGROUND) values it was read with (None for a bool skeleton).

    A bool skeleton is True on the skeleton. Without `values`, a skeleton
    of 0 and 1 is 1 on the skeleton, and so is one of 1 and 255 (as `thin`
    gives it); any other needs `values`."""
    a = _np.asarray(skeleton)
    if a.dtype.kind == "b" and values is None:
        return a.astype(_np.uint8), None
    if a.dtype.kind not in "biuf":
        raise TypeError(f"the skeleton must be a bool array (as skeletonize gives) or an array of numbers "
                        f"(as thin gives), not {a.dtype}")
    if values is None:
        if a.ndim != 2:
            return a.astype(_np.uint8), (1, 0)  # the kernel names the shape
        found = _np.unique(a)
        if _np.isin(found, (0, 1)).all():
            values = (1, 0)
        elif _np.isin(found, (1, 255)).all():
            values = (1, 255)
        else:
            shown = ", ".join(str(v) for v in found[:4]) + (", ..." if len(found) > 4 else "")
            raise ValueError(f"the skeleton holds the values {shown}: a skeleton of 0 and 1 or of 1 and 255 is read "
                             f"as it is; pass values=(SKELETON, BACKGROUND) for any other")
    on, off = _byte_pair(values, "the values", "SKELETON, BACKGROUND")
    is_on = a == on
    other = ~is_on & (a != off)
    if other.any():
        where = tuple(int(k) for k in _np.argwhere(other)[0])
        raise ValueError(f"the skeleton holds {a[where]} at {where}, which is neither its skeleton value {on} "
                         f"nor its background value {off}; pass values=(SKELETON, BACKGROUND)")
    return is_on.astype(_np.uint8), (on, off)


# The 12 cells around a 2x2 block, in order round it, as (line, column)
# from the cell above and left of the block.
_RING = [(0, 0), (0, 1), (0, 2), (0, 3), (1, 3), (2, 3), (3, 3), (3, 2), (3, 1), (3, 0), (2, 0), (1, 0)]
_ring_branches = None


def _ring_table():
    """How many 8-connected groups the cells of each of the 4096 rings hold:
    the branches that leave a 2x2 block of skeleton."""
    global _ring_branches
    if _ring_branches is None:
        touching = [[k for k, (y, x) in enumerate(_RING) if max(abs(y - v), abs(x - u)) == 1] for v, u in _RING]
        table = _np.zeros(1 << 12, _np.uint8)
        for code in range(1 << 12):
            seen, groups = 0, 0
            for start in range(12):
                if not (code >> start) & 1 or (seen >> start) & 1:
                    continue
                groups += 1
                todo = [start]
                seen |= 1 << start
                while todo:
                    for k in touching[todo.pop()]:
                        if (code >> k) & 1 and not (seen >> k) & 1:
                            seen |= 1 << k
                            todo.append(k)
            table[code] = groups
        _ring_branches = table
    return _ring_branches


def _thick_spot(plane, threads):
    """The (line, column) of the first thick spot of a skeleton, or None: a
    2x2 block of skeleton pixels that fewer than three branches leave (a
    line two pixels wide, the inside of a region) and that thinning would
    take pixels from. A skeleton one pixel wide has 2x2 blocks only where
    three or more branches meet; the thinned skeleton of pixel noise keeps
    blocks round its one-pixel holes, which thinning leaves as they are."""
    p = plane.astype(bool)
    blocks = p[:-1, :-1] & p[1:, :-1] & p[:-1, 1:] & p[1:, 1:]
    if not blocks.any():
        return None
    lines, columns = _np.nonzero(blocks)
    padded = _np.pad(p, 1)
    code = _np.zeros(lines.shape, _np.int32)
    for k, (y, x) in enumerate(_RING):
        code |= padded[lines + y, columns + x].astype(_np.int32) << k
    few = _ring_table()[code] < 3
    if not few.any():
        return None
    removed = p & ~_skeletonize(plane, "pad", threads, False)
    touched = removed[:-1, :-1] | removed[1:, :-1] | removed[:-1, 1:] | removed[1:, 1:]
    thick = _np.flatnonzero(few & touched[lines, columns])
    if not len(thick):
        return None
    return int(lines[thick[0]]), int(columns[thick[0]])


def prune(skeleton, length, *, values=None, threads=None):
    """The skeleton without its side branches shorter than `length` pixels.

    Parameters
    ----------
    skeleton : array_like, 2-D
        A bool array, True on the skeleton (as skeletonize gives); or an
        array of two values: 0 and 1, or 1 and 255 (as thin gives), the
        first the skeleton; or any two values named by `values`.
    length : float
        In pixels (1 along lines and columns, sqrt(2) along diagonals);
        0 removes nothing.
    values : (SKELETON, BACKGROUND), optional
        The skeleton's two values, when they are not found alone.
    threads : int, optional
        Accepted as by every call; pruning runs on one thread.

    Returns
    -------
    numpy.ndarray
        The input's shape and dtype: removed pixels become False, or
        BACKGROUND.

    Notes
    -----
    Side branches (from an end point to a junction) shorter than `length`
    are removed again and again until none is left, the shortest first; a
    junction left with two branches joins them; no stub of a removed branch
    stays. Branches between two end points or two junctions and loops are
    never removed, so no component disappears and no hole opens.
    """
    try:
        length = float(length)
    except (TypeError, ValueError):
        raise ValueError(f"the length must be a number of pixels, not {length!r}") from None
    _threads(threads)
    plane, found = _skeleton_plane(skeleton, values)
    a = _np.asarray(skeleton)
    if _empty(plane):
        if not length >= 0:
            raise ValueError("the length must be a number of pixels, 0 or more")
        return a.copy()
    pruned, _ = _prune(plane, length)
    if found is None:
        return pruned.astype(bool)
    return _np.where(pruned == 1, a.dtype.type(found[0]), a.dtype.type(found[1]))


# --- the graph's tables ------------------------------------------------------

_NODE_KINDS = _np.array(["end", "junction", "isolated"])
_BRANCH_KINDS = _np.array(["end-end", "end-junction", "junction-junction", "loop"])


def _table(columns):
    """A pandas DataFrame of the columns when pandas is there, else the
    dict of NumPy arrays itself."""
    try:
        import pandas
    except ImportError:
        return columns
    return pandas.DataFrame(columns)


class Graph:
    """The graph of a skeleton (8-connected); see `graph`.

    Attributes
    ----------
    branches : DataFrame, or dict of arrays without pandas
        One row per branch, in the order traced:
        ``branch-id``; ``skeleton-id`` (its component); ``node-id-src``,
        ``node-id-dst`` (its end nodes, -1 for a loop; an end-junction
        branch runs from its end to its junction); ``branch-distance``
        (length along its pixels: 1 along lines and columns, sqrt(2) along
        diagonals); ``branch-type`` (0 end-end, 1 end-junction,
        2 junction-junction, 3 loop) and ``kind`` (the same as words:
        "end-end", "end-junction", "junction-junction", "loop");
        ``coord-src-0``, ``coord-src-1``, ``coord-dst-0``, ``coord-dst-1``
        (line and column of its first and last pixel); ``euclidean-distance``
        (between them); ``pixels`` (how many its path has).
    nodes : DataFrame, or dict of arrays
        One row per end point, junction or isolated point, in the raster
        order of its first pixel: ``node-id``, ``skeleton-id``, ``kind``
        ("end", "junction", "isolated"), ``degree`` (branch ends there),
        ``coord-0``, ``coord-1`` (line and column of the centroid of its
        pixels), ``pixels`` (how many).
    summary : DataFrame, or dict of arrays
        One row per component: ``skeleton-id``, ``branches``,
        ``end-points``, ``junctions``, ``isolated``, ``holes`` (the
        background regions it encloses, equal to its independent cycles),
        ``branch-distance`` (total length), ``min-line``, ``min-column``,
        ``max-line``, ``max-column`` (bounding box of its pixels).
    components : int
        The number of 8-connected components.

    Every skeleton pixel belongs to exactly one node, or lies inside exactly
    one branch. ``graph["branches"]`` is ``graph.branches``.
    """

    __slots__ = ("branches", "nodes", "summary", "components", "_columns")

    def __init__(self, columns):
        c = columns
        self._columns = c
        self.components = int(c["components"])
        starts, ends = c["branch_offsets"][:-1], c["branch_offsets"][1:]
        pixels = c["branch_pixels"]
        src = pixels[starts] if len(starts) else _np.zeros((0, 2), _np.int32)
        dst = pixels[ends - 1] if len(ends) else _np.zeros((0, 2), _np.int32)
        kinds = c["branch_kind"]
        self.branches = _table({
            "branch-id": _np.arange(len(kinds)),
            "skeleton-id": c["branch_component"],
            "node-id-src": c["branch_src"],
            "node-id-dst": c["branch_dst"],
            "branch-distance": c["branch_length"],
            "branch-type": kinds,
            "kind": _BRANCH_KINDS[kinds],
            "coord-src-0": src[:, 0],
            "coord-src-1": src[:, 1],
            "coord-dst-0": dst[:, 0],
            "coord-dst-1": dst[:, 1],
            "euclidean-distance": _np.hypot(*(dst - src).T.astype(float)) if len(src) else _np.zeros(0),
            "pixels": ends - starts,
        })
        node_kinds = c["node_kind"]
        self.nodes = _table({
            "node-id": _np.arange(len(node_kinds)),
            "skeleton-id": c["node_component"],
            "kind": _NODE_KINDS[node_kinds],
            "degree": c["node_degree"],
            "coord-0": c["node_line"],
            "coord-1": c["node_column"],
            "pixels": _np.diff(c["node_offsets"]),
        })
        self.summary = _table({
            "skeleton-id": _np.arange(self.components),
            "branches": c["summary_branches"],
            "end-points": c["summary_end_points"],
            "junctions": c["summary_junctions"],
            "isolated": c["summary_isolated"],
            "holes": c["summary_holes"],
            "branch-distance": c["summary_length"],
            "min-line": c["summary_min_line"],
            "min-column": c["summary_min_column"],
            "max-line": c["summary_max_line"],
            "max-column": c["summary_max_column"],
        })

    def path(self, branch):
        """The (n, 2) int32 array of (line, column) of a branch, from the
        pixel of its src node to the pixel of its dst node (a loop is
        closed: its first pixel is also its last)."""
        o = self._columns["branch_offsets"]
        return self._columns["branch_pixels"][o[branch]:o[branch + 1]]

    def node_pixels(self, node):
        """The (n, 2) int32 array of (line, column) of a node's pixels, in
        raster order."""
        o = self._columns["node_offsets"]
        return self._columns["node_pixels"][o[node]:o[node + 1]]

    def __getitem__(self, name):
        if name not in ("branches", "nodes", "summary", "components"):
            raise KeyError(name)
        return getattr(self, name)

    def __repr__(self):
        return (f"<solvik.Graph: {self.components} components, {len(self._columns['node_kind'])} nodes, "
                f"{len(self._columns['branch_kind'])} branches>")


def _no_graph():
    empty_i = _np.zeros(0, _np.int32)
    return {"components": 0, "node_offsets": _np.zeros(1, _np.int64), "node_pixels": _np.zeros((0, 2), _np.int32),
            "branch_offsets": _np.zeros(1, _np.int64), "branch_pixels": _np.zeros((0, 2), _np.int32),
            "node_line": _np.zeros(0), "node_column": _np.zeros(0), "branch_length": _np.zeros(0),
            "summary_length": _np.zeros(0),
            **{k: empty_i for k in ("node_component", "node_kind", "node_degree", "branch_component", "branch_kind",
                                    "branch_src", "branch_dst", "summary_branches", "summary_end_points",
                                    "summary_junctions", "summary_isolated", "summary_holes", "summary_min_line",
                                    "summary_min_column", "summary_max_line", "summary_max_column")}}


def graph(skeleton, *, values=None, thin=False, frame=None, threads=None, as_dialogue=False):
    """The graph of a skeleton (8-connected), as tables.

    Parameters
    ----------
    skeleton : array_like, 2-D
        As for `prune`: bool, or 0 and 1, or 1 and 255, or two values named
        by `values`. It must be one pixel wide: a 2x2 block of skeleton
        pixels is taken where three or more branches leave it, or where
        thinning leaves it as it is (round the one-pixel holes of thinned
        noise).
    values : (SKELETON, BACKGROUND), optional
        The skeleton's two values, when they are not found alone.
    thin : bool
        Take `skeleton` as a mask (non-zero is object) and thin it first,
        as ``skeletonize(skeleton, frame=frame, threads=threads,
        as_dialogue=as_dialogue)`` does.
    frame, threads, as_dialogue
        For the thinning of ``thin=True``, as for `skeletonize`.

    Returns
    -------
    Graph
        Its ``branches``, ``nodes`` and ``summary`` tables (pandas
        DataFrames when pandas is installed, else dicts of NumPy arrays),
        its ``components``, and ``path(branch)`` and ``node_pixels(node)``.

    Raises
    ------
    ValueError
        When the skeleton is thicker than one pixel, naming the first thick
        spot; pass ``thin=True`` to thin a mask first.
    """
    n = _threads(threads)
    if thin:
        plane = skeletonize(skeleton, frame=frame, threads=n, as_dialogue=as_dialogue).astype(_np.uint8)
    else:
        plane, _ = _skeleton_plane(skeleton, values)
    if _empty(plane):
        return Graph(_no_graph())
    if not thin and plane.ndim == 2:
        spot = _thick_spot(plane, n)
        if spot is not None:
            raise ValueError(f"this is not a skeleton one pixel wide: the 2x2 block of skeleton pixels at {spot} "
                             f"(line, column) is no junction of three or more branches, and thinning would take "
                             f"pixels from it; pass thin=True to thin the mask first")
    return Graph(_graph(plane))


def __getattr__(name):
    # solvik.dask imports Dask; only those who use it pay for it
    if name == "dask":
        import importlib

        return importlib.import_module(".dask", __name__)
    raise AttributeError(f"module 'solvik' has no attribute {name!r}")
