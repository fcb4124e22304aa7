# The by-the-letter reference of the kernels, a library of its own that the
# tests and the benchmark link. It needs nothing of the program.
include_guard(GLOBAL)
add_library(solvik_reference STATIC ${CMAKE_CURRENT_LIST_DIR}/reference.cpp)
target_include_directories(solvik_reference PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
