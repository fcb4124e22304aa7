// Host file system: see host.h.
#include "platform/host.h"

#include "platform/console.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

std::string host_path(const std::string& logical) {
#ifdef _WIN32
  return logical;
#else
  std::string p = logical;
  if (p.size() >= 3 && (p[0] == 'c' || p[0] == 'C') && p[1] == ':' && p[2] == '\\') p.erase(0, 3);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
#endif
}

FILE* host_open(const std::string& logical, const char* mode) {
  const std::string path = host_path(logical);
#ifndef _WIN32
  // Only regular files are read: a folder opens on POSIX but cannot be read,
  // and a pipe or device could block the run forever.
  struct stat st{};
  if (mode[0] == 'r' && (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
    if (errno == 0) errno = EISDIR;
    return nullptr;
  }
#endif
  return std::fopen(path.c_str(), mode);
}

long long host_file_size(FILE* f) {
  long here = std::ftell(f);
  if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  long end = std::ftell(f);
  std::fseek(f, here, SEEK_SET);
  return end;
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

bool write_atomically(const std::string& logical, const std::function<bool(const std::string& tmp_host)>& writer,
                      std::string* why) {
  const std::string target = host_path(logical);
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
#ifdef _WIN32
  std::string tmp = target + ".part";
  if (!writer(tmp)) {
    std::remove(tmp.c_str());
    return fail("the file could not be written completely");
  }
  if (!MoveFileExA(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    std::remove(tmp.c_str());
    return fail("the file could not be put in place");
  }
  return true;
#else
  std::size_t slash = target.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string tmp = folder + "." + base + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return fail(std::strerror(errno));
  close(fd);
  errno = 0;
  if (!writer(tmp)) {
    std::string reason = errno ? std::strerror(errno) : "the file could not be written completely";
    unlink(tmp.c_str());
    return fail(reason);
  }
  // mkstemp makes a private file; a result gets what a new file would get
  mode_t mask = umask(0);
  umask(mask);
  if (chmod(tmp.c_str(), 0666 & ~mask) != 0 || rename(tmp.c_str(), target.c_str()) != 0) {
    std::string reason = std::strerror(errno);
    unlink(tmp.c_str());
    return fail(reason);
  }
  return true;
#endif
}

void write_result(const std::string& logical, const std::function<bool(const std::string& tmp_host)>& writer) {
  std::string why;
  if (!write_atomically(logical, writer, &why))
    stop_run(con_format("\n\tThe result %s could not be written: %s.\n", logical.c_str(), why.c_str()));
}
