// Host file system: the only code that knows where the logical paths of the
// dialogue ("c:\images\site\a.raw") really are, and how files are opened and
// written safely.
//
//   host_path            logical path -> path to open on this host
//   name_stays_inside    may a typed folder or file name be used in a path?
//   open_regular         open a host path for reading, regular files only,
//                        never blocking, with a reason on failure
//   host_open            open_regular on the host path of a logical path
//   host_file_size       size of an open file, or -1
//   same_file            do two host paths name one existing file?
//   path_exists          is there anything (even a dangling link) at a path?
//   write_atomically     write one or more files, each whole or not at all
//   temporary_name_beside  a fresh hidden name beside a path, for writers
//                        that need a real name (a file and its side files)
//   RemovedOnInterrupt   names an interrupt removes while it lives
//   install_interrupt_cleanup
//                        interrupts remove a temporary file before ending;
//                        file size limits and closed pipes become errors
//
// On POSIX hosts the working directory stands for drive C:, so the logical
// path "c:\images\site\a.raw" is opened as "images/site/a.raw" (the "c:\"
// prefix dropped, every backslash made a slash). On Windows the logical path
// is used as it is. Messages always show the logical path.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

std::string host_path(const std::string& logical);

// A folder or file name may not leave the base directory: no ".." component,
// no leading "\" or "/", no drive (":"), no control characters.
bool name_stays_inside(const std::string& name);

// Opens `path` for reading ("r" or "rb") when it is a regular file. The
// file is opened without blocking (a FIFO or a device put in its place
// cannot hang the run) and checked on the opened descriptor, so there is no
// window between the check and the open. Null on failure, with `why` ("No
// such file or directory", "not a regular file", ...) and errno set.
FILE* open_regular(const std::string& path, const char* mode, std::string* why = nullptr);

FILE* host_open(const std::string& logical, const char* mode);

long long host_file_size(FILE* f);

// True when both paths exist and are the same file (device and inode), so a
// result is never written over an input whatever the spelling ("./b", a
// folder link, a hard link). False when either does not exist.
bool same_file(const std::string& a, const std::string& b);

// True when anything is at `path`, a link that leads nowhere included.
bool path_exists(const std::string& path);

// One file to write: its host path and the code that writes it. `writer`
// gets a host path to create (fopen "w"/"wb" works on it) and returns true
// when it wrote the file completely and closed it.
struct AtomicOutput {
  std::string path;
  std::function<bool(const std::string& tmp_path)> writer;
};

// Writes every output to a temporary file in its own folder, then puts all
// of them in place together: the renames happen under an exclusive lock of
// the first output's folder with interrupts held back, so a group (a raster
// and its descriptor) always comes from one run, also when two runs write
// the same names at once. A failure leaves no temporary or partial file and
// every earlier file of those names as it was; `why` gets the reason.
//
// Where the file system allows it the temporary file has no name until it is
// complete (even a killed run leaves nothing); elsewhere its name is short
// (".sv" and six characters), so any result name the folder accepts works.
// A result gets the permissions that the umask gives a new file.
bool write_atomically(const std::vector<AtomicOutput>& outputs, std::string* why);
bool write_atomically(const std::string& path, const std::function<bool(const std::string& tmp_path)>& writer,
                      std::string* why);

// "<folder>/.<name>.<random>.tmp<extension>": a name nothing uses yet in
// the folder of `path`, so a rename onto `path` stays within one file
// system; `extension` (".shp", or "") is kept last for libraries that choose
// a format by it. For writers whose file and side files need a real name;
// the caller removes what it made there when it fails.
std::string temporary_name_beside(const std::string& path, const std::string& extension);

// While it lives, the files of these names are removed if SIGINT, SIGTERM
// or SIGHUP ends the program (see install_interrupt_cleanup): for a writer
// that has to give a library a real temporary name. Any thread may hold one.
class RemovedOnInterrupt {
 public:
  explicit RemovedOnInterrupt(const std::vector<std::string>& names);
  ~RemovedOnInterrupt();
  RemovedOnInterrupt(const RemovedOnInterrupt&) = delete;
  RemovedOnInterrupt& operator=(const RemovedOnInterrupt&) = delete;

 private:
  std::vector<int> slots_;
};

// SIGINT, SIGTERM and SIGHUP remove the temporary file being written (if it
// has a name), then end the program as the signal would. SIGXFSZ and SIGPIPE
// are ignored, so a write beyond the file size limit fails as a write, and a
// reader of standard output that went away does not stop a result.
void install_interrupt_cleanup();
