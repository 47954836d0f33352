#include "test_util.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "stream/stream.h"

namespace lw::test {

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (;;) {
    std::filesystem::path p =
        std::filesystem::temp_directory_path() / ("lwtest." + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(p)) {
      path_ = p.generic_string();
      return;
    }
  }
}

TempDir& TempDir::operator=(TempDir&& other) noexcept {
  if (this != &other) {
    TempDir old(std::move(*this));
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  // Make everything writable again so that the removal succeeds.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good()) << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

void MakeDirs(const std::string& path) { std::filesystem::create_directories(path); }

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::int64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

}  // namespace lw::test
