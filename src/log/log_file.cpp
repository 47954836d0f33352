#include "log/log_file.h"

#include <new>

namespace lw {

namespace {

void TwoDigits(ShortStr& s, int v) {
  if (v < 0) v = 0;
  s += static_cast<char>('0' + (v / 10) % 10);
  s += static_cast<char>('0' + v % 10);
}

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

alignas(LogFile) unsigned char g_log_storage[sizeof(LogFile)];
LogFile* g_log = nullptr;

}  // namespace

ShortStr LogStamp(const platform::LocalTime& t) {
  ShortStr s;
  TwoDigits(s, t.day);
  s += ' ';
  s += (t.month >= 1 && t.month <= 12) ? kMonthNames[t.month - 1] : "???";
  s += ' ';
  TwoDigits(s, t.year < 2000 ? t.year - 1900 : t.year - 2000);
  s += ' ';
  TwoDigits(s, t.hour);
  s += ':';
  TwoDigits(s, t.min);
  s += ':';
  TwoDigits(s, t.sec);
  return s;
}

ShortStr LogStamp() { return LogStamp(platform::Os().Now()); }

void ConsoleLine(std::string_view text) {
  platform::Os().ConsoleWrite(text);
  platform::Os().ConsoleWrite(platform::kLineEnd);
}

void ConsoleError(const ShortStr& text) {
  ConsoleLine((ShortStr("Error: ") + text).view());
  platform::ExitProcess(255);
}

void ConsoleWarning(const ShortStr& text) {
  ConsoleLine((ShortStr("Warning: ") + text).view());
}

LogFile::LogFile(const ShortStr& file_name, bool enabled, bool /*flush_each*/)
    : file_name_(file_name), enabled_(enabled) {
  if (file_name_.empty() && enabled_) ConsoleWarning("Log filename not defined");
  if (!enabled_) return;
  platform::Platform& os = platform::Os();
  if (os.OpenFile(file_name_.view(), platform::Access::kWrite, platform::Sharing::kDenyNone,
                  &file_) == platform::kOk) {
    if (os.SeekFileEnd(file_) != platform::kOk) CloseFile();
  }
  if (file_ == platform::kNoFile &&
      os.CreateFile(file_name_.view(), platform::Sharing::kDenyNone, &file_) != platform::kOk) {
    file_ = platform::kNoFile;
    ConsoleWarning(ShortStr("Unable to create file \"") + file_name_ + "\"");
  }
  if (file_ != platform::kNoFile) {
    std::size_t done = 0;
    os.WriteFile(file_, "\r\n", 2, &done);
  }
}

LogFile::~LogFile() { CloseFile(); }

void LogFile::CloseFile() {
  if (file_ != platform::kNoFile) platform::Os().CloseFile(file_);
  file_ = platform::kNoFile;
}

// Writes one line and its CR LF with a single call, so every line reaches
// the file as it is written.
void LogFile::WriteLine(const ShortStr& line) {
  char buf[ShortStr::kMax + 2];
  std::size_t n = line.size();
  std::memcpy(buf, line.data(), n);
  buf[n++] = '\r';
  buf[n++] = '\n';
  std::size_t done = 0;
  int rc = platform::kAccessDenied;
  if (file_ != platform::kNoFile) rc = platform::Os().WriteFile(file_, buf, n, &done);
  if (rc != platform::kOk || done != n) {
    ConsoleWarning(ShortStr("Unable to write to file ") + file_name_);
  }
}

void LogFile::Say(char mark, const ShortStr& tag, const ShortStr& text) {
  LogOnly(mark, tag, text);
  ConsoleLine(text.view());
}

void LogFile::SayRaw(const ShortStr& text) {
  if (enabled_) WriteLine(text);
  ConsoleLine(text.view());
}

void LogFile::LogOnly(char mark, const ShortStr& tag, const ShortStr& text) {
  if (enabled_) WriteLine(ShortStr() + mark + " " + LogStamp() + " " + tag + " " + text);
}

void LogFile::Warning(const ShortStr& tag, const ShortStr& text) {
  if (enabled_) WriteLine(ShortStr("? ") + LogStamp() + " " + tag + " Warning: " + text);
  ConsoleWarning(text);
}

void LogFile::Error(const ShortStr& tag, const ShortStr& text) {
  if (enabled_) {
    WriteLine(ShortStr("! ") + LogStamp() + " " + tag + " Error: " + text);
    CloseFile();
  }
  ConsoleLine((ShortStr("Error: ") + text).view());
  platform::ExitProcess(255);
}

void LogFile::Fatal(const ShortStr& tag, const ShortStr& text, std::uint8_t exit_code) {
  if (enabled_) {
    WriteLine(ShortStr("! ") + LogStamp() + " " + tag + text);
    CloseFile();
  }
  ConsoleLine(text.view());
  platform::ExitProcess(exit_code);
}

LogFile* TheLog() { return g_log; }

LogFile& InitTheLog(const ShortStr& file_name, bool enabled, bool flush_each) {
  if (g_log != nullptr) g_log->~LogFile();
  g_log = new (g_log_storage) LogFile(file_name, enabled, flush_each);
  return *g_log;
}

}  // namespace lw
