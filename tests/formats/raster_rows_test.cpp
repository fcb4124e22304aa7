// Raster rows in and out of planes whose rows lie in one block, in several
// blocks, or one by one: the same bytes in the same order, and the line a
// short file ends in.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "formats/raster.h"

namespace {

constexpr int kLines = 7, kColumns = 5;

// Row pointers of kLines rows, cut into blocks of consecutive rows
// (`blocks` gives the rows of each), the blocks apart in memory.
struct CutPlane {
  std::vector<std::vector<unsigned char>> storage;
  std::vector<unsigned char*> rows;
  explicit CutPlane(const std::vector<int>& blocks) {
    for (int n : blocks) {
      storage.emplace_back(static_cast<std::size_t>(n * kColumns + 1), 0);  // +1: never adjacent by chance
      for (int k = 0; k < n; ++k) rows.push_back(storage.back().data() + k * kColumns);
    }
  }
};

struct File {
  std::FILE* f = std::tmpfile();
  ~File() {
    if (f) std::fclose(f);
  }
};

TEST(RasterRows, WrittenAndReadBackLineZeroFirstWhateverTheRowsLayout) {
  CutPlane whole({kLines});  // one block, as a ucmatrice plane
  unsigned char* const* block = whole.rows.data();
  std::vector<unsigned char> bytes;
  for (int i = 0; i < kLines; ++i)
    for (int j = 0; j < kColumns; ++j) bytes.push_back(block[i][j] = static_cast<unsigned char>(31 * i + j + 1));

  const std::vector<std::vector<int>> layouts = {{7}, {1, 1, 1, 1, 1, 1, 1}, {3, 4}, {1, 5, 1}};
  for (const auto& layout : layouts) {
    SCOPED_TRACE(::testing::PrintToString(layout));
    File out;
    ASSERT_TRUE(write_raster_rows(out.f, block, kLines, kColumns));
    std::rewind(out.f);
    std::vector<unsigned char> written(bytes.size() + 1);
    ASSERT_EQ(std::fread(written.data(), 1, written.size(), out.f), bytes.size());
    written.pop_back();
    EXPECT_EQ(written, bytes);

    CutPlane cut(layout);
    std::rewind(out.f);
    int failed = -1;
    ASSERT_TRUE(read_raster_rows(out.f, cut.rows.data(), kLines, kColumns, &failed));
    for (int i = 0; i < kLines; ++i)
      EXPECT_EQ(std::vector<unsigned char>(cut.rows[i], cut.rows[i] + kColumns),
                std::vector<unsigned char>(block[i], block[i] + kColumns));

    File again;
    ASSERT_TRUE(write_raster_rows(again.f, cut.rows.data(), kLines, kColumns));
    EXPECT_EQ(std::ftell(again.f), static_cast<long>(bytes.size()));
  }
}

TEST(RasterRows, ShortFileNamesTheFirstLineNotReadInFull) {
  struct Case {
    std::vector<int> layout;
    long bytes;
    int failed_line;
  };
  const std::vector<Case> cases = {
      {{7}, 0, 0}, {{7}, 4, 0}, {{7}, 5, 1}, {{7}, 34, 6}, {{3, 4}, 14, 2}, {{3, 4}, 15, 3}, {{3, 4}, 23, 4},
      {{1, 1, 1, 1, 1, 1, 1}, 12, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.layout) + " " + std::to_string(c.bytes) + " bytes");
    File in;
    for (long k = 0; k < c.bytes; ++k) std::fputc(static_cast<int>(k), in.f);
    std::rewind(in.f);
    CutPlane cut(c.layout);
    int failed = -1;
    EXPECT_FALSE(read_raster_rows(in.f, cut.rows.data(), kLines, kColumns, &failed));
    EXPECT_EQ(failed, c.failed_line);
  }
}

}  // namespace
