// The command line's options: see options.h.
//
// Notes
//  1. Options may come before, between and after the paths; "--" ends them,
//     so a path may start with "-". A value follows its option as the next
//     argument; a long option's value may be joined by "=" ("--window=0:9")
//     and a one-letter option's by nothing when it does not start with a
//     letter ("-w128:255", "-j2"). Options are never clustered: "-of" is
//     GDAL's -of, and "-ox" is an unknown option, not "-o x".
//  2. Numbers are whole words: "12x" is refused, not read as 12.
//  3. The list of options is kOptions alone: the parser walks it, the usage
//     text is made from it, and a test holds the manual page to it.
#include "cli/options.h"
#include "platform/failure.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef SOLVIK_HAVE_GDAL_RASTER
#include "formats/gdal_raster.h"
#endif

namespace {

// The usage text around the options' list, which option_table gives.
constexpr const char* kUsageHead =
    "Usage: solvik                                  the interactive dialogue\n"
    "       solvik [OPTIONS] INPUT OUTPUT           one image\n"
    "       solvik [OPTIONS] INPUT... -o FOLDER     many images: FOLDER/<stem>_reg.<ext>\n"
    "\n"
    "Reduces the objects of an image to skeletons one pixel wide. Without\n"
    "arguments the program is interactive: it asks for a folder under\n"
    "c:\\images\\ (images/ of the working directory on Linux), a format, a name\n"
    "and the object window, and writes NAME_reg beside the input.\n"
    "\n"
    "INPUT: any raster GDAL reads (PNG, GeoTIFF, JPEG, PNM, BMP, ...), the\n"
    "program's own .raw (with its .txt descriptor), .bmp and .asc. OUTPUT by\n"
    "its extension: .tif/.tiff (GeoTIFF), .png, .pgm, .bmp, .asc, .raw (+ .txt),\n"
    "or in any GDAL format with -of.\n"
    "\n"
    "Without -w, 8-bit data and ASCII grids of whole numbers 0 to 255 take\n"
    "128:255, 1-bit data its non-zero pixels; other data asks for -w.\n"
    "Results: the program's own formats 1 on the skeleton, 255 elsewhere;\n"
    "pictures 255 on 0; georeferenced results 255 on 0, 0 declared nodata.\n"
    "\n"
    "Options:\n";

constexpr const char* kUsageTail =
    "\n"
    "In the many-images form each image's graph files are named like its result,\n"
    "then what they hold, then the extension of the FILE given:\n"
    "<stem>_reg.branches.<ext>, <stem>_reg.nodes.<ext>, <stem>_reg.summary.csv.\n"
    "Every file a run would write is checked before any work: two that are one\n"
    "file, or one that an input reads, stop the run as a usage error. An image's\n"
    "files are put in place together, or none of them.\n"
    "\n"
    "--plan prints the files a run writes, then those it reads, and checks them\n"
    "as the run would (a refused plan is the same usage error). Roles: result,\n"
    "descriptor, prj, branches, branches-side, nodes, nodes-side, summary,\n"
    "read. A backslash, tab, newline or carriage return in a path is written\n"
    "\\\\, \\t, \\n or \\r.\n"
    "\n"
    "Exit status: 0 when every result was written, 1 when an image failed (each\n"
    "failure is one line on standard error), 2 for a usage error.\n";

bool whole_int(const std::string& word, int& value) {
  const char* first = word.data();
  const char* last = first + word.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && ptr == last && !word.empty();
}

// A finite decimal number, the whole word.
bool whole_real(const std::string& word, double& value) {
  if (word.empty() || std::isspace(static_cast<unsigned char>(word[0]))) return false;
  char* end = nullptr;
  value = std::strtod(word.c_str(), &end);
  return end == word.c_str() + word.size() && std::isfinite(value);
}

std::string number_text(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool parse_window(const std::string& word, Options& o, std::string* why) {
  o.window_given = true;
  if (word == "dark" || word == "bright" || word == "nonzero") {
    o.window = word == "dark" ? WindowKind::dark : word == "bright" ? WindowKind::bright : WindowKind::nonzero;
    return true;
  }
  const std::size_t colon = word.find(':');
  double lo = 0, hi = 0;
  if (colon == std::string::npos || !whole_real(word.substr(0, colon), lo) || !whole_real(word.substr(colon + 1), hi))
    return fail(why, "bad window '" + word + "': give MIN:MAX (numbers), dark, bright or nonzero");
  if (lo > hi) return fail(why, "bad window '" + word + "': MIN is above MAX");
  o.window = WindowKind::range;
  o.lo = lo;
  o.hi = hi;
  return true;
}

bool parse_values(const std::string& word, Options& o, std::string* why) {
  const std::size_t colon = word.find(':');
  int s = -1, b = -1;
  if (colon == std::string::npos || !whole_int(word.substr(0, colon), s) || !whole_int(word.substr(colon + 1), b) ||
      s < 0 || s > 255 || b < 0 || b > 255)
    return fail(why, "bad values '" + word + "': give SKELETON:BACKGROUND, two whole numbers from 0 to 255");
  if (s == b) return fail(why, "bad values '" + word + "': the skeleton and the background need different values");
  o.skeleton_value = static_cast<unsigned char>(s);
  o.background_value = static_cast<unsigned char>(b);
  o.values_given = true;
  return true;
}

bool parse_count(const std::string& option, const std::string& word, int least, int& value, std::string* why) {
  if (!whole_int(word, value) || value < least)
    return fail(why, "bad " + option + " '" + word + "': give a whole number of at least " + std::to_string(least));
  return true;
}

bool parse_length(const std::string& option, const std::string& word, double& value, std::string* why) {
  if (!whole_real(word, value) || value < 0)
    return fail(why, "bad " + option + " '" + word + "': give a number of pixels, 0 or more");
  return true;
}

bool set_file(const char* option, const std::string& value, std::string& file, std::string* why) {
  if (value.empty()) return fail(why, std::string(option) + " needs a file name");
  const std::string ext = extension_of(value);
  if (std::string(option) != "--summary" && ext != ".gpkg" && ext != ".geojson" && ext != ".json" && ext != ".shp" &&
      ext != ".fgb" && ext != ".csv")
    return fail(why, std::string(option) + " '" + value +
                         "': vector files are written as .gpkg, .geojson, .json, .shp, .fgb or .csv");
  file = value;
  return true;
}

// --- the options, declared once -------------------------------------------------

using Apply = bool (*)(const std::string&, Options&, Action&, std::string*);

const OptionSpec kOptions[] = {
    {"-w", "--window", "MIN:MAX|dark|bright|nonzero",
     "object values, both ends included, in the\n"
     "input's own values (default: by the data, see\n"
     "above); dark or bright: below or above Otsu's\n"
     "threshold (printed); nonzero: all but 0",
     [](const std::string& v, Options& o, Action&, std::string* why) { return parse_window(v, o, why); }},
    {"-b", "--band", "N",
     "the band to use (default: one band as it is, RGB\n"
     "and RGBA as grey)",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       return parse_count("band", v, 1, o.band, why);
     }},
    {nullptr, "--frame", "keep|pad",
     "pad (default): the skeleton that keeps every\n"
     "object, hole and stroke, thinned as if the image\n"
     "were surrounded by background; keep: the\n"
     "dialogue's thinning, edge objects along the edge",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       if (!parse_frame_mode(v, o.frame)) return fail(why, "bad frame '" + v + "': give keep or pad");
       o.frame_given = true;
       return true;
     }},
    {nullptr, "--values", "S:B",
     "the result's values of skeleton and background\n"
     "(default: by the result's kind, see above)",
     [](const std::string& v, Options& o, Action&, std::string* why) { return parse_values(v, o, why); }},
    {nullptr, "--as-dialogue", nullptr,
     "the dialogue's very bytes: its skeleton, its frame\n"
     "(keep) and its values (1 on 255)",
     [](const std::string&, Options& o, Action&, std::string*) { return o.as_dialogue = true; }},
    {"-of", nullptr, "FORMAT",
     "write the results with GDAL's driver FORMAT (a\n"
     "short name: GTiff, PNG, HFA, ...) whatever\n"
     "their extension",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       if (v.empty()) return fail(why, "-of needs a GDAL driver's short name");
       o.driver = v;
       return true;
     }},
    {"-co", nullptr, "NAME=VALUE",
     "a creation option of GDAL's driver (repeatable),\n"
     "e.g. -co COMPRESS=LZW -co TILED=YES",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       const std::size_t eq = v.find('=');
       if (eq == std::string::npos || eq == 0) return fail(why, "bad creation option '" + v + "': give NAME=VALUE");
       o.creation_options.push_back(upper(v.substr(0, eq)) + v.substr(eq));
       return true;
     }},
    {"-a_nodata", nullptr, "VALUE|none",
     "the nodata value declared in the results, or\n"
     "none (default: the background of georeferenced\n"
     "results)",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       if (v == "none") {
         o.nodata = Options::Nodata::none;
         return true;
       }
       if (!whole_real(v, o.nodata_value)) return fail(why, "bad nodata value '" + v + "': give a number or none");
       o.nodata = Options::Nodata::set;
       return true;
     }},
    {"-o", nullptr, "FOLDER", "the many-images form: results go to FOLDER",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       if (v.empty()) return fail(why, "-o needs a folder");
       o.folder = v;
       o.many = true;
       return true;
     }},
    {"-f", "--format", "EXT",
     "the results' extension in that form (default:\n"
     "the input's, or the driver's of -of)",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       std::string ext = v.empty() || v[0] == '.' ? v : "." + v;
       ext = extension_of("x" + ext);
       if (ext.empty()) return fail(why, "bad format '" + v + "': give an extension such as tif or png");
       o.format = ext;
       return true;
     }},
    {"-j", "--jobs", "N", "images processed at once (default 1; 0: one per\ncore)",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       return parse_count("number of jobs", v, 0, o.jobs, why);
     }},
    {nullptr, "--threads", "N",
     "threads for one image's thinning (default: one\n"
     "per core, shared out among the images processed\n"
     "at once)",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       return parse_count("number of threads", v, 1, o.threads, why);
     }},
    {nullptr, "--prune", "LENGTH", "remove side branches shorter than LENGTH pixels",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       return parse_length("prune length", v, o.prune, why);
     }},
    {nullptr, "--vector", "FILE",
     "the skeleton's branches as lines (.gpkg,\n"
     ".geojson, .shp, .fgb, .csv)",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       return set_file("--vector", v, o.vector_file, why);
     }},
    {nullptr, "--nodes", "FILE", "the skeleton's end points and junctions as points",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       return set_file("--nodes", v, o.nodes_file, why);
     }},
    {nullptr, "--simplify", "TOLERANCE", "simplify the lines (pixels)",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       return parse_length("tolerance", v, o.simplify, why);
     }},
    {nullptr, "--summary", "FILE.csv", "one row per skeleton component",
     [](const std::string& v, Options& o, Action&, std::string* why) {
       return set_file("--summary", v, o.summary_file, why);
     }},
    {"-q", "--quiet", nullptr, "no progress and no threshold lines",
     [](const std::string&, Options& o, Action&, std::string*) { return o.quiet = true; }},
    {nullptr, "--progress", nullptr, "show progress even when standard error is no\nterminal",
     [](const std::string&, Options& o, Action&, std::string*) { return o.progress = true; }},
    {nullptr, "--timings", nullptr, "after each image, the seconds spent reading,\nthinning, finishing and writing (standard error)",
     [](const std::string&, Options& o, Action&, std::string*) { return o.timings = true; }},
    {nullptr, "--plan", nullptr,
     "check the run's files as a run does, then print\n"
     "them instead of doing any work, one line each:\n"
     "INPUT, role, FILE, separated by tabs (see below)",
     [](const std::string&, Options& o, Action&, std::string*) { return o.plan = true; }},
    {"-h", "--help", nullptr, "this text",
     [](const std::string&, Options&, Action& a, std::string*) {
       a = Action::help;
       return true;
     }},
    {nullptr, "--version", nullptr, "the version",
     [](const std::string&, Options&, Action& a, std::string*) {
       if (a == Action::run) a = Action::version;
       return true;
     }},
    {nullptr, "--formats", nullptr, "the formats this build reads and writes",
     [](const std::string&, Options&, Action& a, std::string*) {
       if (a == Action::run) a = Action::formats;
       return true;
     }},
};

