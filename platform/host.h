// Host file system: the only code that knows where the logical paths of the
// dialogue ("c:\images\site\a.raw") really are, and how files are opened and
// written safely.
//
//   host_path            logical path -> path to open on this host
//   name_stays_inside    may a typed folder or file name be used in a path?
//   open_regular         open a host path for reading, regular files only,
//                        never blocking
//   host_open            open_regular on the host path of a logical path
//   host_file_size       size of an open file, or -1
//   same_file            do two host paths name one existing file?
//   path_exists          is there anything (even a dangling link) at a path?
//   write_atomically     write one or more files, each whole or not at all
//   StagedFiles          files written to temporaries, put in place together
//   check_replaceable    may a result be renamed over what is at a path?
//   ensure_standard_descriptors  descriptors 0, 1 and 2 open before any file
//   temporary_name_beside  a fresh hidden name beside a path, for writers
//                        that need a real name (a file and its side files)
//   RemovedOnInterrupt   names an interrupt removes while it lives
//   install_interrupt_cleanup
//                        interrupts remove a temporary file before ending;
//                        file size limits and closed pipes become errors
//
// A refusal is a Failure (platform/failure.h) with the reason; a file of a
// group that cannot be written is a FileFailure naming it.
//
// The program builds on POSIX hosts (Linux first). The working directory
// stands for drive C:, so the logical path "c:\images\site\a.raw" is opened
// as "images/site/a.raw" (the "c:\" prefix dropped, every backslash made a
// slash). Messages always show the logical path.
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
// window between the check and the open. Never null: a Failure with the
// reason ("No such file or directory", "not a regular file", ...), errno
// set, when the file cannot be opened.
FILE* open_regular(const std::string& path, const char* mode);

// open_regular on the host path of `logical`.
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
// when it wrote the file completely and closed it; false leaves errno to
// say why. A writer may also throw a Failure, which passes unchanged.
// `named`: the writer is given a real file name in the target's folder,
// never a /proc/self/fd path (for libraries that look for files beside the
// one they write).
struct AtomicOutput {
  std::string path;
  std::function<bool(const std::string& tmp_path)> writer;
  bool named = false;
};

// Writes every output to a temporary file in its own folder, then puts all
// of them in place together: the renames happen under an exclusive lock of
// the first output's folder with interrupts held back, so a group (a raster
// and its descriptor) always comes from one run, also when two runs write
// the same names at once. A failure leaves no temporary or partial file and
// every earlier file of those names as it was: a FileFailure naming the
// output that failed, with the reason.
//
// Where the file system allows it the temporary file has no name until it is
// complete (even a killed run leaves nothing); elsewhere its name is short
// (".sv" and six characters), so any result name the folder accepts works.
// A result gets the permissions that the umask gives a new file. Before
// anything is renamed every target is checked to be replaceable, so a
// folder in the place of a descriptor stops the group before its raster
// moves.
void write_atomically(const std::vector<AtomicOutput>& outputs);
void write_atomically(const std::string& path, const std::function<bool(const std::string& tmp_path)>& writer);

// May a finished file be renamed onto `path`? Yes when nothing is there, or
// a regular file, or a link (the link is replaced, not what it leads to);
// otherwise a Failure says why ("it is a folder", "it is not a regular
// file").
void check_replaceable(const std::string& path);

// Files of one group (a result, its descriptor, its graph files) written to
// temporaries first and put in place together by put_in_place: every
// target checked replaceable first, then the renames under a lock of every
// target's folder with interrupts held back; a rename that fails puts
// the earlier files of the group back. Whatever has not been put in place
// is removed when the group ends.
class StagedFiles {
 public:
  StagedFiles();
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // Writes one output to a temporary file beside its target. A
  // FileFailure naming the target when the writer fails.
  void write(const AtomicOutput& output);
  // A file the caller wrote itself at `temporary` (beside `target`, a name
  // from temporary_name_beside), to become `target`.
  void adopt(const std::string& temporary, const std::string& target);
  // A file the group replaces by nothing (a side file of an earlier set
  // that the new set lacks): removed with the renames, put back with them.
  void remove_with(const std::string& target);
  // Puts every file in place. A FileFailure naming the target that failed
  // when one cannot be; nothing is then changed.
  void put_in_place();

 private:
  struct Entry;
  std::vector<Entry*> entries_;
};

// Makes sure descriptors 0, 1 and 2 are open, on /dev/null where they are
// closed, so no file the program opens later takes one of them (a result
// in the place of standard error would receive its messages).
void ensure_standard_descriptors();

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
// reader of standard output that went away does not stop a result. Each
// module that links this file keeps its own list: a module loaded later
// installs its own cleanup, which then runs the earlier one.
void install_interrupt_cleanup();

// --- names ------------------------------------------------------------------

// The extension of a path's last component, with its dot, lower case; ""
// when there is none (a name that only starts with a dot has none).
std::string extension_of(const std::string& path);

// The path with the extension of its last component replaced by `ext`
// (added when it has none), in the case given.
std::string with_extension(const std::string& path, const std::string& ext);
