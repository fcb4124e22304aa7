// What the fuzz targets share: a private working folder that stands for
// drive C:, a quiet console, and writing bytes to a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_support {

// Makes a fresh temporary folder the working directory (once per process)
// and sends the console to /dev/null.
void enter_private_folder();

void write_bytes(const std::string& path, const std::uint8_t* data, std::size_t size);

// The whole file, or an empty string when it cannot be read.
std::string read_bytes(const std::string& path);

}  // namespace fuzz_support
