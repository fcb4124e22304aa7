// The graph of a finished skeleton: end points, junctions, branches and
// loops; pruning of short side branches; line simplification; pixel-centre
// to map coordinates.
//
//   Pixel, GraphNode, GraphBranch, SkeletonGraph   the graph
//   build_graph        the graph of a skeleton plane
//   prune_skeleton     removes short side branches from a plane, in place
//   simplify_line      Douglas-Peucker on a polyline, end points kept
//   map_point          pixel centre -> map coordinates
//   path_length        length of a pixel path, in pixels or map units
//   node_kind_name, branch_kind_name   the names the files use
//
// Nothing here prints, keeps state between calls or ends the program; calls
// on different planes may run at once on different threads.
//
// Notes
//  1. Planes are row-pointer matrices addressed [line][column] (as ucmatrice
//     builds them). Skeleton pixels are those equal to skeleton_value; every
//     other value is background, and so is everything outside the plane
//     (there is no frame: a skeleton may touch the plane's edge).
//  2. Pixels are 8-connected. A diagonal step between two skeleton pixels
//     that also share a skeleton 4-neighbour is not a step of the graph (the
//     way round through that neighbour is), so the corner pixel of an L or of
//     a staircase has two graph neighbours, not three, and is no junction.
//  3. End point: one graph neighbour. Isolated point: none. Junction: a
//     place where three or more branches meet; junction pixels that touch
//     (8-connected) form one node, as do the four pixels of a filled 2x2
//     block wherever it lies. A node's place is the centroid of its pixels.
//     A thick spot that only two branches reach (a 2x2 block on a line) is a
//     node of kind junction with degree 2 (thinned noise has some; thinned
//     shapes hardly ever). A node whose pixels enclose background keeps each
//     such hole as a junction_junction branch from and to itself between
//     two of its own pixels, so cycles always equal holes.
//  4. Every skeleton pixel belongs to exactly one node or is an interior
//     pixel of exactly one branch. A branch's path runs through pixel centres
//     from the pixel of its from-node to the pixel of its to-node, both
//     included, so its length counts from node to node. A ring with no node
//     is one branch of kind loop; its path starts at its first pixel in
//     raster order and ends with that pixel again, so the path is closed.
//  5. Lengths: 1 for a step along a line or a column, sqrt(2) for a diagonal
//     step.
//  6. Order: nodes in the raster order of their first pixel; branches in
//     the order they are traced (from the nodes in order, then the loops in
//     raster order); components in the raster order of their first pixel.
//     The same plane always gives the same graph.
//  7. Ids are positions: nodes[k].id == k, branches[k].id == k, and
//     components run from 0 to components - 1.
#pragma once

#include "formats/georef.h"

#include <string>
#include <utility>
#include <vector>

struct Pixel {
  int line = 0;
  int column = 0;
  friend bool operator==(const Pixel&, const Pixel&) = default;
};

enum class NodeKind { end, junction, isolated };
enum class BranchKind { end_end, end_junction, junction_junction, loop };

struct GraphNode {
  int id = 0;
  int component = 0;
  NodeKind kind = NodeKind::isolated;
  int degree = 0;              // branch ends at this node (a branch from and to it counts twice)
  double line = 0, column = 0; // centroid of the pixels, in pixel units
  std::vector<Pixel> pixels;   // in raster order
};

struct GraphBranch {
  int id = 0;
  int component = 0;
  BranchKind kind = BranchKind::loop;
  std::vector<Pixel> path;     // from the from-node's pixel to the to-node's pixel (note 4)
  double length_px = 0;        // along path (note 5)
  int from_node = -1;          // -1 for a loop; an end_junction branch runs from its end to its junction
  int to_node = -1;
};

struct SkeletonGraph {
  std::vector<GraphNode> nodes;
  std::vector<GraphBranch> branches;
  int components = 0;
};

class SkeletonMask;

// The graph of the skeleton in `plane` (nb_lig lines, nb_col columns).
// An empty or null plane gives an empty graph.
SkeletonGraph build_graph(const unsigned char* const* plane, int nb_lig, int nb_col, unsigned char skeleton_value = 1);
// The same of the pixels of a mask (skeleton_mask.h), bytes or bits.
SkeletonGraph build_graph(const SkeletonMask& mask);

// Removes, in place, the side branches (kind end_junction) shorter than
// `length` pixels, again and again until none is left: the shortest first,
// ties in the raster order of their end point. A junction left with two
// branches joins them into one, which may in turn be short enough to go.
// The pixels of a removed branch become background_value, and so do the
// junction pixels that only that branch needed, so no stub is left; the
// junction pixels the other branches need stay. end_end branches, loops and
// junction_junction branches are never removed, so a component is never
// removed whole and the number of components and of cycles never changes.
// Returns the number of branches removed (0 when length <= 0).
int prune_skeleton(unsigned char** plane, int nb_lig, int nb_col, double length, unsigned char skeleton_value = 1,
                   unsigned char background_value = 255);
// The same on the pixels of a mask; removed pixels are cleared.
int prune_skeleton(SkeletonMask& mask, double length);

// Douglas-Peucker: drops the points of the polyline that lie within
// `tolerance` of the simplified line; the first and last points always
// stay. Fewer than three points, or tolerance <= 0, come back unchanged.
std::vector<std::pair<double, double>> simplify_line(const std::vector<std::pair<double, double>>& points,
                                                     double tolerance);

// Map coordinates (x, y) of the centre of pixel (line, column):
//   x = gt0 + (column + 0.5) gt1 + (line + 0.5) gt2
//   y = gt3 + (column + 0.5) gt4 + (line + 0.5) gt5
// line and column may be fractional (a node's centroid).
std::pair<double, double> map_point(const Georef& georef, double line, double column);

// Length of a polyline through the pixel centres of `path`: in map units
// along the transformed points when georef is valid, else in pixels.
double path_length(const Georef& georef, const std::vector<Pixel>& path);

// "end", "junction", "isolated"; "end-end", "end-junction",
// "junction-junction", "loop".
const char* node_kind_name(NodeKind kind);
const char* branch_kind_name(BranchKind kind);
