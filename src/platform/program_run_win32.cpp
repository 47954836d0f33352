#include <algorithm>
#include <cstring>

#include "platform/program_run.h"
#include "platform/windows_api.h"

namespace lw {

namespace {

// The system's words for error `code`.
std::string SystemText(DWORD code) {
  char buffer[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                           sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == '.')) --n;
  return n == 0 ? "error " + std::to_string(code) : std::string(buffer, n);
}

// One word quoted so that the C runtime's argument reader gives it back as
// it is: backslashes are doubled only before a quote.
std::string Quoted(const std::string& word) {
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

// Ours with `added` laid over it, as the block CreateProcessA takes:
// NAME=value texts each ended by a NUL, and one more NUL.
std::string EnvironmentBlock(const std::vector<EnvironmentVariable>& added) {
  std::string block;
  char* ours = GetEnvironmentStringsA();
  for (const char* e = ours; e != nullptr && *e != '\0'; e += std::strlen(e) + 1) {
    std::string_view entry(e);
    std::string_view name = entry.substr(0, entry.find('=', 1));
    bool replaced = false;
    for (const EnvironmentVariable& v : added)
      replaced = replaced || _stricmp(v.first.c_str(), std::string(name).c_str()) == 0;
    if (!replaced) block.append(entry).push_back('\0');
  }
  if (ours != nullptr) FreeEnvironmentStringsA(ours);
  for (const EnvironmentVariable& v : added) block.append(v.first + "=" + v.second).push_back('\0');
  block.push_back('\0');
  return block;
}

}  // namespace

ProgramOutcome RunProgram(const std::vector<std::string>& words, const std::vector<EnvironmentVariable>& environment,
                          std::string_view input, int timeout_seconds) {
  ProgramOutcome outcome;
  if (words.empty()) {
    outcome.reason = "no program named";
    return outcome;
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  // The pipe holds the whole input, so writing it never waits for the
  // program to read.
  const DWORD size = static_cast<DWORD>(std::min<std::size_t>(input.size() + 4096, 64u * 1024 * 1024));
  if (!CreatePipe(&read_end, &write_end, &inherit, size)) {
    outcome.reason = SystemText(GetLastError());
    return outcome;
  }
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  std::string command;
  for (const std::string& w : words) command += (command.empty() ? "" : " ") + Quoted(w);
  std::string block = EnvironmentBlock(environment);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, block.data(), nullptr, &startup, &process);
  const DWORD start_error = GetLastError();
  CloseHandle(read_end);
  if (!started) {
    CloseHandle(write_end);
    outcome.reason = SystemText(start_error);
    return outcome;
  }
  CloseHandle(process.hThread);
  DWORD written = 0;
  for (std::size_t at = 0; at < input.size(); at += written) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(input.size() - at, 1u << 20));
    if (!WriteFile(write_end, input.data() + at, chunk, &written, nullptr) || written == 0) break;
  }
  CloseHandle(write_end);
  const DWORD waited = WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeout_seconds) * 1000);
  if (waited != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    outcome.kind = ProgramOutcome::Kind::kTimedOut;
    return outcome;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  outcome.kind = ProgramOutcome::Kind::kExited;
  outcome.code = static_cast<int>(code);
  return outcome;
}

}  // namespace lw
