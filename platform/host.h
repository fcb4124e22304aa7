// Host file system: the only code that knows where the logical paths of the
// dialogue ("c:\images\site\a.raw") really are.
//
//   host_path            logical path -> path to open on this host
//   host_open            fopen on the host path of a logical path
//   host_file_size       size of an open file, or -1
//   write_atomically     write a result through a temporary file and a rename
//   write_result         the same, stopping the run when it fails
//   name_stays_inside    may a typed folder or file name be used in a path?
//
// On POSIX hosts the working directory stands for drive C:, so the logical
// path "c:\images\site\a.raw" is opened as "images/site/a.raw" (the "c:\"
// prefix dropped, every backslash made a slash). On Windows the logical path
// is used as it is. Messages always show the logical path.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

std::string host_path(const std::string& logical);

FILE* host_open(const std::string& logical, const char* mode);

long long host_file_size(FILE* f);

// Writes the file at `logical` as a whole or not at all. `writer` is given a
// temporary host path in the same folder and returns true when it wrote the
// file completely (and closed it). Only then is the temporary file given the
// permissions of an ordinary new file and renamed over the target, so a
// failed write leaves no partial file and an earlier file of that name
// survives. On failure `why` receives a short reason.
bool write_atomically(const std::string& logical, const std::function<bool(const std::string& tmp_host)>& writer,
                      std::string* why);

// write_atomically for a result of the run: a failure stops the run
// (stop_run) with "The result <logical> could not be written: <why>."
void write_result(const std::string& logical, const std::function<bool(const std::string& tmp_host)>& writer);

// A folder or file name may not leave the base directory: no ".." component,
// no leading "\" or "/", no drive (":"), no control characters.
bool name_stays_inside(const std::string& name);
