"""Helpers of the Python tests: pictures, the program's own three formats,
and running the program's command line.

    blobs(seed, nb_lig, nb_col, low, high)   grey pictures with objects of every size
    write_raw / write_bmp / write_asc        an array as the program reads it
    read_result(path, nb_lig, nb_col)        a result the program wrote, as uint8
    run_cli(program, args)                   the command line, its result checked
"""

import os
import struct
import subprocess

import numpy as np


def blobs(seed, nb_lig, nb_col, low=0, high=255):
    """Random noise smoothed three times by a 5x5 box: grey levels from low to
    high in regions of many sizes, so any window cuts objects and holes."""
    rng = np.random.default_rng(seed)
    a = rng.random((nb_lig, nb_col))
    for _ in range(3):
        p = np.pad(a, 2, mode="wrap")
        a = sum(p[di:di + nb_lig, dj:dj + nb_col] for di in range(5) for dj in range(5)) / 25
    a = (a - a.min()) / max(a.max() - a.min(), 1e-12)
    return np.rint(low + a * (high - low)).astype(np.int64)


def write_raw(path, image):
    image.astype(np.uint8).tofile(path)
    with open(os.path.splitext(path)[0] + ".txt", "w") as f:
        f.write(f"{image.shape[0]}\n{image.shape[1]}\n1\n0\n255\n1\n")


def write_bmp(path, image):
    """An 8-bit BMP with the grey-ramp palette, bottom line first."""
    nb_lig, nb_col = image.shape
    row = (nb_col + 3) // 4 * 4
    pixels = np.zeros((nb_lig, row), np.uint8)
    pixels[:, :nb_col] = image[::-1]
    offset = 14 + 40 + 1024
    header = struct.pack("<2sIHHI", b"BM", offset + pixels.size, 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, nb_col, nb_lig, 1, 8, 0, pixels.size, 2835, 2835, 256, 0)
    palette = bytes(v for g in range(256) for v in (g, g, g, 0))
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels.tobytes())


def write_asc(path, image):
    """An ASCII grid; integers as they are, floats with repr (exact)."""
    nb_lig, nb_col = image.shape
    lines = [f"ncols {nb_col}", f"nrows {nb_lig}", "xllcorner 1000", "yllcorner 2000", "cellsize 5",
             "NODATA_value -99999"]
    for line in image:
        lines.append(" ".join(repr(float(v)) if image.dtype.kind == "f" else str(int(v)) for v in line))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def read_result(path, nb_lig, nb_col):
    ext = os.path.splitext(path)[1]
    if ext == ".raw":
        data = np.fromfile(path, np.uint8)
        assert data.size == nb_lig * nb_col, (path, data.size)
        return data.reshape(nb_lig, nb_col)
    if ext == ".bmp":
        data = open(path, "rb").read()
        offset, = struct.unpack_from("<I", data, 10)
        width, height = struct.unpack_from("<ii", data, 18)
        assert (height, width) == (nb_lig, nb_col), (path, height, width)
        row = (width + 3) // 4 * 4
        return np.frombuffer(data, np.uint8, height * row, offset).reshape(height, row)[::-1, :width]
    if ext == ".asc":
        tokens = open(path).read().split()
        values = np.array([int(float(t)) for t in tokens[-nb_lig * nb_col:]])
        return values.astype(np.uint8).reshape(nb_lig, nb_col)
    raise ValueError(f"no reader for {path}")


def cli_available(program):
    """True when the program takes the command line (INPUT OUTPUT with -w)."""
    if not program or not os.path.isfile(program):
        return False
    run = subprocess.run([program, "--help"], capture_output=True, text=True, stdin=subprocess.DEVNULL)
    return "--window" in run.stdout + run.stderr


def run_cli(program, args, cwd=None):
    run = subprocess.run([program, *args], capture_output=True, text=True, stdin=subprocess.DEVNULL, cwd=cwd,
                         timeout=120)
    assert run.returncode == 0, f"{args}: exit {run.returncode}: {run.stderr}"
    return run
