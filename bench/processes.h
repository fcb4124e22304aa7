// Child processes of the benchmark, so that memory peaks are clean.
//
//   ChildResult   exit status, wall time and peak resident size of a child
//   run_child     runs a program with arguments in a working folder, with
//                 standard input from a file and standard output and error
//                 into a file, and waits for it (wait4: its own rusage)
//   Spawner       a small helper process, forked before the benchmark grows,
//                 that starts the children: Linux hands a process's peak
//                 resident size on through fork and exec, so a child forked
//                 by the big benchmark would report the benchmark's peak
//   self_path     the path of the running benchmark, to start it again in a
//                 child mode
#pragma once

#include <string>
#include <vector>

namespace bench {

struct ChildResult {
  bool started = false;
  int status = -1;         // exit status, or 128 + signal
  double wall_s = 0;       // from start to reaped
  long long peak_kib = 0;  // ru_maxrss of the child
};

ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                      const std::string& stdin_path, const std::string& output_path);

// Forks the helper at once; run() hands it one child at a time. Without
// the helper (fork failed) children are started directly.
class Spawner {
 public:
  Spawner();
  ~Spawner();
  Spawner(const Spawner&) = delete;
  Spawner& operator=(const Spawner&) = delete;
  ChildResult run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                  const std::string& stdin_path, const std::string& output_path);

 private:
  int to_helper_ = -1, from_helper_ = -1;
  int helper_pid_ = -1;
};

std::string self_path();

}  // namespace bench
