// The host layer (logical paths, names that must stay inside the base
// folder), the console's number rule, groups of files put in place
// together, and the standard descriptors.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/failure.h"
#include "platform/host.h"

namespace {

TEST(HostPath, LogicalPathsMapUnderTheWorkingFolder) {
  EXPECT_EQ(host_path("c:\\images\\site\\a.raw"), "images/site/a.raw");
  EXPECT_EQ(host_path("c:\\images\\a\\b\\c_reg.asc"), "images/a/b/c_reg.asc");
}

struct NameCase {
  const char* name;
  bool accepted;
};

const NameCase kNames[] = {
    {"site", true},      {"a.raw", true},     {"site\\sub", true}, {"site/sub", true},  {"..x", true},
    {"x..", true},       {"..", false},       {"..\\x", false},    {"x\\..\\y", false}, {"x/..", false},
    {"\\abs", false},    {"/etc", false},     {"c:x", false},      {"d:\\x", false},    {"", false},
};

TEST(HostPath, NamesThatWouldLeaveTheBaseFolderAreRefused) {
  for (const auto& c : kNames) EXPECT_EQ(name_stays_inside(c.name), c.accepted) << c.name;
  // control bytes: a NUL would cut the host path short of the shown name
  EXPECT_FALSE(name_stays_inside(std::string("site\0..", 7)));
  EXPECT_FALSE(name_stays_inside(std::string("si\x1bte")));
}

struct IntCase {
  const char* word;
  bool ok;
  int value;
};

const IntCase kInts[] = {
    {"0", true, 0},           {"42", true, 42},          {"-7", true, -7},
    {"+7", true, 7},          {"2147483647", true, 2147483647}, {"-2147483648", true, -2147483647 - 1},
    {"2147483648", false, 0}, {"12.5", false, 0},        {"7x", false, 0},
    {"x7", false, 0},         {"", false, 0},            {"-", false, 0},
    {"+", false, 0},          {"+-1", false, 0},         {"1e3", false, 0},
    {"0x10", false, 0},       {" 1", false, 0},
};

TEST(Console, WholeNumbersOnly) {
  for (const auto& c : kInts) {
    int v = 0;
    EXPECT_EQ(parse_int(c.word, v), c.ok) << "'" << c.word << "'";
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.word;
    }
  }
}

TEST(Console, WordsAreSplitOnAnyWhiteSpace) {
  con_use_memory_input(" a\tb\r\nc  \n");
  std::string w;
  std::vector<std::string> words;
  while (con_read_word(w)) words.push_back(w);
  EXPECT_EQ(words, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(Console, KeyWaitTakesOneByteAndNeverBlocksAtTheEnd) {
  con_use_memory_input("xy");
  con_key_wait();
  std::string w;
  ASSERT_TRUE(con_read_word(w));
  EXPECT_EQ(w, "y");
  con_key_wait();  // end of input: returns at once
  EXPECT_FALSE(con_read_word(w));
}

}  // namespace

// Names registered from many threads at once are all removed when a signal
// ends the program, and a name released before it is left alone.
TEST(InterruptCleanup, NamesFromManyThreadsAreRemovedBySignal) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / (std::to_string(getpid()) + ".cleanup");
  std::filesystem::create_directories(dir);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    install_interrupt_cleanup();
    std::vector<std::unique_ptr<RemovedOnInterrupt>> held(16);
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
      threads.emplace_back([&, t] {
        const std::string name = (dir / (std::to_string(t) + ".f")).string();
        std::ofstream(name) << t;
        for (int k = 0; k < 500; ++k) RemovedOnInterrupt churn({name + ".gone"});
        held[t] = std::make_unique<RemovedOnInterrupt>(std::vector<std::string>{name});
      });
    for (auto& th : threads) th.join();
    std::ofstream(dir / "kept") << "x";
    { RemovedOnInterrupt released({(dir / "kept").string()}); }
    raise(SIGTERM);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"kept"});
  std::filesystem::remove_all(dir);
}

