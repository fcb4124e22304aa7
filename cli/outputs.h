// The files of a run: planned and checked before any is written, and one
// image's files written together.
//
//   Carried             what a result carries from its input
//   PlannedFile         one file a run writes or reads, and what it is
//   planned_outputs     every file one image's job writes, side files included
//   files_read          every file one image's input reads
//   check_output_plan   no two outputs one file, no output an input or a
//                       file an input reads, every output replaceable
//   plan_lines          the plan as --plan prints it, one line per file
//   outputs_spare_inputs  the same check for one job, as it starts
//   write_outputs       one image's result and graph files, put in place
//                       together or not at all
//
// Nothing here prints or ends the program.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/job.h"
#include "cli/options.h"
#include "formats/ascii_grid.h"
#include "formats/image_source.h"
#include "formats/raster.h"
#include "formats/rows.h"
#include "graph/skeleton_graph.h"

struct Carried {
  int lines = 0, columns = 0;
  Georef georef;
  std::optional<RasterDescriptor> descriptor;
  std::optional<AscHeader> grid_header;
};

struct PlannedFile {
  std::string path;
  std::string what;        // "the result", "the lines", "the input", ...
  std::size_t image = 0;   // the job it belongs to
  const char* role = "";   // as --plan names it: "result", "descriptor", "branches", "read", ...
};

// In the order they are checked: the result (and a raster's descriptor),
// the lines, the nodes, the summary, each with the side files of its format.
std::vector<PlannedFile> planned_outputs(const ImageJob& job, std::size_t image);

// The input, a raster's descriptor, and the files GDAL reads for it (side
// files, a VRT's sources), when this build has GDAL.
std::vector<PlannedFile> files_read(const ImageJob& job, std::size_t image);

// False with `why` ("<input>: the summary s.csv would also be the lines
// s.csv", "... would replace the input a.png", "... cannot be replaced: it
// is a folder") when any two files of the jobs' outputs are one file (by
// identity where it exists, by resolved path where it does not), an output
// is a file some input reads, or an output cannot be replaced.
bool check_output_plan(const std::vector<ImageJob>& jobs, std::string* why);

// Every file of the jobs, one line each, "<input>\t<role>\t<path>\n": for
// each job its outputs (roles result, descriptor, prj, branches,
// branches-side, nodes, nodes-side, summary) then the files it reads (role
// read), each once. A backslash, tab, newline or carriage return in a path
// is written \\, \t, \n or \r, so every line splits on its two tabs.
std::string plan_lines(const std::vector<ImageJob>& jobs);

// The job's outputs against its own input, descriptor and .prj, and the other
// inputs of its batch (the files may have changed since the plan).
bool outputs_spare_inputs(const ImageJob& job, const ImageSource& source, std::string* why);

// Writes the result of `rows` (handed out a block of lines at a time, so no
// writer holds the whole picture) and the graph files of the job (from
// `graph`, made by the run when the job asks for any) to temporary files,
// then puts all of them in place at once; when any fails none is put in
// place and every earlier file stays. `progress` (may be empty) is told the
// part of the raster written.
bool write_outputs(const ImageJob& job, const Options& o, const RowSource& rows, const Carried& c,
                   const ResultSettings& settings, const SkeletonGraph* graph, const std::function<void(double)>& progress, std::string* why);
