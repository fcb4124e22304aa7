// A name for writing a file before it takes its real name.
//
//   temporary_path_beside   a fresh name in the same folder as a path
#pragma once

#include <string>

// "<folder>/.<name>.<random>.tmp<extension>": in the folder of `path`, so a
// rename onto `path` stays within one file system; `extension` (".shp", or
// "") is kept last for libraries that choose the format by it. The random
// part differs between calls, threads and processes.
std::string temporary_path_beside(const std::string& path, const std::string& extension);
