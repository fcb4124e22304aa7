"""The command line's GDAL habits, its results read back with GDAL's own reader.

Run as `python3 cli_habits.py <path-of-solvik>`: default windows of 8-bit,
1-bit, 16-bit and Float32 data; -of, -co, -a_nodata and values by kind as
GDAL finds them; a degree grid's corner, cell size and .prj.
Exit status: 0 pass, 1 fail, 77 when GDAL's Python module is missing.
"""

import os
import subprocess
import sys
import tempfile

try:
    from osgeo import gdal, osr
    import numpy as np
except ImportError:
    gdal = None

W, H = 48, 32
CELL = 1.0 / 12000
ULX, ULY = -3.7041666666666666, 40.416666666666664


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(args, cwd, status=0):
    done = subprocess.run([SOLVIK] + args, cwd=cwd, capture_output=True, text=True, timeout=300)
    if done.returncode != status:
        fail("solvik %s exited with %d (expected %d)\n%s%s" % (" ".join(args), done.returncode, status, done.stdout,
                                                               done.stderr))
    return done


def picture():
    """A bar of 200 and a disc of 240 on 20."""
    a = np.full((H, W), 20, dtype=np.uint8)
    a[10:17, 4:44] = 200
    yy, xx = np.mgrid[:H, :W]
    a[(yy - 24) ** 2 + (xx - 30) ** 2 <= 16] = 240
    return a


def save(path, array, driver="GTiff", georef=True, options=()):
    types = {np.uint8: gdal.GDT_Byte, np.uint16: gdal.GDT_UInt16, np.float32: gdal.GDT_Float32}
    mem = gdal.GetDriverByName("MEM").Create("", W, H, 1, types[array.dtype.type])
    mem.GetRasterBand(1).WriteArray(array)
    if georef:
        mem.SetGeoTransform((ULX, CELL, 0, ULY, 0, -CELL))
        srs = osr.SpatialReference()
        srs.ImportFromEPSG(4326)
        mem.SetProjection(srs.ExportToWkt())
    gdal.GetDriverByName(driver).CreateCopy(path, mem, options=list(options))


def read(path):
    ds = gdal.Open(path)
    band = ds.GetRasterBand(1)
    return ds, band, band.ReadAsArray()


def same_georef(got):
    """The grid's geotransform, to a millionth of a cell."""
    want = (ULX, CELL, 0, ULY, 0, -CELL)
    return all(abs(g - w) <= CELL * 1e-6 for g, w in zip(got, want))


