// Skeleton graphs as GIS vector files, through GDAL's vector library.
//
//   write_branches   the branches as line features (and, in a GeoPackage,
//                    the nodes as a second layer "nodes")
//   write_nodes      the nodes as point features
//   vector_format_for  the GDAL driver a file name's extension selects
//   stage_branches, stage_nodes  the same files written under temporary
//                    names and handed to a StagedFiles, which puts them in
//                    place with the other files of the same image
//   vector_side_files  every file a vector file of that name consists of
//
// Built only when GDAL is found (target solvik_vector). Nothing here prints
// or keeps state; GDAL's drivers are registered on first use. A file that
// cannot be written is a Failure (platform/failure.h) naming it, with
// GDAL's message.
//
// Notes
//  1. The format follows the extension, in any case: .geojson/.json
//     GeoJSON, .gpkg GeoPackage, .shp Shapefile (with its .shx, .dbf, .prj),
//     .fgb FlatGeobuf, .csv CSV with the geometry as WKT in column WKT.
//  2. Coordinates are those of pixel centres through map_point: the input's
//     coordinate system when georef is valid (its WKT becomes the layer's),
//     pixel coordinates otherwise (x = column + 0.5, y = line + 0.5).
//  3. Branch attributes: id, component, kind ("end-end", "end-junction",
//     "junction-junction", "loop"), length (map units, along the full path),
//     length_px, from_node, to_node (-1 for a loop). Node attributes: id,
//     component, kind ("end", "junction", "isolated"), degree; a node's
//     point is its centroid.
//  4. The file is written under a temporary name in the same folder, read
//     back (every layer must hold every feature: GeoJSON's writer does not
//     report a write that failed), and renamed when complete (each file of
//     a shapefile set); on failure the partial files are removed and an
//     earlier file of that name stays. An earlier file is replaced; of an
//     earlier shapefile set, the side files the new set lacks are removed
//     with it, and side files of that name where no .shp was are left
//     alone.
//  5. An existing GeoPackage keeps its other layers: it is copied to the
//     temporary name, this run's layers ("branches", "nodes") replaced
//     there, and the copy put in its place. A .gpkg that is not a
//     GeoPackage is refused, never replaced.
#pragma once

#include <string>

#include <vector>

#include "graph/skeleton_graph.h"
#include "platform/host.h"

// The GDAL driver name for the extension of `path` ("GeoJSON", "GPKG",
// "ESRI Shapefile", "FlatGeobuf", "CSV"), or "" when it is none of these.
std::string vector_format_for(const std::string& path);

// The branches as lines. simplify_tolerance > 0 simplifies each line
// (Douglas-Peucker in pixel units, end nodes kept); length attributes are
// always those of the full path.
void write_branches(const std::string& path, const SkeletonGraph& graph, const Georef& georef,
                    double simplify_tolerance);

// The nodes as points.
void write_nodes(const std::string& path, const SkeletonGraph& graph, const Georef& georef);

// As write_branches and write_nodes, but the finished temporary files are
// handed to `staged`, which puts them in place (or removes them).
void stage_branches(const std::string& path, const SkeletonGraph& graph, const Georef& georef,
                    double simplify_tolerance, StagedFiles& staged);
void stage_nodes(const std::string& path, const SkeletonGraph& graph, const Georef& georef, StagedFiles& staged);

// The files a vector file written at `path` consists of: a shapefile's
// .shp, .shx, .dbf, .prj and .cpg; a GeoPackage and its SQLite journal
// files; the file alone otherwise.
std::vector<std::string> vector_side_files(const std::string& path);
