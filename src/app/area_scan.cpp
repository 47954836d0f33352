#include "app/area_scan.h"

#include "app/area_lock.h"
#include "app/current_message.h"
#include "app/last_msgid.h"
#include "app/message_report.h"
#include "app/rules.h"
#include "app/text_charset.h"
#include "app/transfer.h"
#include "msgbase/area.h"
#include "platform/platform.h"

namespace lw {

namespace {

const char kMsgIdKludge[] = "\001MSGID";
constexpr std::size_t kIdLength = 8;

std::string LastPart(const std::string& s, std::size_t n) { return s.size() <= n ? s : s.substr(s.size() - n); }

// Where the walk starts.
struct StartPoint {
  std::int32_t scan_start = 1;
  bool from_first = true;  // scan the whole area from message 1
  bool matched = false;    // the stored identifier matched and a message follows
};

Status FindStart(MessageBase& area, const std::string& msgid_file, std::int32_t user, bool dry_run, StartPoint& start) {
  start.scan_start = area.GetLastRead(user);
  if (start.scan_start == 0 && !dry_run && !area.SetLastRead(user, 0)) {
    return Status::Error("unable to write lastread pointer of messagebase");
  }
  if (start.scan_start == -1 || start.scan_start == 0) {
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

void ReadHeader(MessageBase& area, CurrentMessage& msg) {
  area.GetFrom(msg.from);
  msg.from = CutName(msg.from);
  area.GetTo(msg.to);
  msg.to = CutName(msg.to);
  area.GetSubj(msg.subject);
  msg.subject = CutSubject(msg.subject);
  area.GetDestAddr(msg.dest);
  area.GetOrigAddr(msg.orig);
  area.GetDateWritten(msg.written);
  area.GetDateArrived(msg.arrived);
}

// The running count; a dry run shows a line per message instead.
void ShowCount(const Run& run, std::int32_t scanned) {
  if (!run.dry_run) ConsoleProgress(IntToStr(scanned) + " message(s) scanned");
}

// What is done with a picked message, for the dry run and the detail line.
std::string ActionWord(const MoverConfig& config, const RuleVerdict& verdict, bool done) {
  if (verdict.kill) return done ? "killed" : "kill";
  std::string targets;
  for (const std::string& t : verdict.targets) targets += (targets.empty() ? "" : ", ") + t;
  if (config.MoveMode) return (done ? "moved to " : "move to ") + targets;
  return (done ? "copied to " : "copy to ") + targets;
}

// The verdict on a message that stays where it is.
std::string KeptWord(bool high_water, bool local_unsent, const RuleVerdict& verdict) {
  if (high_water) return "kept (high-water mark)";
  if (local_unsent) return "kept (local mail not sent yet)";
  if (verdict.not_touch) return "kept (NOT_TOUCH)";
  return "kept (no rule)";
}

// A dry run's line for a picked message: the action and the rule that picked it.
std::string PickedLine(const Run& run, const MessageFacts& facts, const RuleVerdict& verdict) {
  return DryRunLine(facts, ActionWord(run.config, verdict, false) +
                               " (rule: " + ForTerminal(run.log.LastLogOnlyText(), "CP866") + ")");
}

void LogDetail(Run& run, const MessageFacts& facts, const std::string& action) {
  if (run.config.LogDetail) run.log.LogOnly('=', kProductTag, DetailLine(facts, action), facts.charset);
}

// What the walk has seen so far.
struct Walk {
  std::int32_t scanned = 0;
  std::int32_t last_kept = 0;
  bool unreadable_seen = false;
};

// Judges the open current message and acts on the verdict: copies it, then
// (moving or killing) deletes it while it is still open.
Status ActOnMessage(Run& run, MessageBase& area, const std::string& area_id, AreaScanResult& result, Walk& walk) {
  const MoverConfig& config = run.config;
  CurrentMessage msg;
  ReadHeader(area, msg);
  // Another program's bookkeeping, not mail: no rule may take it away.
  const bool high_water = IsHighWaterMark(area, area_id, msg);
  bool skip = config.KeepLocalUnsent && !area.IsAttr(kAttrSent) && area.IsAttr(kAttrLocal);
  RuleVerdict verdict;
  if (!skip && !high_water) verdict = EvaluateRules(config, msg, run.log);
  if (config.UseLastRead) area.GetKludge(kMsgIdKludge, run.latest_msgid_line);
  if (!verdict.found) {
    walk.last_kept = area.GetMsgNum();
    if (run.dry_run) ConsoleLine(DryRunLine(GatherFacts(area, msg), KeptWord(high_water, skip, verdict)));
    return Status();
  }
  ++result.found_count;
  if (run.dry_run) {
    ConsoleLine(PickedLine(run, GatherFacts(area, msg), verdict));
    return Status();
  }
  if (!verdict.kill) LW_RETURN_IF_ERROR(TransferMessage(area, msg, verdict.targets, run.log));
  // Gathered only now: looking for kludges walks the text the copy reads.
  const MessageFacts facts = config.LogDetail ? GatherFacts(area, msg) : MessageFacts();
  if (!config.MoveMode && !verdict.kill) {
    LogDetail(run, facts, ActionWord(config, verdict, true));
    return Status();
  }
  if (area.DeleteMsg()) {
    run.log.LogOnly('-', kProductTag, "moving or kill message");
    LogDetail(run, facts, ActionWord(config, verdict, true));
  } else {
    run.log.Warning(kProductTag, "Unable to delete message " + IntToStr(area.GetMsgNum()) + " in " + area_id);
  }
  return Status();
}

// Opens the current message, acts on it and closes it.  A message that
// cannot be read whole is left as it is, with a warning.
Status VisitMessage(Run& run, MessageBase& area, const std::string& area_id, AreaScanResult& result, Walk& walk) {
  if (!area.OpenMsg()) {
    run.log.Warning(kProductTag, "Unable to read message " + IntToStr(area.GetMsgNum()) + " in " + area_id);
    walk.unreadable_seen = true;
    return Status();
  }
  ++walk.scanned;
  Status status = ActOnMessage(run, area, area_id, result, walk);
  area.CloseMsg();
  return status;
}

// Stores where the scan stopped: the lastread pointer and the last MSGID.
Status StorePosition(Run& run, MessageBase& area, const std::string& msgid_file, const Walk& walk) {
  LW_RETURN_IF_ERROR(WriteLastMsgId(msgid_file, LastPart(run.latest_msgid_line, kIdLength)));
  if (!area.SetLastRead(run.config.UserNumber, walk.last_kept)) {
    return Status::Error("unable to write lastread pointer of messagebase");
  }
  return Status();
}

Status WalkArea(Run& run, MessageBase& area, const std::string& area_id, const StartPoint& start,
                AreaScanResult& result) {
  area.SeekFirst(start.from_first ? 1 : start.scan_start);
  Walk walk;
  while (area.SeekFound()) {
    LW_RETURN_IF_ERROR(VisitMessage(run, area, area_id, result, walk));
    ShowCount(run, walk.scanned);
    area.SeekNext();
  }
  run.log.LogOnly('*', kProductTag, IntToStr(walk.scanned) + " message(s) scanned");
  if ((run.config.UseLastRead || run.config.MoveMode) && !walk.unreadable_seen && !run.dry_run) {
    LW_RETURN_IF_ERROR(StorePosition(run, area, LastMsgIdFileName(area_id), walk));
  }
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
  int rc = os.QueryAttributes(probe, &attr);
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
  return rc == platform::kOk ? std::string() : probe + ": " + os.ErrorReason(rc);
}

}  // namespace

Status ScanArea(Run& run, const std::string& area_id, AreaScanResult& result) {
  AreaLock lock;
  if (Status locked = lock.Acquire(area_id); !locked.ok()) {
    const std::string problem = AreaAccessProblem(area_id);
    if (!problem.empty()) NoteErrorDiagnostic("cannot open netmail area " + area_id + ": " + problem);
    return locked;
  }
  MsgBasePtr area;
  if (!OpenArea(area, area_id)) {
    const std::string problem = AreaAccessProblem(area_id);
    NoteErrorDiagnostic("cannot open netmail area " + area_id + ": " +
                        (problem.empty() ? "the base does not open (damaged, or held by another program)" : problem));
    return Status::Error("unable to open messagebase - " + area_id);
  }
  area->SetFlag(kFlagEchomail | kFlagLocal, false);
  area->SetFlag(kFlagNetmail, true);

  StartPoint start;
  if (run.config.UseLastRead) {
    LW_RETURN_IF_ERROR(FindStart(*area, LastMsgIdFileName(area_id), run.config.UserNumber, run.dry_run, start));
  }
  // From message 1 the area is scanned when it holds any message; after a
  // matching lastread message only when one follows it.
  if (start.from_first) area->SeekFirst(1);
  if (start.from_first ? !area->SeekFound() : !start.matched) {
    result.nothing_to_scan = true;
  } else {
    LW_RETURN_IF_ERROR(WalkArea(run, *area, area_id, start, result));
  }
  if (!CloseArea(area)) return Status::Error("unable to close messagebase - " + area_id);
  if (ConsoleShowsAll() && !run.dry_run) platform::Os().ConsoleWrite(platform::kLineEnd);
  return Status();
}

}  // namespace lw
