#include "log/log_file.h"

#include "fidoutil/dates.h"
#include "fidoutil/helpers.h"

namespace lw {

namespace {

ConsoleLevel g_console_level = ConsoleLevel::kAll;
std::string g_error_diagnostic;

}  // namespace

std::string LogStamp(const MsgDateTime& t) {
  // Built in place: every log line has one, and a chain of + made a string
  // for each piece.
  std::string stamp;
  stamp.reserve(18);
  stamp.append(TwoDigits(t.Day)).append(" ").append(MonthName(t.Month)).append(" ");
  stamp.append(TwoDigits(YearToTwoDigits(t.Year))).append(" ").append(TwoDigits(t.Hour)).append(":");
  stamp.append(TwoDigits(t.Min)).append(":").append(TwoDigits(t.Sec));
  return stamp;
}

std::string LogStamp() { return LogStamp(platform::Os().Now()); }

void SetConsoleLevel(ConsoleLevel level) { g_console_level = level; }
bool ConsoleShowsAll() { return g_console_level == ConsoleLevel::kAll; }

void ConsoleLine(std::string_view text) {
  if (!ConsoleShowsAll()) return;
  platform::Os().ConsoleWrite(std::string(text).append(platform::kLineEnd));
}

void ConsoleProgress(std::string_view text) {
  if (ConsoleShowsAll()) platform::Os().ConsoleWriteKeepCursor(text);
}

void Diagnose(std::string_view text) {
  platform::Os().ErrorWrite(std::string("larkway: ").append(text).append(platform::kLineEnd));
}

void NoteErrorDiagnostic(std::string text) { g_error_diagnostic = std::move(text); }

std::string TakeErrorDiagnostic() {
  std::string text;
  text.swap(g_error_diagnostic);
  return text;
}

void ConsoleError(std::string_view text) {
  platform::Os().ConsoleWrite(std::string("Error: ").append(text).append(platform::kLineEnd));
  std::string noted = TakeErrorDiagnostic();
  Diagnose(noted.empty() ? text : std::string_view(noted));
}

void ConsoleWarning(std::string_view text) {
  ConsoleLine(std::string("Warning: ").append(text));
  Diagnose(std::string("warning: ").append(text));
}

std::string_view CutLogLine(std::string_view line) { return line.substr(0, kMaxLogLine); }

LogFile::~LogFile() {
  EndGroup();
  if (file_ != platform::kNoFile) platform::Os().CloseFile(file_);
}

Status LogFile::Open(const std::string& file_name) {
  platform::Platform& os = platform::Os();
  int rc = ForceDirectories(ParentDir(file_name)) ? os.OpenAppend(file_name, &file_) : platform::kPathNotFound;
  if (rc != platform::kOk) {
    file_ = platform::kNoFile;
    NoteErrorDiagnostic("cannot open log file " + file_name + ": " + os.ErrorReason(rc));
    return Status::Error("Unable to open log file " + file_name);
  }
  file_name_ = file_name;
  std::size_t done = 0;
  if (os.WriteFile(file_, "\r\n", 2, &done) != platform::kOk || done != 2) {
    os.CloseFile(file_);
    file_ = platform::kNoFile;
    return Status::Error("Unable to write to log file " + file_name);
  }
  return Status();
}

// Writes one line and its CR LF with a single call (or gathers it into the
// open group, written with one call too), so every line reaches the file
// whole.
void LogFile::WriteLine(std::string_view line, std::string_view charset) {
  if (file_ == platform::kNoFile) return;
  std::string out(CutLogLine(line));
  std::string converted;
  // A line that does not convert keeps its bytes rather than vanish.
  if (utf8_ && platform::Os().ConvertText(out, charset, "UTF-8", &converted)) out = converted;
  out += "\r\n";
  if (grouping_) {
    group_ += out;
    return;
  }
  Append(out);
}

void LogFile::Append(const std::string& bytes) {
  std::size_t done = 0;
  int rc = platform::Os().WriteFile(file_, bytes.data(), bytes.size(), &done);
  if (rc != platform::kOk || done != bytes.size()) {
    ConsoleWarning("Unable to write to file " + file_name_);
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

void LogFile::LogOnly(char mark, std::string_view tag, std::string_view text, std::string_view charset) {
  if (keep_last_log_only_) last_log_only_ = text;
  WriteLine(std::string(1, mark).append(" ").append(LogStamp()).append(" ").append(tag).append(" ").append(text),
            charset);
}

void LogFile::Warning(std::string_view tag, std::string_view text) {
  WriteLine(std::string("? ").append(LogStamp()).append(" ").append(tag).append(" Warning: ").append(text));
  ConsoleWarning(text);
}

void LogFile::Error(std::string_view tag, std::string_view text) {
  WriteLine(std::string("! ").append(LogStamp()).append(" ").append(tag).append(" Error: ").append(text));
  ConsoleError(text);
}

}  // namespace lw