std::string make_usage() {
  constexpr std::size_t kColumn = 22;  // where the descriptions start
  std::string text = kUsageHead;
  for (const OptionSpec& s : kOptions) {
    std::string left = "  ";
    left += s.short_name ? s.short_name : "  ";
    if (s.long_name) left += std::string(s.short_name ? ", " : "  ") + s.long_name;
    if (s.value) left += std::string(" ") + s.value;
    // a long left part stands on its own line
    left += left.size() + 2 <= kColumn ? std::string(kColumn - left.size(), ' ') : "\n" + std::string(kColumn, ' ');
    const std::string help = s.help;
    std::size_t from = 0;
    for (bool first = true; from <= help.size(); first = false) {
      const std::size_t nl = std::min(help.find('\n', from), help.size());
      text += (first ? left : std::string(kColumn, ' ')) + help.substr(from, nl - from) + "\n";
      from = nl + 1;
    }
  }
  return text + kUsageTail;
}

// The option `arg` names, and its joined value if any (note 1).
const OptionSpec* find_option(const std::string& arg, std::string& joined, bool& has_joined) {
  has_joined = false;
  for (const OptionSpec& s : kOptions)
    if ((s.long_name && arg == s.long_name) || (s.short_name && arg == s.short_name)) return &s;
  for (const OptionSpec& s : kOptions) {
    if (!s.value) continue;
    if (s.long_name) {
      const std::size_t n = std::strlen(s.long_name);
      if (arg.size() > n && arg.compare(0, n, s.long_name) == 0 && arg[n] == '=') {
        joined = arg.substr(n + 1);
        has_joined = true;
        return &s;
      }
    }
    // a number joined to a one-letter option; a letter there is another
    // option's name, never a value ("-of" is not "-o f")
    if (s.short_name && std::strlen(s.short_name) == 2 && arg.size() > 2 && arg.compare(0, 2, s.short_name) == 0 &&
        !std::isalpha(static_cast<unsigned char>(arg[2])) && arg[2] != '_') {
      joined = arg.substr(2);
      has_joined = true;
      return &s;
    }
  }
  return nullptr;
}

