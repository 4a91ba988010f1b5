#include "support/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace autodeliver::testing {

namespace {

std::string MakeUnder(const std::filesystem::path& base) {
  std::error_code ec;
  std::filesystem::create_directories(base, ec);
  std::string pattern = (base / "autodeliver-test-XXXXXX").string();
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

}  // namespace

TempDir::TempDir() : path_(MakeUnder(std::filesystem::temp_directory_path())) {}

TempDir::TempDir(const std::string& base) : path_(MakeUnder(base)) {}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ignored;
  if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace autodeliver::testing
