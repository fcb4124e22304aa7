#!/usr/bin/env python3
"""Turns the example's input and result bitmaps into the PNG pictures the
README shows. Run examples/run-example.sh first; needs Pillow.
Usage: docs/make_pictures.py [OUT_FOLDER]   (default: out/images/example)"""
import pathlib
import sys

from PIL import Image

root = pathlib.Path(__file__).resolve().parent.parent
folder = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else root / "out/images/example"
for name, picture in [("example-input.png", "shapes.bmp"), ("example-skeleton.png", "shapes_reg.bmp")]:
    image = Image.open(folder / picture).convert("L")
    # the result holds 1 on the skeleton and 255 elsewhere: shown as it is,
    # a dark line on white; doubled in size so one-pixel lines stay visible
    image = image.resize((image.width * 2, image.height * 2), Image.NEAREST)
    image.save(root / "docs" / name, optimize=True)
    print("docs/" + name)
