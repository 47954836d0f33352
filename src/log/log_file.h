// The one log of a run: stamped lines appended to a text file, with the
// bare text shown on the console as each operation says.
#pragma once

#include <string>
#include <string_view>

#include "errreport/status.h"
#include "fidoutil/date_time.h"
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

  // Writes the file's lines in UTF-8, converted from the character set of
  // their text, instead of as the bytes they are made of.
  void SetUtf8(bool utf8) { utf8_ = utf8; }

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
  // "mark stamp tag text" in the file only; `charset` is the character
  // set of `text` (it matters only to a UTF-8 log).
  void LogOnly(char mark, std::string_view tag, std::string_view text, std::string_view charset = "CP866");
  // With `keep` on, the text of each LogOnly line is kept (whether or not
  // a file is open) until the next, so a dry run can show which rule
  // picked a message.
  void KeepLastLogOnlyText(bool keep) { keep_last_log_only_ = keep; }
  const std::string& LastLogOnlyText() const { return last_log_only_; }
  // Between StartGroup and EndGroup the file's lines are gathered and
  // then appended with one write (a batch of messages settled at once
  // costs one call, and its lines still never tear); the console parts
  // are shown at once.  EndGroup reports a failed write as every line
  // does.  Groups do not nest.
  void StartGroup() { grouping_ = true; }
  void EndGroup();
  // "Warning: text" on the console; "? stamp tag Warning: text: cause" in
  // the file and "larkway: warning: text: cause" on standard error, where
  // `cause` names what failed and the system's reason (without it, the
  // text alone).
  void Warning(std::string_view tag, std::string_view text, std::string_view cause = {});
  // "Error: text" on the console; "! stamp tag Error: text: cause" in the
  // file and "larkway: text: cause" on standard error (the cause as
  // Warning's).  The caller ends the run.
  void Error(std::string_view tag, std::string_view text, std::string_view cause = {});

 private:
  void WriteLine(std::string_view line, std::string_view charset = "CP866");
  // "mark stamp tag text" as one line, written as WriteLine does.
  void WriteStamped(char mark, std::string_view tag, std::string_view text, std::string_view charset = "CP866");
  // Appends `bytes` to the file with one call; a warning when it failed.
  void Append(const std::string& bytes);

  std::string file_name_;
  std::string last_log_only_;
  bool utf8_ = false;
  bool keep_last_log_only_ = false;
  bool grouping_ = false;
  std::string group_;  // the lines gathered since StartGroup
  platform::FileHandle file_ = platform::kNoFile;
};

// Appends the stamp of `t`, "DD Mon YY HH:MM:SS", to `out` (a negative
// field shows as 00, a month outside 1..12 as "???").
void AppendLogStamp(std::string& out, const MsgDateTime& t);

// Console-only reports, for use before the log exists: "Error: text" or
// "Warning: text" on the console (neither when it shows the report only), and "larkway: text: cause" (or
// "larkway: warning: text: cause") on standard error, without ": cause"
// when there is none.
void ConsoleError(std::string_view text, std::string_view cause = {});
void ConsoleWarning(std::string_view text, std::string_view cause = {});
// `text`, and ": " and `cause` when there is one.
std::string WithCause(std::string_view text, std::string_view cause);
// Text and a line end on the console (not when it shows errors only).
void ConsoleLine(std::string_view text);
// Text and a line end on the console whatever it shows: the answer the
// user asked for (the dry run's report), which --quiet does not silence.
void ConsoleReport(std::string_view text);
// Text on the console that the next console write overwrites (a running
// count); not when the console shows errors only.
void ConsoleProgress(std::string_view text);

// What the console shows: everything, errors only (--quiet), or the
// report alone (--json: standard output stays machine-readable, and errors
// and warnings are told on standard error only).
enum class ConsoleLevel { kAll, kErrorsOnly, kReportOnly };
void SetConsoleLevel(ConsoleLevel level);
bool ConsoleShowsAll();

// "larkway: text" and a line end on standard error, whatever the console
// level: every error and warning is also told there.
void Diagnose(std::string_view text);

}  // namespace lw
