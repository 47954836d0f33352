#include "app/area_scan.h"

#include "app/config.h"
#include "app/current_message.h"
#include "app/last_msgid.h"
#include "app/rules.h"
#include "app/transfer.h"
#include "log/log_file.h"
#include "msgbase/area.h"
#include "platform/platform.h"

namespace lw {

namespace {

const char kMsgIdKludge[] = "\001MSGID";

// The MSGID line last read in this run; it carries over from area to area.
ShortStr g_latest_msgid_line;

// Where the walk starts.
struct StartPoint {
  std::int32_t scan_start = 1;
  bool from_first = true;  // scan the whole area from message 1
  bool matched = false;    // the stored identifier matched and a message follows
};

StartPoint FindStart(MessageBase& area, const ShortStr& msgid_file, std::int32_t user) {
  StartPoint start;
  start.scan_start = area.GetLastRead(user);
  if (start.scan_start == 0) area.SetLastRead(user, 0);
  if (start.scan_start == -1 || start.scan_start == 0) {
    start.scan_start = 1;
    return start;
  }
  area.SeekFirst(start.scan_start);
  if (!area.OpenMsg()) {
    start.scan_start = 1;
    return start;
  }
  ShortStr line;
  area.GetKludge(kMsgIdKludge, line);  // without one, the last text line identifies it
  if (ReadLastMsgId(msgid_file) == line.Right(8)) {
    start.from_first = false;
    area.SeekNext();
    if (area.SeekFound()) {
      start.scan_start += 1;
      start.matched = true;
    }
  }
  area.CloseMsg();
  return start;
}

void ReadHeader(MessageBase& area, CurrentMessage& msg) {
  area.GetFrom(msg.from);
  msg.from.Truncate(kMaxNameLength);
  area.GetTo(msg.to);
  msg.to.Truncate(kMaxNameLength);
  area.GetSubj(msg.subject);
  msg.subject.Truncate(kMaxSubjectLength);
  area.GetDestAddr(msg.dest);
  area.GetOrigAddr(msg.orig);
  area.GetDateWritten(msg.written);
  area.GetDateArrived(msg.arrived);
}

void ShowCount(std::int32_t scanned) {
  platform::Os().ConsoleWriteKeepCursor((IntToStr(scanned) + " message(s) scanned").view());
}

}  // namespace

AreaScanResult ScanArea(const ShortStr& area_id) {
  AreaScanResult result;
  LogFile& log = *TheLog();
  const MoverConfig& config = Config();
  MsgBasePtr area;
  if (!OpenArea(area, area_id)) log.Error(kProductTag, ShortStr("unable to open messagebase - ") + area_id);
  const ShortStr msgid_file = LastMsgIdFileName(area_id);
  area->SetFlag(kFlagEchomail | kFlagLocal, false);
  area->SetFlag(kFlagNetmail, true);

  StartPoint start;
  if (config.UseLastRead) start = FindStart(*area, msgid_file, config.UserNumber);
  // From message 1 the area is scanned when it holds any message; after a
  // matching lastread message only when one follows it.
  if (start.from_first) area->SeekFirst(1);
  if (start.from_first ? !area->SeekFound() : !start.matched) {
    result.nothing_to_scan = true;
    CloseArea(area);
    platform::Os().ConsoleWrite(platform::kLineEnd);
    return result;
  }
  area->SeekFirst(start.from_first ? 1 : start.scan_start);

  std::int32_t scanned = 0;
  std::int32_t last_kept = 0;
  CurrentMessage msg;
  while (area->SeekFound()) {
    if (!area->OpenMsg()) {
      CloseArea(area);
      log.Error(kProductTag, ShortStr("unable to process messagebase - ") + area_id);
    }
    ReadHeader(*area, msg);
    ++scanned;
    bool skip = config.KeepLocalUnsent && !area->IsAttr(kAttrSent) && area->IsAttr(kAttrLocal);
    RuleVerdict verdict;
    if (!skip) verdict = EvaluateRules(config, msg, log);
    if (config.UseLastRead) area->GetKludge(kMsgIdKludge, g_latest_msgid_line);
    if (verdict.found) {
      if (!verdict.kill) TransferMessage(*area, msg, verdict.target, log);
      ++result.found_count;
    } else {
      last_kept = area->GetMsgNum();
    }
    area->CloseMsg();
    if (verdict.found && (config.MoveMode || verdict.kill)) {
      if (area->DeleteMsg()) {
        log.LogOnly('-', kProductTag, "moving or kill message");
      } else {
        log.Warning(kProductTag, ShortStr("Unable to delete message ") + IntToStr(area->GetMsgNum()) +
                                     " in " + area_id);
      }
    }
    ShowCount(scanned);
    area->SeekNext();
  }
  log.LogOnly('*', kProductTag, IntToStr(scanned) + " message(s) scanned");
  if (config.UseLastRead || config.MoveMode) {
    WriteLastMsgId(msgid_file, g_latest_msgid_line.Right(8));
    area->SetLastRead(config.UserNumber, last_kept);
  }
  CloseArea(area);
  platform::Os().ConsoleWrite(platform::kLineEnd);
  return result;
}

}  // namespace lw
