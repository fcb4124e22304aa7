#!/bin/sh
# Builds the fuzz targets with clang and runs one of them for a while.
# Usage: fuzz/run.sh TARGET [SECONDS]   (TARGET: bmp, asc, raster, dialogue, sources)
# The corpus grows in build-fuzz/corpus/TARGET, seeded from fuzz/corpus/TARGET;
# crashing inputs are written to build-fuzz/artifacts/.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?target: bmp, asc, raster, dialogue or sources}
seconds=${2:-60}
build="$root/build-fuzz"
if [ ! -x "$build/fuzz/fuzz_$target" ]; then
  CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOLVIK_FUZZ=ON \
    -DSOLVIK_TESTS=OFF -DSOLVIK_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 --target "fuzz_$target" >/dev/null
mkdir -p "$build/corpus/$target" "$build/artifacts"
dict=""
[ -f "$root/fuzz/$target.dict" ] && dict="-dict=$root/fuzz/$target.dict"
# absolute paths: the targets work in a private temporary folder of their own
exec "$build/fuzz/fuzz_$target" "$build/corpus/$target" "$root/fuzz/corpus/$target" $dict \
  -max_total_time="$seconds" -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 -rss_limit_mb=2048
