// Host file system: see host.h.
#include "platform/host.h"
#include "platform/failure.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdint>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

std::string host_path(const std::string& logical) {
  std::string p = logical;
  if (p.size() >= 3 && (p[0] == 'c' || p[0] == 'C') && p[1] == ':' && p[2] == '\\') p.erase(0, 3);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

bool name_stays_inside(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
  if (name.find(':') != std::string::npos) return false;
  // a control byte (a NUL above all) would cut the host path short of the
  // name the messages show
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find_first_of("\\/", start);
    std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

namespace {

// A Failure with the text of errno, errno kept as it was.
[[noreturn]] void fail_with_errno() {
  const int error = errno;
  Failure failure(std::strerror(error));
  errno = error;
  throw failure;
}

}  // namespace

FILE* open_regular(const std::string& path, const char* mode) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) fail_with_errno();
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Failure failure("not a regular file");
    errno = EISDIR;
    throw failure;
  }
  // reads of a regular file never block; the flag is dropped all the same
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd, mode);
  if (!f) {
    const int error = errno;
    ::close(fd);
    errno = error;
    fail_with_errno();
  }
  return f;
}

FILE* host_open(const std::string& logical, const char* mode) { return open_regular(host_path(logical), mode); }

long long host_file_size(FILE* f) {
  long here = std::ftell(f);
  if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  long end = std::ftell(f);
  if (std::fseek(f, here, SEEK_SET) != 0) return -1;
  return end;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool path_exists(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}


namespace {

// The named temporary files that exist right now, for the signal handler:
// fixed buffers claimed by any thread with a lock-free exchange, filled,
// then marked ready, and freed after the file is gone, so the handler never
// reads a half-written name. Enough slots for a raster pair and its vector
// files from each of many images written at once; a name that finds none is
// still removed on failure, only not on an interrupt.
constexpr int kSlots = 256;
constexpr std::size_t kNameBytes = 4096;
enum : int { kFree, kFilling, kReady };
char pending_names[kSlots][kNameBytes];
std::atomic<int> pending_state[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");

int remember_name(const std::string& name) {
  if (name.size() >= kNameBytes) return -1;
  for (int k = 0; k < kSlots; ++k) {
    int expected = kFree;
    if (pending_state[k].compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) {
      std::memcpy(pending_names[k], name.c_str(), name.size() + 1);
      pending_state[k].store(kReady, std::memory_order_release);
      return k;
    }
  }
  return -1;
}

void forget_name(int slot) {
  if (slot >= 0) pending_state[slot].store(kFree, std::memory_order_release);
}

// The handler each signal had before install_interrupt_cleanup, when it was
// another module's copy of this one (a module loaded later keeps its own
// list of names): it is called after this list is done.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
void (*earlier_handler[3])(int) = {nullptr, nullptr, nullptr};

extern "C" void remove_pending_and_end(int sig) {
  for (int k = 0; k < kSlots; ++k)
    if (pending_state[k].load(std::memory_order_acquire) == kReady) unlink(pending_names[k]);
  for (int k = 0; k < 3; ++k)
    if (kInterrupts[k] == sig && earlier_handler[k]) return earlier_handler[k](sig);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

std::string folder_of(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A short name in `folder` that nothing uses yet: ".sv" and six characters.
std::string short_name(const std::string& folder) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name = folder + "/.sv";
  for (int k = 0; k < 6; ++k) name += kChars[rng() % (sizeof kChars - 1)];
  return name;
}

// A temporary file being written: either nameless (fd >= 0, reached through
// /proc/self/fd) or named (slot >= 0 in the cleanup list).
struct Temporary {
  int fd = -1;
  int slot = -1;
  std::string path;  // what the writer opens
  std::string name;  // the named file, if any

  ~Temporary() {
    if (fd >= 0) ::close(fd);
    if (!name.empty()) unlink(name.c_str());
    forget_name(slot);
  }
};

void make_temporary(const std::string& folder, Temporary& t, bool named) {
#ifdef O_TMPFILE
  if (!named) t.fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (!named && t.fd >= 0) {
    t.path = "/proc/self/fd/" + std::to_string(t.fd);
    if (access(t.path.c_str(), W_OK) == 0) return;
    ::close(t.fd);
    t.fd = -1;
  }
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = short_name(folder);
    t.slot = remember_name(name);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      t.name = t.path = name;
      return;
    }
    forget_name(t.slot);
    t.slot = -1;
    if (errno != EEXIST) fail_with_errno();
  }
  throw Failure("no temporary name could be found");
}

// Gives a nameless temporary file a short name in `folder`, so it can be
// renamed over its target.
void name_temporary(const std::string& folder, Temporary& t) {
  if (!t.name.empty()) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = short_name(folder);
    t.slot = remember_name(name);
    if (linkat(AT_FDCWD, t.path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      t.name = name;
      return;
    }
    forget_name(t.slot);
    t.slot = -1;
    if (errno != EEXIST) fail_with_errno();
  }
  throw Failure("no temporary name could be found");
}

// Holds SIGINT, SIGTERM and SIGHUP back while it lives.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

// Exclusive locks on several folders while it lives: each folder once
// whatever its spelling (a second lock on one folder would wait for the
// first), taken in the order of their identities, the same for every run.
class FolderLocks {
 public:
  explicit FolderLocks(const std::vector<std::string>& folders) {
    std::vector<std::pair<std::pair<dev_t, ino_t>, int>> opened;
    for (const std::string& folder : folders) {
      const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      struct stat st{};
      if (fd < 0) continue;
      if (fstat(fd, &st) != 0) {
        ::close(fd);
        continue;
      }
      opened.push_back({{st.st_dev, st.st_ino}, fd});
    }
    std::sort(opened.begin(), opened.end());
    for (std::size_t k = 0; k < opened.size(); ++k) {
      if (k > 0 && opened[k].first == opened[k - 1].first) {
        ::close(opened[k].second);
        continue;
      }
      while (flock(opened[k].second, LOCK_EX) != 0 && errno == EINTR) {
      }
      fds_.push_back(opened[k].second);
    }
  }
  ~FolderLocks() {
    for (int fd : fds_) ::close(fd);
  }
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;

 private:
  std::vector<int> fds_;
};

}  // namespace

struct StagedFiles::Entry {
  Temporary temp;
  std::string target;
  bool removal = false;  // the target goes, nothing takes its place
};

StagedFiles::StagedFiles() = default;

StagedFiles::~StagedFiles() {
  for (Entry* e : entries_) delete e;
}

void StagedFiles::write(const AtomicOutput& output) {
  auto* e = new Entry;
  entries_.push_back(e);
  e->target = output.path;
  Temporary& t = e->temp;
  const std::string folder = folder_of(output.path);
  try {
    make_temporary(folder, t, output.named);
  } catch (const Failure& failure) {
    throw FileFailure(output.path, failure.what());
  }
  errno = 0;
  if (!output.writer(t.path))
    throw FileFailure(output.path, errno ? std::strerror(errno) : "the file could not be written completely");
  if (!t.name.empty()) {
    // a named temporary file was made private; a result gets what a new
    // file would get
    mode_t mask = umask(0);
    umask(mask);
    if (chmod(t.name.c_str(), 0666 & ~mask) != 0) throw FileFailure(output.path, std::strerror(errno));
  }
}

void StagedFiles::adopt(const std::string& temporary, const std::string& target) {
  auto* e = new Entry;
  entries_.push_back(e);
  e->target = target;
  e->temp.slot = remember_name(temporary);
  e->temp.name = e->temp.path = temporary;
}

void StagedFiles::remove_with(const std::string& target) {
  auto* e = new Entry;
  entries_.push_back(e);
  e->target = target;
  e->removal = true;
}

void StagedFiles::put_in_place() {
  if (entries_.empty()) return;
  SignalsHeld held;
  std::vector<std::string> folders;
  for (const Entry* e : entries_) folders.push_back(folder_of(e->target));
  FolderLocks locks(folders);
  for (Entry* e : entries_) {
    try {
      if (!e->removal) name_temporary(folder_of(e->target), e->temp);
    } catch (const Failure& failure) {
      throw FileFailure(e->target, failure.what());
    }
  }
  for (Entry* e : entries_) {
    try {
      check_replaceable(e->target);
    } catch (const Failure& failure) {
      throw FileFailure(e->target, failure.what());
    }
  }
  // the earlier files get a second name, so a rename that fails half way
  // can give the group back what it had
  std::vector<Temporary> earlier(entries_.size());
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    struct stat st{};
    if (lstat(entries_[k]->target.c_str(), &st) != 0) continue;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = short_name(folder_of(entries_[k]->target));
      earlier[k].slot = remember_name(name);
      if (link(entries_[k]->target.c_str(), name.c_str()) == 0) {
        earlier[k].name = name;
        break;
      }
      forget_name(earlier[k].slot);
      earlier[k].slot = -1;
      if (errno != EEXIST) break;
    }
  }
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    Entry& e = *entries_[k];
    if (e.removal ? unlink(e.target.c_str()) == 0 || errno == ENOENT : rename(e.temp.name.c_str(), e.target.c_str()) == 0) {
      e.temp.name.clear();
      continue;
    }
    const std::string error = std::strerror(errno);
    for (std::size_t j = 0; j < k; ++j) {
      if (!earlier[j].name.empty()) {
        if (rename(earlier[j].name.c_str(), entries_[j]->target.c_str()) == 0) earlier[j].name.clear();
      } else if (!entries_[j]->removal) {
        unlink(entries_[j]->target.c_str());
      }
    }
    throw FileFailure(e.target, error);
  }
  // the second names go with `earlier`
}

