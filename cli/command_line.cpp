// The command line: see command_line.h.
#include "cli/command_line.h"
#include "cli/outputs.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/thread_setting.h"

#ifdef SOLVIK_HAVE_GDAL_RASTER
#include "formats/gdal_raster.h"
#endif

#ifndef SOLVIK_VERSION
#define SOLVIK_VERSION "unknown"
#endif

namespace {

std::string stem_of(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  const std::string ext = extension_of(name);
  return name.substr(0, name.size() - ext.size());
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// A graph file of one image of a batch: named like its result, then what
// it holds, then the extension of the file the option gave, so no two
// files of a batch share a name: <stem>_reg.branches.gpkg,
// <stem>_reg.nodes.gpkg, <stem>_reg.summary.csv.
std::string graph_file_for(const std::string& result, const char* holds, const std::string& given) {
  if (given.empty()) return "";
  const std::string ext = extension_of(given);
  return result.substr(0, result.size() - extension_of(result).size()) + "." + holds + ext;
}

// The usage error: the reason, then the forms (the first lines of the
// help), not the whole help that would push the reason off the screen.
int usage_error(const std::string& why) {
  const std::string usage = usage_text();
  const std::size_t forms = usage.find("\n\n");
  std::fprintf(stderr, "solvik: %s\n\n%s\n\nRun 'solvik --help' for the options.\n", why.c_str(),
               usage.substr(0, forms).c_str());
  return 2;
}

class FailureLines {
 public:
  void add(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    ++count_;
  }
  int count() const { return count_; }

 private:
  std::mutex lock_;
  int count_ = 0;
};

int run_batch(const Options& o, std::vector<BatchJob>& jobs, Messages& messages) {
  FailureLines failures;
  std::error_code ec;
  std::filesystem::create_directories(o.folder, ec);
  if (!std::filesystem::is_directory(o.folder)) {
    failures.add(o.folder + ": not a folder results can be written to" + (ec ? ": " + ec.message() : ""));
    return 1;
  }
  unsigned workers = o.jobs == 0 ? std::max(1u, std::thread::hardware_concurrency()) : static_cast<unsigned>(o.jobs);
  workers = std::min<unsigned>(workers, static_cast<unsigned>(jobs.size()));
  // Images processed side by side share the cores: each one's thinning
  // takes its part of them, unless --threads or SOLVIK_THREADS gave a count
  // (every image taking every core only made them wait for each other).
  int per_image = o.threads;
  if (per_image == 0 && workers > 1)
    per_image = static_cast<int>(std::max(1u, std::max(1u, std::thread::hardware_concurrency()) / workers));
  for (BatchJob& b : jobs) {
    b.job.protected_files = &o.inputs;
    b.job.threads = per_image;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<bool> usage_failed{false};  // an image needed -w
  const bool count_shown = jobs.size() > 1 && (o.progress || messages.progress_for(0));
  auto work = [&] {
    for (std::size_t k = next++; k < jobs.size(); k = next++) {
      const BatchJob& b = jobs[k];
      std::string why;
      if (!b.clash.empty())
        failures.add(b.job.input + ": its result " + b.job.output + " would also be the result of " + b.clash);
      else if (bool usage = false; !thin_image(b.job, o, messages, &why, &usage)) {
        failures.add(b.job.input + ": " + why);
        if (usage) usage_failed = true;
      }
      const std::size_t finished = ++done;
      if (count_shown)
        messages.progress(std::to_string(finished) + " of " + std::to_string(jobs.size()) + " images",
                          finished == jobs.size());
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < workers; ++t) threads.emplace_back(work);
  work();
  for (std::thread& t : threads) t.join();
  if (usage_failed) return 2;
  return failures.count() ? 1 : 0;
}

}  // namespace

std::vector<BatchJob> batch_jobs(const Options& o) {
  std::vector<BatchJob> jobs;
  std::map<std::string, std::string> first_of;  // result -> input
  for (const std::string& input : o.inputs) {
    BatchJob b;
    b.job.input = input;
    const std::string ext = o.format.empty() ? extension_of(input) : o.format;
    b.job.output = join(o.folder, stem_of(input) + "_reg" + ext);
    b.job.vector_file = graph_file_for(b.job.output, "branches", o.vector_file);
    b.job.nodes_file = graph_file_for(b.job.output, "nodes", o.nodes_file);
    b.job.summary_file = graph_file_for(b.job.output, "summary", o.summary_file);
    auto [at, fresh] = first_of.emplace(b.job.output, input);
    if (!fresh) b.clash = at->second;
    jobs.push_back(std::move(b));
  }
  return jobs;
}

std::vector<BatchJob> run_jobs(const Options& o) {
  if (o.many) return batch_jobs(o);
  BatchJob one;
  one.job.input = o.inputs.empty() ? "" : o.inputs[0];
  one.job.output = o.output;
  one.job.vector_file = o.vector_file;
  one.job.nodes_file = o.nodes_file;
  one.job.summary_file = o.summary_file;
  return {one};
}

int run_command_line(int argc, char** argv) {
  Options o;
  Action action = Action::run;
  std::string why;
  if (!parse_options(argc, argv, o, action, &why)) return usage_error(why);
  switch (action) {
    case Action::help:
      std::fputs(usage_text(), stdout);
      return 0;
    case Action::version:
      std::printf("solvik %s\n", SOLVIK_VERSION);
      return 0;
    case Action::formats:
      std::fputs(formats_text().c_str(), stdout);
      return 0;
    case Action::run:
      break;
  }
  // --threads, else SOLVIK_THREADS, else one per core
  if (o.threads == 0) o.threads = thread_count_from(std::getenv("SOLVIK_THREADS"));
#ifdef SOLVIK_HAVE_GDAL_RASTER
  gdal_raster_setup();
#endif
  Messages messages(o.quiet, o.progress, o.many && o.jobs != 1 && o.inputs.size() > 1);

  // every file of the run is planned before any is written: two outputs
  // that are one file, or an output that an input reads, stop the run here
  std::vector<BatchJob> jobs = run_jobs(o);
  std::vector<ImageJob> planned;
  for (const BatchJob& b : jobs) planned.push_back(b.job);
  if (!check_output_plan(planned, &why)) return usage_error(why);
  if (o.plan) {
    const std::string lines = plan_lines(planned);
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  if (o.many) return run_batch(o, jobs, messages);

  ImageJob& job = jobs[0].job;
  job.threads = o.threads;
  if (bool usage = false; !thin_image(job, o, messages, &why, &usage)) {
    if (usage) return usage_error(job.input + ": " + why);
    std::fprintf(stderr, "%s: %s\n", job.input.c_str(), why.c_str());
    return 1;
  }
  return 0;
}
