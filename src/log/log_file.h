// The one log of a run: stamped lines appended to a text file, with the
// bare text shown on the console as each operation says.
#pragma once

#include <cstdint>

#include "fidoutil/short_str.h"
#include "platform/platform.h"

namespace lw {

class LogFile {
 public:
  // Opens (or creates) the file when `enabled`; every run's part of the log
  // begins with an empty line.  Each line is handed to the file with one
  // write as it is made, so nothing waits in a buffer whatever
  // `flush_each` says.
  LogFile(const ShortStr& file_name, bool enabled, bool flush_each);
  virtual ~LogFile();  // closes the file (Done)

  virtual void Say(char mark, const ShortStr& tag, const ShortStr& text);
  virtual void SayRaw(const ShortStr& text);
  virtual void LogOnly(char mark, const ShortStr& tag, const ShortStr& text);
  virtual void Warning(const ShortStr& tag, const ShortStr& text);
  [[noreturn]] virtual void Error(const ShortStr& tag, const ShortStr& text);
  [[noreturn]] virtual void Fatal(const ShortStr& tag, const ShortStr& text, std::uint8_t exit_code);

 private:
  void WriteLine(const ShortStr& line);
  void CloseFile();

  ShortStr file_name_;
  platform::FileHandle file_ = platform::kNoFile;
  bool enabled_ = false;
};

// "DD Mon YY HH:MM:SS" for the current local time.
ShortStr LogStamp();
ShortStr LogStamp(const platform::LocalTime& t);

// Console-only reports, for use before the log exists.
[[noreturn]] void ConsoleError(const ShortStr& text);
void ConsoleWarning(const ShortStr& text);
// Text and a line end on the console.
void ConsoleLine(std::string_view text);

// The run's log; null until the configuration has been read.
LogFile* TheLog();
// Builds the run's log in static storage (no heap), replacing any earlier one.
LogFile& InitTheLog(const ShortStr& file_name, bool enabled, bool flush_each);

}  // namespace lw
