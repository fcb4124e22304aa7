// The command line: see command_line.h.
#include "cli/command_line.h"

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

// A graph file of one image of a batch: named like its result, with the
// extension of the file the option gave.
std::string graph_file_for(const std::string& result, const std::string& given) {
  if (given.empty()) return "";
  const std::string ext = extension_of(given);
  return result.substr(0, result.size() - extension_of(result).size()) + ext;
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

int run_batch(const Options& o, Messages& messages) {
  FailureLines failures;
  std::error_code ec;
  std::filesystem::create_directories(o.folder, ec);
  if (!std::filesystem::is_directory(o.folder)) {
    failures.add(o.folder + ": not a folder results can be written to" + (ec ? ": " + ec.message() : ""));
    return 1;
  }
  std::vector<BatchJob> jobs = batch_jobs(o);
  unsigned workers = o.jobs == 0 ? std::max(1u, std::thread::hardware_concurrency()) : static_cast<unsigned>(o.jobs);
  workers = std::min<unsigned>(workers, static_cast<unsigned>(jobs.size()));
  // Images processed side by side share the cores: each one's thinning
  // takes its part of them, unless --threads or SOLVIK_THREADS gave a count
  // (every image taking every core only made them wait for each other).
  int per_image = o.threads;
  if (per_image == 0 && workers > 1) per_image = static_cast<int>(std::max(1u, std::max(1u, std::thread::hardware_concurrency()) / workers));
  for (BatchJob& b : jobs) {
    b.job.protected_files = &o.inputs;
    b.job.threads = per_image;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  const bool count_shown = jobs.size() > 1 && (o.progress || messages.progress_for(0));
  auto work = [&] {
    for (std::size_t k = next++; k < jobs.size(); k = next++) {
      const BatchJob& b = jobs[k];
      std::string why;
      if (!b.clash.empty())
        failures.add(b.job.input + ": its result " + b.job.output + " would also be the result of " + b.clash);
      else if (!thin_image(b.job, o, messages, &why))
        failures.add(b.job.input + ": " + why);
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
    b.job.vector_file = graph_file_for(b.job.output, o.vector_file);
    b.job.nodes_file = graph_file_for(b.job.output, o.nodes_file);
    b.job.summary_file = graph_file_for(b.job.output, o.summary_file);
    auto [at, fresh] = first_of.emplace(b.job.output, input);
    if (!fresh) b.clash = at->second;
    jobs.push_back(std::move(b));
  }
  return jobs;
}

int run_command_line(int argc, char** argv) {
  Options o;
  Action action = Action::run;
  std::string why;
  if (!parse_options(argc, argv, o, action, &why)) {
    // the error, then the forms (the first lines of the help), not the
    // whole help that would push the error off the screen
    const std::string usage = usage_text();
    const std::size_t forms = usage.find("\n\n");
    std::fprintf(stderr, "solvik: %s\n\n%s\n\nRun 'solvik --help' for the options.\n", why.c_str(),
                 usage.substr(0, forms).c_str());
    return 2;
  }
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
  if (o.many) return run_batch(o, messages);

  ImageJob job;
  job.input = o.inputs[0];
  job.output = o.output;
  job.vector_file = o.vector_file;
  job.nodes_file = o.nodes_file;
  job.summary_file = o.summary_file;
  job.threads = o.threads;
  if (!thin_image(job, o, messages, &why)) {
    std::fprintf(stderr, "%s: %s\n", job.input.c_str(), why.c_str());
    return 1;
  }
  return 0;
}
