#include "app/scan/area_scan.h"

#include <algorithm>
#include <map>
#include <optional>

#include "app/config/area_identity.h"
#include "app/message/current_message.h"
#include "app/message/message_digest.h"
#include "app/message/message_report.h"
#include "app/message/text_charset.h"
#include "app/rules/rules.h"
#include "app/scan/area_lock.h"
#include "app/scan/copy_journal.h"
#include "app/scan/destination_pool.h"
#include "app/scan/json_report.h"
#include "app/scan/last_msgid.h"
#include "app/scan/move_batch.h"
#include "app/scan/transfer.h"
#include "msgbase/area.h"
#include "platform/platform.h"
#include "stream/stream.h"

namespace lw {

namespace {

const char kMsgIdKludge[] = "\001MSGID";
constexpr std::size_t kIdLength = 8;

std::string LastPart(const std::string& s, std::size_t n) { return s.size() <= n ? s : s.substr(s.size() - n); }

Status CannotWriteLastRead(const MessageBase& area, const std::string& area_id) {
  return Status::Error("unable to write lastread pointer of messagebase - " + area_id, area.FailureCause());
}

// Where the walk starts.
struct StartPoint {
  MsgNum scan_start = 1;
  bool from_first = true;  // scan the whole area from message 1
  bool matched = false;    // the stored identifier matched and a message follows
};

Status FindStart(MessageBase& area, const std::string& area_id, const std::string& msgid_file, std::int32_t user,
                 bool dry_run, StartPoint& start) {
  start.scan_start = area.GetLastRead(user);
  if (start.scan_start == 0 && !dry_run && !area.SetLastRead(user, 0)) {
    return CannotWriteLastRead(area, area_id);
  }
  // All bits set is how a 32-bit lastread says "none" as well as 0.
  if (start.scan_start <= 0 || start.scan_start == 0xFFFFFFFF) {
    start.scan_start = 1;
    return Status();
  }
  area.SeekFirst(start.scan_start);
  if (!area.OpenMsg()) {
    start.scan_start = 1;
    return Status();
  }
  std::string line;
  area.GetKludge(kMsgIdKludge, line);  // without one, the last text line identifies it
  area.CloseMsg();
  std::string stored;
  LW_RETURN_IF_ERROR(ReadLastMsgId(msgid_file, stored));
  if (stored == LastPart(line, kIdLength)) {
    start.from_first = false;
    area.SeekFirst(start.scan_start);
    area.SeekNext();
    if (area.SeekFound()) {
      start.scan_start += 1;
      start.matched = true;
    }
  }
  return Status();
}

// The running count; a dry run shows a line per message instead.
void ShowCount(const Run& run, std::int32_t scanned) {
  if (!run.dry_run) ConsoleProgress(IntToStr(scanned) + " message(s) scanned");
}

// What is done with a picked message, for the dry run and the detail line:
// its copies and deletion, then the programs it is given to.
std::string ActionWord(const RuleVerdict& verdict, bool done) {
  std::string word;
  if (verdict.targets.empty() && verdict.DeletesSource()) {
    word = done ? "killed" : "kill";
  } else if (!verdict.targets.empty()) {
    std::string targets;
    for (const std::string& t : verdict.targets) targets += (targets.empty() ? "" : ", ") + t;
    if (verdict.DeletesSource()) {
      word = (done ? "moved to " : "move to ") + targets;
    } else {
      word = (done ? "copied to " : "copy to ") + targets;
    }
  }
  for (const std::vector<std::string>& program : verdict.programs) {
    std::string words;
    for (const std::string& w : program) words += (words.empty() ? "" : " ") + w;
    word += (word.empty() ? "" : ", ") + std::string(done ? "given to `" : "give to `") + words + "`";
  }
  return word;
}

// Why a message stays where it is.
std::string KeptReason(bool high_water, bool local_unsent, const RuleVerdict& verdict) {
  if (high_water) return "high-water mark";
  if (local_unsent) return "local mail not sent yet";
  if (verdict.not_touch) return "NOT_TOUCH";
  return "no rule";
}

// A dry run's line for a picked message: the action and the rules that
// picked it, in the order they matched.
std::string PickedLine(const MessageFacts& facts, const std::string& action, const std::vector<std::string>& rules) {
  std::string named;
  for (const std::string& rule : rules) named += (named.empty() ? "" : "; ") + std::string("rule: ") + rule;
  return DryRunLine(facts, action + " (" + ForTerminal(named, "CP866") + ")");
}

// A dry run's report of the open message of `area_id`: its JSON object
// with --json, else its verdict line.  `kept_reason` is "" for a message
// the rules picked.
void ReportDryRun(const Run& run, const std::string& area_id, const MessageFacts& facts, const RuleVerdict& verdict,
                  const std::string& kept_reason) {
  if (run.json) {
    ConsoleReport(JsonMessageLine(area_id, facts, verdict, kept_reason));
  } else if (kept_reason.empty()) {
    ConsoleReport(PickedLine(facts, ActionWord(verdict, false), verdict.rules));
  } else {
    ConsoleReport(DryRunLine(facts, "kept (" + kept_reason + ")"));
  }
}

// What the walk has seen so far.
struct Walk {
  std::int32_t scanned = 0;
  MsgNum last_kept = 0;
  bool unreadable_seen = false;
  bool deletion_failed = false;
  bool repositioned = false;  // a batch was settled: the walk position is lost
};

// Everything the scan of one netmail area holds while it walks.
struct Scan {
  Scan(Run& the_run, MessageBase& netmail, const std::string& netmail_id, AreaScanResult& scan_result)
      : run(the_run),
        area(netmail),
        area_id(netmail_id),
        result(scan_result),
        journal(CopyJournalFileName(netmail_id)) {}