namespace {

namespace fs = std::filesystem;

std::string text_of(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything in a folder, name -> bytes ("<dir>", "<fifo>" for others).
std::map<std::string, std::string> folder_state(const fs::path& dir) {
  std::map<std::string, std::string> m;
  for (const auto& e : fs::directory_iterator(dir)) {
    const auto t = e.symlink_status().type();
    m[e.path().filename().string()] =
        t == fs::file_type::directory ? "<dir>" : t == fs::file_type::fifo ? "<fifo>" : text_of(e.path());
  }
  return m;
}

}  // namespace

// A group of files goes in place whole or not at all: a folder or a FIFO
// in the place of any target, a writer that fails, or a rename that fails
// half way leaves every earlier file as it was and no temporary behind.
TEST(StagedFiles, AGroupGoesInPlaceWholeOrNotAtAll) {
  struct Case {
    const char* what;
    int folder_at, fifo_at;  // which target is in the way (-1: none)
    bool writer_fails, rename_fails;
    const char* says;        // "" when the group goes in place
  };
  const Case kCases[] = {
      {"all in place", -1, -1, false, false, ""},
      {"a folder in the place of the second", 1, -1, false, false, "it is a folder"},
      {"a FIFO in the place of the third", -1, 2, false, false, "it is not a regular file"},
      {"the last writer fails", -1, -1, true, false, "the file could not be written completely"},
      {"the last rename fails after two were made", -1, -1, false, true, "No such file or directory"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const fs::path dir = fs::temp_directory_path() / ("staged." + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string t[4] = {(dir / "r.raw").string(), (dir / "r.txt").string(), (dir / "v.csv").string(),
                              (dir / "v.prj").string()};
    for (int k = 0; k < 4; ++k) std::ofstream(t[k]) << "earlier " << k;
    if (c.folder_at >= 0) {
      fs::remove(t[c.folder_at]);
      fs::create_directory(t[c.folder_at]);
    }
    if (c.fifo_at >= 0) {
      fs::remove(t[c.fifo_at]);
      mkfifo(t[c.fifo_at].c_str(), 0600);
    }
    const auto before = folder_state(dir);
    std::string why, failed;
    bool ok = true;
    {
      StagedFiles staged;
      auto writer = [](const char* text) {
        return [text](const std::string& tmp) { return static_cast<bool>(std::ofstream(tmp) << text); };
      };
      try {
        staged.write({t[0], writer("new 0")});
        staged.write({t[1], writer("new 1"), true});
        const std::string adopted = temporary_name_beside(t[2], ".csv");
        if (!c.rename_fails) std::ofstream(adopted) << "new 2";
        staged.adopt(adopted, t[2]);
        staged.remove_with(t[3]);
        if (c.writer_fails) staged.write({t[0] + ".more", [](const std::string&) { return false; }});
        staged.put_in_place();
      } catch (const FileFailure& failure) {
        ok = false;
        why = failure.what();
        failed = failure.path;
      }
    }
    EXPECT_EQ(ok, *c.says == 0) << why;
    if (*c.says) {
      EXPECT_EQ(why, c.says);
      EXPECT_EQ(folder_state(dir), before);
      const int in_the_way = c.folder_at >= 0 ? c.folder_at : c.fifo_at;
      if (in_the_way >= 0) {
        EXPECT_EQ(failed, t[in_the_way]);
      }
    } else {
      EXPECT_EQ(folder_state(dir), (std::map<std::string, std::string>{
                                       {"r.raw", "new 0"}, {"r.txt", "new 1"}, {"v.csv", "new 2"}}));
    }
    fs::remove_all(dir);
  }
}

// A program started with standard error closed gets /dev/null there, so
// the first file it opens is not descriptor 2.
TEST(StandardDescriptors, ClosedOnesAreOpenedOnDevNull) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(2);
    close(0);
    ensure_standard_descriptors();
    const int fd = ::open(".", O_RDONLY);
    _exit(fd > 2 && fcntl(0, F_GETFD) != -1 && fcntl(2, F_GETFD) != -1 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
