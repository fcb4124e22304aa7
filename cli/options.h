// The command line's options and forms:
//
//   solvik [OPTIONS] INPUT OUTPUT          one image
//   solvik [OPTIONS] INPUT... -o FOLDER    many images, FOLDER/<stem>_reg.<ext>
//
//   Options          everything a run was asked for
//   option_table     every option, declared once: the parser, the usage text
//                    and the manual page's list all come from it
//   parse_options    argv -> Options, or what to print instead, or a usage error
//   usage_text       the text of --help
//   result_kind      which writer an output extension selects
//   result_settings  how one result is written: writer, driver, values, nodata
//
// Nothing here prints or ends the program.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/host.h"
#include "skeleton/pipeline.h"

// Puts `text` in `why` (when given) and answers false: how the command
// line's own checks and writers report a refusal to the door's loop.
inline bool fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

// range: [lo, hi]; dark, bright: by Otsu's threshold; nonzero: every value
// but 0.
enum class WindowKind { range, dark, bright, nonzero };

// The writers, by the output's extension (or -of).
enum class ResultKind { none, raw, bmp, asc, gdal };

struct Options {
  WindowKind window = WindowKind::range;
  double lo = 128, hi = 255;        // the object window, both ends included (range)
  bool window_given = false;        // -w given; else the data's kind decides
  int band = 0;                     // 0: as the band count says
  FrameMode frame = FrameMode::pad;
  bool frame_given = false;
  unsigned char skeleton_value = 1, background_value = 255;
  bool values_given = false;        // --values given; else the result's kind decides
  bool as_dialogue = false;         // the dialogue's skeleton, frame (keep) and values (1 on 255)
  std::string format;               // -f: ".ext" of the results of the many-images form
  std::string driver;               // -of: the GDAL driver of every result ("" : by extension)
  std::vector<std::string> creation_options;  // -co NAME=VALUE, in order
  enum class Nodata { by_kind, set, none } nodata = Nodata::by_kind;  // -a_nodata
  double nodata_value = 0;          // with Nodata::set
  int jobs = 1;                     // images at once (0 given: one per core)
  int threads = 0;                  // threads of one image's thinning (0: the default)
  bool quiet = false;
  bool progress = false;            // forced on
  bool timings = false;             // each image's stage times on standard error
  bool plan = false;                // --plan: print the run's files, do nothing
  std::vector<std::string> inputs;
  std::string output;               // the one-image form
  std::string folder;               // the many-images form (-o)
  bool many = false;
  // the skeleton graph
  double prune = 0;                 // remove side branches shorter than this (pixels)
  double simplify = 0;              // Douglas-Peucker tolerance (pixels)
  std::string vector_file, nodes_file, summary_file;
};

enum class Action { run, help, version, formats };

// One option as the parser, the usage text and the manual page see it.
struct OptionSpec {
  const char* short_name;  // "-w", "-of"; may be null
  const char* long_name;   // "--window"; may be null
  const char* value;       // what it takes, as the usage shows it ("MIN:MAX"); null: no value
  const char* help;        // the usage text's description (lines of at most 52 characters)
  bool (*apply)(const std::string& value, Options& options, Action& action, std::string* why);
};

// Every option, in the order the usage lists them.
std::span<const OptionSpec> option_table();

// Parses argv[1..argc-1]. False with `why` for a usage error (unknown
// option, bad value, missing OUTPUT, ...).
bool parse_options(int argc, char** argv, Options& options, Action& action, std::string* why);

// The writer for an extension (as extension_of gives it). `gdal` when GDAL
// writes it (.tif, .tiff, .png, .pgm), whether or not this build has GDAL.
ResultKind result_kind(const std::string& extension);

// How one result is written.
struct ResultSettings {
  ResultKind kind = ResultKind::none;
  std::string driver;                         // GDAL's driver, for kind gdal
  std::vector<std::string> creation_options;  // NAME=VALUE, for kind gdal
  unsigned char skeleton = 1, background = 255;
  std::optional<double> nodata;               // the nodata value declared in the result
  bool nodata_dropped = false;                // -a_nodata none: no nodata, not even a grid's fixed line
  bool georeferenced = false;                 // the result holds the input's georeferencing
};

// The settings of the result `output` of an input that is georeferenced or
// not. Values by kind, unless --values or --as-dialogue say otherwise: the
// program's own formats 1 on 255 as the dialogue writes them; pictures
// (PNG, PGM, JPEG, ..., a TIFF without georeferencing) 255 on 0;
// georeferenced results 255 on 0, with the background declared nodata.
// -a_nodata sets or drops the nodata value of any result that holds one.
ResultSettings result_settings(const Options& options, const std::string& output, bool georeferenced_input);

const char* usage_text();
