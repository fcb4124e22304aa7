#!/usr/bin/env bash
# The skeleton and pipeline tests (kernels and teams of threads) under
# ThreadSanitizer, in a build of their own. Needs what the main build needs (g++, cmake,
# libgtest-dev). About two to four minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOLVIK_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread"
cmake --build build-tsan -j2 --target test_skeleton test_pipeline
# every object of a small interior is a million one-thread runs: left out
SOLVIK_DIFF_COUNT="${SOLVIK_DIFF_COUNT:-800}" TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build-tsan/tests/test_skeleton --gtest_brief=1 --gtest_filter=-Differential.EveryObjectOf*:Sound.EveryObjectOf*
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build-tsan/tests/test_pipeline --gtest_brief=1
