// The picked messages of a scan whose copies are not yet durable: their
// copies are committed together, then their sources deleted together
// (moves and kills), and only then are their log lines written, in the
// order and words the run would have written them one message at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/destination_pool.h"
#include "errreport/status.h"
#include "log/log_file.h"
#include "msgbase/message_base.h"

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
};

// When a batch is full: this many messages, bytes of copied text, or
// time since its first message.
struct BatchLimits {
  std::size_t messages = 256;
  std::int64_t bytes = std::int64_t{4} << 20;
  PoolClock::duration age = std::chrono::seconds(1);
};

class MoveBatch {
 public:
  explicit MoveBatch(BatchLimits limits = BatchLimits()) : limits_(limits) {}

  // Adds a message whose copies (`bytes` of text in all) are made.
  void Add(PendingMessage message, std::int64_t bytes);
  // True when the batch holds messages and has reached one of its limits.
  bool Full() const;

  // Commits every destination of `pool`; when all succeeded deletes the
  // sources of the batch from `area` (highest number first), commits the
  // area, and writes each message's lines: after a deletion that failed,
  // the warning "Unable to delete message N in AREA" instead of its
  // `gone` lines.  The batch is empty afterwards, and the walk position of
  // `area` unspecified.  `all_deleted` turns false when a deletion failed
  // or was not committed.
  // Fails, with no source deleted and no line written, when a destination
  // could not commit; fails, with no line written, when the area could not
  // commit its deletions.
  Status Settle(MessageBase& area, const std::string& area_id, DestinationPool& pool, LogFile& log, bool& all_deleted);

 private:
  // How the deletion of one message's source went.
  struct Deletion {
    bool done = true;
    std::string cause;  // what failed and why, when it was not done
  };
  // Deletes the source of each message that asks for it.
  void DeleteSources(MessageBase& area, std::vector<Deletion>& deleted);

  // Each message's lines, or the warning of its failed deletion.
  void WriteLines(LogFile& log, const std::string& area_id, const std::vector<Deletion>& deleted,
                  bool& all_deleted) const;

  BatchLimits limits_;
  std::vector<PendingMessage> messages_;
  std::int64_t bytes_ = 0;
  PoolClock::time_point started_;
};

}  // namespace lw
