// IMAGE: BMP files of two kinds, 8 bits per pixel with a 256-entry palette
// and 24 bits per pixel without one, uncompressed and stored bottom line
// first.
//
//   BMP_Header   the sixteen header fields, in file order
//   Color32      one palette entry (B, G, R, O)
//   TBuff        bytes of one stored row (pixel bytes padded to 4)
//   ChargeBMP    read a file into a new row-pointer matrix
//   load_bmp     the same, saying why it cannot
//   SauveBMP     write a matrix to a file
//   write_bmp_rows   the same, lines handed out one at a time
//   rounded_luma, luma   the grey of a colour (ITU-R BT.601 weights)
//   bgr_rows_to_grey     a 24-bit matrix turned grey in place
//
// Type codes: 0 8-bit with the grey-ramp palette, 1 8-bit with any other
// palette, 2 24-bit (three bytes per pixel in file order: blue, green, red).
// Nothing here prints, keeps state or ends the program: failure is reported
// through the result alone (null, or -1 against 0), as the dialogue's codec
// does, or by load_bmp as a Failure (platform/failure.h) with the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct BMP_Header {
  std::uint16_t BfType;           // "BM", 19778
  std::uint32_t BfSize;           // whole file, bytes
  std::uint16_t Res1;
  std::uint16_t Res2;
  std::uint32_t BfOffBits;        // offset of the first pixel byte
  std::uint32_t BiSize;           // information header, 40
  std::uint32_t BiWidth;          // columns
  std::uint32_t BiHeight;         // lines
  std::uint16_t BiPlanes;         // 1
  std::uint16_t BiBitCount;       // 8 or 24
  std::uint32_t BiCompression;    // 0 for none
  std::uint32_t BiSizeImage;      // pixel data, bytes
  std::uint32_t BiXPelsPerMeter;
  std::uint32_t BiYPelsPerMeter;
  std::uint32_t BiClrUsed;
  std::uint32_t BiClrImportant;
};

struct Color32 {
  std::uint8_t B;
  std::uint8_t G;
  std::uint8_t R;
  std::uint8_t O;
};

// Largest width or height the reader accepts.
constexpr int kBmpMaxSide = 32767;

// Bytes of one stored row of NbCol pixels of `taille` bytes each.
long long TBuff(int NbCol, int taille);

// Writes Buff (NbLig lines of at least NbCol x taille bytes) to the file Nom.
// ColorMAP: 256 entries, or null for the grey ramp (ignored for type 2).
// Result: 0, or -1 when the file cannot be created or written completely
// (header, palette, any row, or the final close), and for a type other than
// 0, 1, 2 or negative sizes. On -1 the file is closed but may stay on disk
// as far as it was written.
int SauveBMP(const char* Nom, unsigned char** Buff, int NbCol, int NbLig, int Type, const Color32* ColorMAP);

// SauveBMP of lines handed out one at a time: `line(i, row)` fills the
// NbCol x taille bytes of line i into row (lines are asked bottom first).
// The same bytes as SauveBMP of the same lines.
int write_bmp_rows(const char* Nom, const std::function<void(int line, unsigned char* row)>& line, int NbCol,
                   int NbLig, int Type, const Color32* ColorMAP);

// Reads the file Name into a new matrix of *NbLig lines of *NbCol x taille
// bytes (line 0 the top line). *ColorMAP null on entry: no palette wanted;
// otherwise it is replaced at once by a 256-entry palette area that the
// caller owns whatever happens (release it with free; null only when memory
// ran out). Result: the matrix (rows releasable with frucmatrice), or null
// when the file cannot be read: not a regular file, short header, signature
// not "BM", neither 8 bits at offset 1078 nor 24 bits at offset 54,
// compression 1, width or height above kBmpMaxSide (a top-down file, of
// negative height, among them), file shorter than its palette and rows.
// A width or height of 0 is read: the matrix, not null, then holds no pixel.
unsigned char** ChargeBMP(const char* Name, int* NbCol, int* NbLig, int* Type, Color32** ColorMAP);

// ChargeBMP that never gives null: where ChargeBMP gives null it throws a
// Failure (a std::runtime_error) with a sentence saying what the file is
// ("32 bits per pixel; only 8- and 24-bit bitmaps are read", "not a regular
// file", ...), or std::bad_alloc when memory cannot be had. The out parameters and the
// palette area are as ChargeBMP leaves them.
unsigned char** load_bmp(const char* Name, int* NbCol, int* NbLig, int* Type, Color32** ColorMAP);

// The grey of a colour of 8-bit channels: (19595 R + 38470 G + 7471 B +
// 32768) >> 16, the BT.601 luma rounded. Every reader of colour pictures
// uses it, so a colour bitmap gives the same grey whoever reads it.
inline unsigned char rounded_luma(unsigned r, unsigned g, unsigned b) {
  return static_cast<unsigned char>((19595u * r + 38470u * g + 7471u * b + 32768u) >> 16);
}

// The same weights on channels of any range, not rounded.
inline double luma(double r, double g, double b) { return (19595.0 * r + 38470.0 * g + 7471.0 * b) / 65536.0; }

// Turns the rows of a 24-bit matrix as ChargeBMP returns it (blue, green,
// red per pixel) into their grey levels, in place: each row's first NbCol
// bytes become the greys.
inline void bgr_rows_to_grey(unsigned char** Buff, int NbLig, int NbCol) {
  for (int i = 0; i < NbLig; ++i) {
    unsigned char* row = Buff[i];
    for (int j = 0; j < NbCol; ++j) row[j] = rounded_luma(row[3 * j + 2], row[3 * j + 1], row[3 * j]);
  }
}
