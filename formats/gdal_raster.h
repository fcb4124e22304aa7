// Rasters of every format GDAL reads, and results written through GDAL.
//
//   gdal_raster_setup      register the drivers and bound GDAL's block cache
//   open_gdal_source       any raster GDAL reads, as an image source
//   gdal_driver_for        the driver a result's extension selects
//   gdal_result_driver     a driver that writes rasters, by its short name (-of)
//   gdal_check_creation_options  creation options (-co) the driver takes
//   write_gdal_raster      a one-byte picture to a file, georeferenced
//   esri_wkt               a coordinate system as an ESRI .prj file holds it
//   gdal_read_formats      the raster drivers of this GDAL, for a listing
//   check_gdal_input       may GDAL open a file without hanging or reaching
//                          what the user did not allow?
//   gdal_files_read        the files GDAL reads for one input
//
// Built only when GDAL is found (target solvik_gdal_raster, which defines
// SOLVIK_HAVE_GDAL_RASTER for its users). Nothing here prints, keeps state of
// its own or ends the program; GDAL's messages are caught per thread
// (formats/gdal_errors.h) and come back as the reasons of Failures
// (platform/failure.h). Different images may be read and written at once on
// different threads.
//
// Notes
//  1. Bands: `band` 1..count picks one. With band 0, one band is used as it
//     is; three or four bands (RGB, RGBA) become grey, alpha ignored: on
//     8-bit data by the rounded luma (19595 R + 38470 G + 7471 B + 32768)
//     >> 16, the bitmap reader's rule, on other data by the same weights
//     without rounding. Other counts are refused, asking for a band.
//  2. A band with a colour table (a paletted PNG, a 1-bit bitmap) gives the
//     grey of each pixel's colour by the same luma, so black is 0 and white
//     255 whatever the indices.
//  3. A pixel equal to its band's nodata value (of every colour band, for
//     RGB) is NaN: background.
//  4. Every read is checked: a file GDAL reads only partly (cut short, a bad
//     block) fails with GDAL's message, never gives zeros.
//  5. Nothing GDAL opens can hang a run: before an input is opened, its
//     side files (names beside it that start with its stem) and, for a VRT,
//     every source (again with their side files and sources) must be
//     regular files where they exist; a FIFO or a device among them is
//     refused. A VRT's raw bands and sources on the network are refused
//     unless GDAL's own options allow them (GDAL_VRT_ENABLE_RAWRASTERBAND,
//     CPL_VSIL_CURL_ALLOWED_EXTENSIONS or CPL_VSIL_CURL_ALLOWED_FILENAME);
//     setup turns the network file systems off and gives them a timeout
//     where the user set none of these.
//  6. A warning while pixels are read (a JPEG cut short, "premature end of
//     data") fails the read like an error: the missing part is never grey.
//  7. Results: GeoTIFF (.tif, .tiff) DEFLATE-compressed, tiled when a side is
//     above 4096, BigTIFF when it might need it; PNG (.png); PGM (.pgm); or
//     any driver that writes Byte rasters. The caller's creation options
//     come after those defaults and win over them. The geotransform,
//     coordinate system and nodata value go where the format holds them;
//     no side file is ever written.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/image_source.h"
#include "formats/rows.h"

void gdal_raster_setup();

// Never null: a Failure says why the file cannot be read ("not a raster
// GDAL recognises", GDAL's own message, "it has 2 bands: choose one with
// --band", ...).
std::unique_ptr<ImageSource> open_gdal_source(const std::string& path, int band);

// "GTiff" for .tif/.tiff, "PNG" for .png, "PNM" for .pgm (any case), else "".
std::string gdal_driver_for(const std::string& extension);

// A driver that writes Byte rasters: its short name as GDAL spells it and
// the extension of its files (with the dot; "" when it names none).
struct GdalDriverInfo {
  std::string name;
  std::string extension;
};

// The driver of short name `name` (any case). A Failure when this GDAL has
// none or it cannot write a file of bytes.
GdalDriverInfo gdal_result_driver(const std::string& name);

// A Failure naming the option when one of `options` (NAME=VALUE) is not
// among the driver's creation options or has a value it refuses.
void gdal_check_creation_options(const std::string& driver, const std::vector<std::string>& options);

// Told the part written so far, 0 to 1. May be empty.
using WriteProgress = std::function<void(double fraction)>;

// How a result is written: its driver, creation options (NAME=VALUE) given
// after the defaults, and the nodata value its band declares.
struct GdalResult {
  std::string driver;
  std::vector<std::string> creation_options;
  std::optional<double> nodata;
};

// Writes `rows` (nb_lig rows of nb_col bytes) to `path` as `result` says,
// whatever `path` is called (it may be a temporary name). A Failure with
// GDAL's message when it cannot; what `rows` or `progress` throw comes back
// unchanged.
void write_gdal_raster(const std::string& path, const GdalResult& result, const RowSource& rows, int nb_lig,
                       int nb_col, const Georef& georef, const WriteProgress& progress);

// Returns when GDAL may open `path` (note 5); a Failure naming the file
// that stops it otherwise.
void check_gdal_input(const std::string& path);

// The files GDAL reads for the raster at `path` (itself, its side files, a
// VRT's sources), by GDAL's own list; empty when it is not safe to open or
// not a raster GDAL recognises.
std::vector<std::string> gdal_files_read(const std::string& path);

// The coordinate system `wkt` (any form GDAL reads) as ESRI's WKT, the text
// of a .prj file; "" when GDAL cannot turn it.
std::string esri_wkt(const std::string& wkt);

// One line per raster driver: "  SHORTNAME  long name (extensions)".
std::string gdal_read_formats();
