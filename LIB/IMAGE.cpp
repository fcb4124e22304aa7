// IMAGE: BMP files: see image.h.
//
//   TBuff        bytes of one stored row
//   SauveBMP     write a matrix (8-bit with a palette, or 24-bit)
//   ChargeBMP    read a file into a new matrix
//   load_bmp     the same, saying why it cannot
//
// Notes:
//  1. The 54-byte header is moved through a byte buffer, field by field,
//     least significant byte first; the record's layout in memory never
//     reaches the file, so packing and host byte order play no part.
//  2. The palette is moved the same way: four bytes B, G, R, O per entry.
//  3. Rows are stored bottom line first, each padded with zero bytes to a
//     multiple of 4; the matrix holds line 0 at the top, without the pad.
//  4. The reader validates the whole header and checks that the file is long
//     enough for every row before allocating the matrix, so a hostile header
//     cannot make it allocate more than the file itself could fill.
#include "LIB/image.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "LIB/NRUTIL.h"
#include "platform/failure.h"
#include "platform/host.h"

namespace {

constexpr std::uint16_t kSignature = 19778;  // "BM"
constexpr int kHeaderBytes = 54;             // 14-byte file header + 40-byte information header
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr int kPaletteEntries = 256;
constexpr int kPaletteBytes = 4 * kPaletteEntries;
constexpr std::uint32_t kOffset8 = kHeaderBytes + kPaletteBytes;  // 1078
constexpr std::uint32_t kOffset24 = kHeaderBytes;                 // 54
constexpr std::uint32_t kPelsPerMeter = 10000;
constexpr std::uint32_t kCompressionRle8 = 1;  // the one code refused; others read as uncompressed

// Header layout (file offsets, widths in bytes, all little-endian):
//
//    0 BfType 2   2 BfSize 4   6 Res1 2   8 Res2 2   10 BfOffBits 4
//   14 BiSize 4  18 BiWidth 4  22 BiHeight 4  26 BiPlanes 2  28 BiBitCount 2
//   30 BiCompression 4  34 BiSizeImage 4  38 BiXPelsPerMeter 4
//   42 BiYPelsPerMeter 4  46 BiClrUsed 4  50 BiClrImportant 4
void put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>((v >> (8 * k)) & 0xFF);
}

std::uint16_t get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void pack_header(const BMP_Header& h, unsigned char* BuffHeader) {
  put16(BuffHeader + 0, h.BfType);
  put32(BuffHeader + 2, h.BfSize);
  put16(BuffHeader + 6, h.Res1);
  put16(BuffHeader + 8, h.Res2);
  put32(BuffHeader + 10, h.BfOffBits);
  put32(BuffHeader + 14, h.BiSize);
  put32(BuffHeader + 18, h.BiWidth);
  put32(BuffHeader + 22, h.BiHeight);
  put16(BuffHeader + 26, h.BiPlanes);
  put16(BuffHeader + 28, h.BiBitCount);
  put32(BuffHeader + 30, h.BiCompression);
  put32(BuffHeader + 34, h.BiSizeImage);
  put32(BuffHeader + 38, h.BiXPelsPerMeter);
  put32(BuffHeader + 42, h.BiYPelsPerMeter);
  put32(BuffHeader + 46, h.BiClrUsed);
  put32(BuffHeader + 50, h.BiClrImportant);
}

BMP_Header unpack_header(const unsigned char* BuffHeader) {
  BMP_Header h{};
  h.BfType = get16(BuffHeader + 0);
  h.BfSize = get32(BuffHeader + 2);
  h.Res1 = get16(BuffHeader + 6);
  h.Res2 = get16(BuffHeader + 8);
  h.BfOffBits = get32(BuffHeader + 10);
  h.BiSize = get32(BuffHeader + 14);
  h.BiWidth = get32(BuffHeader + 18);
  h.BiHeight = get32(BuffHeader + 22);
  h.BiPlanes = get16(BuffHeader + 26);
  h.BiBitCount = get16(BuffHeader + 28);
  h.BiCompression = get32(BuffHeader + 30);
  h.BiSizeImage = get32(BuffHeader + 34);
  h.BiXPelsPerMeter = get32(BuffHeader + 38);
  h.BiYPelsPerMeter = get32(BuffHeader + 42);
  h.BiClrUsed = get32(BuffHeader + 46);
  h.BiClrImportant = get32(BuffHeader + 50);
  return h;
}

// A matrix of NbLig rows of `larg` bytes from ucmatrice, so frucmatrice
// releases it. An empty picture still gets a table (of one row of one
// byte), so that reading a file of width or height 0 succeeds. Null when
// memory runs out.
unsigned char** new_matrix(long long larg, int NbLig) {
  if (larg > INT_MAX) return nullptr;
  return ucmatrice(larg > 0 ? static_cast<int>(larg) : 1, NbLig > 0 ? NbLig : 1);
}

