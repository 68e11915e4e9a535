#include "tests/support/Files.h"

#include <fstream>
#include <sstream>

namespace zoba::testing {

std::string fileContents(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::optional<platform::Image> readPng(const std::filesystem::path& path) {
  const std::string png = fileContents(path);
  return platform::decodePNG({reinterpret_cast<const std::uint8_t*>(png.data()), png.size()});
}

}  // namespace zoba::testing
