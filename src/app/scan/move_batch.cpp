#include "app/scan/move_batch.h"

#include "app/config/config.h"
#include "fidoutil/address.h"
#include "platform/platform.h"

namespace lw {

void WriteLogLines(LogFile& log, const std::vector<LogLine>& lines) {
  for (const LogLine& line : lines) log.LogOnly(line.mark, kProductTag, line.text, line.charset);
}

void MoveBatch::Add(PendingMessage message, std::int64_t bytes) {
  if (messages_.empty()) started_ = platform::Os().SteadyNow();
  messages_.push_back(std::move(message));
  bytes_ += bytes;
}

bool MoveBatch::Full() const {
  if (messages_.empty()) return false;
  return messages_.size() >= limits_.messages || bytes_ >= limits_.bytes || platform::Os().SteadyNow() - started_ >= limits_.age;
}

void MoveBatch::RunPrograms(std::vector<Deletion>& deleted) {
  deleted.assign(messages_.size(), Deletion{});
  for (std::size_t i = 0; i < messages_.size(); ++i) {
    for (const std::vector<std::string>& words : messages_[i].programs) {
      const ProgramOutcome outcome = runner_(words, messages_[i].environment, messages_[i].input, program_timeout_);
      if (outcome.Succeeded()) continue;
      deleted[i].failed_program = words.empty() ? std::string() : words[0];
      deleted[i].program_outcome = DescribeOutcome(outcome, program_timeout_);
      break;
    }
  }
}

void MoveBatch::DeleteSources(MessageBase& area, std::vector<Deletion>& deleted) {
  // Highest number first, so that no deletion moves a message still to come.
  for (std::size_t i = messages_.size(); i-- > 0;) {
    const PendingMessage& m = messages_[i];
    if (!m.delete_source || !deleted[i].failed_program.empty()) continue;
    // The message was read whole when it was copied; deleting it needs
    // only its number, not a second read.
    area.SeekFirst(m.number);
    if (!area.SeekFound() || area.GetMsgNum() != m.number) {
      deleted[i].done = false;
      deleted[i].cause = "the message is no longer in the area";
    } else if (!area.DeleteMsg()) {
      deleted[i].done = false;
      deleted[i].cause = area.FailureCause();
    }
  }
}

void MoveBatch::WriteLines(LogFile& log, const std::string& area_id, const std::vector<Deletion>& deleted,
                           bool& all_deleted) const {
  for (std::size_t i = 0; i < messages_.size(); ++i) {
    const PendingMessage& m = messages_[i];
    WriteLogLines(log, m.lines);
    if (!deleted[i].failed_program.empty()) {
      log.Warning(kProductTag,
                  "Program `" + deleted[i].failed_program + "` failed on message " + IntToStr(m.number) + " in " +
                      area_id + (m.delete_source ? "; the message stays" : ""),
                  deleted[i].program_outcome);
      if (m.delete_source) all_deleted = false;
      continue;
    }
    if (!m.delete_source) continue;
    if (deleted[i].done) {
      log.LogOnly('-', kProductTag, "moving or kill message");
      if (m.gone) WriteLogLines(log, {*m.gone});
    } else {
      all_deleted = false;
      log.Warning(kProductTag, "Unable to delete message " + std::to_string(m.number) + " in " + area_id, deleted[i].cause);
    }
  }
}

Status MoveBatch::Settle(MessageBase& area, const std::string& area_id, DestinationPool& pool, LogFile& log,
                         bool& all_deleted) {
  if (Status committed = pool.CommitAll(); !committed.ok()) {
    messages_.clear();
    bytes_ = 0;
    return committed;
  }
  bool any_deletion = false;
  for (const PendingMessage& m : messages_) any_deletion = any_deletion || m.delete_source;
  std::vector<Deletion> deleted;
  RunPrograms(deleted);
  if (any_deletion) area.BeginBatch();
  DeleteSources(area, deleted);
  const bool area_committed = !any_deletion || area.CommitBatch();
  if (area_committed) {
    log.StartGroup();
    WriteLines(log, area_id, deleted, all_deleted);
    log.EndGroup();
  }
  messages_.clear();
  bytes_ = 0;
  if (!area_committed) {
    all_deleted = false;
    return Status::Error("unable to close messagebase - " + area_id, area.FailureCause());
  }
  return Status();
}

}  // namespace lw
