// The command line: options, then one image or a batch of them.
//
//   run_command_line   the program's whole run when it has arguments
//   batch_jobs         the jobs of the many-images form
//   run_jobs           the jobs of a run, either form
//
// Failures go to standard error, one line each, naming the file and the
// reason; the status is 0 when every result was written, 1 when an image
// failed, 2 for a usage error (with the usage text).
#pragma once

#include <string>
#include <vector>

#include "cli/job.h"
#include "cli/options.h"

int run_command_line(int argc, char** argv);

// FOLDER/<input stem>_reg.<ext> for each input (ext: -f, else the input's
// own), with the graph's files named like each result and what they hold:
// <stem>_reg.branches.<ext>, <stem>_reg.nodes.<ext>, <stem>_reg.summary.csv
// (the extension of the FILE given). Two inputs whose results would share a
// name: the later one gets `clash` set to the earlier input (the run's plan
// refuses such a batch before any work).
struct BatchJob {
  ImageJob job;
  std::string clash;
};
std::vector<BatchJob> batch_jobs(const Options& options);

// The jobs of a run in either form: the one image, or batch_jobs. With
// check_output_plan (outputs.h) this is the run's plan, checked before any
// work.
std::vector<BatchJob> run_jobs(const Options& options);