// The drivers GDAL writes the results of known extensions with.
std::string driver_of_extension(const std::string& ext) {
  if (ext == ".tif" || ext == ".tiff") return "GTiff";
  if (ext == ".png") return "PNG";
  if (ext == ".pgm") return "PNM";
  return "";
}

// Drivers of pictures: no georeferencing is ever declared in them.
bool picture_driver(const std::string& driver) {
  for (const char* name : {"PNG", "PNM", "JPEG", "GIF", "WEBP", "BMP"})
    if (upper(driver) == name) return true;
  return false;
}

// The extensions the many-images form would write, or the one OUTPUT.
std::vector<std::string> result_names(const Options& o) {
  if (!o.many) return {o.output};
  std::vector<std::string> names;
  for (const std::string& input : o.inputs) names.push_back("x" + (o.format.empty() ? extension_of(input) : o.format));
  if (o.format.empty() && o.driver.empty()) {
    // each result as its input: one GDAL cannot write fails on its own
    std::erase_if(names, [](const std::string& n) { return result_kind(extension_of(n)) == ResultKind::none; });
  }
  return names;
}

// The checks that need every option and the paths.
bool check_results(Options& o, std::string* why) {
  if (o.as_dialogue && o.values_given)
    return fail(why, "--as-dialogue writes the dialogue's values 1:255: give it or --values, not both");
  if (o.as_dialogue && o.frame_given && o.frame != FrameMode::keep)
    return fail(why, "--as-dialogue keeps the frame as the dialogue does: give it or --frame pad, not both");
  if (!o.driver.empty()) {
#ifdef SOLVIK_HAVE_GDAL_RASTER
    try {
      const GdalDriverInfo info = gdal_result_driver(o.driver);
      o.driver = info.name;
      if (o.many && o.format.empty()) o.format = info.extension;
      gdal_check_creation_options(o.driver, o.creation_options);
    } catch (const Failure& failure) {
      return fail(why, failure.what());
    }
#else
    return fail(why, "-of writes with GDAL, which this build of solvik lacks");
#endif
  }
  for (const std::string& name : result_names(o)) {
    const std::string ext = extension_of(name);
    const ResultKind kind = o.driver.empty() ? result_kind(ext) : ResultKind::gdal;
    if (kind == ResultKind::none)
      return fail(why, (o.many ? "bad format '" + ext.substr(1) + "'" : "OUTPUT '" + o.output + "'") +
                           ": results are written as .tif, .tiff, .png, .pgm, .bmp, .asc or .raw (or in a GDAL "
                           "format with -of)");
    if (!o.creation_options.empty() && kind != ResultKind::gdal)
      return fail(why, "-co gives creation options to results GDAL writes, not to " + ext + " results");
    if (o.nodata != Options::Nodata::by_kind && kind != ResultKind::gdal && kind != ResultKind::asc)
      return fail(why, "-a_nodata applies to results that hold a nodata value, not to " + ext + " results");
    if (o.nodata == Options::Nodata::set && kind == ResultKind::gdal &&
        !(o.nodata_value >= 0 && o.nodata_value <= 255 && o.nodata_value == std::floor(o.nodata_value)))
      return fail(why, "bad nodata value '" + number_text(o.nodata_value) +
                           "': the results hold bytes, give a whole number from 0 to 255");
#ifdef SOLVIK_HAVE_GDAL_RASTER
    if (o.driver.empty() && kind == ResultKind::gdal && !o.creation_options.empty()) {
      try {
        gdal_check_creation_options(driver_of_extension(ext), o.creation_options);
      } catch (const Failure& failure) {
        return fail(why, failure.what());
      }
    }
#endif
  }
  return true;
}

}  // namespace

