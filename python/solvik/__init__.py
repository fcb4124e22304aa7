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

from ._solvik import __version__, _skeletonize, _thin

__all__ = ["skeletonize", "thin", "__version__"]


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
        if v != int(v):
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


def __getattr__(name):
    # solvik.dask imports Dask; only those who use it pay for it
    if name == "dask":
        import importlib

        return importlib.import_module(".dask", __name__)
    raise AttributeError(f"module 'solvik' has no attribute {name!r}")
