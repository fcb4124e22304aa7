// The thinning kernel with its guess made visible, for the tests: see
// thin_planes in skeleton.h and the notes on bands in thinning.cpp.
#pragma once

namespace thinning_detail {

// How many lines above its own a band decides again to guess the marks it
// would otherwise wait for.
constexpr int kGuessLines = 16;

// thin_planes, with guess_lines lines for each guess (0: guess that the
// line above a band has no marks). `redone`, when not null, gets how many
// times a band decided a pass again after a wrong guess. The bytes and the
// passes are those of thin_planes whatever guess_lines is.
int thin_planes_guessing(unsigned char** tab, unsigned char** tab2, int nb_lig, int nb_col, int threads,
                         int guess_lines, int* redone);

}  // namespace thinning_detail
