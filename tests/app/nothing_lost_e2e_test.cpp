// Runs of the real program that must lose nothing and leave nothing behind:
// results spelled to be an input, descriptors that are there but cannot be
// read, runs stopped or interrupted while writing, file size limits, a
// reader of the output that goes away, two runs writing one result, inputs
// swapped for FIFOs, no memory while reading, and the longest legal names.
// Every case checks the status, the message, that the inputs are byte for
// byte as they were and that no temporary or half-written file is left.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "LIB/image.h"
#include "support/helpers.h"

extern char** environ;

namespace {

using namespace testing_support;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Everything in a folder: name -> bytes ("<fifo>", "<dir>" or "<link>"
// for what is not a regular file).
std::map<std::string, std::string> contents(const fs::path& folder) {
  std::map<std::string, std::string> m;
  for (const auto& e : fs::directory_iterator(folder)) {
    const auto st = e.symlink_status().type();
    const std::string name = e.path().filename().string();
    if (st == fs::file_type::symlink) m[name] = "<link>";
    else if (st == fs::file_type::fifo) m[name] = "<fifo>";
    else if (st == fs::file_type::directory) m[name] = "<dir>";
    else m[name] = read_file(e.path());
  }
  return m;
}

// A picture of `lines` x `columns` with a filled bar in its middle.
Plane bar(int lines, int columns) {
  Plane p(static_cast<std::size_t>(lines), std::vector<unsigned char>(static_cast<std::size_t>(columns), 0));
  for (int i = lines / 4; i < 3 * lines / 4; ++i)
    for (int j = 2; j < columns - 2; ++j) p[i][j] = 200;
  return p;
}

std::string bmp_of(const fs::path& scratch, Plane p) {
  RowPointers rows(p);
  const fs::path f = scratch / ".scratch.bmp";
  EXPECT_EQ(SauveBMP(f.c_str(), rows.get(), static_cast<int>(p[0].size()), static_cast<int>(p.size()), 0, nullptr), 0);
  std::string b = read_file(f);
  fs::remove(f);
  return b;
}

class NothingLost : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(site()); }
  fs::path site() const { return dir_ / "images/s"; }
  RunResult run(const std::string& answers, const std::string& prefix = "") {
    return run_solvik(dir_.path(), answers, {}, prefix);
  }
  void put_raster(const std::string& name, const Plane& p) {
    write_file(site() / (name + ".raw"), plane_bytes(p));
    write_file(site() / (name + ".txt"),
               std::to_string(p.size()) + " " + std::to_string(p[0].size()) + " 1 0 255 1\n");
  }
  void put_bitmap(const std::string& name, const Plane& p) { write_file(site() / (name + ".bmp"), bmp_of(dir_.path(), p)); }
  void put_grid(const std::string& name, const Plane& p) {
    std::string s = "ncols " + std::to_string(p[0].size()) + "\nnrows " + std::to_string(p.size()) +
                    "\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n";
    for (const auto& line : p)
      for (unsigned char v : line) s += std::to_string(v) + " ";
    write_file(site() / (name + ".asc"), s);
  }
  // Starts the program without waiting; its answers come from a file.
  pid_t spawn(const std::string& answers) {
    static int n = 0;
    const fs::path in = dir_ / (".answers" + std::to_string(n++));
    write_file(in, answers);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    const std::string cwd = dir_.path().string();
    std::string cmd = "cd '" + cwd + "' && exec '" + SOLVIK_BINARY + "'";
    const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, "/bin/sh", &fa, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
  }
  // The address space (kB) the program holds while it waits for its first
  // answer.
  long mapped_at_start_kb() {
    const fs::path fifo = dir_ / ".waiting";
    mkfifo(fifo.c_str(), 0600);
    const int hold = open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // a writer, so the program waits
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, fifo.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {SOLVIK_BINARY, nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, SOLVIK_BINARY, &fa, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    long kb = 0;
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    // waiting shows as a pipe read; where the kernel hides that, two seconds
    const auto settled = Clock::now() + std::chrono::seconds(2);
    for (const auto until = Clock::now() + std::chrono::seconds(20); Clock::now() < until;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const std::string text = read_file(status);
      const auto at = text.find("VmSize:");
      const auto wchan = read_file("/proc/" + std::to_string(pid) + "/wchan");
      if (at != std::string::npos && (wchan.find("pipe") != std::string::npos || Clock::now() > settled)) {
        kb = std::stol(text.substr(at + 7));
        break;
      }
    }
    close(hold);
    finish(pid);
    EXPECT_GT(kb, 0) << "the program never waited for an answer";
    return kb;
  }
  // The exit status (128 + signal for a signal), or -1 when the run did not
  // end within `seconds` (it is then killed).
  static int finish(pid_t pid, int seconds = 60) {
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    int raw = 0;
    while (waitpid(pid, &raw, WNOHANG) == 0) {
      if (Clock::now() > until) {
        kill(pid, SIGKILL);
        waitpid(pid, &raw, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }
  TempDir dir_;
};

// ---------------------------------------------------------------------------
// 1. A result spelled differently from an input, or reached through a link,
//    is still that input: refused, and the run goes on with the next name.

struct IdentityCase {
  const char* what;
  const char* answers;
  const char* input;  // the file that must stay as it was
};

const IdentityCase kIdentity[] = {
    {"bitmap, result ./b", "s 1 b_reg 1 ./b 1 other 128 255", "b_reg.bmp"},
    {"raster, result .\\c", "s 0 c_reg 1 .\\c 1 other 128 255", "c_reg.raw"},
    {"bitmap, result through a folder link", "s 1 b_reg 1 here/b 1 other 128 255", "b_reg.bmp"},
    {"bitmap, input spelled ./b_reg", "s 1 ./b_reg 1 b 1 other 128 255", "b_reg.bmp"},
    {"raster, result descriptor is the input's", "s 0 c_reg 1 here\\c 1 other 128 255", "c_reg.txt"},
};

TEST_F(NothingLost, ResultThatIsAnInputWhateverItsSpellingIsRefused) {
  for (const auto& c : kIdentity) {
    fs::remove_all(site());
    fs::create_directories(site());
    put_bitmap("b_reg", bar(12, 20));
    put_raster("c_reg", bar(12, 20));
    fs::create_directory_symlink(".", site() / "here");
    const auto before = contents(site());
    RunResult r = run(c.answers);
    EXPECT_EQ(r.status, 0) << c.what << r.output;
    EXPECT_NE(r.output.find("The result would replace the input"), std::string::npos) << c.what;
    EXPECT_EQ(contents(site())[c.input], before.at(c.input)) << c.what;
  }
}

// ---------------------------------------------------------------------------
// 2. An input descriptor that is there but is no readable regular file stops
//    the run naming it, and is left as it is.

TEST_F(NothingLost, DescriptorThatCannotBeReadStopsAndIsKept) {
  struct Case {
    const char* what;
    void (*make)(const fs::path& txt);
  };
  const Case cases[] = {
      {"a FIFO", [](const fs::path& t) { mkfifo(t.c_str(), 0644); }},
      {"a link to a FIFO", [](const fs::path& t) {
         mkfifo((t.string() + ".fifo").c_str(), 0644);
         fs::create_symlink(t.filename().string() + ".fifo", t);
       }},
      {"a folder", [](const fs::path& t) { fs::create_directory(t); }},
  };
  for (const auto& c : cases) {
    fs::remove_all(site());
    fs::create_directories(site());
    write_file(site() / "a.raw", plane_bytes(bar(8, 8)));
    c.make(site() / "a.txt");
    const auto before = contents(site());
    RunResult r = run("s 0 a 0 128 255");
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.output.find("The descriptor c:\\images\\s\\a.txt cannot be read: "), std::string::npos)
        << c.what << r.output;
    EXPECT_EQ(contents(site()), before) << c.what;
  }
}

// 3 and 11. A run that stops before its result is written changes no result
// file, and a descriptor asked for is created only for a raster that holds
// its size.
TEST_F(NothingLost, StoppedRunsChangeNoResultAndCreateNoWrongDescriptor) {
  put_raster("a", bar(8, 8));
  write_file(site() / "a_reg.raw", "old raster");
  write_file(site() / "a_reg.txt", "old descriptor");
  const auto before = contents(site());
  EXPECT_EQ(run("s 0 a 0 128").status, 1);  // the answers end at Max
  EXPECT_EQ(contents(site()), before);

  write_file(site() / "n.raw", std::string(20, '\0'));
  const auto without = contents(site());
  RunResult r = run("s 0 n 5 5 1 0 128 255");  // 25 bytes asked of a raster of 20
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("holds 20 bytes, but 5 lines of 5 columns need 25"), std::string::npos) << r.output;
  EXPECT_EQ(contents(site()), without);
  r = run("s 0 n 4 5 1 0 128 255");  // asked again, and now created
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(read_file(site() / "n.txt"), "4\n5\n1\n0\n255\n1\n");
}

// 4. Interrupted while it writes a large result, a run ends as the signal
//    would and leaves either nothing or the whole result (a signal that
//    arrives while the names are being put in place waits for them), never a
//    temporary file or half a pair, in every format. A signal can only be
//    aimed at the write, so each case is tried until one lands inside it.
TEST_F(NothingLost, InterruptWhileWritingLeavesNothing) {
  const Plane big = bar(4096, 4096);
  put_raster("r", big);
  put_bitmap("b", big);
  put_grid("g", big);
  const auto before = contents(site());
  struct Case {
    const char* answers;
    int signal;
  };
  const Case cases[] = {{"s 0 r 0 128 255", SIGINT}, {"s 1 b 0 128 255", SIGTERM}, {"s 2 g 0 128 255", SIGHUP}};
  std::string unseen;  // the cases whose write was never seen
  for (const auto& c : cases) {
    ASSERT_EQ(finish(spawn(c.answers)), 0) << c.answers;
    const auto whole = contents(site());
    for (const auto& [name, bytes] : whole)
      if (!before.count(name)) fs::remove(site() / name);

    bool landed = false, seen = false;
    for (int attempt = 0; attempt < 8 && !landed; ++attempt) {
      // the moment to strike: the first write into a file of the folder
      // (the inputs are only read, so that is the result being written,
      // named or not)
      const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
      ASSERT_GE(watch, 0);
      ASSERT_GE(inotify_add_watch(watch, site().c_str(), IN_MODIFY), 0);
      const pid_t pid = spawn(c.answers);
      bool caught = false;
      for (const auto until = Clock::now() + std::chrono::seconds(60); !caught && Clock::now() < until;) {
        pollfd p{watch, POLLIN, 0};
        caught = poll(&p, 1, 20) == 1;
        siginfo_t info{};
        if (!caught && waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid)
          break;  // the run has ended
      }
      close(watch);
      seen = seen || caught;
      if (caught) kill(pid, c.signal);
      const int status = finish(pid);
      const auto after = contents(site());
      landed = status == 128 + c.signal && after == before;
      if (!landed) {
        EXPECT_TRUE(status == 0 || status == 128 + c.signal) << c.answers << " status " << status;
        EXPECT_EQ(after, whole) << c.answers;
        for (const auto& [name, bytes] : after)
          if (!before.count(name)) fs::remove(site() / name);
      }
    }
    if (seen) EXPECT_TRUE(landed) << c.answers << ": no signal landed inside the write";
    else unseen += std::string(" '") + c.answers + "'";
  }
  // a file system that reports no writes leaves nothing to aim at
  if (!unseen.empty()) GTEST_SKIP() << "no write into the folder was reported for" << unseen;
}

// 5. Beyond the file size limit the write fails as a write: a message, status
//    1, nothing left.
TEST_F(NothingLost, FileSizeLimitIsAFailedWrite) {
  put_raster("a", bar(600, 600));
  const auto before = contents(site());
  RunResult r = run("s 0 a 0 128 255", "ulimit -f 100 &&");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("The result c:\\images\\s\\a_reg.raw could not be written: File too large."),
            std::string::npos)
      << r.output;
  EXPECT_EQ(contents(site()), before);
}

// 6. A reader of the output that goes away does not stop the result.
TEST_F(NothingLost, ResultIsWrittenWhenTheOutputReaderLeaves) {
  put_raster("a", bar(300, 300));
  RunResult reference = run("s 0 a 1 ref 128 255");
  ASSERT_EQ(reference.status, 0);
  write_file(dir_ / "in", "s 0 a 0 128 255");
  const std::string cmd = "cd '" + dir_.path().string() + "' && '" + SOLVIK_BINARY + "' < in | head -c 1 > /dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(read_file(site() / "a_reg.raw"), read_file(site() / "ref_reg.raw"));
  EXPECT_EQ(read_file(site() / "a_reg.txt"), read_file(site() / "ref_reg.txt"));
}

// 7. Two raster runs writing the same result at once: the pair always comes
//    from one of them.
TEST_F(NothingLost, TwoRunsWritingOnePairLeaveAPairOfOneRun) {
  put_raster("p", bar(64, 256));
  put_raster("q", bar(256, 64));
  ASSERT_EQ(run("s 0 p 1 rp 128 255").status, 0);
  ASSERT_EQ(run("s 0 q 1 rq 128 255").status, 0);
  const std::string pair_p = read_file(site() / "rp_reg.raw") + read_file(site() / "rp_reg.txt");
  const std::string pair_q = read_file(site() / "rq_reg.raw") + read_file(site() / "rq_reg.txt");
  for (int round = 0; round < 12; ++round) {
    const pid_t a = spawn("s 0 p 1 r 128 255");
    const pid_t b = spawn("s 0 q 1 r 128 255");
    ASSERT_EQ(finish(a), 0);
    ASSERT_EQ(finish(b), 0);
    const std::string pair = read_file(site() / "r_reg.raw") + read_file(site() / "r_reg.txt");
    ASSERT_TRUE(pair == pair_p || pair == pair_q) << "round " << round;
  }
  for (const auto& [name, bytes] : contents(site())) EXPECT_NE(name.rfind(".sv", 0), 0u) << name;
}

// 8. An input swapped between a regular file and a FIFO while runs start
//    never hangs a run.
TEST_F(NothingLost, InputSwappedForAFifoNeverHangs) {
  put_raster("x", bar(16, 16));
  mkfifo((site() / "fifo").c_str(), 0644);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    const fs::path x = site() / "x.raw", file = site() / "file", fifo = site() / "fifo";
    fs::rename(x, file);
    while (!stop) {
      std::error_code ec;
      fs::create_hard_link(fifo, x, ec);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      fs::remove(x, ec);
      fs::create_hard_link(file, x, ec);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      fs::remove(x, ec);
    }
    fs::create_hard_link(file, x);
  });
  int ended = 0;
  for (int k = 0; k < 20; ++k) {
    const int status = finish(spawn("s 0 x 1 y 128 255"), 20);
    EXPECT_NE(status, -1) << "run " << k << " hung";
    if (status == 0 || status == 1) ++ended;
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(ended, 20);
}

