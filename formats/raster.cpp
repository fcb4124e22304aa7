// Raster images and descriptors: see raster.h.
#include "formats/raster.h"

#include <cerrno>
#include <cstring>

#include "LIB/NRUTIL.h"
#include "app/state.h"
#include "platform/console.h"
#include "platform/host.h"

namespace {

// Reads up to six integers the way "%d%d%d%d%d%d" does: white space of any
// kind between them; reading stops at the first word that does not start
// with a number, and the values not read keep what they held. Returns false
// when a number does not fit an int.
bool read_descriptor_values(FILE* f, int* const values[6]) {
  for (int k = 0; k < 6; ++k) {
    int c = std::getc(f);
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') c = std::getc(f);
    bool negative = false;
    if (c == '+' || c == '-') {
      negative = c == '-';
      c = std::getc(f);
    }
    if (c < '0' || c > '9') return true;
    long long v = 0;
    while (c >= '0' && c <= '9') {
      v = v * 10 + (c - '0');
      if (v > 2147483648LL) return false;
      c = std::getc(f);
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    *values[k] = static_cast<int>(v);
    if (c != EOF) std::ungetc(c, f);
  }
  return true;
}

// Writes the six descriptor values through f2d to the host path `tmp`.
bool write_descriptor(const std::string& tmp) {
  f2d = std::fopen(tmp.c_str(), "w");
  if (!f2d) return false;
  bool ok = std::fprintf(f2d, "%d\n%d\n%d\n%d\n%d\n%d\n", nb_lig, nb_col, type, min_al, max_al, taille_pix) > 0;
  ok = std::fclose(f2d) == 0 && ok;
  f2d = nullptr;
  return ok;
}

}  // namespace

void ChargeDescr(const std::string& nomdescr) {
  f1d = host_open(nomdescr, "r");
  if (f1d) {
    int* const values[6] = {&nb_lig, &nb_col, &type, &min_al, &max_al, &taille_pix};
    bool fits = read_descriptor_values(f1d, values);
    std::fclose(f1d);
    f1d = nullptr;
    if (!fits) stop_run(con_format("\n\tThe descriptor %s holds a number too large for an integer.\n", nomdescr.c_str()));
    if (nb_lig < 1 || nb_col < 1)
      stop_run(con_format("\n\tThe descriptor %s gives %d lines and %d columns: an image needs at least one of each.\n",
                             nomdescr.c_str(), nb_lig, nb_col));
    return;
  }

  con_printf("\n\tNo File  %s \n\n", nomdescr.c_str());
  auto ask_size = [](const char* prompt) {
    con_printf("%s", prompt);
    for (;;) {
      int v = ask_int([prompt] { con_printf("%s", prompt); });
      if (v >= 1) return v;
      con_printf("\n\tAn image needs at least 1 line and 1 column.\n");
      con_printf("%s", prompt);
    }
  };
  nb_lig = ask_size("\n\t\tNumber of lines   ? ");
  nb_col = ask_size("\n\t\tNumber of columns ? ");
  con_printf("\n\t\tpixel size? ");
  taille_pix = ask_int([] { con_printf("\n\t\tpixel size? "); });
  type = 1;
  min_al = 0;
  max_al = 255;
  // a descriptor that cannot be created is not needed to go on: the values
  // are known
  std::string why;
  if (!write_atomically(nomdescr, write_descriptor, &why))
    con_printf("\n\tThe descriptor %s could not be created (%s); the run goes on.\n", nomdescr.c_str(), why.c_str());
}

void SauveDescr(const std::string& nomdescr) { write_result(nomdescr, write_descriptor); }

void ChargeRAW(const std::string& nomim) {
  const long long need = static_cast<long long>(nb_lig) * nb_col;
  const long long have = host_file_size(f1);
  if (have < need) {
    std::fclose(f1);
    f1 = nullptr;
    stop_run(con_format("\n\tThe raster %s holds %lld bytes, but %d lines of %d columns need %lld.\n", nomim.c_str(),
                           have, nb_lig, nb_col, need));
  }
  tab2 = ucmatrice(nb_col, nb_lig);
  if (!tab2) {
    std::fclose(f1);
    f1 = nullptr;
    stop_run(con_format("\n\tNot enough memory for an image of %d lines of %d columns.\n", nb_lig, nb_col));
  }
  const std::size_t width = static_cast<std::size_t>(nb_col);
  for (int i = 0; i < nb_lig; ++i) {
    if (std::fread(tab2[i], 1, width, f1) != width) {
      std::fclose(f1);
      f1 = nullptr;
      stop_run(con_format("\n\tThe raster %s could not be read at line %d.\n", nomim.c_str(), i));
    }
  }
  std::fclose(f1);
  f1 = nullptr;
}

void SauveRAW(const std::string& nomim) {
  write_result(
      nomim,
      [](const std::string& tmp) {
        f2 = std::fopen(tmp.c_str(), "wb");
        if (!f2) return false;
        const std::size_t width = static_cast<std::size_t>(nb_col);
        bool written = true;
        for (int i = 0; i < nb_lig && written; ++i) written = std::fwrite(tab[i], 1, width, f2) == width;
        written = std::fclose(f2) == 0 && written;
        f2 = nullptr;
        return written;
      });
}
