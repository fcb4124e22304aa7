#!/usr/bin/env python3
"""Writes the real masks of the sound skeleton's tests: scikit-image's text
and coins pictures cut at Otsu's threshold (text: the dark ink; coins: the
bright coins), as PBM files (P4, 1 on the object). Run once; the files are
kept in the repository."""
import os

import numpy as np
from skimage import data, filters

here = os.path.dirname(os.path.abspath(__file__))
for name, dark in (("text", True), ("coins", False)):
    grey = getattr(data, name)()
    t = filters.threshold_otsu(grey)
    mask = (grey <= t) if dark else (grey > t)
    h, w = mask.shape
    with open(os.path.join(here, f"{name}_otsu.pbm"), "wb") as f:
        f.write(b"P4\n%d %d\n" % (w, h))
        f.write(np.packbits(mask, axis=1).tobytes())
