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
"$build/examples/make_example" images/example

# answers: folder, format, name, result name (0: keep), window [128, 255]
run() {
  if ! printf 'example\n%s\n%s\n0\n128\n255\n' "$1" "$2" | "$build/solvik" > "images/example/run-$2-$1.log"; then
    echo "the run on $2 (format $1) failed; its transcript: out/images/example/run-$2-$1.log" >&2
    exit 1
  fi
}
run 0 shapes
run 1 shapes
run 2 shapes
run 1 shapes_colour   # the 24-bit colour bitmap

echo "The example and its skeletons are in out/images/example/:"
for f in shapes_reg.raw shapes_reg.txt shapes_reg.bmp shapes_colour_reg.bmp shapes_reg.asc; do
  [ -f "images/example/$f" ] && echo "  out/images/example/$f"
done
echo "(the transcripts of the runs are the run-*.log files beside them)"
