#include "e2e/run_larkway.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace lw::test {

namespace {

std::string FromEnv(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != 0 ? v : fallback;
}

std::string NormalizeLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// Runs `program` (the program under test when "").
RunResult Started(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                  const std::vector<std::string>& env, bool inherit) {
  RunResult r;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return r;
  // Standard error goes to a file outside the scratch folder, so a test
  // can compare that folder's files before and after.
  std::FILE* err_file = std::tmpfile();
  if (err_file == nullptr) return r;
  std::vector<std::string> command;
  const std::string launcher = FromEnv("LARKWAY_LAUNCHER", "");
  if (!launcher.empty() && program.empty()) command.push_back(launcher);
  command.push_back(program.empty() ? FromEnv("LARKWAY_BIN", LARKWAY_BIN) : program);
  command.insert(command.end(), args.begin(), args.end());
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], 1);
    dup2(fileno(err_file), 2);
    if (!inherit) clearenv();
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
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
  r.ended_by_signal = WIFSIGNALED(status);
  r.out = NormalizeLineEnds(r.out);
  std::rewind(err_file);
  while ((n = static_cast<ssize_t>(std::fread(buf, 1, sizeof buf, err_file))) > 0) {
    r.err.append(buf, static_cast<std::size_t>(n));
  }
  std::fclose(err_file);
  r.err = NormalizeLineEnds(r.err);
  return r;
}

}  // namespace

bool TestingWin32Build() { return !FromEnv("LARKWAY_LAUNCHER", "").empty(); }

RunResult RunLarkway(const std::vector<std::string>& args, const std::string& cwd) { return RunLarkway(args, cwd, {}); }

RunResult RunLarkway(const std::vector<std::string>& args, const std::string& cwd,
                     const std::vector<std::string>& env) {
  return Started("", args, cwd, env, true);
}

RunResult RunLarkwayInOnly(const std::vector<std::string>& args, const std::string& cwd,
                           const std::vector<std::string>& env) {
  return Started("", args, cwd, env, false);
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                     const std::vector<std::string>& env) {
  return Started(program, args, cwd, env, true);
}

}  // namespace lw::test
