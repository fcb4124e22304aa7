"""The command line on files made by other tools, and its results read back.

Run as `python3 cli_gdal.py <path-of-solvik>`:
  - one grey picture is made with Pillow, then turned by gdal_translate and
    Pillow into GeoTIFF Byte / UInt16 / Float32 (a coordinate system, a
    nodata value that covers one object), PNG grey and RGBA, 1-bit, 32-bit
    and top-down BMP, PGM;
  - the program thins each with the window that selects the same objects;
    every result (GeoTIFF, PNG, PGM, ASCII grid) holds the values and size of
    the program's own raster result of the same picture, and gdalinfo finds
    the input's geotransform and coordinate system in GeoTIFF results and
    in ASCII grid results (corner and cell size);
  - a GeoTIFF cut short is an error naming it, never a result of zeros;
  - the skeleton graph's lines and nodes read back with ogrinfo in the
    input's coordinate system.
Exit status: 0 pass, 1 fail, 77 when GDAL's tools or Pillow are missing.
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

try:
    from PIL import Image, ImageDraw
except ImportError:
    Image = None

W, H = 96, 64
ULX, ULY, CELL = 500000.0, 4600000.0, 2.0
SRS = "EPSG:32631"


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(cmd, cwd, status=0):
    done = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=300)
    if done.returncode != status:
        fail("%s exited with %d (expected %d)\n%s%s" % (" ".join(cmd), done.returncode, status, done.stdout,
                                                         done.stderr))
    return done


def picture():
    """Grey 20 background, objects of 150, 200 (the nodata object), 240."""
    im = Image.new("L", (W, H), 20)
    d = ImageDraw.Draw(im)
    d.rectangle([6, 6, 40, 24], fill=150)
    d.ellipse([50, 8, 88, 40], fill=200)
    d.rectangle([0, 44, W - 1, 52], fill=240)
    d.line([10, 60, 60, 30], fill=150, width=3)
    return im


def values_of(path, cwd):
    """Pixel values of a result: the program's grid text, or what GDAL reads."""
    if path.endswith(".asc"):
        tokens = open(os.path.join(cwd, path)).read().split()
        return [int(t) for t in tokens[12:]]
    run(["gdal_translate", "-q", "-of", "ENVI", path, path + ".envi"], cwd)
    with open(os.path.join(cwd, path + ".envi"), "rb") as f:
        return list(f.read())


def info(path, cwd):
    return json.loads(run(["gdalinfo", "-json", path], cwd).stdout)


def reference(grey, name, cwd, window="128:255"):
    """The program's raster result of a grey picture given as bytes."""
    with open(os.path.join(cwd, name + ".raw"), "wb") as f:
        f.write(bytes(grey))
    with open(os.path.join(cwd, name + ".txt"), "w") as f:
        f.write("%d %d 1 0 255 1\n" % (H, W))
    run([SOLVIK, "--as-dialogue", "-w", window, name + ".raw", name + "_reg.raw"], cwd)
    with open(os.path.join(cwd, name + "_reg.raw"), "rb") as f:
        return list(f.read())


def top_down(bmp_bytes):
    """An 8-bit bottom-up BMP turned into the same picture stored top down."""
    offset, = struct.unpack_from("<I", bmp_bytes, 10)
    width, height = struct.unpack_from("<ii", bmp_bytes, 18)
    row = (width + 3) // 4 * 4
    rows = [bmp_bytes[offset + k * row: offset + (k + 1) * row] for k in range(height)]
    head = bytearray(bmp_bytes[:offset])
    struct.pack_into("<i", head, 22, -height)
    return bytes(head) + b"".join(reversed(rows))