void write_atomically(const std::vector<AtomicOutput>& outputs) {
  StagedFiles staged;
  for (const AtomicOutput& output : outputs) staged.write(output);
  staged.put_in_place();
}

void ensure_standard_descriptors() {
  for (int fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // the lowest free descriptor is `fd` itself, the lower ones being open
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      ::close(opened);
    }
  }
}

RemovedOnInterrupt::RemovedOnInterrupt(const std::vector<std::string>& names) {
  for (const std::string& name : names) slots_.push_back(remember_name(name));
}

RemovedOnInterrupt::~RemovedOnInterrupt() {
  for (int slot : slots_) forget_name(slot);
}

void install_interrupt_cleanup() {
  struct sigaction sa{};
  sa.sa_handler = remove_pending_and_end;
  sigemptyset(&sa.sa_mask);
  for (int k = 0; k < 3; ++k) {
    struct sigaction before{};
    sigaction(kInterrupts[k], &sa, &before);
    const bool chained = !(before.sa_flags & SA_SIGINFO) && before.sa_handler != SIG_DFL &&
                         before.sa_handler != SIG_IGN && before.sa_handler != remove_pending_and_end;
    if (chained) earlier_handler[k] = before.sa_handler;
  }
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}


void check_replaceable(const std::string& path) {
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return;
    fail_with_errno();
  }
  if (S_ISLNK(st.st_mode)) return;
  if (S_ISDIR(st.st_mode)) throw Failure("it is a folder");
  if (!S_ISREG(st.st_mode)) throw Failure("it is not a regular file");
}

std::string temporary_name_beside(const std::string& path, const std::string& extension) {
  static thread_local std::mt19937_64 rng{std::random_device{}() ^
                                          static_cast<std::uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()))};
  char tag[24];
  std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(rng()));
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + "." + tag + ".tmp" + extension;
}

void write_atomically(const std::string& path, const std::function<bool(const std::string& tmp_path)>& writer) {
  write_atomically(std::vector<AtomicOutput>{{path, writer}});
}

// --- names ------------------------------------------------------------------

namespace {

// Where the extension of the last component starts, or npos.
std::size_t extension_start(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1))
    return std::string::npos;
  return dot;
}

}  // namespace

std::string extension_of(const std::string& path) {
  const std::size_t dot = extension_start(path);
  if (dot == std::string::npos) return "";
  std::string ext = path.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

std::string with_extension(const std::string& path, const std::string& ext) {
  const std::size_t dot = extension_start(path);
  return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}
