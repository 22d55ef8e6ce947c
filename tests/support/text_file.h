#pragma once

// Whole files as strings, for tests that write inputs and read back what was written.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace melvanto::testing {

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Empty when the file cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

}  // namespace melvanto::testing
