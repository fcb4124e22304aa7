"""solvik.skeletonize against skimage.morphology.skeletonize, in one process.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py BENCH_FOLDER [--runs N] [--sizes 4096]

BENCH_FOLDER holds the benchmark images (NAME_SIZE.raw.gz with NAME_SIZE.txt,
whose first two values are lines and columns). For each of blobs, strokes and
noise, the object is the values 128..255 as a bool mask, made once; both
calls get that same mask, image already in memory. Prints the median time of
N runs of each (scikit-image: at most 3) and the ratio, plus solvik.thin on
the 8-bit image itself (window 128..255, uint8 result).
"""

import argparse
import gzip
import os
import statistics
import sys
import time

import numpy as np

import solvik


def load(folder, name):
    with open(os.path.join(folder, name + ".txt")) as f:
        nb_lig, nb_col = (int(v) for v in f.read().split()[:2])
    with gzip.open(os.path.join(folder, name + ".raw.gz")) as f:
        data = np.frombuffer(f.read(), dtype=np.uint8)
    return data[: nb_lig * nb_col].reshape(nb_lig, nb_col)


def median_seconds(call, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--sizes", default="4096", help="comma-separated sizes, e.g. 1024,4096")
    parser.add_argument("--images", default="blobs,strokes,noise")
    args = parser.parse_args()
    from skimage.morphology import skeletonize as sk_skeletonize
    import skimage

    print(f"solvik {solvik.__version__}, scikit-image {skimage.__version__}, numpy {np.__version__}; "
          f"median of {args.runs} runs (scikit-image: {min(args.runs, 3)})")
    print(f"{'image':<14}{'solvik ms':>11}{'thin ms':>10}{'skimage s':>11}{'ratio':>8}")
    for size in args.sizes.split(","):
        for name in args.images.split(","):
            image = load(args.folder, f"{name}_{size}")
            mask = image >= 128
            ours = median_seconds(lambda: solvik.skeletonize(mask), args.runs)
            thin = median_seconds(lambda: solvik.thin(image, (128, 255)), args.runs)
            theirs = median_seconds(lambda: sk_skeletonize(mask), min(args.runs, 3))
            print(f"{name + ' ' + size:<14}{ours * 1e3:>11.0f}{thin * 1e3:>10.0f}{theirs:>11.2f}{theirs / ours:>7.1f}x",
                  flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
