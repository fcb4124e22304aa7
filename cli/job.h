// One image of the command line, from its file to its result file(s).
//
//   Messages      where a job's information lines, warnings and progress go
//                 (one lock for all jobs)
//   thin_image    open, run the pipeline on it, write every output
//
// A job never ends the program; its failure comes back as a reason.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "cli/options.h"

// The lines a run prints besides failures: Otsu thresholds, progress.
class Messages {
 public:
  Messages(bool quiet, bool force_progress, bool several_at_once);

  // A line on standard output (unless quiet).
  void info(const std::string& line);

  // A warning on standard error (even when quiet): the run goes on.
  void warning(const std::string& line);

  // Should an image of this many pixels show its progress?
  bool progress_for(long long pixels) const;

  // Writes "\r<text>" on standard error; `done` ends the line.
  void progress(const std::string& text, bool done);

 private:
  bool quiet_, force_, several_, terminal_;
  std::mutex lock_;
};

struct ImageJob {
  std::string input;
  std::string output;
  // files that no result may replace besides the job's own input (the other
  // inputs of a batch)
  const std::vector<std::string>* protected_files = nullptr;
  std::string vector_file, nodes_file, summary_file;  // the graph's files of this image
  int threads = 0;  // of the thinning; 0: one per core
};

// Thins one image as the options say. False with `why` (which does not
// repeat the input's name) when anything fails; nothing is then written.
// `usage` (may be null) is set when the failure is the options' (data
// that needs -w, which was not given).
bool thin_image(const ImageJob& job, const Options& options, Messages& messages, std::string* why,
                bool* usage = nullptr);

// What this build reads and writes, for --formats.
std::string formats_text();
