#!/usr/bin/env python3
"""The sound skeleton beside other tools' skeletons on real masks.

    sound_peers.py [DRIVER]

DRIVER is the benchmark's solvik_sound_bench (default: build/bench/ next to
this folder); it writes the program's skeletons of a PGM mask: the sound
one, and the dialogue's on the padded picture (today's road). The
masks are scikit-image's sample pictures (text, coins, page, camera) cut at
Otsu's threshold. Beside the program: scikit-image's skeletonize and thin,
and OpenCV's thinning (cv2.ximgproc) when it is installed.

For each mask and tool, one line of counts: objects lost (8-connected
objects of the mask without a skeleton pixel), objects split (whose
skeleton is in pieces), holes lost (4-connected background enclosed by the
mask, filled or merged), new holes, skeleton pixels outside the mask,
removable pixels that are not line ends (simple: deleting them changes no
count above), and end points (exactly one neighbour).

Exits with 77 when scikit-image is missing.
"""
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
    from scipy import ndimage
    from skimage import data, filters
    from skimage.morphology import skeletonize, thin
except ImportError as missing:
    print(f"skipped: {missing}")
    sys.exit(77)

EIGHT = np.ones((3, 3), dtype=int)
FOUR = ndimage.generate_binary_structure(2, 1)


def masks():
    """The sample pictures cut at Otsu's threshold: the dark side for ink
    and figures, the bright side for the coins."""
    for name, dark in (("text", True), ("coins", False), ("page", True), ("camera", True)):
        grey = getattr(data, name)()
        t = filters.threshold_otsu(grey)
        yield name, (grey <= t) if dark else (grey > t)


def simple_table():
    """For each of the 256 rings (bit k: ring cell k in the order NW, N, NE,
    E, SE, S, SW, W) whether the centre is simple: one 8-connected group of
    object neighbours and one 4-connected group of background neighbours
    touching a side."""
    offsets = [(0, 0), (0, 1), (0, 2), (1, 2), (2, 2), (2, 1), (2, 0), (1, 0)]
    table = np.zeros(256, dtype=bool)
    for code in range(256):
        ring = np.zeros((3, 3), dtype=bool)
        for k, (r, c) in enumerate(offsets):
            ring[r, c] = (code >> k) & 1
        _, objects = ndimage.label(ring, structure=EIGHT)
        back = ~ring
        back[1, 1] = False
        labels, _ = ndimage.label(back, structure=FOUR)
        sides = {labels[r, c] for r, c in ((0, 1), (1, 2), (2, 1), (1, 0)) if labels[r, c]}
        table[code] = objects == 1 and len(sides) == 1
    return table


SIMPLE = simple_table()


def ring_codes(skel):
    p = np.pad(skel.astype(np.uint16), 1)
    h, w = skel.shape
    offsets = [(0, 0), (0, 1), (0, 2), (1, 2), (2, 2), (2, 1), (2, 0), (1, 0)]
    code = np.zeros((h, w), dtype=np.uint16)
    for k, (r, c) in enumerate(offsets):
        code |= p[r:r + h, c:c + w] << k
    return code


def counts(mask, skel):
    mask = np.pad(mask.astype(bool), 1)
    skel = np.pad(skel.astype(bool), 1)
    outside = int((skel & ~mask).sum())
    mo, nmo = ndimage.label(mask, structure=EIGHT)
    so, _ = ndimage.label(skel, structure=EIGHT)
    pairs = np.unique(np.stack([mo[skel], so[skel]]), axis=1) if skel.any() else np.zeros((2, 0), int)
    per_object = np.bincount(pairs[0], minlength=nmo + 1)[1:] if pairs.size else np.zeros(nmo, int)
    lost = int((per_object == 0).sum())
    split = int((per_object > 1).sum())
    mb, _ = ndimage.label(~mask, structure=FOUR)
    sb, nsb = ndimage.label(~skel, structure=FOUR)
    inside = ~mask
    bpairs = np.unique(np.stack([sb[inside], mb[inside]]), axis=1)
    per_back = np.bincount(bpairs[0], minlength=nsb + 1)[1:]
    holes_lost = int(np.clip(per_back - 1, 0, None).sum())
    new_holes = int((per_back == 0).sum())
    code = ring_codes(skel)
    neighbours = np.zeros_like(code)
    for k in range(8):
        neighbours += (code >> k) & 1
    removable = int((skel & (neighbours != 1) & SIMPLE[code]).sum())
    ends = int((skel & (neighbours == 1)).sum())
    return lost, split, holes_lost, new_holes, outside, removable, ends


def program_skeleton(driver, mask, folder, road="sound"):
    src, dst = os.path.join(folder, "mask.pgm"), os.path.join(folder, "skeleton.pgm")
    h, w = mask.shape
    with open(src, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w, h))
        f.write((mask.astype(np.uint8) * 255).tobytes())
    subprocess.run([driver, "--skeleton", src, dst, road], check=True)
    with open(dst, "rb") as f:
        raw = f.read()
    return np.frombuffer(raw[-h * w:], dtype=np.uint8).reshape(h, w) > 0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    driver = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "bench", "solvik_sound_bench")
    tools = [("solvik sound", "sound"), ("solvik dialogue (padded)", "dialogue"),
             ("skimage skeletonize", skeletonize), ("skimage thin", thin)]
    try:
        import cv2
        if hasattr(cv2, "ximgproc"):
            tools.append(("OpenCV Guo-Hall", lambda m: cv2.ximgproc.thinning(
                m.astype(np.uint8) * 255, thinningType=cv2.ximgproc.THINNING_GUOHALL) > 0))
    except ImportError:
        print("OpenCV with its contrib modules is not installed: left out")
    print("| mask | tool | objects lost | split | holes lost | new holes | outside | removable | end points |")
    print("|---|---|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as folder:
        for name, mask in masks():
            for tool, fn in tools:
                skel = program_skeleton(driver, mask, folder, fn) if isinstance(fn, str) else fn(mask)
                row = " | ".join(str(v) for v in counts(mask, skel))
                print(f"| {name} {mask.shape[0]}x{mask.shape[1]} | {tool} | {row} |")


if __name__ == "__main__":
    main()
