// The compiled part of the Python package `solvik` (imported as
// solvik._solvik; the package's __init__.py gives the public names, their
// documentation and the dtype conversions numpy does better).
//
//   _thin         any 2-D numeric array, a window (or non-zero) -> uint8 result
//   _skeletonize  any 2-D array, non-zero is object -> bool skeleton
//   _prune        a 1/0 skeleton plane -> the pruned plane, branches removed
//   _graph        a 1/0 skeleton plane -> the columns of the nodes, branches
//                 and components tables
//
// Notes:
//   1. Every check that guards memory is made here, whatever the Python layer
//      did before: two dimensions, at least one line and one column, sizes
//      within int, a native dtype. Arrays are read in place through their
//      strides, aligned or not (the pipeline's array source reads each value
//      through memcpy); nothing is copied before the window test.
//   2. _thin and _skeletonize are one run of the pipeline each, from the
//      array to the result array; the GIL is released for the run, so
//      threads thin different pictures at once. Each call owns its planes;
//      nothing is kept between calls.
//   3. Errors leave as ValueError (bad value or shape, a failed run),
//      TypeError (bad dtype) and MemoryError (std::bad_alloc).
//   4. `threads` goes to the kernels (0: one per core). `dialogue` asks for
//      the dialogue's skeleton (frame as given), else the sound skeleton
//      (always thinned as if surrounded by background).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include <vector>

#include "graph/graph_summary.h"
#include "graph/skeleton_graph.h"
#include "pipeline/array_source.h"
#include "pipeline/pipeline.h"
#include "platform/failure.h"
#include "platform/thread_setting.h"
#include "skeleton/pipeline.h"


namespace py = pybind11;

namespace {

// Where a picture's values are and how to step through them.
struct Layout {
  const char* data;
  std::ptrdiff_t line_bytes;    // from one line to the next
  std::ptrdiff_t column_bytes;  // from one column to the next
  int nb_lig, nb_col;
  char kind;                    // numpy's kind: b, i, u, f
  py::ssize_t itemsize;
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
  return Layout{static_cast<const char*>(a.data()), a.strides(0), a.strides(1),
                static_cast<int>(a.shape(0)), static_cast<int>(a.shape(1)), kind, size};
}

pipeline::Element element_of(const Layout& in) {
  using pipeline::Element;
  switch (in.kind) {
    case 'b': return Element::boolean;
    case 'f': return in.itemsize == 4 ? Element::f32 : Element::f64;
    case 'i': return in.itemsize == 1 ? Element::i8 : in.itemsize == 2 ? Element::i16 : in.itemsize == 4 ? Element::i32 : Element::i64;
    default: return in.itemsize == 1 ? Element::u8 : in.itemsize == 2 ? Element::u16 : in.itemsize == 4 ? Element::u32 : Element::u64;
  }
}

unsigned char byte_value(long value, const char* what) {
  if (value < 0 || value > 255)
    throw py::value_error(std::string(what) + " must lie in 0..255; got " + std::to_string(value));
  return static_cast<unsigned char>(value);
}

// One run of the pipeline from the array `in` to `out` (lines of
// `out_line_bytes` bytes): `skeleton` on the skeleton, `background`
// elsewhere. Runs without the GIL.
void run_into(const Layout& in, const pipeline::Request& request, unsigned char* out, std::ptrdiff_t out_line_bytes) {
  pipeline::ArraySource source(pipeline::ArrayLayout{in.data, in.line_bytes, in.column_bytes, in.nb_lig, in.nb_col,
                                                     element_of(in)});
  pipeline::ArraySink sink(out, out_line_bytes);
  try {
    pipeline::run(source, request, sink);
  } catch (const Failure& failure) {
    throw std::invalid_argument(failure.what());  // ValueError once the GIL is back
  }
}

pipeline::Request request_of(FrameMode frame, int threads, bool dialogue, unsigned char skeleton,
                             unsigned char background) {
  pipeline::Request r;
  r.skeleton = dialogue ? SkeletonKind::dialogue : SkeletonKind::sound;
  r.frame = frame;
  r.threads = threads;
  r.skeleton_value = skeleton;
  r.background_value = background;
  return r;
}

int thread_count(long threads) {
  if (threads < 0 || threads > kMaxThreads)
    throw py::value_error("threads must lie in 0.." + std::to_string(kMaxThreads) + " (0: one per core); got " +
                          std::to_string(threads));
  return static_cast<int>(threads);
}

py::array_t<std::uint8_t> thin(const py::array& image, double lo, double hi, bool nonzero, const std::string& frame,
                               long skeleton, long background, long threads, bool dialogue) {
  const Layout in = layout_of(image, "the image");
  if (std::isnan(lo) || std::isnan(hi)) throw py::value_error("the window's bounds must be numbers, not NaN");
  if (!nonzero && lo > hi)
    throw py::value_error("the window's MIN is above its MAX: (" + py::repr(py::float_(lo)).cast<std::string>() + ", " +
                          py::repr(py::float_(hi)).cast<std::string>() + ")");
  const FrameMode mode = frame_mode(frame);
  const unsigned char s = byte_value(skeleton, "the skeleton value");
  const unsigned char b = byte_value(background, "the background value");
  const int n = thread_count(threads);

  pipeline::Request request = request_of(mode, n, dialogue, s, b);
  request.window = pipeline::Window{nonzero ? pipeline::WindowKind::nonzero : pipeline::WindowKind::range, lo, hi};
  py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(in.nb_lig), static_cast<py::ssize_t>(in.nb_col)});
  {
    py::gil_scoped_release unlocked;
    run_into(in, request, out.mutable_data(), in.nb_col);
  }
  return out;
}

