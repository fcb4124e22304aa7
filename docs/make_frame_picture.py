"""Draws docs/frame-keep-pad.png: one picture thinned with --frame keep and
with --frame pad, the skeletons in red over the objects in grey.

Run as  /usr/bin/python3 docs/make_frame_picture.py <path-of-solvik>
(needs Pillow)."""

import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

from panels import save_side_by_side, skeleton_panel

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
            subprocess.run([solvik, "-q", "--values", "1:255", "--frame", frame, os.path.join(tmp, "in.png"), out],
                           check=True)
            panels.append(skeleton_panel(picture, out, ZOOM, "--frame " + frame)[0])
    save_side_by_side(panels, os.path.join(here, "frame-keep-pad.png"))


if __name__ == "__main__":
    main()
