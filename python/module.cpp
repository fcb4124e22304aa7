// The compiled part of the Python package `solvik` (imported as
// solvik._solvik; the package's __init__.py gives the public names, their
// documentation and the dtype conversions numpy does better).
//
//   _thin         any 2-D numeric array, a window -> uint8 result
//   _skeletonize  any 2-D array, non-zero is object -> bool skeleton
//   _prune        a 1/0 skeleton plane -> the pruned plane, branches removed
//   _graph        a 1/0 skeleton plane -> nodes, branches, components
//
// Notes:
//   1. Every check that guards memory is made here, whatever the Python layer
//      did before: two dimensions, at least one line and one column, sizes
//      within int, an aligned native dtype whose strides are whole elements.
//      Arrays are read in place through their strides; nothing is copied
//      before the window test.
//   2. The GIL is released from the window test to the end of the copy into
//      the result, so threads thin different pictures at once. Each call owns
//      its planes; nothing is kept between calls.
//   3. Errors leave as ValueError (bad value or shape), TypeError (bad
//      dtype) and MemoryError (std::bad_alloc).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include <vector>

#include "graph/skeleton_graph.h"
#include "skeleton/pipeline.h"


namespace py = pybind11;

namespace {

// Where a picture's values are and how to step through them.
struct Layout {
  const char* data;
  std::ptrdiff_t line_bytes;    // from one line to the next
  std::ptrdiff_t column_step;   // from one column to the next, in elements
  int nb_lig, nb_col;
  char kind;                    // numpy's kind: b, i, u, f
  py::ssize_t itemsize;
};

// The window a picture is marked with: [lo, hi], or every non-zero value.
struct Marking {
  bool nonzero;
  double lo, hi;
};

FrameMode frame_mode(const std::string& word) {
  FrameMode mode;
  if (!parse_frame_mode(word, mode))
    throw py::value_error("unknown frame mode '" + word + "': use 'keep' or 'pad'");
  return mode;
}

Layout layout_of(const py::array& a, const char* what) {
  const std::string name(what);
  if (a.ndim() != 2)
    throw py::value_error(name + " must be a 2-D array (lines, columns); this one has " + std::to_string(a.ndim()) +
                          (a.ndim() == 1 ? " dimension" : " dimensions"));
  if (a.shape(0) == 0 || a.shape(1) == 0)
    throw py::value_error(name + " is empty (" + std::to_string(a.shape(0)) + " x " + std::to_string(a.shape(1)) +
                          "): it needs at least one line and one column");
  if (a.shape(0) > INT_MAX || a.shape(1) > INT_MAX)
    throw py::value_error(name + " is too large: at most " + std::to_string(INT_MAX) + " lines and columns");
  const py::dtype dt = a.dtype();
  const char kind = dt.kind();
  const py::ssize_t size = dt.itemsize();
  const bool known = (kind == 'b' && size == 1) || ((kind == 'i' || kind == 'u') && (size == 1 || size == 2 || size == 4 || size == 8)) ||
                     (kind == 'f' && (size == 4 || size == 8));
  if (!known)
    throw py::type_error(name + " has values of type " + dt.attr("name").cast<std::string>() +
                         "; booleans, integers and floats of 32 or 64 bits are read");
  if (!dt.attr("isnative").cast<bool>())
    throw py::type_error(name + " has values in non-native byte order; convert it with astype");
  if (!a.attr("flags").attr("aligned").cast<bool>() || a.strides(1) % size != 0)
    throw py::type_error(name + " is not aligned on whole values; pass a copy (numpy.ascontiguousarray)");
  return Layout{static_cast<const char*>(a.data()), a.strides(0), a.strides(1) / size,
                static_cast<int>(a.shape(0)), static_cast<int>(a.shape(1)), kind, size};
}

template <typename T>
void mark_line(const T* src, std::ptrdiff_t step, int nb_col, const Marking& m, unsigned char* dst) {
  if (m.nonzero) {
    for (int j = 0; j < nb_col; ++j) dst[j] = src[j * step] != T(0) ? 1 : 0;
  } else {
    mark_window(src, step, static_cast<std::size_t>(nb_col), m.lo, m.hi, dst);
  }
}

template <typename T>
void mark_lines(const Layout& in, const Marking& m, unsigned char** dst) {
  for (int i = 0; i < in.nb_lig; ++i) {
    const T* src = reinterpret_cast<const T*>(in.data + i * in.line_bytes);
    // a step known at compile time lets the compiler vectorise the usual
    // contiguous line
    if (in.column_step == 1) mark_line(src, 1, in.nb_col, m, dst[i]);
    else mark_line(src, in.column_step, in.nb_col, m, dst[i]);
  }
}

void mark(const Layout& in, const Marking& m, unsigned char** dst) {
  switch (in.kind) {
    case 'b': return mark_lines<std::uint8_t>(in, m, dst);  // numpy stores a bool as one byte
    case 'f': return in.itemsize == 4 ? mark_lines<float>(in, m, dst) : mark_lines<double>(in, m, dst);
    case 'i':
      switch (in.itemsize) {
        case 1: return mark_lines<std::int8_t>(in, m, dst);
        case 2: return mark_lines<std::int16_t>(in, m, dst);
        case 4: return mark_lines<std::int32_t>(in, m, dst);
        default: return mark_lines<std::int64_t>(in, m, dst);
      }
    default:
      switch (in.itemsize) {
        case 1: return mark_lines<std::uint8_t>(in, m, dst);
        case 2: return mark_lines<std::uint16_t>(in, m, dst);
        case 4: return mark_lines<std::uint32_t>(in, m, dst);
        default: return mark_lines<std::uint64_t>(in, m, dst);
      }
  }
}

unsigned char byte_value(long value, const char* what) {
  if (value < 0 || value > 255)
    throw py::value_error(std::string(what) + " must lie in 0..255; got " + std::to_string(value));
  return static_cast<unsigned char>(value);
}

// Marks, thins and finishes one picture; `write(i, line)` receives each line
// of the result (1 on the skeleton, or `skeleton`, else `background`).
// Runs without the GIL.
template <typename Write>
void skeleton_of(const Layout& in, const Marking& m, FrameMode frame, unsigned char skeleton,
                 unsigned char background, Write write) {
  SkeletonPlanes planes(in.nb_lig, in.nb_col, frame);
  mark(in, m, planes.object());
  planes.run();
  planes.set_values(skeleton, background);
  unsigned char* const* result = planes.result();
  for (int i = 0; i < in.nb_lig; ++i) write(i, result[i]);
}

py::array_t<std::uint8_t> thin(const py::array& image, double lo, double hi, const std::string& frame,
                               long skeleton, long background) {
  const Layout in = layout_of(image, "the image");
  if (std::isnan(lo) || std::isnan(hi)) throw py::value_error("the window's bounds must be numbers, not NaN");
  if (lo > hi)
    throw py::value_error("the window's MIN is above its MAX: (" + py::repr(py::float_(lo)).cast<std::string>() + ", " +
                          py::repr(py::float_(hi)).cast<std::string>() + ")");
  const FrameMode mode = frame_mode(frame);
  const unsigned char s = byte_value(skeleton, "the skeleton value");
  const unsigned char b = byte_value(background, "the background value");

  py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(in.nb_lig), static_cast<py::ssize_t>(in.nb_col)});
  std::uint8_t* dst = out.mutable_data();
  const std::size_t width = static_cast<std::size_t>(in.nb_col);
  {
    py::gil_scoped_release unlocked;
    skeleton_of(in, Marking{false, lo, hi}, mode, s, b,
                [&](int i, const unsigned char* line) { std::memcpy(dst + i * width, line, width); });
  }
  return out;
}