def main():
    global SOLVIK
    SOLVIK = os.path.abspath(sys.argv[1])
    if gdal is None:
        print("skip: GDAL's Python module is not installed")
        return 77
    gdal.UseExceptions()
    if "GTiff" not in run(["--formats"], ".").stdout:
        print("skip: this build of solvik has no GDAL")
        return 77

    with tempfile.TemporaryDirectory() as cwd:
        at = lambda name: os.path.join(cwd, name)
        grey = picture()
        save(at("grey.png"), grey, "PNG", georef=False)
        save(at("one.png"), (grey >= 128).astype(np.uint8), "PNG", georef=False, options=["NBITS=1"])
        save(at("grey.tif"), grey)
        save(at("u16.tif"), grey.astype(np.uint16) * 256)
        save(at("f32.tif"), grey.astype(np.float32) / 255)
        one = read(at("one.png"))  # the band lives as long as its dataset
        if one[1].GetMetadataItem("NBITS", "IMAGE_STRUCTURE") != "1":
            fail("GDAL did not write a 1-bit PNG")

        # the reference: the bright objects of the 8-bit picture, 1 on 255
        grey.tofile(at("ref.raw"))
        open(at("ref.txt"), "w").write("%d %d 1 0 255 1\n" % (H, W))
        run(["-w", "128:255", "ref.raw", "ref_reg.raw"], cwd)
        skeleton = np.fromfile(at("ref_reg.raw"), dtype=np.uint8).reshape(H, W) == 1
        if not skeleton.any():
            fail("the reference has no skeleton")

        # defaults by the data, and the usage errors of data that needs -w
        for source in ("grey.png", "one.png"):
            run([source, "d.png"], cwd)
            if not (read(at("d.png"))[2] == np.where(skeleton, 255, 0)).all():
                fail("%s without -w is not thinned as 128:255 / non-zero" % source)
        for source, says in (("u16.tif", "UInt16 values from 5120 to 61440"),
                             ("f32.tif", "Float32 values from 0.07843137532 to 0.9411764741")):
            done = run([source, "x.tif"], cwd, status=2)
            if says not in done.stderr or "-w MIN:MAX" not in done.stderr or os.path.exists(at("x.tif")):
                fail("%s without -w gave %r" % (source, done.stderr))

        # results by kind and GDAL's spellings:
        # args, result, driver, (skeleton, background), nodata, metadata that must be there
        cases = [
            (["grey.png"], "p.png", "PNG", (255, 0), None, {}),
            (["grey.png"], "p.tif", "GTiff", (255, 0), None, {"COMPRESSION": "DEFLATE"}),
            (["grey.tif"], "g.tif", "GTiff", (255, 0), 0, {}),
            (["grey.tif"], "g.png", "PNG", (255, 0), None, {}),
            (["-w", "32768:65535", "u16.tif"], "u.tif", "GTiff", (255, 0), 0, {}),
            (["-w", "0.5:1", "f32.tif"], "f.tif", "GTiff", (255, 0), 0, {}),
            (["--values", "1:255", "grey.tif"], "v.tif", "GTiff", (1, 255), 255, {}),
            (["--as-dialogue", "grey.tif"], "d.tif", "GTiff", (1, 255), None, {}),
            (["-a_nodata", "none", "grey.tif"], "n.tif", "GTiff", (255, 0), None, {}),
            (["-a_nodata", "7", "grey.png"], "n7.tif", "GTiff", (255, 0), 7, {}),
            (["-of", "GTiff", "grey.png"], "o.dat", "GTiff", (255, 0), None, {}),
            (["-of", "png", "grey.tif"], "o.bin", "PNG", (255, 0), None, {}),
            (["-of", "HFA", "grey.tif"], "o.img", "HFA", (255, 0), 0, {}),
            (["-co", "COMPRESS=LZW", "-co", "tiled=yes", "-co", "BLOCKXSIZE=16", "-co", "BLOCKYSIZE=16", "grey.tif"],
             "c.tif", "GTiff", (255, 0), 0, {"COMPRESSION": "LZW", "block": [16, 16]}),
            (["-co", "COMPRESS=NONE", "grey.png"], "c0.tif", "GTiff", (255, 0), None, {"COMPRESSION": None}),
        ]
        for args, result, driver, (on, off), nodata, meta in cases:
            run(["-q"] + args + [result], cwd)
            ds, band, values = read(at(result))
            where = "%s -> %s" % (" ".join(args), result)
            if ds.GetDriver().ShortName != driver:
                fail("%s: written by %s, not %s" % (where, ds.GetDriver().ShortName, driver))
            if not (values == np.where(skeleton, on, off)).all():
                fail("%s: values %s, not %d on %d" % (where, sorted(set(values.ravel().tolist())), on, off))
            if band.GetNoDataValue() != nodata:
                fail("%s: nodata %s, not %s" % (where, band.GetNoDataValue(), nodata))
            for key, want in meta.items():
                got = band.GetBlockSize() if key == "block" else ds.GetMetadataItem(key, "IMAGE_STRUCTURE")
                if got != want:
                    fail("%s: %s is %s, not %s" % (where, key, got, want))
            georeferenced = driver != "PNG" and not any(a.endswith(".png") for a in args)
            if georeferenced and ds.GetGeoTransform() != (ULX, CELL, 0, ULY, 0, -CELL):
                fail("%s: geotransform %s" % (where, ds.GetGeoTransform()))

        # usage errors create nothing
        before = sorted(os.listdir(cwd))
        for args in (["-of", "NoSuchDriver", "grey.png", "y.tif"], ["-ofGTiff", "grey.png", "y.tif"],
                     ["-ox", "grey.png"], ["-co", "NOSUCH=1", "grey.png", "y.tif"],
                     ["-co", "COMPRESS=ZIPPY", "grey.png", "y.tif"], ["-a_nodata", "256", "grey.png", "y.tif"]):
            run(args, cwd, status=2)
        if sorted(os.listdir(cwd)) != before:
            fail("a usage error left %s" % (set(os.listdir(cwd)) - set(before)))
        # the many-images form takes the driver's extension
        run(["-q", "-of", "HFA", "-o", "many", "grey.tif", "one.png"], cwd)
        if sorted(os.listdir(at("many"))) != ["grey_reg.img", "one_reg.img"]:
            fail("-of HFA -o many wrote %s" % os.listdir(at("many")))

        # a degree grid: the corner and cell size to the last bit, and its .prj
        run(["-q", "grey.tif", "grid.asc"], cwd)
        ds, band, values = read(at("grid.asc"))
        if not same_georef(ds.GetGeoTransform()) or ds.GetGeoTransform()[1] != CELL:
            fail("grid.asc: geotransform %r, not %r" % (ds.GetGeoTransform(), (ULX, CELL, 0, ULY, 0, -CELL)))
        if not (values == np.where(skeleton, 1, 255)).all():
            fail("grid.asc: not the dialogue's values")
        srs = osr.SpatialReference()
        srs.ImportFromWkt(open(at("grid.prj")).read())
        wgs84 = osr.SpatialReference()
        wgs84.ImportFromEPSG(4326)
        if not srs.IsSame(wgs84, ["IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES"]):
            fail("grid.prj is not the input's coordinate system:\n" + open(at("grid.prj")).read())
        # the grid keeps its numbers and coordinate system into a GeoTIFF
        run(["-q", "grid.asc", "back.tif"], cwd)
        back = gdal.Open(at("back.tif"))
        if not same_georef(back.GetGeoTransform()) or not back.GetSpatialRef().IsSame(wgs84, ["IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES"]):
            fail("back.tif: geotransform %r, coordinate system %s" % (back.GetGeoTransform(), back.GetProjection()))
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
