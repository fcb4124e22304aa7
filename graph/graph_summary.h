// Per-component figures of a skeleton graph (export/summary_file.h writes
// them).
//
//   ComponentSummary    the figures of one component
//   summarize_components  one ComponentSummary per component, in order
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
  int holes = 0;             // independent cycles, each a hole: branches - nodes + 1 (a ring without node counts one)
  double length = 0;         // sum of the branch lengths, map units (pixels when not georeferenced)
  double length_px = 0;      // the same in pixels
  int min_line = 0, min_column = 0, max_line = 0, max_column = 0;  // bounding box of the pixels
  double min_x = 0, min_y = 0, max_x = 0, max_y = 0;               // the box's pixel centres in map units
};

std::vector<ComponentSummary> summarize_components(const SkeletonGraph& graph, const Georef& georef);