std::span<const OptionSpec> option_table() { return kOptions; }

const char* usage_text() {
  static const std::string text = make_usage();
  return text.c_str();
}

ResultKind result_kind(const std::string& ext) {
  if (ext == ".raw") return ResultKind::raw;
  if (ext == ".bmp") return ResultKind::bmp;
  if (ext == ".asc") return ResultKind::asc;
  if (!driver_of_extension(ext).empty()) return ResultKind::gdal;
  return ResultKind::none;
}

ResultSettings result_settings(const Options& o, const std::string& output, bool georeferenced_input) {
  ResultSettings r;
  r.kind = o.driver.empty() ? result_kind(extension_of(output)) : ResultKind::gdal;
  if (r.kind == ResultKind::gdal) {
    r.driver = o.driver.empty() ? driver_of_extension(extension_of(output)) : o.driver;
    r.creation_options = o.creation_options;
    r.georeferenced = georeferenced_input && !picture_driver(r.driver);
    if (!o.values_given && !o.as_dialogue) {
      r.skeleton = 255;
      r.background = 0;
    }
  }
  if (o.values_given) {
    r.skeleton = o.skeleton_value;
    r.background = o.background_value;
  }
  if (o.nodata == Options::Nodata::set)
    r.nodata = o.nodata_value;
  else if (o.nodata == Options::Nodata::none)
    r.nodata_dropped = true;
  else if (r.georeferenced && !o.as_dialogue)
    r.nodata = r.background;
  return r;
}