py::array_t<bool> skeletonize(const py::array& mask, const std::string& frame) {
  const Layout in = layout_of(mask, "the mask");
  const FrameMode mode = frame_mode(frame);
  py::array_t<bool> out({static_cast<py::ssize_t>(in.nb_lig), static_cast<py::ssize_t>(in.nb_col)});
  bool* dst = out.mutable_data();
  const std::size_t width = static_cast<std::size_t>(in.nb_col);
  {
    py::gil_scoped_release unlocked;
    // one pass from the finished 1/255 lines to bools
    skeleton_of(in, Marking{true, 0, 0}, mode, 1, 255, [&](int i, const unsigned char* line) {
      bool* d = dst + i * width;
      for (std::size_t j = 0; j < width; ++j) d[j] = line[j] == 1;
    });
  }
  return out;
}


// A skeleton plane as the graph functions take it: C-contiguous bytes, 1 on
// the skeleton and 0 elsewhere (the Python layer makes it from a bool or
// two-valued array).
using Plane = py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>;

template <typename Byte>
std::vector<Byte*> line_pointers(Byte* data, const Layout& in) {
  std::vector<Byte*> lines(static_cast<std::size_t>(in.nb_lig));
  for (int i = 0; i < in.nb_lig; ++i) lines[i] = data + static_cast<std::size_t>(i) * in.nb_col;
  return lines;
}

