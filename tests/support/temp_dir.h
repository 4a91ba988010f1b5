// A fresh folder for one test or one fixture, removed with everything in it
// when the object goes.
#pragma once

#include <string>

namespace autodeliver::testing {

class TempDir {
 public:
  // Made under the system's temporary folder, or under `base` (created when
  // missing) when one is given.
  TempDir();
  explicit TempDir(const std::string& base);
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  // Empty when the folder could not be made.
  const std::string& path() const { return path_; }
  // The path of `name` inside the folder.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole content of a file, bytes as they are; empty when it cannot be
// read.
std::string ReadFileBytes(const std::string& path);
// Replaces the file's content (creating the file and its folders).
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace autodeliver::testing