// Everything ChargeBMP does between opening and closing the file. CM is the
// palette area, which receives the file's palette for 8-bit files. Out
// parameters are written as soon as they are known (Type, then NbCol and
// NbLig, then Type again after the palette). Result: the matrix; a refusal
// is a Failure, memory std::bad_alloc, and nothing allocated here outlives
// either.
unsigned char** read_bmp(FILE* f, int* NbCol, int* NbLig, int* Type, Color32* CM) {
  unsigned char BuffHeader[kHeaderBytes];
  if (std::fread(BuffHeader, kHeaderBytes, 1, f) != 1)
    throw Failure("the file is shorter than the 54-byte header of a bitmap");
  const BMP_Header h = unpack_header(BuffHeader);
  if (h.BfType != kSignature) throw Failure("not a bitmap (the file does not start with \"BM\")");

  int taille = 0;
  if (h.BiBitCount == 8 && h.BfOffBits == kOffset8) {
    taille = 1;
    *Type = 0;
  } else if (h.BiBitCount == 24 && h.BfOffBits == kOffset24) {
    taille = 3;
    *Type = 2;
  } else if (h.BiBitCount == 8 || h.BiBitCount == 24) {
    throw Failure(std::to_string(h.BiBitCount) + " bits per pixel with pixel data at offset " +
                  std::to_string(h.BfOffBits) + "; only " +
                  (h.BiBitCount == 8 ? "offset 1078, after a 256-entry palette," : "offset 54") + " is read");
  } else {
    throw Failure(std::to_string(h.BiBitCount) + " bits per pixel; only 8- and 24-bit bitmaps are read");
  }
  if (h.BiCompression == kCompressionRle8) throw Failure("RLE compression; only uncompressed bitmaps are read");

  // A top-down file stores a negative height, that is BiHeight >= 2^31 read
  // unsigned, so the one limit refuses it too.
  if (h.BiHeight >= 0x80000000u) throw Failure("rows stored top-down (negative height); only bottom-up bitmaps are read");
  if (h.BiWidth > static_cast<std::uint32_t>(kBmpMaxSide) || h.BiHeight > static_cast<std::uint32_t>(kBmpMaxSide))
    throw Failure(std::to_string(h.BiWidth) + " columns and " + std::to_string(h.BiHeight) +
                  " lines; bitmaps of at most 32767 in each direction are read");
  const int width = static_cast<int>(h.BiWidth);
  const int height = static_cast<int>(h.BiHeight);
  *NbCol = width;
  *NbLig = height;

  if (taille == 1) {
    unsigned char pal[kPaletteBytes];
    if (std::fread(pal, 4, kPaletteEntries, f) != static_cast<std::size_t>(kPaletteEntries))
      throw Failure("the file ends inside its palette");
    for (int k = 0; k < kPaletteEntries; ++k) {
      CM[k] = Color32{pal[4 * k], pal[4 * k + 1], pal[4 * k + 2], pal[4 * k + 3]};
    }
    // the fourth byte is reserved: writers put anything there, it says
    // nothing about the colours
    for (int k = 0; k < kPaletteEntries; ++k) {
      if (CM[k].B != k || CM[k].G != k || CM[k].R != k) {
        *Type = 1;
        break;
      }
    }
  }

  // The rows follow the header (and palette) directly: BfOffBits has been
  // checked to say just that. Widths and heights up to 32767 keep all of
  // this well inside 64 bits.
  const long long larg = static_cast<long long>(width) * taille;
  const long long row_bytes = TBuff(width, taille);
  const long long need = static_cast<long long>(taille == 1 ? kOffset8 : kOffset24) + height * row_bytes;
  const long long have = host_file_size(f);
  if (have < need)
    throw Failure("the file holds " + std::to_string(have) + " bytes, but its header needs " + std::to_string(need));

  std::vector<unsigned char> BuffTmp(static_cast<std::size_t>(row_bytes), 0);
  unsigned char** Mat = new_matrix(larg, height);
  if (!Mat) throw std::bad_alloc();
  const std::size_t tbuff = BuffTmp.size();
  for (int i = height - 1; i >= 0 && tbuff > 0; --i) {
    if (std::fread(BuffTmp.data(), 1, tbuff, f) != tbuff) {
      frucmatrice(Mat, height);
      throw Failure("the file could not be read at line " + std::to_string(i));
    }
    std::memcpy(Mat[i], BuffTmp.data(), static_cast<std::size_t>(larg));
  }
  return Mat;
}

}  // namespace

long long TBuff(int NbCol, int taille) { return (static_cast<long long>(NbCol) * taille + 3) / 4 * 4; }

