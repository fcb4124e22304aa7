"""Bitmaps written by Pillow are read by the program, and its results are
read by Pillow.

Pillow writes 8-bit grey ("L"), 8-bit palette ("P", colour palette of 256
entries) and 24-bit ("RGB") files of widths 1 to 9 and a few heights. Each
picture is run through the program as a bitmap and, with the same answers,
as a raw raster holding the grey levels the program should have read: the
pixel values for "L", the palette indices for "P", and Pillow's own
convert("L") for "RGB" (the same rounded luma the program uses). Both
results must be equal byte for byte, and Pillow must read the bitmap result
as an 8-bit grey picture of the input's size holding only 1 and 255.
Files the program cannot read (a 16-colour palette, 1 bit per pixel) stop
the run with status 1.

Usage: bmp_pillow.py <path of the program>. Exit 77 when Pillow is missing.
"""
import os
import random
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError:
    sys.exit(77)

WINDOW_MIN = 128
FAILURES = []


def fail(what):
    FAILURES.append(what)
    print("FAIL:", what)


def run(program, cwd, answers):
    return subprocess.run([program], cwd=cwd, input=answers.encode(), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60)


def grey_picture(rng, width, height):
    """Rows of grey levels: a block above the window's floor on a background
    below it, with a sprinkle of pixels on the wrong side."""
    top, left = rng.randrange(height), rng.randrange(width)
    bottom, right = rng.randrange(top, height), rng.randrange(left, width)
    rows = []
    for i in range(height):
        row = []
        for j in range(width):
            inside = top <= i <= bottom and left <= j <= right
            if rng.random() < 0.15:
                inside = not inside
            row.append(rng.randrange(WINDOW_MIN, 256) if inside else rng.randrange(0, WINDOW_MIN))
        rows.append(row)
    return rows


def colour_for(rng, want_inside):
    while True:
        c = (rng.randrange(256), rng.randrange(256), rng.randrange(256))
        luma = (19595 * c[0] + 38470 * c[1] + 7471 * c[2] + 32768) >> 16
        if (luma >= WINDOW_MIN) == want_inside:
            return c


def make_image(mode, rng, width, height):
    """The Pillow image and the grey levels the program should read from it."""
    grey = grey_picture(rng, width, height)
    flat = [v for row in grey for v in row]
    if mode == "L":
        im = Image.new("L", (width, height))
        im.putdata(flat)
        return im, bytes(flat)
    if mode == "P":
        # a palette far from the grey ramp: the program thresholds indices
        im = Image.new("P", (width, height))
        palette = []
        for k in range(256):
            palette += [(k * 7) % 256, 255 - k, (k * 13 + 5) % 256]
        im.putpalette(palette)
        im.putdata(flat)
        return im, bytes(flat)
    im = Image.new("RGB", (width, height))
    im.putdata([colour_for(rng, v >= WINDOW_MIN) for v in flat])
    return im, im.convert("L").tobytes()


def check_case(program, root, mode, width, height, rng):
    name = "%s %dx%d" % (mode, width, height)
    work = os.path.join(root, "%s_%d_%d" % (mode, width, height))
    site = os.path.join(work, "images", "site")
    os.makedirs(site)
    im, levels = make_image(mode, rng, width, height)
    im.save(os.path.join(site, "x.bmp"))
    with open(os.path.join(site, "x.raw"), "wb") as f:
        f.write(levels)
    with open(os.path.join(site, "x.txt"), "w") as f:
        f.write("%d\n%d\n1\n0\n255\n1\n" % (height, width))
    with open(os.path.join(site, "x.bmp"), "rb") as f:
        input_bytes = f.read()

    b = run(program, work, "site\n1\nx\n0\n%d\n255\n" % WINDOW_MIN)
    r = run(program, work, "site\n0\nx\n0\n%d\n255\n" % WINDOW_MIN)
    if b.returncode != 0 or r.returncode != 0:
        fail("%s: status %d (bitmap), %d (raster)\n%s" % (name, b.returncode, r.returncode, b.stdout.decode()))
        return
    missing = [n for n in ("x_reg.raw", "x_reg.bmp") if not os.path.isfile(os.path.join(site, n))]
    if missing:
        fail("%s: no %s" % (name, ", ".join(missing)))
        return
    with open(os.path.join(site, "x_reg.raw"), "rb") as f:
        expected = f.read()
    with open(os.path.join(site, "x.bmp"), "rb") as f:
        if f.read() != input_bytes:
            fail("%s: the input bitmap changed" % name)

    with Image.open(os.path.join(site, "x_reg.bmp")) as res:
        grey_palette = res.mode == "P" and res.getpalette()[:768] == [k for k in range(256) for _ in range(3)]
        if res.mode != "L" and not grey_palette:
            fail("%s: result mode %s, not grey" % (name, res.mode))
        if res.format != "BMP" or res.info.get("compression", 0) != 0:
            fail("%s: result not an uncompressed BMP" % name)
        if res.size != (width, height):
            fail("%s: result size %s" % (name, res.size))
        got = res.tobytes()
    if set(got) - {1, 255}:
        fail("%s: result holds values %s" % (name, sorted(set(got))))
    if got != expected:
        fail("%s: bitmap result %s differs from raster result %s" % (name, list(got), list(expected)))


def check_refused(program, root, label, im):
    work = os.path.join(root, "refused_" + label)
    site = os.path.join(work, "images", "site")
    os.makedirs(site)
    im.save(os.path.join(site, "x.bmp"))
    b = run(program, work, "site\n1\nx\n0\n%d\n255\n" % WINDOW_MIN)
    if b.returncode != 1 or b"\n\tNo File  c:\\images\\site\\x.bmp \n" not in b.stdout:
        fail("%s: status %d, output %r" % (label, b.returncode, b.stdout[-200:]))
    if sorted(os.listdir(site)) != ["x.bmp"]:
        fail("%s: files created: %s" % (label, os.listdir(site)))


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    program = os.path.abspath(sys.argv[1])
    rng = random.Random(20200214)
    cases = 0
    with tempfile.TemporaryDirectory(prefix="solvik-bmp-pillow-") as root:
        for mode in ("L", "P", "RGB"):
            for width in range(1, 10):
                for height in (1, 4, 7):
                    check_case(program, root, mode, width, height, rng)
                    cases += 1
        small = Image.new("P", (5, 4))
        small.putpalette([v for k in range(16) for v in (k * 16, k * 16, 255 - k)])
        check_refused(program, root, "16-colour palette", small)
        check_refused(program, root, "1 bit", Image.new("1", (6, 3), 1))
    print("%d pictures, %d failures" % (cases, len(FAILURES)))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
