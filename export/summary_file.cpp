// The summary file of a skeleton graph: see summary_file.h.
#include "export/summary_file.h"

#include <charconv>
#include <cstdio>

#include "platform/failure.h"
#include "platform/host.h"

namespace {

// Shortest text that reads back as the same double.
void put_number(std::string& line, double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  line.append(buf, r.ptr);
}

}  // namespace

std::string summary_csv_text(const SkeletonGraph& graph, const Georef& georef) {
  std::string text = "component,branches,end_points,junctions,isolated,holes,length,length_px,"
                     "min_line,min_column,max_line,max_column";
  text += georef.valid ? ",min_x,min_y,max_x,max_y\n" : "\n";
  for (const ComponentSummary& s : summarize_components(graph, georef)) {
    for (int v : {s.component, s.branches, s.end_points, s.junctions, s.isolated, s.holes})
      text.append(std::to_string(v)).push_back(',');
    put_number(text, s.length);
    text.push_back(',');
    put_number(text, s.length_px);
    for (int v : {s.min_line, s.min_column, s.max_line, s.max_column}) text.append(",").append(std::to_string(v));
    if (georef.valid)
      for (double v : {s.min_x, s.min_y, s.max_x, s.max_y}) {
        text.push_back(',');
        put_number(text, v);
      }
    text.push_back('\n');
  }
  return text;
}

void write_summary_csv(const std::string& path, const SkeletonGraph& graph, const Georef& georef) {
  const std::string text = summary_csv_text(graph, georef);
  try {
    write_atomically(path, [&text](const std::string& tmp) {
      std::FILE* f = std::fopen(tmp.c_str(), "wb");
      if (!f) return false;
      const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
      return std::fclose(f) == 0 && ok;
    });
  } catch (const Failure& failure) {
    throw Failure("cannot write " + path + ": " + failure.what());
  }
}
