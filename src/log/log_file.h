// The one log of a run: stamped lines appended to a text file, with the
// bare text shown on the console as each operation says.
#pragma once

#include <string>
#include <string_view>

#include "errreport/status.h"
#include "platform/platform.h"

namespace lw {

// A log line is at most this long (its CR LF not counted).
inline constexpr std::size_t kMaxLogLine = 255;

// The first kMaxLogLine characters of `line`.
std::string_view CutLogLine(std::string_view line);

class LogFile {
 public:
  // A log with no file: its operations show only their console parts
  // until Open succeeds.
  LogFile() = default;
  ~LogFile();  // closes the file
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens `file_name` for appending, creating it and the folders above it
  // when missing, and begins this run's part with an empty line.  Every
  // line goes to the file in one appending write, so lines of two runs
  // sharing the file never tear.  Fails, with no file open, naming the
  // file when it cannot be opened or written.
  Status Open(const std::string& file_name);

  // `text` on the console; "mark stamp tag text" in the file.
  void Say(char mark, std::string_view tag, std::string_view text);
  // `text` on the console and as it is in the file.
  void SayRaw(std::string_view text);
  // "mark stamp tag text" in the file only.
  void LogOnly(char mark, std::string_view tag, std::string_view text);
  // "Warning: text" on the console; "? stamp tag Warning: text" in the file.
  void Warning(std::string_view tag, std::string_view text);
  // "Error: text" on the console; "! stamp tag Error: text" in the file.
  // The caller ends the run.
  void Error(std::string_view tag, std::string_view text);

 private:
  void WriteLine(std::string_view line);

  std::string file_name_;
  platform::FileHandle file_ = platform::kNoFile;
};

// "DD Mon YY HH:MM:SS" for the current local time.
std::string LogStamp();
std::string LogStamp(const platform::LocalTime& t);

// Console-only reports, for use before the log exists.
void ConsoleError(std::string_view text);
void ConsoleWarning(std::string_view text);
// Text and a line end on the console.
void ConsoleLine(std::string_view text);

}  // namespace lw
