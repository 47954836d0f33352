// A scratch folder for the fault loops, which run the program hundreds of
// times: on a memory file system where there is one (/dev/shm), so that
// the program's syncs cost nothing, else under the temporary directory.
// Removed at the end.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace lw::test {

class ScratchDir {
 public:
  ScratchDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::random_device seed;
    std::mt19937_64 random(seed());
    do {
      path_ = (base / ("lwfault." + std::to_string(random() % 1000000000))).generic_string();
    } while (!fs::create_directory(path_, ec));
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace lw::test
