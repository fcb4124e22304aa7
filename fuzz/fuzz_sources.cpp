// Fuzz target: the command line's readers and its option parser on arbitrary
// bytes. The first byte chooses: an ASCII grid kept whole, a bitmap, a
// raster whose descriptor is the text before the first NUL, or the options
// (words separated by NULs). A source that opens hands out exactly its
// lines, in order, and a read that succeeds has seen them all.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "cli/options.h"
#include "formats/image_source.h"
#include "fuzz_support.h"
#include "platform/failure.h"

namespace {

void read_all(ImageSource& source) {
  if (source.lines < 1 || source.columns < 1) std::abort();
  int next = 0;
  try {
    source.read_lines(
        [&](int line, const double* values) {
          if (line != next++) std::abort();
          for (int j = 0; j < source.columns; ++j)
            if (std::isinf(values[j])) std::abort();  // a value is a number or nodata
          return true;
        },
        {});
  } catch (const Failure& failure) {
    if (!*failure.what()) std::abort();  // every failure says why
    return;
  }
  if (next != source.lines) std::abort();
}

void parse(const std::string& bytes) {
  std::vector<std::string> words{"solvik"};
  std::string::size_type at = 0;
  while (at <= bytes.size() && words.size() < 64) {
    const auto end = std::min(bytes.find('\0', at), bytes.size());
    words.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  Options options;
  Action action{};
  std::string why;
  if (!parse_options(static_cast<int>(words.size()), argv.data(), options, action, &why) && why.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  fuzz_support::enter_private_folder();
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::unique_ptr<ImageSource> source;
  try {
    switch (data[0] % 4) {
      case 0:
        fuzz_support::write_bytes("x.asc", data + 1, size - 1);
        source = open_asc_source("x.asc");
        break;
      case 1:
        fuzz_support::write_bytes("x.bmp", data + 1, size - 1);
        source = open_bmp_source("x.bmp");
        break;
      case 2: {
        const auto nul = std::min(rest.find('\0'), rest.size());
        const std::string txt = rest.substr(0, nul), raw = nul < rest.size() ? rest.substr(nul + 1) : "";
        fuzz_support::write_bytes("x.txt", reinterpret_cast<const std::uint8_t*>(txt.data()), txt.size());
        fuzz_support::write_bytes("x.raw", reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
        source = open_raw_source("x.raw", "x.txt");
        break;
      }
      default:
        parse(rest);
        return 0;
    }
  } catch (const Failure& failure) {
    if (!*failure.what()) std::abort();  // every refusal says why
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (!source) std::abort();  // an opener gives a source or throws
  read_all(*source);
  return 0;
}
