// The outcome of a step that can end the run: success, an error the
// program reports in words ("Error: ..." on the console and in the log,
// exit code 255, or 75 when it clears by itself), or a run-time fault raised by the program itself (the
// exit-time report names the source position; the fault number is the
// exit code).  Library code returns a Status instead of ending the
// process; the run driver is the one place that turns it into an exit.
#pragma once

#include <string>
#include <utility>

namespace lw {

// The exit code of Status::TryLater.
inline constexpr int kExitTryLater = 75;

class Status {
 public:
  // Success.
  Status() = default;

  // An error in words: `text` is what the console shows (the program's
  // own words, kept as they are); `cause` names the object that failed
  // and the system's reason for it ("nm/3.msg: Permission denied"), for
  // the log and standard error; "" when the text says all there is.
  static Status Error(std::string text, std::string cause = std::string()) {
    Status s;
    s.exit_code_ = 255;
    s.text_ = std::move(text);
    s.cause_ = std::move(cause);
    return s;
  }
  // An error that clears by itself (an area another run holds): reported
  // as Error reports it, but with exit code 75 (EX_TEMPFAIL in
  // <sysexits.h>), which tells a scheduler to try again later rather
  // than that something is broken.
  static Status TryLater(std::string text, std::string cause = std::string()) {
    Status s = Error(std::move(text), std::move(cause));
    s.exit_code_ = kExitTryLater;
    return s;
  }
  static Status Fault(int number, const char* file, int line) {
    Status s;
    s.exit_code_ = number;
    s.file_ = file;
    s.line_ = line;
    return s;
  }

  bool ok() const { return exit_code_ == 0; }
  int exit_code() const { return exit_code_; }
  // True for a run-time fault, false for a reported error.
  bool is_fault() const { return file_ != nullptr; }
  // The words of a reported error (of a fault: what it was doing, or "").
  const std::string& text() const { return text_; }
  // What failed and why, as Error describes it; "" when unknown.
  const std::string& cause() const { return cause_; }
  // The text followed by ": " and the cause, when there is one: the line
  // the log and standard error get.
  std::string Described() const { return cause_.empty() ? text_ : text_ + ": " + cause_; }
  // Where a run-time fault was raised.
  const char* file() const { return file_; }
  int line() const { return line_; }

  // Gives a failure its cause (and a fault what it was doing, when
  // `text` is not empty); nothing for a success.
  Status& Because(std::string cause, std::string text = std::string()) {
    if (ok()) return *this;
    cause_ = std::move(cause);
    if (!text.empty()) text_ = std::move(text);
    return *this;
  }

 private:
  int exit_code_ = 0;
  std::string text_;
  std::string cause_;
  const char* file_ = nullptr;
  int line_ = 0;
};

// A run-time fault raised here.
#define LW_FAULT(number) ::lw::Status::Fault((number), __FILE__, __LINE__)

// Returns from the calling function when `expr` is not ok.
#define LW_RETURN_IF_ERROR(expr)             \
  do {                                       \
    ::lw::Status lw_status_ = (expr);        \
    if (!lw_status_.ok()) return lw_status_; \
  } while (0)

}  // namespace lw
