#include "app/scan/copy_journal.h"

#include "app/message/message_digest.h"
#include "app/scan/area_state.h"
#include "fidoutil/address.h"
#include "fidoutil/helpers.h"
#include "platform/platform.h"
#include "platform/text_file.h"

namespace lw {

namespace {

std::string CannotWrite(const std::string& file_name, const platform::Result& rc) {
  return "unable to write copy journal " + file_name + ": " + platform::ReasonText(rc);
}

// "MARK DEST": false for anything else.
bool ParseRecord(const std::string& line, std::string& dest, MsgNum& mark) {
  const std::size_t space = line.find(' ');
  if (space == 0 || space == std::string::npos || space > 10 || space + 1 >= line.size()) return false;
  std::int64_t value = 0;
  for (std::size_t i = 0; i < space; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    value = value * 10 + (line[i] - '0');
  }
  if (value > UINT32_MAX) return false;
  mark = value;
  dest = line.substr(space + 1);
  return true;
}

}  // namespace

std::string CopyJournalFileName(const std::string& area_id) { return AreaStateFileName(area_id, "journal"); }

Status CopyJournal::Load() {
  marks_.clear();
  if (!FileExists(file_name_)) return Status();
  platform::TextReader reader;
  platform::Result rc = reader.Open(file_name_);
  std::string line;
  platform::Result error;
  while (rc == platform::kOk && reader.ReadLine(&line, &error)) {
    std::string dest;
    MsgNum mark = 0;
    // The file is only ever replaced whole; a line that is not a record was not written by a run.
    if (!ParseRecord(line, dest, mark)) continue;
    auto [at, added] = marks_.emplace(dest, mark);
    if (!added && mark < at->second) at->second = mark;
  }
  if (rc == platform::kOk) rc = error;
  if (const platform::Result close_rc = reader.Close(); rc == platform::kOk) rc = close_rc;
  if (rc != platform::kOk) return Status::Error("unable to read copy journal " + file_name_ + ": " + platform::ReasonText(rc));
  return Status();
}

bool CopyJournal::MarkOf(const std::string& dest, MsgNum& mark) const {
  const auto at = marks_.find(dest);
  if (at == marks_.end()) return false;
  mark = at->second;
  return true;
}

Status CopyJournal::Record(const std::string& dest, MsgNum mark) {
  std::map<std::string, MsgNum> marks = marks_;
  marks.emplace(dest, mark);
  std::string text;
  for (const auto& [name, its_mark] : marks) text += std::to_string(its_mark) + " " + name + "\n";
  // The whole journal takes the file's place at once, so a crash leaves
  // the old records or the new ones.
  std::string failed;  // a scratch name or the folder; the journal's own name tells the user more
  if (const platform::Result rc = ReplaceStateFile(file_name_, text, failed); rc != platform::kOk) {
    return Status::Error(CannotWrite(file_name_, rc));
  }
  marks_ = std::move(marks);
  return Status();
}

Status CopyJournal::Drop() {
  if (marks_.empty()) return Status();
  platform::Platform& os = platform::Os();
  platform::Result rc = os.DeleteFile(file_name_);
  if (rc == platform::kFileNotFound) rc = platform::kOk;
  if (rc == platform::kOk) rc = os.SyncDirectory(ParentDir(file_name_));
  if (rc != platform::kOk) return Status::Error(CannotWrite(file_name_, rc));
  marks_.clear();
  return Status();
}

void KnownCopies::LoadOnce(const CopyJournal& journal, const std::string& dest, MessageBase& base) {
  MsgNum mark = 0;
  if (!loaded_.insert(dest).second || !journal.MarkOf(dest, mark)) return;
  std::unordered_multiset<std::uint64_t>& digests = digests_[dest];
  // Bounded by the base's own numbering: each step moves to a higher number.
  for (base.SeekFirst(mark + 1); base.SeekFound(); base.SeekNext()) {
    if (!base.OpenMsg()) continue;
    CurrentMessage msg;
    ReadHeader(base, msg);
    digests.insert(MessageDigest(base, msg));
    base.CloseMsg();
  }
}

bool KnownCopies::Take(const std::string& dest, std::uint64_t digest) {
  const auto area = digests_.find(dest);
  if (area == digests_.end()) return false;
  const auto copy = area->second.find(digest);
  if (copy == area->second.end()) return false;
  area->second.erase(copy);
  return true;
}

bool KnownCopies::HoldsAny(const std::string& dest) const {
  const auto area = digests_.find(dest);
  return area != digests_.end() && !area->second.empty();
}

}  // namespace lw
