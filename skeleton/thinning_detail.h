// The thinning kernel with its guess made visible, for the tests: see
// thin_planes in skeleton.h and the notes on bands in band_protocol.h.
#pragma once

#include <cstddef>

namespace thinning_detail {

// How many lines above its own a band decides again to guess the marks it
// would otherwise wait for.
constexpr int kGuessLines = 16;

// thin_planes, with guess_lines lines for each guess (0: guess that the
// line above a band has no marks) and at most log_budget deletions made
// by a band on a guess before it waits for the true marks (0: the budget
// thin_planes uses). `redone`, when not
// null, gets how many times a band decided a pass again after a wrong
// guess. The bytes and the passes are those of thin_planes whatever the
// guess and the budget.
int thin_planes_guessing(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col, int threads,
                         int guess_lines, std::size_t log_budget, int* redone);

}  // namespace thinning_detail
