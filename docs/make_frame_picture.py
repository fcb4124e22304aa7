"""Draws docs/frame-keep-pad.png: one picture thinned with --frame keep and
with --frame pad, the skeletons in red over the objects in grey.

Run as  /usr/bin/python3 docs/make_frame_picture.py <path-of-solvik>
(needs Pillow)."""

import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

W, H, ZOOM = 120, 60, 4


def main():
    solvik = os.path.abspath(sys.argv[1])
    here = os.path.dirname(os.path.abspath(__file__))
    picture = Image.new("L", (W, H), 30)
    d = ImageDraw.Draw(picture)
    d.rectangle([0, 22, W - 1, 34], fill=220)      # a road crossing the picture
    d.ellipse([70, -30, 118, 16], fill=220)        # a field cut by the top edge
    d.rectangle([0, 44, 30, H - 1], fill=220)      # a block in the corner
    panels = []
    with tempfile.TemporaryDirectory() as tmp:
        picture.save(os.path.join(tmp, "in.png"))
        for frame in ("keep", "pad"):
            out = os.path.join(tmp, frame + ".png")
            subprocess.run([solvik, "-q", "--frame", frame, os.path.join(tmp, "in.png"), out], check=True)
            skeleton = Image.open(out)
            panel = Image.merge("RGB", (picture, picture, picture)).point(lambda v: 90 + v // 2)
            red = Image.new("RGB", (W, H), (200, 0, 0))
            panel.paste(red, mask=skeleton.point(lambda v: 255 if v == 1 else 0))
            panel = panel.resize((W * ZOOM, H * ZOOM), Image.NEAREST)
            ImageDraw.Draw(panel).text((6, 4), "--frame " + frame, fill=(255, 255, 0))
            panels.append(panel)
    sheet = Image.new("RGB", (2 * W * ZOOM + 8, H * ZOOM), (255, 255, 255))
    sheet.paste(panels[0], (0, 0))
    sheet.paste(panels[1], (W * ZOOM + 8, 0))
    sheet.save(os.path.join(here, "frame-keep-pad.png"))


if __name__ == "__main__":
    main()
