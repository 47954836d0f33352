#include "log/log_file.h"

#include "fidoutil/dates.h"
#include "fidoutil/helpers.h"

namespace lw {

namespace {

ConsoleLevel g_console_level = ConsoleLevel::kAll;

}  // namespace

void AppendLogStamp(std::string& out, const MsgDateTime& t) {
  out.append(TwoDigits(t.Day)).append(" ").append(MonthName(t.Month)).append(" ");
  out.append(TwoDigits(YearToTwoDigits(t.Year))).append(" ").append(TwoDigits(t.Hour)).append(":");
  out.append(TwoDigits(t.Min)).append(":").append(TwoDigits(t.Sec));
}

void SetConsoleLevel(ConsoleLevel level) { g_console_level = level; }
bool ConsoleShowsAll() { return g_console_level == ConsoleLevel::kAll; }

void ConsoleLine(std::string_view text) {
  if (!ConsoleShowsAll()) return;
  platform::Os().ConsoleWrite(std::string(text).append(platform::kLineEnd));
}

void ConsoleReport(std::string_view text) { platform::Os().ConsoleWrite(std::string(text).append(platform::kLineEnd)); }

void ConsoleProgress(std::string_view text) {
  if (ConsoleShowsAll()) platform::Os().ConsoleWriteKeepCursor(text);
}

void Diagnose(std::string_view text) {
  platform::Os().ErrorWrite(std::string("larkway: ").append(text).append(platform::kLineEnd));
}

std::string WithCause(std::string_view text, std::string_view cause) {
  std::string line(text);
  if (!cause.empty()) line.append(": ").append(cause);
  return line;
}

void ConsoleError(std::string_view text, std::string_view cause) {
  if (g_console_level != ConsoleLevel::kReportOnly) {
    platform::Os().ConsoleWrite(std::string("Error: ").append(text).append(platform::kLineEnd));
  }
  Diagnose(WithCause(text, cause));
}

void ConsoleWarning(std::string_view text, std::string_view cause) {
  ConsoleLine(std::string("Warning: ").append(text));
  Diagnose("warning: " + WithCause(text, cause));
}

std::string_view CutLogLine(std::string_view line) { return line.substr(0, kMaxLogLine); }

LogFile::~LogFile() {
  EndGroup();
  if (file_ != platform::kNoFile) platform::Os().CloseFile(file_);
}

Status LogFile::Open(const std::string& file_name) {
  platform::Platform& os = platform::Os();
  platform::Result rc = platform::kPathNotFound;  // a folder above it cannot be made
  if (ForceDirectories(ParentDir(file_name))) rc = os.OpenAppend(file_name, &file_);
  if (rc != platform::kOk) {
    file_ = platform::kNoFile;
    return Status::Error("Unable to open log file " + file_name, file_name + ": " + platform::ReasonText(rc));
  }
  file_name_ = file_name;
  std::size_t done = 0;
  if (const platform::Result rc = os.WriteFile(file_, "\r\n", 2, &done); rc != platform::kOk || done != 2) {
    os.CloseFile(file_);
    file_ = platform::kNoFile;
    return Status::Error("Unable to write to log file " + file_name,
                         file_name + ": " + platform::ReasonText(rc.ok() ? platform::kDiskWriteError : rc));
  }
  return Status();
}

// Writes one line and its CR LF with a single call (or gathers it into the
// open group, written with one call too), so every line reaches the file
// whole.
void LogFile::WriteLine(std::string_view line, std::string_view charset) {
  if (file_ == platform::kNoFile) return;
  line = CutLogLine(line);
  std::string converted;
  // A line that does not convert keeps its bytes rather than vanish.
  if (utf8_ && platform::Os().ConvertText(line, charset, "UTF-8", &converted)) line = converted;
  if (grouping_) {
    group_.append(line).append("\r\n");
    return;
  }
  std::string out;
  out.reserve(line.size() + 2);
  out.append(line).append("\r\n");
  Append(out);
}

void LogFile::Append(const std::string& bytes) {
  std::size_t done = 0;
  const platform::Result rc = platform::Os().WriteFile(file_, bytes.data(), bytes.size(), &done);
  if (rc != platform::kOk || done != bytes.size()) {
    ConsoleWarning("Unable to write to file " + file_name_,
                   file_name_ + ": " + platform::ReasonText(rc.ok() ? platform::kDiskWriteError : rc));
  }
}

void LogFile::EndGroup() {
  grouping_ = false;
  // Taken out of the member, so that its memory goes back now: a run counts
  // what is still allocated at its end as leaked.
  std::string lines;
  lines.swap(group_);
  if (!lines.empty() && file_ != platform::kNoFile) Append(lines);
}

void LogFile::Say(char mark, std::string_view tag, std::string_view text) {
  LogOnly(mark, tag, text);
  ConsoleLine(text);
}

void LogFile::SayRaw(std::string_view text) {
  WriteLine(text);
  ConsoleLine(text);
}

namespace {

// Appends "mark stamp tag text" to `out`.
void AppendStampedLine(std::string& out, char mark, std::string_view tag, std::string_view text) {
  out.push_back(mark);
  out.push_back(' ');
  AppendLogStamp(out, platform::Os().Now());
  out.append(" ").append(tag).append(" ").append(text);
}

}  // namespace

void LogFile::WriteStamped(char mark, std::string_view tag, std::string_view text, std::string_view charset) {
  if (file_ == platform::kNoFile) return;
  if (grouping_ && !utf8_) {
    // Straight into the group: a batch logs thousands of lines, and none
    // then needs memory of its own.
    const std::size_t start = group_.size();
    AppendStampedLine(group_, mark, tag, text);
    if (group_.size() - start > kMaxLogLine) group_.resize(start + kMaxLogLine);
    group_.append("\r\n");
    return;
  }
  std::string line;
  AppendStampedLine(line, mark, tag, text);
  WriteLine(line, charset);
}

void LogFile::LogOnly(char mark, std::string_view tag, std::string_view text, std::string_view charset) {
  if (keep_last_log_only_) last_log_only_ = text;
  WriteStamped(mark, tag, text, charset);
}

void LogFile::Warning(std::string_view tag, std::string_view text, std::string_view cause) {
  WriteStamped('?', tag, "Warning: " + WithCause(text, cause));
  ConsoleWarning(text, cause);
}

void LogFile::Error(std::string_view tag, std::string_view text, std::string_view cause) {
  WriteStamped('!', tag, "Error: " + WithCause(text, cause));
  ConsoleError(text, cause);
}

}  // namespace lw
