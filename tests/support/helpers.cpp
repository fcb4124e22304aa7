#include "support/helpers.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "solvik-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

Plane picture_to_plane(const std::vector<std::string>& rows, unsigned char on, unsigned char off) {
  Plane p;
  for (const auto& row : rows) {
    std::vector<unsigned char> line;
    for (char c : row) {
      switch (c) {
        case '#': line.push_back(on); break;
        case '.': line.push_back(off); break;
        case '1': line.push_back(1); break;
        case '0': line.push_back(0); break;
        case 'F': line.push_back(255); break;
        default: throw std::invalid_argument(std::string("picture character ") + c);
      }
    }
    p.push_back(line);
  }
  return p;
}

std::vector<std::string> plane_to_picture(const Plane& p, unsigned char on) {
  std::vector<std::string> rows;
  for (const auto& line : p) {
    std::string s;
    for (unsigned char v : line) s += v == on ? '#' : '.';
    rows.push_back(s);
  }
  return rows;
}

RowPointers::RowPointers(Plane& p) {
  for (auto& line : p) rows_.push_back(line.data());
}

std::string plane_bytes(const Plane& p) {
  std::string s;
  for (const auto& line : p) s.append(line.begin(), line.end());
  return s;
}

}  // namespace testing_support
