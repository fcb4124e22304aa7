// Child processes of the benchmark: see processes.h.
#include "bench/processes.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace bench {

ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                      const std::string& stdin_path, const std::string& output_path) {
  ChildResult r;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return r;
  if (pid == 0) {
    // only async-signal-safe calls between fork and exec
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    const int in = open(stdin_path.empty() ? "/dev/null" : stdin_path.c_str(), O_RDONLY);
    const int out = open(output_path.empty() ? "/dev/null" : output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int raw = 0;
  struct rusage usage {};
  if (wait4(pid, &raw, 0, &usage) != pid) return r;
  r.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.started = true;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
  r.peak_kib = usage.ru_maxrss;
  return r;
}

namespace {

bool write_all(int fd, const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t k = write(fd, p, n);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

bool read_all(int fd, void* data, std::size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    const ssize_t k = read(fd, p, n);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

// A request is a count of strings, then each string as its length and bytes.
bool send_strings(int fd, const std::vector<std::string>& v) {
  const std::uint32_t n = static_cast<std::uint32_t>(v.size());
  if (!write_all(fd, &n, sizeof n)) return false;
  for (const auto& s : v) {
    const std::uint32_t len = static_cast<std::uint32_t>(s.size());
    if (!write_all(fd, &len, sizeof len) || !write_all(fd, s.data(), s.size())) return false;
  }
  return true;
}

bool receive_strings(int fd, std::vector<std::string>& v) {
  std::uint32_t n = 0;
  if (!read_all(fd, &n, sizeof n)) return false;
  v.assign(n, {});
  for (auto& s : v) {
    std::uint32_t len = 0;
    if (!read_all(fd, &len, sizeof len)) return false;
    s.resize(len);
    if (len && !read_all(fd, s.data(), len)) return false;
  }
  return true;
}

}  // namespace

Spawner::Spawner() {
  int down[2], up[2];
  if (pipe(down) != 0) return;
  if (pipe(up) != 0) {
    close(down[0]);
    close(down[1]);
    return;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {down[0], down[1], up[0], up[1]}) close(fd);
    return;
  }
  if (pid == 0) {
    // the helper: program, cwd, stdin, output, then the arguments
    close(down[1]);
    close(up[0]);
    std::vector<std::string> req;
    while (receive_strings(down[0], req) && req.size() >= 4) {
      const std::vector<std::string> args(req.begin() + 4, req.end());
      const ChildResult r = run_child(req[0], args, req[1], req[2], req[3]);
      if (!write_all(up[1], &r, sizeof r)) break;
    }
    _exit(0);
  }
  close(down[0]);
  close(up[1]);
  to_helper_ = down[1];
  from_helper_ = up[0];
  helper_pid_ = pid;
}

Spawner::~Spawner() {
  if (helper_pid_ < 0) return;
  close(to_helper_);  // the helper sees the end of its requests and leaves
  close(from_helper_);
  int raw = 0;
  waitpid(helper_pid_, &raw, 0);
}

ChildResult Spawner::run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                         const std::string& stdin_path, const std::string& output_path) {
  if (helper_pid_ < 0) return run_child(program, args, cwd, stdin_path, output_path);
  std::vector<std::string> req = {program, cwd, stdin_path, output_path};
  req.insert(req.end(), args.begin(), args.end());
  ChildResult r;
  if (!send_strings(to_helper_, req) || !read_all(from_helper_, &r, sizeof r)) return ChildResult{};
  return r;
}

std::string self_path() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = '\0';
  return buf;
}

}  // namespace bench