// 9. No memory for a bitmap is said as such, as for a raster.
TEST_F(NothingLost, NoMemoryForABitmapIsSaidAsSuch) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-sanitized program cannot run under a memory limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "an address-sanitized program cannot run under a memory limit";
#endif
#endif
  // an 8192 x 8192 bitmap of zeros, written header, palette and rows
  std::string b = bmp_of(dir_.path(), Plane(1, std::vector<unsigned char>(4, 0)));
  const std::uint32_t side = 8192, rows = side * side;
  auto put32 = [&b](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + static_cast<std::size_t>(k)] = static_cast<char>(v >> (8 * k));
  };
  b.resize(1078);
  put32(2, 1078 + rows);
  put32(18, side);
  put32(22, side);
  put32(34, rows);
  b.append(rows, '\0');
  write_file(site() / "h.bmp", b);
  b.clear();
  // the limit leaves about 50 MB above what the program maps before its first
  // question (its libraries differ from build to build), less than the
  // 64 MiB the picture needs
  const std::string limit = "ulimit -v " + std::to_string(mapped_at_start_kb() + 50000) + " &&";
  RunResult r = run("s 1 h 0 128 255", limit);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Not enough memory for an image of 8192 lines of 8192 columns."), std::string::npos)
      << r.output.substr(r.output.size() > 300 ? r.output.size() - 300 : 0);
}

