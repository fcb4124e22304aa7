#!/usr/bin/env bash
# CI for the Python package, after the README's test command has built
# build/ and run the tests (ctest runs the Python tests with the others):
#   1. the package is really built (ctest skips nothing silently),
#   2. `import solvik` works from an installed prefix, and the batch
#      functions find the program installed beside it,
#   3. the benchmark script runs (the 1024 images, once) when the shared
#      benchmark images are there.
# Debian packages: python3-dev pybind11-dev python3-numpy python3-pytest
# python3-scipy python3-skimage python3-dask python3-distributed.
set -euo pipefail
cd "$(dirname "$0")/.."
python=/usr/bin/python3

need=()
[ -f /usr/include/pybind11/pybind11.h ] || need+=(pybind11-dev)
$python -c "import sysconfig, os, sys; sys.exit(not os.path.isfile(os.path.join(sysconfig.get_paths()['include'], 'Python.h')))" \
  || need+=(python3-dev)
for module in numpy:python3-numpy pytest:python3-pytest scipy:python3-scipy skimage:python3-skimage \
              dask:python3-dask distributed:python3-distributed; do
  $python -c "import ${module%%:*}" 2>/dev/null || need+=("${module##*:}")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing: ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

if ! ls build/python/solvik/_solvik*.so >/dev/null 2>&1; then
  cmake -S . -B build >/dev/null
  cmake --build build -j2 --target solvik solvik_python
fi
ls build/python/solvik/_solvik*.so >/dev/null || { echo "the Python module was not built"; exit 1; }

echo "== import solvik from an installed prefix"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build --prefix "$prefix" >/dev/null
site=$(find "$prefix" -name __init__.py -path "*/solvik/*" -printf '%h\n' | head -n 1)
(cd "$prefix" && env -u SOLVIK_PROGRAM PYTHONPATH="$(dirname "$site")" $python - "$prefix" <<'PY'
import os, sys
import numpy as np
import solvik, solvik.dask
prefix = sys.argv[1]
assert solvik.__file__.startswith(prefix), solvik.__file__
skeleton = solvik.skeletonize(np.pad(np.ones((5, 9), bool), 2), frame="pad")
assert skeleton.sum() > 0
program = solvik.dask.find_program()
assert os.path.samefile(program, os.path.join(prefix, "bin", "solvik")), program
print(f"solvik {solvik.__version__} from {os.path.dirname(solvik.__file__)}, program {program}")
PY
)
# the installed program finds its command line in the library folder
"$prefix/bin/solvik" --formats >/dev/null || { echo "the installed program has no command line"; exit 1; }

bench=../shared/bench
if [ -f "$bench/blobs_1024.raw.gz" ]; then
  echo "== the Python benchmark, once on the 1024 images"
  PYTHONPATH=build/python $python bench/python_bench.py "$bench" --sizes 1024 --runs 1
fi
echo "== Python: all passed"
