// The pixels a skeleton graph is made of and pruning removes: a plane of
// bytes (skeleton pixels equal to a value), or a plane of bits, so a graph
// of a picture held as bits needs no byte per pixel.
//
//   SkeletonMask   at, clear, code and the set pixels of a line, whatever
//                  holds them
//
// Pixels outside the picture are background.
#pragma once

#include <bit>
#include <cstddef>

#include "graph/graph_codes.h"
#include "skeleton/bitplane.h"

class SkeletonMask {
 public:
  // Bytes: pixels equal to `value`; a cleared pixel becomes `background`.
  SkeletonMask(unsigned char* const* plane, int nb_lig, int nb_col, unsigned char value, unsigned char background = 0)
      : lines(nb_lig), columns(nb_col), plane_(plane), value_(value), background_(background) {}
  // Bits: the picture is lines [border, border + nb_lig) and the same
  // columns of `bits`; the cells around it must be clear.
  SkeletonMask(bitplane::Plane& bits, int border, int nb_lig, int nb_col)
      : lines(nb_lig), columns(nb_col), bits_(&bits), border_(border) {}

  int lines, columns;

  bool at(int i, int j) const {
    if (bits_) return bitplane::bit(bits_->row(i + border_), j + border_);
    return plane_[i][j] == value_;
  }

  void clear(int i, int j) {
    if (bits_) {
      const int at = j + border_;
      bits_->row(i + border_)[1 + (at >> 6)] &= ~(bitplane::Word{1} << (at & 63));
    } else {
      const_cast<unsigned char*>(plane_[i])[j] = background_;
    }
  }

  // The ring code of (i, j) (graph_codes.h numbering).
  unsigned code(int i, int j) const {
    if (bits_ && border_ > 0) {
      // the cells around the picture are clear: no edge to watch
      const int x = j + border_;
      const unsigned up = bitplane::triple(bits_->row(i + border_ - 1), x);
      const unsigned mid = bitplane::triple(bits_->row(i + border_), x);
      const unsigned down = bitplane::triple(bits_->row(i + border_ + 1), x);
      return (up & 1u ? ring::NW : 0u) | (up & 2u ? ring::N : 0u) | (up & 4u ? ring::NE : 0u) |
             (mid & 4u ? ring::E : 0u) | (down & 4u ? ring::SE : 0u) | (down & 2u ? ring::S : 0u) |
             (down & 1u ? ring::SW : 0u) | (mid & 1u ? ring::W : 0u);
    }
    if (!bits_) return graph_codes::code_of(plane_, lines, columns, i, j, value_);
    unsigned c = 0;
    for (unsigned k = 0; k < 8; ++k) {
      const int y = i + ring::di[k], x = j + ring::dj[k];
      if (y >= 0 && y < lines && x >= 0 && x < columns && at(y, x)) c |= 1u << k;
    }
    return c;
  }

  // f(j) for every set pixel of line i, left to right.
  template <typename F>
  void for_each_in_line(int i, F f) const {
    if (!bits_) {
      const unsigned char* row = plane_[i];
      for (int j = 0; j < columns; ++j)
        if (row[j] == value_) f(j);
      return;
    }
    const bitplane::Word* row = bits_->row(i + border_);
    for (int d = 1; d <= bits_->words(); ++d)
      for (bitplane::Word w = row[d]; w; w &= w - 1) {
        const int j = 64 * (d - 1) + std::countr_zero(w) - border_;
        if (j >= 0 && j < columns) f(j);
      }
  }

 private:
  unsigned char* const* plane_ = nullptr;
  unsigned char value_ = 1, background_ = 0;
  bitplane::Plane* bits_ = nullptr;
  int border_ = 0;
};
