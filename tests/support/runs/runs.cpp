// Runs of the real program (see helpers.h). Compiled into the test programs
// that start the program, which know where it was built (SOLVIK_BINARY).
#include <sys/wait.h>

#include <cstdlib>

#include "support/helpers.h"

namespace testing_support {

namespace fs = std::filesystem;

namespace {
std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}
}  // namespace

RunResult run_solvik(const fs::path& cwd, const std::string& answers, const std::vector<std::string>& args,
                     const std::string& shell_prefix) {
  TempDir io;
  const fs::path in = io / "in", out = io / "out", err = io / "err";
  write_file(in, answers);
  // built by appending: GCC 12 warns falsely on literal + string temporaries
  std::string cmd = "cd ";
  cmd.append(shell_quote(cwd.string())).append(" && ").append(shell_prefix).append(" ");
  cmd.append(shell_quote(SOLVIK_BINARY));
  for (const auto& a : args) cmd.append(" ").append(shell_quote(a));
  cmd.append(" < ").append(shell_quote(in.string()));
  cmd.append(" > ").append(shell_quote(out.string()));
  cmd.append(" 2> ").append(shell_quote(err.string()));
  std::string full = "/bin/sh -c ";
  full.append(shell_quote(cmd));
  int raw = std::system(full.c_str());
  RunResult r;
  if (WIFEXITED(raw))
    r.status = WEXITSTATUS(raw);
  else if (WIFSIGNALED(raw))
    r.status = 128 + WTERMSIG(raw);
  r.output = read_file(out);
  r.errors = read_file(err);
  return r;
}

}  // namespace testing_support
