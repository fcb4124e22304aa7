"""Thinning of images into skeletons one pixel wide, on numpy arrays.

    skeletonize(mask, *, frame="keep")                     bool in, bool out
    thin(image, window=(128, 255), *, frame="keep", values=(1, 255))
                                                           any numbers in, uint8 out
    prune(skeleton, length, *, values=(1, 255))            side branches removed
    graph(skeleton, *, values=(1, 255))                    nodes and branches

`thin` gives exactly the result the `solvik` program writes for the same
values, window, frame and output values. `solvik.dask.thin_files` runs the
program over many files on a Dask cluster.

frame="keep" thins as the program's dialogue does: the outermost lines and
columns are a frame that the skeleton runs along. frame="pad" thins the
picture as if it were surrounded by background, so an object touching the
edge is thinned down its middle; the result has the input's size.

The kernels release the GIL: threads may thin different pictures at once.
Errors are ValueError (shape, window, frame, values) and TypeError (dtype).
"""

import numpy as _np

from ._solvik import __version__, _graph, _prune, _skeletonize, _thin

__all__ = ["skeletonize", "thin", "prune", "graph", "__version__"]


def _readable(array, what):
    """The array as the compiled kernels read it: numeric, native byte order,
    aligned on whole values. Views that qualify are passed as they are (no
    copy); float16 becomes float32 and long double float64, exactly for every
    value a window can tell apart in practice."""
    a = _np.asarray(array)
    if a.dtype.kind not in "biuf":
        raise TypeError(f"{what} must hold booleans, integers or floats, not {a.dtype}")
    if a.dtype.kind == "f" and a.dtype.itemsize not in (4, 8):
        a = a.astype(_np.float32 if a.dtype.itemsize < 4 else _np.float64)
    elif not a.dtype.isnative:
        a = a.astype(a.dtype.newbyteorder("="))
    if a.ndim == 2 and (not a.flags.aligned or a.strides[1] % a.itemsize != 0):
        a = _np.ascontiguousarray(a)
    return a


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


def skeletonize(mask, *, frame="keep"):
    """The skeleton of a 2-D mask: every non-zero value is object.

    mask   2-D array of any boolean, integer or float dtype (non-zero, NaN
           included, is object); views are read in place.
    frame  "keep" or "pad" (see the package's documentation).

    Returns a bool array of the mask's shape, True on the skeleton. Equals
    ``thin(mask != 0, window=(1, 1), frame=frame) == 1``.
    """
    return _skeletonize(_readable(mask, "the mask"), frame)


def thin(image, window=(128, 255), *, frame="keep", values=(1, 255)):
    """The skeleton of the pixels whose values lie in the window.

    image   2-D array of any integer or float dtype (or bool); views and
            non-contiguous arrays are read in place through their strides.
    window  (MIN, MAX): values from MIN to MAX, both included, are object,
            in the image's own values (decimals for floats; NaN is never
            object). MIN above MAX is an error.
    frame   "keep" or "pad" (see the package's documentation).
    values  (SKELETON, BACKGROUND): the two values of the result, 0..255.

    Returns a uint8 array of the image's shape: SKELETON on the skeleton,
    BACKGROUND elsewhere; byte for byte what the program writes.
    """
    lo, hi = _pair(window, "the window", "MIN, MAX")
    skeleton, background = _byte_pair(values, "the values", "SKELETON, BACKGROUND")
    return _thin(_readable(image, "the image"), float(lo), float(hi), frame, skeleton, background)


def _skeleton_plane(skeleton, values):
    """A bool skeleton as it is, or a two-valued array by its (SKELETON,
    BACKGROUND) values, as the C-contiguous 1/0 bytes the graph functions
    take."""
    a = _np.asarray(skeleton)
    on, off = _byte_pair(values, "the values", "SKELETON, BACKGROUND")
    if a.dtype.kind == "b":
        return a.astype(_np.uint8)
    if a.dtype.kind not in "iu":
        raise TypeError(f"the skeleton must be a bool array (as skeletonize gives) or an integer array "
                        f"(as thin gives), not {a.dtype}")
    is_on = a == on
    other = ~is_on & (a != off)
    if other.any():
        where = tuple(int(k) for k in _np.argwhere(other)[0])
        raise ValueError(f"the skeleton holds {a[where]} at {where}, which is neither its skeleton value {on} "
                         f"nor its background value {off}; pass values=(SKELETON, BACKGROUND)")
    return is_on.astype(_np.uint8)


def prune(skeleton, length, *, values=(1, 255)):
    """The skeleton without its side branches shorter than `length` pixels.

    skeleton  a bool array, True on the skeleton (as skeletonize gives), or
              an integer array of two values (as thin gives), SKELETON and
              BACKGROUND as `values` says (default thin's (1, 255)).
    length    in pixels (1 along lines and columns, sqrt(2) along
              diagonals); 0 removes nothing.

    Side branches (from an end point to a junction) shorter than `length`
    are removed again and again until none is left, the shortest first; a
    junction left with two branches joins them; no stub of a removed branch
    stays. Branches between two end points or two junctions and loops are
    never removed, so no component disappears and no hole opens.

    Returns an array of the input's shape and dtype: removed pixels become
    False, or BACKGROUND.
    """
    try:
        length = float(length)
    except (TypeError, ValueError):
        raise ValueError(f"the length must be a number of pixels, not {length!r}") from None
    plane = _skeleton_plane(skeleton, values)
    pruned, _ = _prune(plane, length)
    a = _np.asarray(skeleton)
    if a.dtype.kind == "b":
        return pruned.astype(bool)
    return _np.where(pruned == 1, a.dtype.type(values[0]), a.dtype.type(values[1]))


def graph(skeleton, *, values=(1, 255)):
    """The graph of a skeleton (8-connected), as plain Python data.

    skeleton  as for prune: bool, or two-valued by `values`.

    Returns a dict:
      "nodes": a list of dicts, one per end point, junction or isolated
          point: "id" (its position in the list), "kind" ("end",
          "junction", "isolated"), "component", "degree" (branch ends
          there), "coords" (line, column) of the centroid of its pixels,
          "pixels" an (n, 2) int32 array of (line, column).
      "branches": a list of dicts: "id", "kind" ("end-end",
          "end-junction", "junction-junction", "loop"), "component",
          "coords" an (n, 2) int32 array of (line, column) from the pixel of
          its from-node to the pixel of its to-node (a loop is closed: its
          first pixel is also its last), "length" in pixels (1 along lines
          and columns, sqrt(2) along diagonals), "from_node" and "to_node"
          (node ids; None for a loop).
      "components": the number of 8-connected components.
    Every skeleton pixel belongs to exactly one node, or lies inside exactly
    one branch.
    """
    return _graph(_skeleton_plane(skeleton, values))


def __getattr__(name):
    # solvik.dask imports Dask; only those who use it pay for it
    if name == "dask":
        import importlib

        return importlib.import_module(".dask", __name__)
    raise AttributeError(f"module 'solvik' has no attribute {name!r}")