  Run& run;
  MessageBase& area;
  const std::string& area_id;
  AreaScanResult& result;
  Walk walk;
  DestinationPool pool;
  CopyJournal journal;
  KnownCopies known;
  MoveBatch batch;
  // The journal knows a destination by the base it is, not by how a rule
  // spells it, so a later run with another spelling finds its records.
  std::map<std::string, std::string> journal_key_of;  // target -> AreaIdentity

  const std::string& JournalKey(const std::string& target) {
    auto known_key = journal_key_of.find(target);
    if (known_key == journal_key_of.end()) known_key = journal_key_of.emplace(target, AreaIdentity(target)).first;
    return known_key->second;
  }
};

// Commits the batch, deletes its sources and writes its lines; then closes
// the destinations held long enough.
Status SettleBatch(Scan& scan) {
  scan.walk.repositioned = true;
  bool all_deleted = true;
  Status settled = scan.batch.Settle(scan.area, scan.area_id, scan.pool, scan.run.log, all_deleted);
  if (!all_deleted) scan.walk.deletion_failed = true;
  LW_RETURN_IF_ERROR(settled);
  return scan.pool.Close(false);
}

// The digest of the current message, taken the first time it is needed:
// only a destination with copies to recognise asks for it.
class LazyDigest {
 public:
  std::uint64_t Of(MessageBase& area, const CurrentMessage& msg) {
    if (!value_) value_ = MessageDigest(area, msg);
    return *value_;
  }

