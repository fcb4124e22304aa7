// The host layer (logical paths, names that must stay inside the base
// folder) and the console's number rule.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "platform/console.h"
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