// A bitmap that is there but of a layout the program does not read gets a
// second line under "No File" that says why.
TEST_F(NothingLost, RefusedBitmapSaysWhyUnderNoFile) {
  std::string b = bmp_of(dir_.path(), bar(4, 4));
  b[28] = 32;  // bits per pixel
  write_file(site() / "x.bmp", b);
  RunResult r = run("s 1 x 0 128 255");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("\n\tNo File  c:\\images\\s\\x.bmp \n\tThe file cannot be read: 32 bits per pixel; "
                          "only 8- and 24-bit bitmaps are read.\n"),
            std::string::npos)
      << r.output;
}

// 10. Result names as long as the file system takes are written, in every
//     format.
TEST_F(NothingLost, LongestLegalResultNamesAreWritten) {
  put_raster("a", bar(8, 8));
  put_bitmap("a", bar(8, 8));
  put_grid("a", bar(8, 8));
  const std::string name(247, 'n');  // "_reg.raw" makes 255 bytes
  for (const char* format : {"0", "1", "2"}) {
    RunResult r = run(std::string("s ") + format + " a 1 " + name + " 128 255");
    EXPECT_EQ(r.status, 0) << format << r.output.substr(r.output.size() > 200 ? r.output.size() - 200 : 0);
  }
  EXPECT_TRUE(fs::exists(site() / (name + "_reg.raw")));
  EXPECT_TRUE(fs::exists(site() / (name + "_reg.txt")));
  EXPECT_TRUE(fs::exists(site() / (name + "_reg.bmp")));
  EXPECT_TRUE(fs::exists(site() / (name + "_reg.asc")));
}

}  // namespace