bool parse_options(int argc, char** argv, Options& o, Action& action, std::string* why) {
  action = Action::run;
  std::vector<std::string> paths;
  bool options_end = false;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
      paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    std::string value;
    bool joined = false;
    const OptionSpec* option = find_option(arg, value, joined);
    if (!option) return fail(why, "unknown option '" + arg + "'");
    if (option->value && !joined) {
      if (k + 1 >= argc) return fail(why, "option '" + arg + "' needs a value");
      value = argv[++k];
    }
    if (!option->apply(value, o, action, why)) return false;
  }
  if (action != Action::run) return true;
  if (o.as_dialogue) {
    o.skeleton_value = 1;
    o.background_value = 255;
  }

  if (o.many) {
    if (paths.empty()) return fail(why, "no INPUT given");
    o.inputs = paths;
  } else {
    if (!o.format.empty()) return fail(why, "-f chooses the results' format of the many-images form (-o FOLDER)");
    if (paths.empty()) return fail(why, "no INPUT given");
    if (paths.size() == 1) return fail(why, "OUTPUT missing (or give -o FOLDER for many images)");
    if (paths.size() > 2) return fail(why, "more than one INPUT: give -o FOLDER for many images");
    o.inputs = {paths[0]};
    o.output = paths[1];
  }
  if (!check_results(o, why)) return false;
  if (o.simplify > 0 && o.vector_file.empty())
    return fail(why, "--simplify applies to the lines of --vector FILE");
  return true;
}
