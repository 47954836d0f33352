// Small helpers shared by the tests: a scratch folder, whole-file reads and
// writes, and running the larkway binary.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lw::test {

// A fresh folder under the system's temporary directory, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  // A moved-from folder holds no path and removes nothing.
  TempDir(TempDir&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  TempDir& operator=(TempDir&& other) noexcept;
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);
std::vector<std::string> ListDir(const std::string& path);  // sorted, without . and ..
std::int64_t FileSizeOf(const std::string& path);

// An area identifier: a format letter and a path ('M' + "/x/net").
inline std::string AreaIdOf(char letter, const std::string& path) { return std::string(1, letter) + path; }

}  // namespace lw::test
