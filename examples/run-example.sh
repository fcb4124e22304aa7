#!/bin/sh
# Draws the example picture and runs the program on it in each format, with
# the answers piped in. Usage: examples/run-example.sh [BUILD_FOLDER]
# The working folder out/ stands for drive C:, so the pictures live in
# out/images/example/ (c:\images\example\ in the dialogue).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mkdir -p "$root/out"
cd "$root/out"
"$build/make_example" images/example

# folder, format, name, result name (0: keep), window [128, 255]
for format in 0 1 2; do
  printf 'example\n%s\nshapes\n0\n128\n255\n' "$format" | "$build/solvik" > "images/example/run-$format.log"
done
# the colour bitmap, under a name of its own
printf 'example\n1\nshapes_colour\n0\n128\n255\n' | "$build/solvik" > images/example/run-colour.log

echo "The example and its skeletons are in out/images/example/:"
for f in shapes_reg.raw shapes_reg.txt shapes_reg.bmp shapes_colour_reg.bmp shapes_reg.asc; do
  [ -f "images/example/$f" ] && echo "  out/images/example/$f"
done
echo "(the transcripts of the runs are the run-*.log files beside them)"
