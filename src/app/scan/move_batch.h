// The picked messages of a scan whose copies are not yet durable: their
// copies are committed together, then the programs their rules name are
// run, then their sources deleted together (moves and kills), and only
// then are their log lines written, in the order and words the run would
// have written them one message at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/scan/destination_pool.h"
#include "errreport/status.h"
#include "log/log_file.h"
#include "msgbase/message_base.h"
#include "platform/program_run.h"

namespace lw {

struct LogLine {
  char mark = ' ';
  std::string text;
  std::string charset = "CP866";
};

// Writes each line to the log's file (LogOnly), in order.
void WriteLogLines(LogFile& log, const std::vector<LogLine>& lines);

struct PendingMessage {
  MsgNum number = 0;            // in the netmail area
  bool delete_source = false;   // moved or killed
  std::vector<LogLine> lines;   // written whatever became of the source
  std::optional<LogLine> gone;  // written after the source was deleted
  // Programs to run once the copies are durable (EXEC), each its words;
  // they get `environment` and `input` (the message's text as stored).
  std::vector<std::vector<std::string>> programs;
  std::vector<EnvironmentVariable> environment;
  std::string input;
};

// Runs a program as RunProgram does.
using ProgramRunner = std::function<ProgramOutcome(const std::vector<std::string>& words,
                                                   const std::vector<EnvironmentVariable>& environment,
                                                   std::string_view input, int timeout_seconds)>;

// When a batch is full: this many messages, bytes of copied text, or
// time since its first message.
struct BatchLimits {
  std::size_t messages = 256;
  std::int64_t bytes = std::int64_t{4} << 20;
  PoolClock::duration age = std::chrono::seconds(1);
};

class MoveBatch {
 public:
  explicit MoveBatch(BatchLimits limits = BatchLimits(), ProgramRunner runner = RunProgram)
      : limits_(limits), runner_(std::move(runner)) {}

  // How long each program may run, in seconds.
  void SetProgramTimeout(int seconds) { program_timeout_ = seconds; }

  // Adds a message whose copies (`bytes` of text in all) are made.
  void Add(PendingMessage message, std::int64_t bytes);
  // True when the batch holds messages and has reached one of its limits.
  bool Full() const;

  // Commits every destination of `pool`; when all succeeded runs each
  // message's programs in order, up to the first that fails, deletes the
  // sources of the batch from `area` (highest number first) but those of
  // messages whose program failed, commits the area, and writes each
  // message's lines: after a program that failed, the warning "Program
  // `P` failed on message N in AREA" with the outcome; after a deletion
  // that failed, the warning "Unable to delete message N in AREA" instead
  // of its `gone` lines.  The batch is empty afterwards, and the walk
  // position of `area` unspecified.  `all_deleted` turns false when a
  // deletion failed, was not committed or was held back by a program.
  // Fails, with no source deleted and no line written, when a destination
  // could not commit; fails, with no line written, when the area could not
  // commit its deletions.
  Status Settle(MessageBase& area, const std::string& area_id, DestinationPool& pool, LogFile& log, bool& all_deleted);

 private:
  // How the deletion of one message's source went.
  struct Deletion {
    bool done = true;
    std::string cause;            // what failed and why, when it was not done
    std::string failed_program;   // the program that failed, when one did
    std::string program_outcome;  // what became of it
  };
  // Runs the programs of each message; a message whose program failed
  // keeps its source.
  void RunPrograms(std::vector<Deletion>& deleted);
  // Deletes the source of each message that asks for it.
  void DeleteSources(MessageBase& area, std::vector<Deletion>& deleted);

  // Each message's lines, or the warning of its failed deletion.
  void WriteLines(LogFile& log, const std::string& area_id, const std::vector<Deletion>& deleted,
                  bool& all_deleted) const;

  BatchLimits limits_;
  ProgramRunner runner_;
  int program_timeout_ = 60;
  std::vector<PendingMessage> messages_;
  std::int64_t bytes_ = 0;
  PoolClock::time_point started_;
};

}  // namespace lw
