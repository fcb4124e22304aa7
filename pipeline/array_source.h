// A picture held in memory by the caller (a NumPy array, a plane), as an
// image source: lines handed out as values, whatever the element type and
// however the lines and columns are strided.
//
//   ArrayLayout   where the values are and how to step through them
//   ArraySource   the source over one layout; copies nothing
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "formats/image_source.h"
#include "pipeline/pipeline.h"
#include "platform/failure.h"

namespace pipeline {

enum class Element { boolean, i8, i16, i32, i64, u8, u16, u32, u64, f32, f64 };

struct ArrayLayout {
  const char* data = nullptr;
  std::ptrdiff_t line_bytes = 0;    // from one line to the next
  std::ptrdiff_t column_bytes = 0;  // from one column to the next
  int lines = 0, columns = 0;
  Element element = Element::u8;
};

class ArraySource : public ImageSource {
 public:
  explicit ArraySource(const ArrayLayout& layout) : a_(layout) {
    if (layout.lines < 1 || layout.columns < 1) throw std::invalid_argument("an array needs a line and a column");
    lines = layout.lines;
    columns = layout.columns;
  }

  // Bytes and booleans (one byte, 0 or 1) are handed over as they lie when
  // their columns are contiguous.
  bool has_byte_lines() const override { return a_.element == Element::u8 || a_.element == Element::boolean; }

  void read_byte_lines(const ByteLineSink& sink, const ReadProgress& progress) override {
    if (!has_byte_lines()) return ImageSource::read_byte_lines(sink, progress);
    std::vector<unsigned char> gathered(a_.column_bytes == 1 ? 0 : static_cast<std::size_t>(columns));
    for (int i = 0; i < lines; ++i) {
      const char* line = a_.data + i * a_.line_bytes;
      const unsigned char* values = reinterpret_cast<const unsigned char*>(line);
      if (a_.column_bytes != 1) {
        for (int j = 0; j < columns; ++j)
          gathered[static_cast<std::size_t>(j)] = static_cast<unsigned char>(line[j * a_.column_bytes]);
        values = gathered.data();
      }
      if (!sink(i, values)) throw Failure("reading stopped at line " + std::to_string(i));
      if (progress && (i & 255) == 0) progress(static_cast<double>(i) / lines);
    }
  }

  void read_lines(const LineSink& sink, const ReadProgress& progress) override {
    std::vector<double> values(static_cast<std::size_t>(columns));
    for (int i = 0; i < lines; ++i) {
      const char* line = a_.data + i * a_.line_bytes;
      switch (a_.element) {
        case Element::boolean: fill<std::uint8_t>(line, values); break;  // one byte, 0 or 1
        case Element::i8: fill<std::int8_t>(line, values); break;
        case Element::i16: fill<std::int16_t>(line, values); break;
        case Element::i32: fill<std::int32_t>(line, values); break;
        case Element::i64: fill<std::int64_t>(line, values); break;
        case Element::u8: fill<std::uint8_t>(line, values); break;
        case Element::u16: fill<std::uint16_t>(line, values); break;
        case Element::u32: fill<std::uint32_t>(line, values); break;
        case Element::u64: fill<std::uint64_t>(line, values); break;
        case Element::f32: fill<float>(line, values); break;
        case Element::f64: fill<double>(line, values); break;
      }
      if (!sink(i, values.data())) throw Failure("reading stopped at line " + std::to_string(i));
      if (progress && (i & 255) == 0) progress(static_cast<double>(i) / lines);
    }
  }

 private:
  // Elements are read through memcpy, so an array need not be aligned.
  template <typename T>
  void fill(const char* line, std::vector<double>& values) const {
    for (int j = 0; j < columns; ++j) {
      T v;
      std::memcpy(&v, line + j * a_.column_bytes, sizeof v);
      values[static_cast<std::size_t>(j)] = static_cast<double>(v);
    }
  }

  ArrayLayout a_;
};

// A sink that keeps the picture in the caller's memory: line i goes to
// data + i * line_bytes.
class ArraySink : public Sink {
 public:
  ArraySink(unsigned char* data, std::ptrdiff_t line_bytes) : data_(data), line_bytes_(line_bytes) {}
  void write(const Picture& picture, const Outcome&) override {
    std::vector<unsigned char*> rows(static_cast<std::size_t>(picture.lines));
    for (int i = 0; i < picture.lines; ++i) rows[static_cast<std::size_t>(i)] = data_ + i * line_bytes_;
    picture.read(0, picture.lines, rows.data());
  }

 private:
  unsigned char* data_;
  std::ptrdiff_t line_bytes_;
};

}  // namespace pipeline
