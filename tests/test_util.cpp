#include "test_util.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "stream/stream.h"

namespace lw::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "lwtest.XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  EXPECT_NE(made, nullptr);
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything writable again so that the removal succeeds.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
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
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
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
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return st.st_size;
}

RunResult RunLarkway(const std::vector<std::string>& args, const std::string& cwd) {
  RunResult r;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], 1);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    std::string bin = LARKWAY_BIN;
    argv.push_back(bin.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(pipe_fds[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

void InstallFactoriesOnce() { InstallStreamFactories(); }

}  // namespace lw::test
