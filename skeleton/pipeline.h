// From an object mask to the finished skeleton, for callers that hold their
// own data (the command line, the Python module): the window test on values
// of any type, the two planes the thinning needs, an optional background
// border, and the output values.
//
//   mark_window     1 where a value lies in [lo, hi], 0 elsewhere (NaN: 0)
//   FrameMode       keep: thin as the dialogue does; pad: as if the picture
//                   were surrounded by background
//   SkeletonPlanes  owns the planes of one picture; fill object(), run(),
//                   read result()
//
// Nothing here prints, keeps state between calls or ends the program;
// different SkeletonPlanes may run on different threads at once.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>

enum class FrameMode { keep, pad };

// sound: sound_skeleton_planes, on the picture padded with background;
// dialogue: the dialogue's thinning and finishing, with the frame mode given.
enum class SkeletonKind { sound, dialogue };

// Parses "keep" or "pad"; false for anything else.
bool parse_frame_mode(const std::string& word, FrameMode& mode);

// dst[k] = 1 when lo <= src[k * step] <= hi, else 0, for k < n. A NaN is
// never inside. `step` counts elements, so a column or a strided view can be
// read in place.
template <typename T>
void mark_window(const T* src, std::ptrdiff_t step, std::size_t n, double lo, double hi, unsigned char* dst) {
  for (std::size_t k = 0; k < n; ++k) {
    const double v = static_cast<double>(src[static_cast<std::ptrdiff_t>(k) * step]);
    dst[k] = (v >= lo && v <= hi) ? 1 : 0;  // false for NaN
  }
}

// The two planes of one picture of nb_lig x nb_col pixels. In pad mode they
// are one cell larger on every side and the views handed out skip that
// border, so the reader fills the picture in place and no copy is made.
//
// Memory: two bytes per pixel (of the padded size in pad mode) and, while
// run() thins, a quarter of a byte per pixel of bit planes.
class SkeletonPlanes {
 public:
  // Throws std::invalid_argument for sizes below 1 (or too large to pad),
  // std::bad_alloc when the planes cannot be had. The sound kind always pads.
  SkeletonPlanes(int nb_lig, int nb_col, FrameMode frame, SkeletonKind kind = SkeletonKind::dialogue);
  ~SkeletonPlanes();
  SkeletonPlanes(const SkeletonPlanes&) = delete;
  SkeletonPlanes& operator=(const SkeletonPlanes&) = delete;

  int lines() const { return nb_lig_; }
  int columns() const { return nb_col_; }

  // nb_lig rows of nb_col bytes, all 0 at first: write 1 on object pixels
  // (0 elsewhere) before run().
  unsigned char** object() { return view_; }

  // Thins and finishes on `threads` threads (0: one per core); returns the
  // number of thinning passes. After it, result() holds 1 on the skeleton
  // and 255 elsewhere (or the values given to set_values). Runs once.
  int run(int threads = 0);

  // Rewrites the result: skeleton pixels become `skeleton`, the others
  // `background`. Call after run().
  void set_values(unsigned char skeleton, unsigned char background);

  // The same view as object(), after run().
  unsigned char* const* result() const { return view_; }

 private:
  int nb_lig_, nb_col_;
  SkeletonKind kind_;
  int lig_, col_;              // size of the planes, border included
  unsigned char** tab_ = nullptr;
  unsigned char** tab2_ = nullptr;
  unsigned char** view_ = nullptr;  // nb_lig_ row pointers into tab_
};