int SauveBMP(const char* Nom, unsigned char** Buff, int NbCol, int NbLig, int Type, const Color32* ColorMAP) {
  if (NbLig > 0 && !Buff) return -1;
  const long long larg = static_cast<long long>(NbCol) * (Type == 2 ? 3 : 1);
  return write_bmp_rows(
      Nom,
      [Buff, larg](int i, unsigned char* row) {
        if (larg > 0) std::memcpy(row, Buff[i], static_cast<std::size_t>(larg));
      },
      NbCol, NbLig, Type, ColorMAP);
}

int write_bmp_rows(const char* Nom, const std::function<void(int line, unsigned char* row)>& line, int NbCol,
                   int NbLig, int Type, const Color32* ColorMAP) {
  if (!Nom || NbCol < 0 || NbLig < 0) return -1;
  if (Type != 0 && Type != 1 && Type != 2) return -1;

  const int taille = Type == 2 ? 3 : 1;
  const std::uint32_t offset = Type == 2 ? kOffset24 : kOffset8;
  const long long larg = static_cast<long long>(NbCol) * taille;
  const long long row_bytes = TBuff(NbCol, taille);
  const long long image_bytes = row_bytes * NbLig;
  // the header holds 32-bit sizes: a larger picture cannot be described
  if (image_bytes + offset > std::numeric_limits<std::uint32_t>::max()) return -1;

  BMP_Header h{};
  h.BfType = kSignature;
  h.BfOffBits = offset;
  h.BiSize = kInfoHeaderBytes;
  h.BiWidth = static_cast<std::uint32_t>(NbCol);
  h.BiHeight = static_cast<std::uint32_t>(NbLig);
  h.BiPlanes = 1;
  h.BiBitCount = Type == 2 ? 24 : 8;
  h.BiCompression = 0;
  h.BiSizeImage = static_cast<std::uint32_t>(image_bytes);
  h.BiXPelsPerMeter = kPelsPerMeter;
  h.BiYPelsPerMeter = kPelsPerMeter;
  h.BfSize = h.BfOffBits + h.BiSizeImage;
  unsigned char BuffHeader[kHeaderBytes];
  pack_header(h, BuffHeader);

  unsigned char pal[kPaletteBytes];
  for (int k = 0; k < kPaletteEntries; ++k) {
    const Color32 c = ColorMAP ? ColorMAP[k]
                               : Color32{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k),
                                         static_cast<std::uint8_t>(k), 0};
    pal[4 * k] = c.B;
    pal[4 * k + 1] = c.G;
    pal[4 * k + 2] = c.R;
    pal[4 * k + 3] = c.O;
  }

  std::vector<unsigned char> BuffTmp(static_cast<std::size_t>(row_bytes), 0);
  FILE* f = std::fopen(Nom, "wb");
  if (!f) return -1;
  bool ok = std::fwrite(BuffHeader, kHeaderBytes, 1, f) == 1;
  if (ok && Type != 2)
    ok = std::fwrite(pal, 4, kPaletteEntries, f) == static_cast<std::size_t>(kPaletteEntries);
  // A failed row write (a full disk) is a failure too: the caller writes
  // through a temporary file and must not put a partial picture in place.
  const std::size_t tbuff = BuffTmp.size();
  for (int i = NbLig - 1; ok && i >= 0 && tbuff > 0; --i) {
    if (larg > 0) line(i, BuffTmp.data());
    ok = std::fwrite(BuffTmp.data(), 1, tbuff, f) == tbuff;
  }
  // buffered bytes reach the disk only here, so its failure counts too
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : -1;
}

unsigned char** ChargeBMP(const char* Name, int* NbCol, int* NbLig, int* Type, Color32** ColorMAP) {
  try {
    return load_bmp(Name, NbCol, NbLig, Type, ColorMAP);
  } catch (const std::exception&) {  // a refusal or no memory: null, as the dialogue's codec answers
    return nullptr;
  }
}

unsigned char** load_bmp(const char* Name, int* NbCol, int* NbLig, int* Type, Color32** ColorMAP) {
  auto* CM = static_cast<Color32*>(std::calloc(kPaletteEntries, sizeof(Color32)));
  const bool palette_wanted = ColorMAP && *ColorMAP;
  // from here on the caller owns the area whenever it asked for one
  if (palette_wanted) *ColorMAP = CM;
  if (!CM) throw std::bad_alloc();
  // released on every path when the caller asked for none
  struct Area {
    Color32* area;
    ~Area() { std::free(area); }
  } const unwanted{palette_wanted ? nullptr : CM};

  if (!Name) throw Failure("no file name");
  struct CloseFile {
    FILE* f;
    ~CloseFile() { std::fclose(f); }
  } const file{open_regular(Name, "rb")};
  return read_bmp(file.f, NbCol, NbLig, Type, CM);
}
