// Skeleton graphs as GIS vector files: see vector_file.h.
#include "formats/vector_file.h"

std::string vector_format_for(const std::string&) { return ""; }
bool write_branches(const std::string&, const SkeletonGraph&, const Georef&, double, std::string* why) {
  if (why) *why = "not written yet";
  return false;
}
bool write_nodes(const std::string&, const SkeletonGraph&, const Georef&, std::string* why) {
  if (why) *why = "not written yet";
  return false;
}
