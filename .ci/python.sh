#!/usr/bin/env bash
# CI for the Python package, after the README's test command has built
# build/ and run the tests (ctest runs the Python tests with the others):
#   1. the package is really built (ctest skips nothing silently),
#   2. `import solvik` works from an installed prefix, and the batch
#      functions find the program installed beside it,
#   3. `pip wheel .` builds the wheel (no network: the build backend is in the
#      tree and needs nothing from an index), it installs into a fresh
#      virtual environment, and the Python tests run against the installed
#      package and the program inside it, not the build folder,
#   4. the benchmark script runs (the 1024 images, once) when the shared
#      benchmark images are there.
# Debian packages: python3-dev pybind11-dev python3-numpy python3-pytest
# python3-scipy python3-skimage python3-dask python3-distributed
# python3-pandas python3-venv.
set -euo pipefail
cd "$(dirname "$0")/.."
python=/usr/bin/python3

need=()
[ -f /usr/include/pybind11/pybind11.h ] || need+=(pybind11-dev)
$python -c "import sysconfig, os, sys; sys.exit(not os.path.isfile(os.path.join(sysconfig.get_paths()['include'], 'Python.h')))" \
  || need+=(python3-dev)
for module in numpy:python3-numpy pytest:python3-pytest scipy:python3-scipy skimage:python3-skimage \
              dask:python3-dask distributed:python3-distributed pandas:python3-pandas ensurepip:python3-venv; do
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

echo "== pip wheel . ; the wheel in a fresh virtual environment; the Python tests against it"
work=$(mktemp -d)
trap 'rm -rf "$prefix" "$work"' EXIT
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
  $python -m pip wheel --no-deps --no-index --wheel-dir "$work/dist" . >"$work/wheel.log" 2>&1 \
  || { tail -n 40 "$work/wheel.log"; echo "pip wheel . failed"; exit 1; }
wheel=$(ls "$work"/dist/solvik-*.whl)
$python -m venv --system-site-packages "$work/venv"   # NumPy, Dask, pytest from the system
"$work/venv/bin/python" -m pip install --no-deps --no-index "$wheel" >/dev/null
# the tests run from a folder of their own, so nothing of the source tree or
# the build folder is importable; the program is the one inside the wheel
cp -r tests/python "$work/tests"
program=$(cd "$work" && env -u SOLVIK_PROGRAM -u PYTHONPATH "$work/venv/bin/python" - "$work/venv" <<'PY'
import os, sys
import solvik, solvik.dask
venv = os.path.realpath(sys.argv[1])
assert os.path.realpath(solvik.__file__).startswith(venv), solvik.__file__
for stub in ("py.typed", "__init__.pyi", "dask.pyi"):
    assert os.path.isfile(os.path.join(os.path.dirname(solvik.__file__), stub)), stub
program = solvik.dask.find_program()
assert os.path.realpath(program).startswith(venv), program
print(program)
PY
)
"$program" --formats >/dev/null || { echo "the wheel's program has no command line"; exit 1; }
status=0
for script in "$work"/tests/test_*.py; do
  (cd "$work/tests" && env -u PYTHONPATH SOLVIK_PROGRAM="$program" "$work/venv/bin/python" run.py "$script") || status=1
done
[ $status -eq 0 ] || { echo "the Python tests failed against the installed wheel"; exit 1; }

bench=../shared/bench
if [ -f "$bench/blobs_1024.raw.gz" ]; then
  echo "== the Python benchmark, once on the 1024 images"
  PYTHONPATH=build/python $python bench/python_bench.py "$bench" --sizes 1024 --runs 1
fi
echo "== Python: all passed"
