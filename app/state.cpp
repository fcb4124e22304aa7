// Program-wide state: definitions of the values declared in state.h.
#include "app/state.h"

#include <cstring>

#include "LIB/NRUTIL.h"

int nb_lig = 0;
int nb_col = 0;
unsigned char** tab2 = nullptr;
unsigned char** tab = nullptr;
int format_type = 0;
int minth = 0;
int maxth = 0;
int irep = 0;
unsigned char tab3[4][4] = {};
int type = 0;
int min_al = 0;
int max_al = 0;
int taille_pix = 0;
double X_min = 0.0;
double Y_min = 0.0;
double dpix_size = 0.0;
double nodata = 0.0;
char texte[60] = {};
std::string nomim2;
FILE* f1 = nullptr;
FILE* f2 = nullptr;
FILE* f1d = nullptr;
FILE* f2d = nullptr;
std::string descriptor_to_create;

namespace {
void close_stream(FILE*& f) {
  if (f) std::fclose(f);
  f = nullptr;
}
}  // namespace

void reset_state() {
  // A 24-bit BMP plane is wider than nb_col, but every plane is one block
  // from ucmatrice, which the release takes whole.
  if (tab2) frucmatrice(tab2, nb_lig);
  if (tab) frucmatrice(tab, nb_lig);
  tab2 = tab = nullptr;
  nb_lig = nb_col = 0;
  format_type = minth = maxth = irep = 0;
  std::memset(tab3, 0, sizeof tab3);
  type = min_al = max_al = taille_pix = 0;
  X_min = Y_min = dpix_size = nodata = 0.0;
  std::memset(texte, 0, sizeof texte);
  nomim2.clear();
  descriptor_to_create.clear();
  close_stream(f1);
  close_stream(f2);
  close_stream(f1d);
  close_stream(f2d);
}
