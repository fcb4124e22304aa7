// The files of a run: see outputs.h.
//
// Notes
//  1. One image's files are one group: the vector files are written first
//     (they fail most often: a folder missing, a GeoPackage that is not
//     one), then the summary, then the raster and its descriptor, each to
//     a temporary file; only when all are complete are they renamed, after
//     every target was checked, so a run never leaves half of an image's
//     results new and half old.
//  2. Files are compared by identity (device and inode) where they exist,
//     by their resolved absolute path where they do not yet, so "./a.png",
//     a folder link and a hard link all count as the same file.
#include "cli/outputs.h"
#include "platform/failure.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "LIB/image.h"
#include "export/summary_file.h"
#include "graph/skeleton_graph.h"
#include "platform/host.h"

#ifdef SOLVIK_HAVE_GDAL_RASTER
#include "formats/gdal_raster.h"
#endif

#ifdef SOLVIK_HAVE_VECTOR
#include "export/vector_file.h"
#endif

namespace {

namespace fs = std::filesystem;

// The files a graph file of that name consists of.
std::vector<std::string> graph_file_parts(const std::string& path) {
#ifdef SOLVIK_HAVE_VECTOR
  return vector_side_files(path);
#else
  return {path};
#endif
}

// What identifies a file (note 2).
std::string identity(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    // built by appending: GCC 12 warns falsely on literal + string temporaries
    std::string id = "#";
    id.append(std::to_string(static_cast<unsigned long long>(st.st_dev))).append(":");
    return id.append(std::to_string(static_cast<unsigned long long>(st.st_ino)));
  }
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? path : p.lexically_normal().string();
}

std::string named(const PlannedFile& f) { return f.what + " " + f.path; }

// --- results ----------------------------------------------------------------------

bool north_up_square(const Georef& g) {
  const double* t = g.geotransform;
  return g.valid && t[2] == 0 && t[4] == 0 && t[1] > 0 && std::fabs(t[5] + t[1]) <= 1e-9 * t[1];
}

RasterDescriptor result_descriptor(const Carried& c) {
  if (c.descriptor) return *c.descriptor;
  // as the dialogue creates a missing descriptor: type 1, values 0 to 255
  RasterDescriptor d{c.lines, c.columns, 1, 0, 255, 1};
  if (north_up_square(c.georef) && c.georef.geotransform[1] >= 1 &&
      c.georef.geotransform[1] == std::floor(c.georef.geotransform[1]) && c.georef.geotransform[1] < 2147483647.0)
    d.taille_pix = static_cast<int>(c.georef.geotransform[1]);
  return d;
}

std::string result_grid_header(const Carried& c, const ResultSettings& settings) {
  double x = 0.0, y = 0.0, cell = 1.0;
  if (c.grid_header) {
    x = c.grid_header->X_min;
    y = c.grid_header->Y_min;
    cell = c.grid_header->dpix_size;
  } else if (north_up_square(c.georef)) {
    const double* t = c.georef.geotransform;
    x = t[0];
    y = t[3] + c.lines * t[5];
    cell = t[1];
  }
  if (!settings.nodata && !settings.nodata_dropped) return asc_header_text(c.columns, c.lines, x, y, cell);
  return asc_header_text(c.columns, c.lines, x, y, cell, settings.nodata);
}

// A writer that fills the temporary file at `tmp` through a stdio stream.
template <typename Write>
std::function<bool(const std::string&)> through_stream(const char* mode, Write write) {
  return [mode, write](const std::string& tmp) {
    FILE* f = std::fopen(tmp.c_str(), mode);
    if (!f) return false;
    bool ok = write(f);
    ok = std::fclose(f) == 0 && ok;
    return ok;
  };
}

