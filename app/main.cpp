// solvik: reduces the objects of a grey-level image to skeletons one pixel
// wide. Without arguments the whole conversation is the dialogue on the
// console; with arguments the command line runs instead, from a module
// loaded only then (it brings GDAL, which the dialogue does not need).
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/driver.h"
#include "platform/host.h"

namespace {

// The folder of this program's file.
std::string own_folder() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return ".";
  path.resize(static_cast<std::size_t>(n));
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

int command_line(int argc, char** argv) {
  const std::string folder = own_folder();
  std::string why;
  // beside the program in the build folder, under the library folder once installed
  for (const std::string& module :
       {folder + "/solvik_cli.so", folder + "/" + SOLVIK_MODULE_FROM_BIN + "/solvik_cli.so"}) {
    if (access(module.c_str(), F_OK) != 0) continue;
    void* handle = dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle) {
      const char* e = dlerror();
      why = e ? e : module;
      continue;
    }
    using Entry = int (*)(int, char**);
    if (auto entry = reinterpret_cast<Entry>(dlsym(handle, "solvik_command_line"))) return entry(argc, argv);
    why = module + ": not the program's command line";
  }
  std::fprintf(stderr, "solvik: the command line cannot be loaded: %s\n",
               why.empty() ? "solvik_cli.so is not beside the program nor in its library folder" : why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // before anything is opened: a closed standard error must not become a
  // result file that then receives the program's messages
  ensure_standard_descriptors();
  install_interrupt_cleanup();
  if (argc > 1) return command_line(argc, argv);
  return run_program();
}
