// From an object mask to the finished skeleton: see pipeline.h.
#include "skeleton/pipeline.h"

#include <climits>
#include <new>
#include <stdexcept>

#include "LIB/NRUTIL.h"
#include "skeleton/skeleton.h"

bool parse_frame_mode(const std::string& word, FrameMode& mode) {
  if (word == "keep") mode = FrameMode::keep;
  else if (word == "pad") mode = FrameMode::pad;
  else return false;
  return true;
}

SkeletonPlanes::SkeletonPlanes(int nb_lig, int nb_col, FrameMode frame, SkeletonKind kind)
    : nb_lig_(nb_lig), nb_col_(nb_col), kind_(kind) {
  if (nb_lig < 1 || nb_col < 1) throw std::invalid_argument("a picture needs at least one line and one column");
  const int border = frame == FrameMode::pad || kind == SkeletonKind::sound ? 1 : 0;
  if (nb_lig > INT_MAX - 2 * border || nb_col > INT_MAX - 2 * border)
    throw std::invalid_argument("the picture is too large to pad");
  lig_ = nb_lig + 2 * border;
  col_ = nb_col + 2 * border;
  tab_ = ucmatrice(col_, lig_);
  tab2_ = tab_ ? ucmatrice(col_, lig_) : nullptr;
  view_ = tab2_ ? new (std::nothrow) unsigned char*[static_cast<std::size_t>(nb_lig)] : nullptr;
  if (!view_) {
    if (tab2_) frucmatrice(tab2_, lig_);
    if (tab_) frucmatrice(tab_, lig_);
    throw std::bad_alloc();
  }
  for (int i = 0; i < nb_lig; ++i) view_[i] = tab_[i + border] + border;
}

SkeletonPlanes::~SkeletonPlanes() {
  delete[] view_;
  frucmatrice(tab2_, lig_);
  frucmatrice(tab_, lig_);
}

int SkeletonPlanes::run(int threads) {
  // the mark plane is the object in 255, as thresholding leaves it; the
  // border of a padded picture stays 0 in both planes: background
  for (int i = 0; i < lig_; ++i) {
    const unsigned char* o = tab_[i];
    unsigned char* m = tab2_[i];
    for (int j = 0; j < col_; ++j) m[j] = static_cast<unsigned char>(-o[j]);
  }
  if (kind_ == SkeletonKind::sound) return sound_skeleton_planes(tab_, tab2_, lig_, col_, threads);
  const int passes = thin_planes(tab_, tab2_, lig_, col_, threads);
  finish_planes(tab_, lig_, col_, threads);
  return passes;
}

void SkeletonPlanes::set_values(unsigned char skeleton, unsigned char background) {
  if (skeleton == 1 && background == 255) return;
  for (int i = 0; i < nb_lig_; ++i) {
    unsigned char* row = view_[i];
    for (int j = 0; j < nb_col_; ++j) row[j] = row[j] == 1 ? skeleton : background;
  }
}