// The raster result (and a raster's descriptor) as outputs of the group;
// false with `why` when the extension has no writer in this build.
bool result_outputs(const std::string& output, const RowSource& rows, const Carried& c,
                    const ResultSettings& settings, const std::function<void(double)>& progress,
                    std::vector<AtomicOutput>& files, std::string* why) {
  const std::string ext = extension_of(output);
  const int lines = c.lines, columns = c.columns;
  switch (settings.kind) {
    case ResultKind::raw: {
      const RasterDescriptor d = result_descriptor(c);
      files.push_back({output, through_stream("wb", [=, &rows](FILE* f) { return write_raster_rows(f, rows, lines, columns); })});
      files.push_back({with_extension(output, ".txt"), through_stream("w", [=](FILE* f) { return write_descriptor(f, d); })});
      return true;
    }
    case ResultKind::bmp:
      files.push_back({output, [=, &rows](const std::string& tmp) {
                         unsigned char* line = nullptr;
                         const auto one_line = [&rows, &line](int i, unsigned char* row) {
                           line = row;
                           rows(i, 1, &line);
                         };
                         return write_bmp_rows(tmp.c_str(), one_line, columns, lines, 0, nullptr) == 0;
                       }});
      return true;
    case ResultKind::asc: {
      const std::string header = result_grid_header(c, settings);
      files.push_back({output, through_stream("w", [=, &rows](FILE* f) {
                         return std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
                                asc_write_grid([f](const char* data, std::size_t n) { return std::fwrite(data, 1, n, f) == n; },
                                               rows, lines, columns);
                       })});
      // the grid's coordinate system, as GIS programs look for it beside the grid
      if (!c.georef.wkt.empty()) {
#ifdef SOLVIK_HAVE_GDAL_RASTER
        std::string prj = esri_wkt(c.georef.wkt);
        if (prj.empty()) prj = c.georef.wkt;
#else
        const std::string prj = c.georef.wkt;
#endif
        files.push_back({with_extension(output, ".prj"), through_stream("w", [prj](FILE* f) {
                           return std::fwrite(prj.data(), 1, prj.size(), f) == prj.size();
                         })});
      }
      return true;
    }
    case ResultKind::gdal: {
#ifdef SOLVIK_HAVE_GDAL_RASTER
      const GdalResult result{settings.driver, settings.creation_options, settings.nodata};
      // GDAL gets a real name beside the result: given /proc/self/fd/N it
      // would look for side files "beside" it, among the program's own
      // descriptors; GDAL's reason comes as its Failure
      files.push_back({output,
                       [=, &rows](const std::string& tmp) {
                         write_gdal_raster(tmp, result, rows, lines, columns, c.georef, [&progress](double f) {
                           if (progress) progress(f);
                         });
                         return true;
                       },
                       true});
      return true;
#else
      (void)progress;
      return fail(why, "writing " + ext + " files needs GDAL, which this build of solvik lacks");
#endif
    }
    case ResultKind::none:
      break;
  }
  return fail(why, "results cannot be written as '" + ext + "' (choose .tif, .png, .pgm, .bmp, .asc or .raw)");
}

}  // namespace

// --- the plan ---------------------------------------------------------------------

std::vector<PlannedFile> planned_outputs(const ImageJob& job, std::size_t image) {
  std::vector<PlannedFile> files{{job.output, "the result", image, "result"}};
  const ResultKind kind = result_kind(extension_of(job.output));
  if (kind == ResultKind::raw)
    files.push_back({with_extension(job.output, ".txt"), "the result's descriptor", image, "descriptor"});
  // written when the input has a coordinate system, which is not known yet
  if (kind == ResultKind::asc) files.push_back({with_extension(job.output, ".prj"), "the result's .prj", image, "prj"});
  struct Graph {
    const std::string* path;
    const char* what;
    const char* role;
    const char* side_role;
  };
  const Graph graph[] = {{&job.vector_file, "lines", "branches", "branches-side"},
                         {&job.nodes_file, "nodes", "nodes", "nodes-side"}};
  for (const Graph& g : graph) {
    if (g.path->empty()) continue;
    const std::vector<std::string> parts = graph_file_parts(*g.path);
    for (std::size_t k = 0; k < parts.size(); ++k)
      files.push_back({parts[k], std::string(k == 0 ? "the " : "a side file of the ").append(g.what), image,
                       k == 0 ? g.role : g.side_role});
  }
  if (!job.summary_file.empty()) files.push_back({job.summary_file, "the summary", image, "summary"});
  return files;
}

std::vector<PlannedFile> files_read(const ImageJob& job, std::size_t image) {
  std::vector<PlannedFile> files{{job.input, "the input", image, "read"}};
  const std::string ext = extension_of(job.input);
  if (ext == ".raw") {
    files.push_back({with_extension(job.input, ".txt"), "the input", image, "read"});
    return files;
  }
  // a grid and its coordinate system, read by the grid reader, never by GDAL
  if (ext == ".asc") {
    for (const char* prj : {".prj", ".PRJ"}) files.push_back({with_extension(job.input, prj), "the file", image, "read"});
    return files;
  }
#ifdef SOLVIK_HAVE_GDAL_RASTER
  for (const std::string& f : gdal_files_read(job.input))
    files.push_back({f, "the file", image, "read"});
#endif
  return files;
}

