// Bit planes: pictures of one bit per pixel, the working form of the fast
// thinning and finishing kernels.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

// --- bit planes ---------------------------------------------------------------
//
// The fast kernels keep a picture as one bit per pixel. Line i is a row of
// words() data words between two zero guard words: column j is bit j % 64
// of row(i)[1 + j / 64], so reading one word to either side of any data
// word never leaves the row. The bits past the last column stay 0.
namespace bitplane {

using Word = std::uint64_t;

inline int words_for(int nb_col) { return (nb_col + 63) / 64; }

// Set bits of a word. Written out because the baseline x86-64 instruction
// set has no population count and std::popcount becomes a library call.
inline int count(Word w) {
  w -= (w >> 1) & 0x5555555555555555u;
  w = (w & 0x3333333333333333u) + ((w >> 2) & 0x3333333333333333u);
  w = (w + (w >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<int>((w * 0x0101010101010101u) >> 56);
}

// A zero-filled array of words. On Linux large arrays come straight from
// the kernel (already zero, no fill) in huge pages where it can, because a
// fault per 4 KiB page costs more than the thinning of a sparse plane.
// Without `zeroed`, a small array is left as it comes, so that the memory
// of an array written only in part is not all touched.
class Words {
 public:
  explicit Words(std::size_t n, bool zeroed = true) : n_(n) {
    if (n_ == 0) return;
#if defined(__linux__)
    constexpr std::size_t kHuge = std::size_t{1} << 21;
    if (n_ * sizeof(Word) >= kHuge) {
      bytes_ = (n_ * sizeof(Word) + kHuge - 1) / kHuge * kHuge;
      void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      madvise(p, bytes_, MADV_HUGEPAGE);  // a hint: without huge pages all still works
      data_ = static_cast<Word*>(p);
      return;
    }
#endif
    data_ = zeroed ? new Word[n_]() : new Word[n_];
  }
  ~Words() {
#if defined(__linux__)
    if (bytes_) {
      munmap(data_, bytes_);
      return;
    }
#endif
    delete[] data_;
  }
  Words(Words&& o) noexcept : n_(o.n_), bytes_(o.bytes_), data_(o.data_) {
    o.n_ = 0;
    o.bytes_ = 0;
    o.data_ = nullptr;
  }
  Words(const Words&) = delete;
  Words& operator=(const Words&) = delete;
  Word* data() { return data_; }
  const Word* data() const { return data_; }
  std::size_t size() const { return n_; }

 private:
  std::size_t n_;
  std::size_t bytes_ = 0;  // of the mapping, when mapped
  Word* data_ = nullptr;
};

class Plane {
 public:
  Plane(int nb_lig, int nb_col)
      : words_(words_for(nb_col)),
        stride_(words_ + 2),
        summary_stride_((words_ + 63) / 64),
        bits_(static_cast<std::size_t>(nb_lig) * static_cast<std::size_t>(stride_)),
        summary_(static_cast<std::size_t>(nb_lig) * static_cast<std::size_t>(summary_stride_)) {}

  int words() const { return words_; }
  int stride() const { return stride_; }
  Word* row(int i) { return bits_.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(stride_); }
  const Word* row(int i) const {
    return bits_.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(stride_);
  }

  // The summary: one bit per data word, set whenever the word may be
  // non-zero, so whole empty stretches of a line are skipped.
  void mark_word(int i, int d) { summary(i)[(d - 1) >> 6] |= Word{1} << ((d - 1) & 63); }
  void unmark_word(int i, int d) { summary(i)[(d - 1) >> 6] &= ~(Word{1} << ((d - 1) & 63)); }
  bool line_has_any(int i) const {
    const Word* s = summary(i);
    for (int k = 0; k < summary_stride_; ++k)
      if (s[k]) return true;
    return false;
  }
  // Calls f(d) for every marked data word d of line i, in increasing order.
  // f may mark and unmark words.
  template <typename F>
  void for_each_marked_word(int i, F f) {
    for (int k = 0; k < summary_stride_; ++k) {
      Word s = summary(i)[k];
      while (s) {
        const int b = std::countr_zero(s);
        s &= s - 1;
        f(1 + 64 * k + b);
      }
    }
  }

 private:
  Word* summary(int i) { return summary_.data() + static_cast<std::size_t>(i) * summary_stride_; }
  const Word* summary(int i) const { return summary_.data() + static_cast<std::size_t>(i) * summary_stride_; }

  int words_, stride_, summary_stride_;
  Words bits_;
  Words summary_;
};

// Word d of a row seen from one column to the east or west: bit b holds
// column 64 (d - 1) + b - 1 (west) or + 1 (east).
inline Word west(const Word* row, int d) { return row[d] << 1 | row[d - 1] >> 63; }
inline Word east(const Word* row, int d) { return row[d] >> 1 | row[d + 1] << 63; }
// The same of the row masked by `mask`.
inline Word west(const Word* row, const Word* mask, int d) {
  return (row[d] & mask[d]) << 1 | (row[d - 1] & mask[d - 1]) >> 63;
}
inline Word east(const Word* row, const Word* mask, int d) {
  return (row[d] & mask[d]) >> 1 | (row[d + 1] & mask[d + 1]) << 63;
}

// kByteMask[m]: eight bytes, byte k 0xFF where bit k of m is set, else 0
// (little-endian byte order: eight pixels read with memcpy), for writing the
// pixels of a word back into a plane eight at a time.
constexpr std::array<std::uint64_t, 256> make_byte_masks() {
  std::array<std::uint64_t, 256> t{};
  for (unsigned m = 0; m < 256; ++m)
    for (int k = 0; k < 8; ++k)
      if ((m >> k) & 1u) t[m] |= std::uint64_t{0xFF} << (8 * k);
  return t;
}
constexpr std::array<std::uint64_t, 256> kByteMask = make_byte_masks();

// Resolves a chain along a word: bit j of the result is `fixed` where bit j
// of `linked` is 0, and (result bit j - 1) xor (bit j of `flip`) where it is
// 1 (bit 0 is never linked). A segmented prefix xor: 64 sequential steps in
// six word operations.
inline Word chain_xor(Word fixed, Word linked, Word flip) {
  linked &= ~Word{1};
  Word y = (fixed & ~linked) | (flip & linked);
  for (int k = 1; k < 64; k <<= 1) {
    y ^= (y << k) & linked;
    linked &= linked << k;
  }
  return y;
}

// Column j of a row, and columns j - 1, j, j + 1 (bits 0, 1, 2) for j >= 1.
inline unsigned bit(const Word* row, int j) { return static_cast<unsigned>(row[1 + (j >> 6)] >> (j & 63)) & 1u; }
inline unsigned triple(const Word* row, int j) {
  const int p = j - 1, s = p & 63;
  const Word* w = row + 1 + (p >> 6);
  return static_cast<unsigned>((w[0] >> s | (w[1] << 1) << (63 - s)) & 7u);
}

// A row mask of the columns inside the frame, 1 to nb_col - 2 (guards 0).
inline std::vector<Word> interior_columns(int nb_col) {
  std::vector<Word> m(static_cast<std::size_t>(words_for(nb_col)) + 2, 0);
  for (int j = 1; j <= nb_col - 2; ++j) m[1 + (j >> 6)] |= Word{1} << (j & 63);
  return m;
}

// Packs one line of bytes into a row: a bit is set where the byte equals
// `value` (or, with `unequal`, where it differs). Bits past the last column
// stay 0.
inline void pack_line(const unsigned char* src, int nb_col, Word* row, unsigned char value, bool unequal) {
  int j = 0, d = 1;
  const Word flip = unequal ? ~Word{0} : 0;
#if defined(__SSE2__)
  const __m128i match = _mm_set1_epi8(static_cast<char>(value));
  for (; j + 64 <= nb_col; j += 64, ++d) {
    Word w = 0;
    for (int q = 0; q < 4; ++q) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + j + 16 * q));
      w |= static_cast<Word>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, match)))) << (16 * q);
    }
    row[d] = w ^ flip;
  }
#endif
  for (; j < nb_col; j += 64, ++d) {
    Word w = 0;
    for (int b = 0; b < 64 && j + b < nb_col; ++b)
      if ((src[j + b] == value) != unequal) w |= Word{1} << b;
    row[d] = w;
  }
}

// The object of a line (bytes not 0) and the skeleton of a line (bytes 1).
inline void pack_nonzero(const unsigned char* src, int nb_col, Word* row) { pack_line(src, nb_col, row, 0, true); }
inline void pack_ones(const unsigned char* src, int nb_col, Word* row) { pack_line(src, nb_col, row, 1, false); }

}  // namespace bitplane
