"""ASCII grids against GDAL.

Provides one check, run as `python3 ascii_gdal.py <path-of-solvik>`:
  - a small Byte picture is made into ASCII grids by gdal_translate, once
    without and once with a NODATA_value line (GDAL pads its keywords and
    starts every value with a blank);
  - the program reads both and its results equal, value for value, the
    result of the same picture given as a raster (.raw with its .txt
    descriptor);
  - gdalinfo and gdal_translate read the program's result with the same
    width, height, corner and cell size (six decimals) and the same pixels.
Exit status: 0 pass, 1 fail, 77 when the GDAL tools are not installed.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile

# 200 on '#', 100 on 'o' (outside the window 128..255), 0 on '.'.
PICTURE = [
    "............",
    ".####....o..",
    ".####....#..",
    ".####....#..",
    ".........#..",
    "..######.#..",
    "..######..o.",
    "..######....",
    ".....#......",
    ".....#......",
]
GREY = {"#": 200, "o": 100, ".": 0}
X_MIN, Y_MIN, CELL = 1000.5, 2000.0, 30.0
ANSWERS = "site\n{fmt}\n{name}\n0\n128\n255\n"


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(cmd, cwd, stdin=None):
    done = subprocess.run(cmd, cwd=cwd, input=stdin, capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        fail("%s exited with %d\n%s%s" % (" ".join(cmd), done.returncode, done.stdout[-2000:], done.stderr))
    return done.stdout


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def read_our_grid(path):
    """Header (ours is positional, six pairs) and values of a result grid."""
    text = read_bytes(path).decode("ascii")
    if not text.endswith("\t") or text.count("\n") != 6:
        fail("%s is not six header lines and one tab-terminated grid line" % path)
    tokens = text.split()
    header = dict(zip(tokens[0:12:2], tokens[1:12:2]))
    return header, [int(t) for t in tokens[12:]]


def main():
    if len(sys.argv) != 2:
        print("usage: ascii_gdal.py <path-of-solvik>")
        return 2
    solvik = os.path.abspath(sys.argv[1])
    if not shutil.which("gdal_translate") or not shutil.which("gdalinfo"):
        print("skip: the GDAL tools are not installed")
        return 77

    height, width = len(PICTURE), len(PICTURE[0])
    pixels = bytes(GREY[c] for row in PICTURE for c in row)
    with tempfile.TemporaryDirectory() as tmp:
        site = os.path.join(tmp, "images", "site")
        os.makedirs(site)

        # The picture as a raster for the program, and as a GDAL dataset
        # (the same bytes through a raw VRT with its corner and cell size).
        with open(os.path.join(site, "r.raw"), "wb") as f:
            f.write(pixels)
        with open(os.path.join(site, "r.txt"), "w") as f:
            f.write("%d\n%d\n1\n0\n255\n1\n" % (height, width))
        vrt = os.path.join(tmp, "pic.vrt")
        with open(vrt, "w") as f:
            f.write(
                '<VRTDataset rasterXSize="%d" rasterYSize="%d">\n'
                "  <GeoTransform>%r, %r, 0, %r, 0, %r</GeoTransform>\n"
                '  <VRTRasterBand dataType="Byte" band="1" subClass="VRTRawRasterBand">\n'
                '    <SourceFilename relativeToVRT="0">%s</SourceFilename>\n'
                "    <ImageOffset>0</ImageOffset><PixelOffset>1</PixelOffset><LineOffset>%d</LineOffset>\n"
                "  </VRTRasterBand>\n"
                "</VRTDataset>\n" % (width, height, X_MIN, CELL, Y_MIN + height * CELL, -CELL,
                                     os.path.join(site, "r.raw"), width))

        run(["gdal_translate", "-q", "-of", "AAIGrid", vrt, os.path.join(site, "g.asc")], tmp)
        run(["gdal_translate", "-q", "-of", "AAIGrid", "-a_nodata", "0", vrt, os.path.join(site, "gn.asc")], tmp)
        for name, with_nodata in (("g.asc", False), ("gn.asc", True)):
            has = b"nodata_value" in read_bytes(os.path.join(site, name)).lower()
            if has != with_nodata:
                fail("GDAL wrote %s %s a NODATA_value line" % (name, "without" if with_nodata else "with"))
        inputs = {n: read_bytes(os.path.join(site, n)) for n in ("g.asc", "gn.asc")}

        run([solvik], tmp, ANSWERS.format(fmt=0, name="r"))
        expected = list(read_bytes(os.path.join(site, "r_reg.raw")))
        if len(expected) != width * height or set(expected) != {1, 255}:
            fail("the raster result is not %d values of 1 and 255" % (width * height))

        for name in ("g", "gn"):
            run([solvik], tmp, ANSWERS.format(fmt=2, name=name))
            result = os.path.join(site, name + "_reg.asc")
            header, values = read_our_grid(result)
            want = {"ncols": str(width), "nrows": str(height), "xllcorner": "%f" % X_MIN,
                    "yllcorner": "%f" % Y_MIN, "cellsize": "%f" % CELL, "nodata_value": "-9999.9999"}
            if header != want:
                fail("%s header %s, expected %s" % (result, header, want))
            if values != expected:
                fail("%s differs from the raster result" % result)
            if read_bytes(os.path.join(site, name + ".asc")) != inputs[name + ".asc"]:
                fail("the input %s.asc was changed" % name)

            # GDAL reads our result back: size, corner, cell size, pixels.
            info = json.loads(run(["gdalinfo", "-json", result], tmp))
            if info["size"] != [width, height]:
                fail("gdalinfo size %s" % info["size"])
            got = ["%.6f" % v for v in info["geoTransform"]]
            want_gt = ["%.6f" % v for v in (X_MIN, CELL, 0, Y_MIN + height * CELL, 0, -CELL)]
            if got != want_gt:
                fail("gdalinfo geotransform %s, expected %s" % (got, want_gt))
            back = os.path.join(tmp, name + "_back.raw")
            run(["gdal_translate", "-q", "-of", "ENVI", "-ot", "Byte", result, back], tmp)
            if list(read_bytes(back)) != expected:
                fail("gdal_translate reads other pixels from %s" % result)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