def main():
    global SOLVIK
    SOLVIK = os.path.abspath(sys.argv[1])
    if Image is None or not all(shutil.which(t) for t in ("gdal_translate", "gdalinfo", "ogrinfo")):
        print("skip: Pillow or the GDAL tools are not installed")
        return 77
    formats = run([SOLVIK, "--formats"], ".").stdout
    if "GTiff" not in formats:
        print("skip: this build of solvik has no GDAL")
        return 77

    with tempfile.TemporaryDirectory() as cwd:
        im = picture()
        grey = list(im.tobytes())
        im.save(os.path.join(cwd, "grey.png"))
        expected = reference(grey, "ref", cwd)
        # the nodata value covers the object of 200: background
        expected_nodata = reference([0 if v == 200 else v for v in grey], "refnd", cwd)

        # a colour picture whose luma is the grey one's neighbour: Pillow's
        # convert("L") is the rounded luma the program uses
        colour = Image.merge("RGB", (im, im.point(lambda v: min(255, v + 9)), im.point(lambda v: v // 2)))
        colour_grey = list(colour.convert("L").tobytes())
        expected_colour = reference(colour_grey, "refc", cwd)
        colour.convert("RGBA").save(os.path.join(cwd, "rgba.png"))
        colour.convert("RGBA").save(os.path.join(cwd, "bgra32.bmp"))
        with open(os.path.join(cwd, "bgra32.bmp"), "rb") as f:
            if struct.unpack_from("<H", f.read(), 28)[0] != 32:
                fail("Pillow did not write a 32-bit BMP")
        im.save(os.path.join(cwd, "grey.pgm"))
        im.point(lambda v: 255 if v >= 128 else 0).convert("1").save(os.path.join(cwd, "one.bmp"))
        expected_one = reference([255 if v >= 128 else 0 for v in grey], "ref1", cwd)
        im.save(os.path.join(cwd, "bottom_up.bmp"))
        with open(os.path.join(cwd, "bottom_up.bmp"), "rb") as f:
            flipped = top_down(f.read())
        with open(os.path.join(cwd, "top_down.bmp"), "wb") as f:
            f.write(flipped)

        georef = ["-a_srs", SRS, "-a_ullr", str(ULX), str(ULY), str(ULX + W * CELL), str(ULY - H * CELL)]
        run(["gdal_translate", "-q", "-ot", "Byte", "-a_nodata", "200"] + georef + ["grey.png", "byte.tif"], cwd)
        run(["gdal_translate", "-q", "-ot", "UInt16", "-scale", "0", "255", "0", "65280", "-a_nodata", "51200"] +
            georef + ["grey.png", "u16.tif"], cwd)
        run(["gdal_translate", "-q", "-ot", "Float32", "-scale", "0", "255", "0", "1", "-a_nodata",
             repr(200 / 255)] + georef + ["grey.png", "f32.tif"], cwd)
        # the grid of the Byte picture, as GDAL writes one (no nodata line)
        run(["gdal_translate", "-q", "-of", "AAIGrid", "-a_nodata", "none", "byte.tif", "grid.asc"], cwd)

        cases = [
            # input, window, result, expected values, georeferenced
            ("byte.tif", "128:255", "byte_reg.tif", expected_nodata, True),
            ("u16.tif", "32768:65280", "u16_reg.tif", expected_nodata, True),
            ("f32.tif", "0.5:1", "f32_reg.tif", expected_nodata, True),
            ("f32.tif", "0.5:1", "f32_reg.asc", expected_nodata, True),
            ("grid.asc", "128:255", "grid_reg.tif", expected, True),
            ("grey.png", "128:255", "grey_reg.png", expected, False),
            ("rgba.png", "128:255", "rgba_reg.pgm", expected_colour, False),
            ("one.bmp", "128:255", "one_reg.png", expected_one, False),
            ("bgra32.bmp", "128:255", "bgra32_reg.tif", expected_colour, False),
            ("top_down.bmp", "128:255", "top_down_reg.bmp", expected, False),
            ("grey.pgm", "128:255", "grey_reg.asc", expected, False),
        ]
        source_info = info("byte.tif", cwd)
        for source, window, result, want, georeferenced in cases:
            # the dialogue's values 1 on 255, whatever the result's kind
            run([SOLVIK, "-q", "--as-dialogue", "-w", window, source, result], cwd)
            got = values_of(result, cwd)
            if len(got) != W * H:
                fail("%s -> %s: %d values, not %d x %d" % (source, result, len(got), W, H))
            if got != want:
                bad = next(k for k in range(W * H) if got[k] != want[k])
                fail("%s -> %s: line %d column %d is %d, not %d" % (source, result, bad // W, bad % W, got[bad],
                                                                     want[bad]))
            if result.endswith(".tif"):
                out = info(result, cwd)
                if out["size"] != [W, H]:
                    fail("%s: size %s" % (result, out["size"]))
                if georeferenced:
                    if out.get("geoTransform") != source_info["geoTransform"]:
                        fail("%s: geotransform %s, not %s" % (result, out.get("geoTransform"),
                                                              source_info["geoTransform"]))
                    if source.endswith(".tif") and out["coordinateSystem"]["wkt"] != \
                            source_info["coordinateSystem"]["wkt"]:
                        fail("%s: the coordinate system differs from the input's" % result)
            if result.endswith(".asc") and georeferenced:
                header = open(os.path.join(cwd, result)).read().split()[:10]
                want_header = ["ncols", str(W), "nrows", str(H), "xllcorner", "%.6f" % ULX, "yllcorner",
                               "%.6f" % (ULY - H * CELL), "cellsize", "%.6f" % CELL]
                if header != want_header:
                    fail("%s: header %s, not %s" % (result, header, want_header))
        results = {case[2] + ".aux.xml" for case in cases}
        leftovers = [n for n in os.listdir(cwd) if n.startswith(".") or n in results]
        if leftovers:
            fail("files left beside the results: %s" % leftovers)

        # a GeoTIFF cut short: an error naming the file, no result
        run(["gdal_translate", "-q", "-co", "COMPRESS=DEFLATE", "-co", "BLOCKYSIZE=8", "byte.tif", "whole.tif"], cwd)
        data = open(os.path.join(cwd, "whole.tif"), "rb").read()
        open(os.path.join(cwd, "cut.tif"), "wb").write(data[: len(data) * 2 // 3])
        done = run([SOLVIK, "cut.tif", "cut_reg.tif"], cwd, status=1)
        if not done.stderr.startswith("cut.tif: ") or done.stderr.count("\n") != 1:
            fail("a cut GeoTIFF gave %r" % done.stderr)
        if os.path.exists(os.path.join(cwd, "cut_reg.tif")):
            fail("a cut GeoTIFF gave a result")

        # a band that is not there; a PNG named .bmp is read for what it is
        done = run([SOLVIK, "-b", "5", "rgba.png", "x.png"], cwd, status=1)
        if done.stderr != "rgba.png: it has 4 bands, not a band 5\n":
            fail("a missing band gave %r" % done.stderr)
        shutil.copy(os.path.join(cwd, "grey.png"), os.path.join(cwd, "png.bmp"))
        run([SOLVIK, "--as-dialogue", "png.bmp", "png_reg.raw"], cwd)
        if list(open(os.path.join(cwd, "png_reg.raw"), "rb").read()) != expected:
            fail("a PNG named .bmp gave another result")

        # the skeleton graph in the input's coordinate system
        run([SOLVIK, "-q", "--vector", "lines.gpkg", "--nodes", "nodes.geojson", "byte.tif", "graph_reg.tif"], cwd)
        for path, layer, geometry in (("lines.gpkg", "branches", "Line String"), ("lines.gpkg", "nodes", "Point"),
                                      ("nodes.geojson", None, "Point")):
            args = ["ogrinfo", "-ro", "-so", path] + ([layer] if layer else ["-al"])
            text = run(args, cwd).stdout
            if "Geometry: " + geometry not in text or "Feature Count: 0" in text or "32631" not in text:
                fail("%s %s read back as:\n%s" % (path, layer or "", text))
        text = run(["ogrinfo", "-ro", "-al", "-q", "lines.gpkg", "branches"], cwd).stdout
        points = []
        for line in text.splitlines():
            line = line.strip()
            if line.startswith("LINESTRING ("):
                for pair in line[len("LINESTRING ("):-1].split(","):
                    x, y = pair.split()
                    points.append((float(x), float(y)))
        inside = all(ULX < x < ULX + W * CELL and ULY - H * CELL < y < ULY for x, y in points)
        if not points or not inside:
            fail("the lines are not in the input's map coordinates:\n" + text[:2000])
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