bool check_output_plan(const std::vector<ImageJob>& jobs, std::string* why) {
  std::map<std::string, PlannedFile> read, written;
  for (std::size_t k = 0; k < jobs.size(); ++k)
    for (const PlannedFile& f : files_read(jobs[k], k)) read.emplace(identity(f.path), f);
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    const std::string& input = jobs[k].input;
    for (const PlannedFile& out : planned_outputs(jobs[k], k)) {
      try {
        check_replaceable(out.path);
      } catch (const Failure& failure) {
        return fail(why, input + ": " + named(out) + " cannot be replaced: " + failure.what());
      }
      const std::string id = identity(out.path);
      if (auto r = read.find(id); r != read.end()) {
        const PlannedFile& in = r->second;
        const std::string whose = in.what == "the file" ? " that " + jobs[in.image].input + " reads" : "";
        return fail(why, input + ": " + named(out) + " would replace " + named(in) + whose);
      }
      auto [at, fresh] = written.emplace(id, out);
      if (!fresh) {
        const PlannedFile& other = at->second;
        const std::string whose = other.image == k ? "" : " of " + jobs[other.image].input;
        return fail(why, input + ": " + named(out) + " would also be " + named(other) + whose);
      }
    }
  }
  return true;
}

std::string plan_lines(const std::vector<ImageJob>& jobs) {
  const auto escaped = [](const std::string& path) {
    std::string e;
    for (char c : path) {
      if (c == '\\') e += "\\\\";
      else if (c == '\t') e += "\\t";
      else if (c == '\n') e += "\\n";
      else if (c == '\r') e += "\\r";
      else e += c;
    }
    return e;
  };
  std::string text;
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    std::vector<PlannedFile> files = planned_outputs(jobs[k], k);
    for (PlannedFile& f : files_read(jobs[k], k))
      if (std::none_of(files.begin(), files.end(), [&f](const PlannedFile& g) { return g.path == f.path; }))
        files.push_back(std::move(f));
    const std::string input = escaped(jobs[k].input);
    for (const PlannedFile& f : files) text.append(input).append("\t").append(f.role).append("\t").append(escaped(f.path)).append("\n");
  }
  return text;
}

bool outputs_spare_inputs(const ImageJob& job, const ImageSource& source, std::string* why) {
  std::vector<std::string> inputs{job.input};
  if (!source.descriptor_path.empty()) inputs.push_back(source.descriptor_path);
  if (!source.coordinate_file.empty()) inputs.push_back(source.coordinate_file);
  if (job.protected_files) inputs.insert(inputs.end(), job.protected_files->begin(), job.protected_files->end());
  for (const PlannedFile& out : planned_outputs(job, 0))
    for (const std::string& in : inputs)
      if (same_file(in, out.path)) return fail(why, named(out) + " would replace the input " + in);
  return true;
}

// --- writing ----------------------------------------------------------------------

bool write_outputs(const ImageJob& job, const Options& o, const RowSource& rows, const Carried& c,
                   const ResultSettings& settings, const SkeletonGraph* skeleton_graph, const std::function<void(double)>& progress, std::string* why) {
  StagedFiles staged;
  const bool graph_wanted = !job.vector_file.empty() || !job.nodes_file.empty() || !job.summary_file.empty();
  if (graph_wanted) {
    if (!skeleton_graph) return fail(why, "the skeleton's graph was not made");
    const SkeletonGraph& graph = *skeleton_graph;
    const Georef& georef = c.georef;
#ifdef SOLVIK_HAVE_VECTOR
    try {
      if (!job.vector_file.empty()) stage_branches(job.vector_file, graph, georef, o.simplify, staged);
    } catch (const Failure& failure) {
      return fail(why, "the lines " + job.vector_file + " could not be written: " + failure.what());
    }
    try {
      if (!job.nodes_file.empty()) stage_nodes(job.nodes_file, graph, georef, staged);
    } catch (const Failure& failure) {
      return fail(why, "the nodes " + job.nodes_file + " could not be written: " + failure.what());
    }
#else
    (void)o;
    if (!job.vector_file.empty() || !job.nodes_file.empty())
      return fail(why, "vector files need GDAL, which this build of solvik lacks");
#endif
    if (!job.summary_file.empty()) {
      const std::string text = summary_csv_text(graph, georef);
      try {
        staged.write({job.summary_file, through_stream("wb", [text](FILE* f) {
                        return std::fwrite(text.data(), 1, text.size(), f) == text.size();
                      })});
      } catch (const Failure& failure) {
        return fail(why, "the summary " + job.summary_file + " could not be written: " + failure.what());
      }
    }
  }
  std::vector<AtomicOutput> results;
  std::string reason;
  if (!result_outputs(job.output, rows, c, settings, progress, results, &reason))
    return fail(why, "the result " + job.output + " could not be written: " + reason);
  for (const AtomicOutput& r : results) {
    try {
      staged.write(r);
    } catch (const Failure& failure) {
      return fail(why, "the result " + r.path + " could not be written: " + failure.what());
    }
  }
  try {
    staged.put_in_place();
  } catch (const FileFailure& failure) {
    for (const PlannedFile& f : planned_outputs(job, 0))
      if (f.path == failure.path) return fail(why, named(f) + " could not be written: " + failure.what());
    return fail(why, failure.path + " could not be written: " + failure.what());
  }
  return true;
}