py::array_t<bool> skeletonize(const py::array& mask, const std::string& frame, long threads, bool dialogue) {
  const Layout in = layout_of(mask, "the mask");
  const FrameMode mode = frame_mode(frame);
  const int n = thread_count(threads);
  pipeline::Request request = request_of(mode, n, dialogue, 1, 0);  // the bytes of True and False
  request.window.kind = pipeline::WindowKind::nonzero;
  py::array_t<bool> out({static_cast<py::ssize_t>(in.nb_lig), static_cast<py::ssize_t>(in.nb_col)});
  static_assert(sizeof(bool) == 1);
  {
    py::gil_scoped_release unlocked;
    run_into(in, request, reinterpret_cast<unsigned char*>(out.mutable_data()), in.nb_col);
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

template <typename T>
py::array_t<T> column(const std::vector<T>& values) {
  py::array_t<T> a(static_cast<py::ssize_t>(values.size()));
  if (!values.empty()) std::memcpy(a.mutable_data(), values.data(), values.size() * sizeof(T));
  return a;
}

// Paths of pixels as one (n, 2) int32 array of (line, column) and the
// offsets where each path starts (one more offset than paths).
template <typename Item, typename Pixels>
py::tuple packed_paths(const std::vector<Item>& items, Pixels pixels_of) {
  std::vector<std::int64_t> offsets{0};
  for (const Item& item : items) offsets.push_back(offsets.back() + static_cast<std::int64_t>(pixels_of(item).size()));
  py::array_t<std::int32_t> all({static_cast<py::ssize_t>(offsets.back()), static_cast<py::ssize_t>(2)});
  std::int32_t* d = all.mutable_data();
  for (const Item& item : items)
    for (const Pixel& p : pixels_of(item)) {
      *d++ = p.line;
      *d++ = p.column;
    }
  return py::make_tuple(column(offsets), all);
}

// The graph as columns: node_*, branch_* and summary_* arrays, one value per
// node, branch or component, and the pixels of the nodes and branches
// packed. Branch kinds are numbered end-end 0, end-junction 1,
// junction-junction 2, loop 3; node kinds end 0, junction 1, isolated 2.
py::dict graph(const Plane& skeleton) {
  const Layout in = layout_of(skeleton, "the skeleton");
  std::vector<const unsigned char*> lines = line_pointers(skeleton.data(), in);
  SkeletonGraph g;
  std::vector<ComponentSummary> summary;
  {
    py::gil_scoped_release unlocked;
    g = build_graph(lines.data(), in.nb_lig, in.nb_col, 1);
    summary = summarize_components(g, Georef{});
  }
  std::vector<std::int32_t> n_component, n_kind, n_degree;
  std::vector<double> n_line, n_column;
  for (const GraphNode& n : g.nodes) {
    n_component.push_back(n.component);
    n_kind.push_back(static_cast<std::int32_t>(n.kind));
    n_degree.push_back(n.degree);
    n_line.push_back(n.line);
    n_column.push_back(n.column);
  }
  std::vector<std::int32_t> b_component, b_kind, b_src, b_dst;
  std::vector<double> b_length;
  for (const GraphBranch& b : g.branches) {
    b_component.push_back(b.component);
    b_kind.push_back(static_cast<std::int32_t>(b.kind));
    b_src.push_back(b.from_node);
    b_dst.push_back(b.to_node);
    b_length.push_back(b.length_px);
  }
  std::vector<std::int32_t> s_branches, s_ends, s_junctions, s_isolated, s_holes, s_box[4];
  std::vector<double> s_length;
  for (const ComponentSummary& c : summary) {
    s_branches.push_back(c.branches);
    s_ends.push_back(c.end_points);
    s_junctions.push_back(c.junctions);
    s_isolated.push_back(c.isolated);
    s_holes.push_back(c.holes);
    s_length.push_back(c.length_px);
    s_box[0].push_back(c.min_line);
    s_box[1].push_back(c.min_column);
    s_box[2].push_back(c.max_line);
    s_box[3].push_back(c.max_column);
  }
  py::dict d;
  d["components"] = g.components;
  d["node_component"] = column(n_component);
  d["node_kind"] = column(n_kind);
  d["node_degree"] = column(n_degree);
  d["node_line"] = column(n_line);
  d["node_column"] = column(n_column);
  py::tuple node_pixels = packed_paths(g.nodes, [](const GraphNode& n) -> const std::vector<Pixel>& { return n.pixels; });
  d["node_offsets"] = node_pixels[0];
  d["node_pixels"] = node_pixels[1];
  d["branch_component"] = column(b_component);
  d["branch_kind"] = column(b_kind);
  d["branch_src"] = column(b_src);
  d["branch_dst"] = column(b_dst);
  d["branch_length"] = column(b_length);
  py::tuple paths = packed_paths(g.branches, [](const GraphBranch& b) -> const std::vector<Pixel>& { return b.path; });
  d["branch_offsets"] = paths[0];
  d["branch_pixels"] = paths[1];
  d["summary_branches"] = column(s_branches);
  d["summary_end_points"] = column(s_ends);
  d["summary_junctions"] = column(s_junctions);
  d["summary_isolated"] = column(s_isolated);
  d["summary_holes"] = column(s_holes);
  d["summary_length"] = column(s_length);
  d["summary_min_line"] = column(s_box[0]);
  d["summary_min_column"] = column(s_box[1]);
  d["summary_max_line"] = column(s_box[2]);
  d["summary_max_column"] = column(s_box[3]);
  return d;
}

}  // namespace

PYBIND11_MODULE(_solvik, m) {
  m.doc() = "Compiled kernels of the solvik package; use the functions of `solvik` itself.";
  m.attr("__version__") = SOLVIK_VERSION;
  m.def("_thin", &thin, py::arg("image"), py::arg("lo"), py::arg("hi"), py::arg("nonzero"), py::arg("frame"),
        py::arg("skeleton"), py::arg("background"), py::arg("threads") = 0, py::arg("dialogue") = false);
  m.def("_skeletonize", &skeletonize, py::arg("mask"), py::arg("frame"), py::arg("threads") = 0,
        py::arg("dialogue") = false);
  m.def("_prune", &prune, py::arg("skeleton"), py::arg("length"));
  m.def("_graph", &graph, py::arg("skeleton"));
}
