// Per-component figures of a skeleton graph, and the summary file.
//
//   ComponentSummary    the figures of one component
//   summarize_components  one ComponentSummary per component, in order
//   summary_csv_text    the summary as the text of a CSV file
//   write_summary_csv   the summary as a CSV file, written atomically
//
// Needs no GDAL. Nothing here prints or keeps state.
#pragma once

#include <string>
#include <vector>

#include "graph/skeleton_graph.h"

struct ComponentSummary {
  int component = 0;
  int branches = 0;
  int end_points = 0;
  int junctions = 0;
  int isolated = 0;          // isolated points (0 or 1)
  int loops = 0;             // independent cycles: branches - nodes + 1 (a ring without node counts one)
  double length = 0;         // sum of the branch lengths, map units (pixels when not georeferenced)
  double length_px = 0;      // the same in pixels
  int min_line = 0, min_column = 0, max_line = 0, max_column = 0;  // bounding box of the pixels
  double min_x = 0, min_y = 0, max_x = 0, max_y = 0;               // the box's pixel centres in map units
};

std::vector<ComponentSummary> summarize_components(const SkeletonGraph& graph, const Georef& georef);

// One header line, then one row per component:
//   component,branches,end_points,junctions,isolated,loops,length,length_px,
//   min_line,min_column,max_line,max_column[,min_x,min_y,max_x,max_y]
// (the map columns only when georef is valid). Lengths and map values are
// written with enough digits to read back exactly. The file is written to a
// temporary name in the same folder and renamed, so a failure leaves no
// partial file (an earlier file of that name stays). False with `why` on
// failure.
std::string summary_csv_text(const SkeletonGraph& graph, const Georef& georef);

bool write_summary_csv(const std::string& path, const SkeletonGraph& graph, const Georef& georef, std::string* why);
