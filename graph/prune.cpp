// Pruning of short side branches: see skeleton_graph.h.
#include "graph/skeleton_graph.h"

int prune_skeleton(unsigned char** plane, int nb_lig, int nb_col, double length, unsigned char skeleton_value,
                   unsigned char background_value) {
  (void)plane, (void)nb_lig, (void)nb_col, (void)length, (void)skeleton_value, (void)background_value;
  return 0;
}