py::tuple prune(const Plane& skeleton, double length) {
  const Layout in = layout_of(skeleton, "the skeleton");
  if (!(length >= 0)) throw py::value_error("the length must be a number of pixels, 0 or more");
  Plane out({static_cast<py::ssize_t>(in.nb_lig), static_cast<py::ssize_t>(in.nb_col)});
  std::memcpy(out.mutable_data(), skeleton.data(), static_cast<std::size_t>(in.nb_lig) * in.nb_col);
  std::vector<unsigned char*> lines = line_pointers(out.mutable_data(), in);
  int removed;
  {
    py::gil_scoped_release unlocked;
    removed = prune_skeleton(lines.data(), in.nb_lig, in.nb_col, length, 1, 0);
  }
  return py::make_tuple(out, removed);
}

py::array_t<std::int32_t> pixel_array(const std::vector<Pixel>& pixels) {
  py::array_t<std::int32_t> a({static_cast<py::ssize_t>(pixels.size()), static_cast<py::ssize_t>(2)});
  std::int32_t* d = a.mutable_data();
  for (const Pixel& p : pixels) {
    *d++ = p.line;
    *d++ = p.column;
  }
  return a;
}

py::object node_id(int id) { return id < 0 ? py::none() : py::object(py::int_(id)); }

py::dict graph(const Plane& skeleton) {
  const Layout in = layout_of(skeleton, "the skeleton");
  std::vector<const unsigned char*> lines = line_pointers(skeleton.data(), in);
  SkeletonGraph g;
  {
    py::gil_scoped_release unlocked;
    g = build_graph(lines.data(), in.nb_lig, in.nb_col, 1);
  }
  py::list nodes, branches;
  for (const GraphNode& n : g.nodes) {
    py::dict d;
    d["id"] = n.id;
    d["kind"] = node_kind_name(n.kind);
    d["component"] = n.component;
    d["degree"] = n.degree;
    d["coords"] = py::make_tuple(n.line, n.column);
    d["pixels"] = pixel_array(n.pixels);
    nodes.append(d);
  }
  for (const GraphBranch& b : g.branches) {
    py::dict d;
    d["id"] = b.id;
    d["kind"] = branch_kind_name(b.kind);
    d["component"] = b.component;
    d["coords"] = pixel_array(b.path);
    d["length"] = b.length_px;
    d["from_node"] = node_id(b.from_node);
    d["to_node"] = node_id(b.to_node);
    branches.append(d);
  }
  py::dict result;
  result["nodes"] = nodes;
  result["branches"] = branches;
  result["components"] = g.components;
  return result;
}

}  // namespace

PYBIND11_MODULE(_solvik, m) {
  m.doc() = "Compiled kernels of the solvik package; use the functions of `solvik` itself.";
  m.attr("__version__") = SOLVIK_VERSION;
  m.def("_thin", &thin, py::arg("image"), py::arg("lo"), py::arg("hi"), py::arg("frame"), py::arg("skeleton"),
        py::arg("background"));
  m.def("_skeletonize", &skeletonize, py::arg("mask"), py::arg("frame"));
  m.def("_prune", &prune, py::arg("skeleton"), py::arg("length"));
  m.def("_graph", &graph, py::arg("skeleton"));
}