 private:
  std::optional<std::uint64_t> value_;
};

LogLine CopyLine(const std::string& target) { return {'+', "Copy message to destination messagebase - " + target}; }

// Copies the open current message into one target.  When its source is
// to be deleted, a copy the journal shows is already there is taken as
// made, and before the first copy into the target a record is journaled.
Status CopyToTarget(Scan& scan, const CurrentMessage& msg, LazyDigest& digest, const std::string& written,
                    PendingMessage& pending, std::int64_t& bytes) {
  const std::string& target = scan.pool.SpellingOf(written);
  MessageBase* dest = nullptr;
  LW_RETURN_IF_ERROR(scan.pool.Use(target, dest));
  if (pending.delete_source) {
    const std::string& key = scan.JournalKey(target);
    scan.known.LoadOnce(scan.journal, key, *dest);
    if (scan.known.HoldsAny(key) && scan.known.Take(key, digest.Of(scan.area, msg))) {
      pending.lines.push_back({'+', "Copy message already in destination messagebase - " + target});
      return Status();
    }
    MsgNum mark = 0;
    if (!scan.journal.MarkOf(key, mark)) LW_RETURN_IF_ERROR(scan.journal.Record(key, dest->GetHighMsgNum()));
  }
  LW_RETURN_IF_ERROR(CopyMessageInto(scan.area, msg, *dest));
  scan.pool.CountMessage(target);
  pending.lines.push_back(CopyLine(target));
  bytes += scan.area.GetTextSize();
  return Status();
}

// A copy failed: the batch before the message is settled, the lines of
// the copies it did make are written, and the copy's error returned.
Status FailMidMessage(Scan& scan, const PendingMessage& pending, const Status& error) {
  LW_RETURN_IF_ERROR(SettleBatch(scan));
  WriteLogLines(scan.run.log, pending.lines);
  return error;
}

// The open message's text as it is stored, read once for the rules and
// the programs that need it.
struct StoredText {
  std::string bytes;
  bool read = false;
};

// Reads the text of the open message of `area` into `text` unless it was
// read already.  False, with `cause` saying why, when it cannot be read
// whole.
bool ReadStoredText(MessageBase& area, StoredText& text, std::string& cause) {
  if (text.read) return true;
  Stream* stream = area.GetTextStream();
  if (stream != nullptr) {
    text.bytes = ReadAllBytes(*stream);
    if (stream->Status != kStreamOk) {
      cause = stream->FailureText();
      stream->ResetStatus();
      return false;
    }
    area.SetTextPos(0);
  }
  text.read = true;
  return true;
}

// A message that cannot be read whole is left as it is, with a warning,
// written after the lines of the batch before it.
Status LeaveUnreadable(Scan& scan, MsgNum number, const std::string& cause) {
  LW_RETURN_IF_ERROR(SettleBatch(scan));
  ++scan.result.unreadable_count;
  scan.run.log.Warning(kProductTag, "Unable to read message " + std::to_string(number) + " in " + scan.area_id, cause);
  scan.walk.unreadable_seen = true;
  return Status();
}

// The bits of AttrMask the open message has.
std::uint32_t AttributesOf(MessageBase& area) {
  std::uint32_t bits = 0;
  for (std::uint32_t mask = kAttrPrivate; mask <= kAttrScanned; mask <<= 1) {
    if (area.IsAttr(mask)) bits |= mask;
  }
  return bits;
}

// What a program run for a message finds in its environment: the area,
// the number, names and subject in UTF-8, the addresses and the MSGID.
std::vector<EnvironmentVariable> ProgramEnvironment(const std::string& area_id, const MessageFacts& facts) {
  return {{"LARKWAY_AREA", area_id},
          {"LARKWAY_MSGNUM", IntToStr(facts.number)},
          {"LARKWAY_FROM", ToUtf8(facts.from, facts.charset)},
          {"LARKWAY_TO", ToUtf8(facts.to, facts.charset)},
          {"LARKWAY_SUBJ", ToUtf8(facts.subject, facts.charset)},
          {"LARKWAY_FROMADDR", FormatAddress(facts.orig)},
          {"LARKWAY_TOADDR", FormatAddress(facts.dest)},
          {"LARKWAY_MSGID", facts.msgid}};
}

// Copies a picked message into its targets, each base once however many
// rules or spellings name it, and adds it to the batch with its programs
// and the lines the log gets once the batch is settled.
Status BatchPicked(Scan& scan, const CurrentMessage& msg, const RuleVerdict& verdict, StoredText& text) {
  const MoverConfig& config = scan.run.config;
  PendingMessage pending;
  pending.number = scan.area.GetMsgNum();
  pending.delete_source = verdict.DeletesSource();
  if (!verdict.programs.empty()) {
    // Read before any copy, so that a text that cannot be read costs no copy.
    if (std::string cause; !ReadStoredText(scan.area, text, cause)) return LeaveUnreadable(scan, pending.number, cause);
  }
  for (const std::string& rule : verdict.rules) pending.lines.push_back({'#', rule});
  std::int64_t bytes = 0;
  LazyDigest digest;
  std::vector<std::string> copied;  // the bases copied to, as the pool spells them
  for (const std::string& target : verdict.targets) {
    const std::string& spelling = scan.pool.SpellingOf(target);
    if (std::find(copied.begin(), copied.end(), spelling) != copied.end()) continue;
    copied.push_back(spelling);
    Status done = CopyToTarget(scan, msg, digest, target, pending, bytes);
    if (!done.ok()) return FailMidMessage(scan, pending, done);
  }
  if (config.LogDetail || !verdict.programs.empty()) {
    // Gathered only now: looking for kludges walks the text the copy reads.
    const MessageFacts facts = GatherFacts(scan.area, msg);
    if (!verdict.programs.empty()) {
      pending.programs = verdict.programs;
      pending.environment = ProgramEnvironment(scan.area_id, facts);
      pending.input = std::move(text.bytes);
      bytes += static_cast<std::int64_t>(pending.input.size());
    }
    if (config.LogDetail) {
      LogLine detail{'=', DetailLine(facts, ActionWord(verdict, true)), facts.charset};
      if (pending.delete_source) {
        pending.gone = std::move(detail);
      } else {
        pending.lines.push_back(std::move(detail));
      }
    }
  }
  scan.batch.Add(std::move(pending), bytes);
  return Status();
}

// The verdict of the rules on the open current message, whose header is
// `msg`.  The text is read (into `text`) only when a FILTER tests it, and
// judged decoded by the message's CHRS as the names are.  False, with
// `cause`, when that text cannot be read whole.
bool Judge(Scan& scan, const CurrentMessage& msg, StoredText& text, LogFile& rule_log, RuleVerdict& verdict,
           std::string& cause) {
  const MoverConfig& config = scan.run.config;
  MessageContent content;
  std::string judged_text;
  if (config.filter_rules.count() > 0) content.attributes = AttributesOf(scan.area);
  if (config.filters_read_text) {
    if (!ReadStoredText(scan.area, text, cause)) return false;
    content.text = text.bytes;
    const bool ascii = std::none_of(text.bytes.begin(), text.bytes.end(), [](char c) { return (c & 0x80) != 0; });
    if (!ascii) {
      judged_text = DecodeToCp866(text.bytes, MessageCharset(scan.area));
      content.text = judged_text;
    }
  }
  verdict = EvaluateRules(config, ForRules(scan.area, msg), rule_log, content);
  return true;
}

// Judges the open current message and acts on the verdict: a dry run
// shows it; a real run copies a picked message and batches its deletion.
Status ActOnMessage(Scan& scan) {
  Run& run = scan.run;
  MessageBase& area = scan.area;
  CurrentMessage msg;
  ReadHeader(area, msg);
  // Another program's bookkeeping, not mail: no rule may take it away.
  const bool high_water = IsHighWaterMark(area, scan.area_id, msg);
  bool skip = run.config.KeepLocalUnsent && !area.IsAttr(kAttrSent) && area.IsAttr(kAttrLocal);
  // The rules' lines wait for the batch, so the log keeps each message's lines together.
  LogFile rule_log;
  RuleVerdict verdict;
  StoredText text;
  if (std::string cause; !skip && !high_water && !Judge(scan, msg, text, rule_log, verdict, cause)) {
    return LeaveUnreadable(scan, area.GetMsgNum(), cause);
  }
  if (run.config.UseLastRead) area.GetKludge(kMsgIdKludge, run.latest_msgid_line);
  if (!verdict.found) {
    scan.walk.last_kept = area.GetMsgNum();
    ++scan.result.kept_count;
    if (run.dry_run) {
      ReportDryRun(run, scan.area_id, GatherFacts(area, msg), verdict, KeptReason(high_water, skip, verdict));
    }
    return Status();
  }
  ++scan.result.found_count;
  if (run.dry_run) {
    ReportDryRun(run, scan.area_id, GatherFacts(area, msg), verdict, std::string());
    return Status();
  }
  return BatchPicked(scan, msg, verdict, text);
}

// Opens the current message, acts on it and closes it.  A message that
// cannot be read whole is left as it is, with a warning, written after the
// lines of the batch before it.
Status VisitMessage(Scan& scan) {
  MessageBase& area = scan.area;
  const MsgNum number = area.GetMsgNum();
  if (!area.OpenMsg()) return LeaveUnreadable(scan, number, area.FailureCause());
  ++scan.walk.scanned;
  Status status = ActOnMessage(scan);
  area.CloseMsg();
  return status;
}

// Stores where the scan stopped: the lastread pointer and the last MSGID.
Status StorePosition(Run& run, MessageBase& area, const std::string& area_id, const std::string& msgid_file,
                     const Walk& walk) {
  LW_RETURN_IF_ERROR(WriteLastMsgId(msgid_file, LastPart(run.latest_msgid_line, kIdLength)));
  if (!area.SetLastRead(run.config.UserNumber, walk.last_kept)) return CannotWriteLastRead(area, area_id);
  return Status();
}

// Visits every message from the start, settling the batch whenever it is
// full.  Numbers of messages that stay are stable in every format, so
// after a settle the walk goes on at the first message above the last one
// visited.  A stop request ends the walk between two messages: what the
// batch holds is settled as at the end.
Status VisitAll(Scan& scan, MsgNum first) {
  MessageBase& area = scan.area;
  area.SeekFirst(first);
  while (area.SeekFound() && platform::StopRequest() == 0) {
    const MsgNum number = area.GetMsgNum();
    scan.walk.repositioned = false;
    LW_RETURN_IF_ERROR(VisitMessage(scan));
    ShowCount(scan.run, scan.walk.scanned);
    if (scan.batch.Full()) LW_RETURN_IF_ERROR(SettleBatch(scan));
    if (scan.walk.repositioned) {
      area.SeekFirst(number + 1);
    } else {
      area.SeekNext();
    }
  }
  LW_RETURN_IF_ERROR(SettleBatch(scan));
  return scan.pool.Close(true);
}

// Whether a message copied by the rules may also be deleted: then its
// copies are journaled, so a run cut short does not copy it again.
bool MayDeleteCopied(const MoverConfig& config) {
  if (config.MoveMode) return true;
  for (const auto& rule : config.filter_rules.items) {
    if (rule->continues) return true;  // a later rule may delete what it copies
    for (const FilterAction& action : rule->actions) {
      if (action.kind == FilterActionKind::kMove || action.kind == FilterActionKind::kKill) return true;
    }
  }
  return false;
}

Status WalkArea(Run& run, MessageBase& area, const std::string& area_id, const StartPoint& start,
                AreaScanResult& result) {
  Scan scan(run, area, area_id, result);
  scan.batch.SetProgramTimeout(run.config.exec_timeout);
  if (MayDeleteCopied(run.config) && !run.dry_run) LW_RETURN_IF_ERROR(scan.journal.Load());
  LW_RETURN_IF_ERROR(VisitAll(scan, start.from_first ? 1 : start.scan_start));
  run.log.LogOnly('*', kProductTag, IntToStr(scan.walk.scanned) + " message(s) scanned");
  if ((run.config.UseLastRead || run.config.MoveMode) && !scan.walk.unreadable_seen && !run.dry_run) {
    LW_RETURN_IF_ERROR(StorePosition(run, area, area_id, LastMsgIdFileName(area_id), scan.walk));
  }
  // Every source the journal's copies stand for is deleted now.
  if (!scan.walk.deletion_failed) LW_RETURN_IF_ERROR(scan.journal.Drop());
  return Status();
}

// What the system says is wrong with an area's path ("" when its folder
// can be listed, or its base file opened): the reason a lock or an open
// failed, for standard error.
std::string AreaAccessProblem(const std::string& area_id) {
  AreaKind kind = AreaKind::kNone;
  std::string path;
  ParseAreaId(area_id, kind, path);
  if (kind == AreaKind::kNone) return "no known format letter (*, M, F, S, J) before the path";
  std::string probe = kind == AreaKind::kMsg ? path : path + (kind == AreaKind::kSquish ? ".sqd" : ".jhr");
  platform::Platform& os = platform::Os();
  std::uint32_t attr = 0;
  platform::Result rc = os.QueryAttributes(probe, &attr);
  if (rc == platform::kOk && kind == AreaKind::kMsg) {
    platform::SearchHandle search = 0;
    platform::DirEntry entry;
    rc = os.FindFirst(probe + platform::kPathSeparator + "*", 0x3F, &search, &entry);
    if (rc == platform::kOk) os.FindClose(search);
    if (rc == platform::kFileNotFound) rc = platform::kOk;  // an empty folder
  } else if (rc == platform::kOk) {
    platform::FileHandle file = platform::kNoFile;
    rc = os.OpenFile(probe, platform::Access::kRead, platform::Sharing::kDenyNone, &file);
    if (rc == platform::kOk) os.CloseFile(file);
  }
  return rc == platform::kOk ? std::string() : probe + ": " + platform::ReasonText(rc);
}

}  // namespace

Status ScanArea(Run& run, const std::string& area_id, AreaScanResult& result) {
  AreaLock lock;
  LW_RETURN_IF_ERROR(lock.Acquire(area_id));
  MsgBasePtr area;
  if (std::string cause; !OpenArea(area, area_id, &cause)) {
    const std::string problem = cause.empty() ? AreaAccessProblem(area_id) : cause;
    return Status::Error("unable to open messagebase - " + area_id,
                         problem.empty() ? "the base does not open (damaged, or held by another program)" : problem);
  }
  area->SetFlag(kFlagEchomail | kFlagLocal, false);
  area->SetFlag(kFlagNetmail, true);

  StartPoint start;
  if (run.config.UseLastRead) {
    LW_RETURN_IF_ERROR(
        FindStart(*area, area_id, LastMsgIdFileName(area_id), run.config.UserNumber, run.dry_run, start));
  }
  // From message 1 the area is scanned when it holds any message; after a
  // matching lastread message only when one follows it.
  if (start.from_first) area->SeekFirst(1);
  if (start.from_first ? !area->SeekFound() : !start.matched) {
    result.nothing_to_scan = true;
  } else {
    LW_RETURN_IF_ERROR(WalkArea(run, *area, area_id, start, result));
  }
  if (std::string cause; !CloseArea(area, &cause))
    return Status::Error("unable to close messagebase - " + area_id, cause);
  if (ConsoleShowsAll() && !run.dry_run) platform::Os().ConsoleWrite(platform::kLineEnd);
  return Status();
}

}  // namespace lw
