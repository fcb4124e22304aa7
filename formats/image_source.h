// Images read line by line as values, whatever their file format, for the
// command line: the program's own rasters (with descriptors), bitmaps and
// ASCII grids here, every raster GDAL reads in formats/gdal_raster.h.
//
//   ImageSource        an opened image: its size, what it carries, its lines
//   open_raw_source    a raster (.raw) with its descriptor (.txt)
//   open_bmp_source    an 8- or 24-bit bitmap through the program's codec
//   open_asc_source    an ASCII grid, values kept whole
//   grid_georef        the geotransform of an ASCII grid header
//
// Nothing here prints, keeps state or ends the program: a file that cannot
// be read is a Failure (platform/failure.h) saying why, memory that cannot
// be had std::bad_alloc. Different sources may be read at once on different
// threads.
//
// Notes
//  1. Lines are handed out as doubles, one per pixel, line 0 (the top)
//     first. A pixel that is nodata is NaN, so no window holds it. Reading
//     never holds more than a block of lines besides what the caller keeps,
//     so a caller that turns each line into one byte per pixel stays at one
//     byte per pixel whatever the input's type.
//  2. A source may be read more than once (a window found from the image's
//     histogram reads it twice); each read starts again from line 0.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "formats/ascii_grid.h"
#include "formats/georef.h"
#include "formats/raster.h"


// Called with each line in turn: `values` holds the line's pixels. Returns
// false to stop the reading (a Failure "reading stopped at line N"); what it
// throws passes through the reading unchanged.
using LineSink = std::function<bool(int line, const double* values)>;

// The same for sources of bytes (see ImageSource::has_byte_lines).
using ByteLineSink = std::function<bool(int line, const unsigned char* values)>;

// Told the part of the image read so far, from 0 to 1. May be empty.
using ReadProgress = std::function<void(double fraction)>;

// What a source's values are, for the window the command line takes when
// none is given: bit (one band of 0 and 1, GDAL's NBITS=1), byte (0 to 255:
// the program's own rasters and bitmaps, 8-bit data, paletted pictures as
// grey), other (16-bit, float, ..., and ASCII grids, whose values are
// known only once read).
enum class Samples { bit, byte, other };

class ImageSource {
 public:
  virtual ~ImageSource() = default;

  int lines = 0;
  int columns = 0;
  Samples samples = Samples::byte;
  std::string sample_type = "Byte"; // for messages: GDAL's name of the data type ("UInt16", "Float32"), "1-bit", ...
  Georef georef;
  std::optional<RasterDescriptor> descriptor;  // a raster's descriptor, carried to a raster result
  std::optional<AscHeader> grid_header;        // an ASCII grid's header, carried to a grid result
  std::string descriptor_path;                 // the descriptor file, for a raster
  std::string coordinate_file;                 // a grid's .prj, when one was read into georef.wkt

  // Hands every line to `sink`, top first. A Failure when the file cannot
  // be read completely or the sink stops.
  virtual void read_lines(const LineSink& sink, const ReadProgress& progress) = 0;

  // True when every pixel is a whole number from 0 to 255 and none is
  // nodata: the lines can then be had as bytes, the same values without a
  // double for each (marking a picture of bytes is several times faster).
  virtual bool has_byte_lines() const { return false; }

  // read_lines in bytes, for a source that has them; the base turns the
  // doubles of read_lines into bytes.
  virtual void read_byte_lines(const ByteLineSink& sink, const ReadProgress& progress);

  // Called when the caller reads no more: a source that holds its pixels
  // (a bitmap) lets them go.
  virtual void done_reading() {}
};

// A raster and its descriptor. A missing descriptor is an error (no
// questions are asked); so is a raster shorter than the descriptor says.
// The openers never give null: they throw.
std::unique_ptr<ImageSource> open_raw_source(const std::string& raw_path, const std::string& descriptor_path);

// A bitmap the program's own codec reads (8 bits with a palette, the palette
// index being the value, or 24 bits turned grey by the rounded luma
// (19595 R + 38470 G + 7471 B + 32768) >> 16). A Failure with the codec's
// reason when it refuses the file; std::bad_alloc when its pixels do not
// fit in memory.
std::unique_ptr<ImageSource> open_bmp_source(const std::string& path);

// An ASCII grid read by the program's strict reader, each value kept whole
// (integers and decimals). The header's nodata value, when the header has
// one, is nodata. A bad or missing value stops the reading naming its line
// and column. The grid's coordinate system is the text of the .prj file of
// the same name beside it (".prj" or ".PRJ"), when there is one that is a
// regular file of at most 1 MiB; a .prj that cannot be read is an error.
std::unique_ptr<ImageSource> open_asc_source(const std::string& path);


// The geotransform of a grid of `nb_lig` lines whose lower-left corner is
// (x_min, y_min) and cells `cell` wide: north up, square cells. Not valid
// when the cell size is not positive.
Georef grid_georef(const AscHeader& header);
