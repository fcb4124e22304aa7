// The command line's options and forms:
//
//   solvik [OPTIONS] INPUT OUTPUT          one image
//   solvik [OPTIONS] INPUT... -o FOLDER    many images, FOLDER/<stem>_reg.<ext>
//
//   Options          everything a run was asked for
//   parse_options    argv -> Options, or what to print instead, or a usage error
//   usage_text       the text of --help
//   result_kind      which writer an output extension selects
//
// Nothing here prints or ends the program.
#pragma once

#include <string>
#include <vector>

#include "skeleton/pipeline.h"

enum class WindowKind { range, dark, bright };

// The writers, by the output's extension.
enum class ResultKind { none, raw, bmp, asc, gdal };

struct Options {
  WindowKind window = WindowKind::range;
  double lo = 128, hi = 255;        // the object window, both ends included (range)
  int band = 0;                     // 0: as the band count says
  FrameMode frame = FrameMode::keep;
  unsigned char skeleton_value = 1, background_value = 255;
  std::string format;               // -f: ".ext" of the results of the many-images form
  int jobs = 1;                     // images at once (0 given: one per core)
  int threads = 0;                  // threads of one image's thinning (0: the default)
  bool quiet = false;
  bool progress = false;            // forced on
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

// Parses argv[1..argc-1]. False with `why` for a usage error (unknown
// option, bad value, missing OUTPUT, ...).
bool parse_options(int argc, char** argv, Options& options, Action& action, std::string* why);

// The extension of a path's last component, with its dot, lower case; ""
// when there is none.
std::string extension_of(const std::string& path);

// The writer for an extension (as extension_of gives it). `gdal` when GDAL
// writes it (.tif, .tiff, .png, .pgm), whether or not this build has GDAL.
ResultKind result_kind(const std::string& extension);

const char* usage_text();
