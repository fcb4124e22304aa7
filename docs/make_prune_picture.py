"""Draws docs/prune.png: a rough road mask thinned as it is and with
--prune 12, skeletons in red over the objects in grey, end points in green
and junctions in blue (read back from the --nodes file).

Run as  /usr/bin/python3 docs/make_prune_picture.py <path-of-solvik>
(needs Pillow)."""

import csv
import os
import random
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

from panels import save_side_by_side, skeleton_panel

W, H, ZOOM = 150, 100, 4
PRUNE = 12


def rough_roads():
    """Thick roads whose edges carry bumps: each bump becomes a short spur."""
    rng = random.Random(7)
    picture = Image.new("L", (W, H), 30)
    d = ImageDraw.Draw(picture)
    roads = [((0, 30), (150, 40)), ((40, 0), (60, 100)), ((100, 36), (120, 100)), ((60, 70), (120, 75))]
    for a, b in roads:
        d.line([a, b], fill=220, width=9)
        length = ((b[0] - a[0]) ** 2 + (b[1] - a[1]) ** 2) ** 0.5
        nx, ny = (a[1] - b[1]) / length, (b[0] - a[0]) / length  # across the road
        for _ in range(4):
            t = rng.uniform(0.15, 0.85)
            x, y = a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1])
            side = rng.choice([-1, 1]) * rng.uniform(8, 12)
            d.line([(x, y), (x + side * nx, y + side * ny)], fill=220, width=3)
    return picture


def nodes_of(path):
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            x, y = row["WKT"].split("(")[1].rstrip(")").split()
            yield float(x), float(y), row["kind"]


def main():
    solvik = os.path.abspath(sys.argv[1])
    here = os.path.dirname(os.path.abspath(__file__))
    picture = rough_roads()
    panels = []
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "roads.png")
        picture.save(source)
        for label, extra in (("as thinned", []), (f"--prune {PRUNE}", ["--prune", str(PRUNE)])):
            out, nodes = os.path.join(tmp, "out.png"), os.path.join(tmp, "nodes.csv")
            subprocess.run([solvik, "-q", "--values", "1:255", *extra, "--nodes", nodes, source, out], check=True)
            panel, d = skeleton_panel(picture, out, ZOOM, label)
            for x, y, kind in nodes_of(nodes):
                colour = (0, 170, 0) if kind == "end" else (0, 60, 255)
                cx, cy = x * ZOOM, y * ZOOM  # pixel coordinates run through the centres
                d.ellipse([cx - 5, cy - 5, cx + 5, cy + 5], outline=colour, width=2)
            panels.append(panel)
            os.remove(nodes)
    save_side_by_side(panels, os.path.join(here, "prune.png"))


if __name__ == "__main__":
    main()
