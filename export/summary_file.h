// The summary of a skeleton graph as a CSV file: one row per component.
//
//   summary_csv_text   the file's text
//   write_summary_csv  the file, written atomically
//
// Needs no GDAL. Nothing here prints or keeps state.
#pragma once

#include <string>

#include "graph/graph_summary.h"

// One header line, then one row per component:
//   component,branches,end_points,junctions,isolated,holes,length,length_px,
//   min_line,min_column,max_line,max_column[,min_x,min_y,max_x,max_y]
// (the map columns only when georef is valid). Lengths and map values are
// written with enough digits to read back exactly.
std::string summary_csv_text(const SkeletonGraph& graph, const Georef& georef);

// The text above written to a temporary name in the same folder and
// renamed, so a failure leaves no partial file (an earlier file of that
// name stays). A Failure ("cannot write <path>: <reason>") when it cannot.
void write_summary_csv(const std::string& path, const SkeletonGraph& graph, const Georef& georef);
