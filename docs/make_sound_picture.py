"""Draws docs/sound-dialogue.png: even squares, two-pixel diagonal strokes
and part of a real mask (scikit-image's coins at Otsu's threshold), thinned
by the command line's default skeleton and with --as-dialogue, the
skeletons in red over the objects in grey.

Run as  /usr/bin/python3 docs/make_sound_picture.py <path-of-solvik>
(needs Pillow)."""

import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

from panels import save_side_by_side, skeleton_panel

W, H, ZOOM = 190, 96, 4


def main():
    solvik = os.path.abspath(sys.argv[1])
    here = os.path.dirname(os.path.abspath(__file__))
    picture = Image.new("L", (W, H), 30)
    d = ImageDraw.Draw(picture)
    for k, side in enumerate((2, 4, 8, 14)):        # even squares
        d.rectangle([4 + 18 * k, 6, 4 + 18 * k + side - 1, 6 + side - 1], fill=220)
    for t in range(36):                             # strokes two pixels thick at 45 and 135 degrees
        for w in range(2):
            picture.putpixel((6 + t + w, 30 + t), 220)
            picture.putpixel((80 - t - w, 30 + t), 220)
    coins = Image.open(os.path.join(here, "..", "tests", "data", "coins_otsu.pbm")).convert("L")
    crop = coins.crop((150, 30, 250, 126)).point(lambda v: 30 if v else 220)  # black in the file: objects
    picture.paste(crop, (W - crop.width, 0))
    panels = []
    with tempfile.TemporaryDirectory() as tmp:
        picture.save(os.path.join(tmp, "in.png"))
        # the dialogue's values 1 on 255 are what the panels read
        for label, options in (("default", ["--values", "1:255"]), ("--as-dialogue", ["--as-dialogue"])):
            out = os.path.join(tmp, "out.png")
            subprocess.run([solvik, "-q", *options, os.path.join(tmp, "in.png"), out], check=True)
            panels.append(skeleton_panel(picture, out, ZOOM, label)[0])
    save_side_by_side(panels, os.path.join(here, "sound-dialogue.png"))


if __name__ == "__main__":
    main()
