#!/usr/bin/env python3
"""Whole runs of the command line against the fastest peer's thinning call.

    /usr/bin/python3 bench/whole_runs.py BENCH_FOLDER [--program build/solvik] [--runs 5]

For blobs, strokes and noise 4096 x 4096 (BENCH_FOLDER holds NAME.raw.gz and
NAME.txt), in one run of this script:

- the peers, each on the mask (values 128..255) already in memory, thinning
  call alone, median of three: scikit-image's skeletonize and thin, OpenCV's
  ximgproc thinning (Zhang-Suen and Guo-Hall) and Leptonica's
  pixThinConnected (8-connected, through ctypes), whichever are installed;
- whole runs of the program on the picture written as its own raster
  (.raw + .txt) into a temporary folder: `solvik -q --timings IN OUT`, the
  default skeleton and --as-dialogue, median of --runs; each run's wall
  time from start to exit, and its stages from --timings (what is left is
  starting: loading the program and its libraries, planning, exit).

Prints one table: the fastest peer, the whole run, its ratio to the peer
and the share of the run spent in each stage.
"""
import argparse
import ctypes
import ctypes.util
import gzip
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

GOALS = {"blobs": 0.06, "strokes": 0.15, "noise": 0.20}
STAGES = ("reading", "thinning", "finishing", "writing")


def load(folder, name):
    with open(os.path.join(folder, name + ".txt")) as f:
        lines, columns = (int(v) for v in f.read().split()[:2])
    with gzip.open(os.path.join(folder, name + ".raw.gz")) as f:
        data = np.frombuffer(f.read(), dtype=np.uint8)
    return data[: lines * columns].reshape(lines, columns)


def median_seconds(call, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


class Leptonica:
    """pixThinConnected on a 1-bit Pix made from a bool mask."""

    def __init__(self):
        path = ctypes.util.find_library("lept") or ctypes.util.find_library("leptonica")
        if not path:
            raise OSError("Leptonica is not installed")
        lib = ctypes.CDLL(path)
        lib.pixCreate.restype = ctypes.c_void_p
        lib.pixCreate.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int]
        lib.pixGetData.restype = ctypes.POINTER(ctypes.c_uint32)
        lib.pixGetData.argtypes = [ctypes.c_void_p]
        lib.pixGetWpl.restype = ctypes.c_int
        lib.pixGetWpl.argtypes = [ctypes.c_void_p]
        lib.pixThinConnected.restype = ctypes.c_void_p
        lib.pixThinConnected.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int]
        lib.pixDestroy.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
        self.lib = lib

    def pix_of(self, mask):
        lines, columns = mask.shape
        pix = self.lib.pixCreate(columns, lines, 1)
        wpl = self.lib.pixGetWpl(pix)
        packed = np.zeros((lines, wpl * 4), dtype=np.uint8)
        packed[:, : (columns + 7) // 8] = np.packbits(mask, axis=1, bitorder="big")
        # pixel 0 is the most significant bit of each 32-bit word
        words = packed.view(">u4").astype(np.uint32)
        ctypes.memmove(self.lib.pixGetData(pix), words.ctypes.data, words.nbytes)
        return pix

    def thin(self, pix):
        out = ctypes.c_void_p(self.lib.pixThinConnected(pix, 1, 8, 0))  # L_THIN_FG, 8-connected, until done
        self.lib.pixDestroy(ctypes.byref(out))

    def free(self, pix):
        p = ctypes.c_void_p(pix)
        self.lib.pixDestroy(ctypes.byref(p))


def peers():
    """(name, call on a bool mask, setup) for each installed peer."""
    found = []
    try:
        from skimage.morphology import skeletonize, thin

        found.append(("scikit-image skeletonize", skeletonize, None))
        found.append(("scikit-image thin", thin, None))
    except ImportError:
        pass
    try:
        import cv2

        if hasattr(cv2, "ximgproc"):
            for kind, label in ((cv2.ximgproc.THINNING_ZHANGSUEN, "Zhang-Suen"), (cv2.ximgproc.THINNING_GUOHALL, "Guo-Hall")):
                found.append((f"OpenCV {label}", lambda m, k=kind: cv2.ximgproc.thinning(m, thinningType=k),
                              lambda mask: mask.astype(np.uint8) * 255))
    except ImportError:
        pass
    try:
        lept = Leptonica()
        found.append(("Leptonica pixThinConnected", lept.thin, lept.pix_of))
    except OSError:
        pass
    return found


def whole_run(program, source, result, options):
    """Wall seconds of one run and its stages from --timings."""
    for f in (result, result[:-4] + ".txt"):
        if os.path.exists(f):
            os.remove(f)
    start = time.perf_counter()
    done = subprocess.run([program, "-q", "--timings", *options, source, result], capture_output=True, text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        raise RuntimeError(f"{program} ended with status {done.returncode}: {done.stderr.strip()}")
    stages = {name: float(v) for name, v in re.findall(r"(\w+) ([0-9.]+) s", done.stderr)}
    return wall, stages


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--program", default=os.path.join(os.path.dirname(__file__), "..", "build", "solvik"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--size", default="4096")
    args = parser.parse_args()
    found = peers()
    print("peers: " + (", ".join(name for name, _, _ in found) or "none installed"))
    print(f"whole runs: {args.program} -q --timings IN.raw OUT.raw, median of {args.runs}; peers: median of 3\n")
    print("| image | skeleton | fastest peer | peer s | whole run s | ratio | goal | "
          + " | ".join(STAGES) + " | starting |")
    print("|---|---|---|---:|---:|---:|---:|" + "---:|" * (len(STAGES) + 1))
    with tempfile.TemporaryDirectory() as work:
        for kind in ("blobs", "strokes", "noise"):
            name = f"{kind}_{args.size}"
            image = load(args.folder, name)
            mask = image >= 128
            best = None
            for label, call, setup in found:
                data = setup(mask) if setup else mask
                seconds = median_seconds(lambda: call(data), 3)
                if label.startswith("Leptonica"):
                    Leptonica().free(data)
                if best is None or seconds < best[1]:
                    best = (label, seconds)
            source = os.path.join(work, name + ".raw")
            image.tofile(source)
            with open(os.path.join(work, name + ".txt"), "w") as f:
                f.write(f"{image.shape[0]}\n{image.shape[1]}\n1\n0\n255\n1\n")
            result = os.path.join(work, name + "_out.raw")
            for skeleton, options in (("default", []), ("--as-dialogue", ["--as-dialogue"])):
                runs = [whole_run(args.program, source, result, options) for _ in range(args.runs)]
                walls = sorted(runs, key=lambda r: r[0])
                wall, stages = walls[len(walls) // 2]
                shares = [stages.get(s, 0.0) / wall for s in STAGES]
                peer = f"{best[0]} | {best[1]:.3f}" if best else "- | -"
                ratio = f"{wall / best[1]:.3f}" if best else "-"
                print(f"| {name} | {skeleton} | {peer} | {wall:.3f} | {ratio} | {GOALS[kind]:.2f} | "
                      + " | ".join(f"{100 * s:.0f} %" for s in shares) + f" | {100 * (1 - sum(shares)):.0f} % |",
                      flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
