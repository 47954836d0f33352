// Order of every change to a JAM base, and why.
//
// The change marker (jam_layout.h) is in the fixed header on disk from the
// first step an open cannot check cheaply until the change is whole; an
// open that finds it, or finds the count, the last index record or the
// header it leads to out of line with the files, checks the whole base.
// Append (WriteMsg):
//   1. the body is appended to .jdt and synced;
//   2. the message header with its subfields is appended to .jhr and the
//      fixed header written with the change marker, both synced;
//   3. the index record is written to .jdx, synced: only now does the
//      message exist, and what it points at is already on stable storage;
//   4. the fixed header (ActiveMsgs, ModCounter) is written and synced.
//   A crash before 3 leaves unreferenced bytes at the ends of .jdt and
//   .jhr, which no reader sees; a crash before 4 leaves ActiveMsgs one
//   short, which the next open recounts.  When 1, 2 or 3 fails, what it
//   appended is cut off again; when 4 fails, the message is stored and the
//   fixed header is written again at close.
// Delete (DeleteMsg):
//   1. the fixed header, ActiveMsgs one lower, is written with the change
//      marker and synced;
//   2. the header's deleted attribute is set, synced;
//   3. the index record becomes (FFFFFFFF, FFFFFFFF), synced;
//   4. the fixed header is written without the marker and synced.
//   ActiveMsgs goes down first because a reader tolerates a count behind
//   the live messages (the next open recounts it) but one ahead of them
//   makes it look for a message that is not there.  A crash after 2
//   leaves a header other programs and we already read as deleted.  When
//   2 or 3 fails, what was written is put back, so a failed delete leaves
//   the message; the count is written again at close.
// Batch (BeginBatch ... CommitBatch):
//   WriteMsg appends the body to .jdt unsynced; its header, its index
//   record, ActiveMsgs and ModCounter stay in memory, where this object's
//   walk and reads find them.  DeleteMsg keeps the deleted attribute, the
//   emptied index record and the count in memory.
//   CommitBatch (and CloseMsgBase for a batch still open):
//   1. syncs .jdt when the batch appended bodies;
//   2. appends the new headers to .jhr in one write, then writes the fixed
//      header with the change marker and ActiveMsgs lowered by the
//      deletions only; syncs .jhr;
//   3. writes the deleted attributes and the pending index records, one
//      write per run of consecutive numbers (the appended records make one
//      run); syncs .jdx and .jhr in one call;
//   4. writes the fixed header, without the marker, and syncs .jhr.
//   Four syncs for a batch of appends, three for one of deletions, however
//   many messages it holds.  ActiveMsgs never counts more than the live
//   messages the index names: it drops before a deletion shows and rises
//   after the records of new messages are durable.
//   Why any part of the unsynced writes of a step that reaches the disk
//   (in order or not, the last torn at a sector) leaves a base that a
//   program which never repairs reads right, and loses no message durable
//   before the batch: the batch writes over no byte such a message needs,
//   except the attribute and the index record of a message it deletes.
//   - During 1 only bodies past every header's text are written.
//   - During 2 a header reaches .jhr only with its body already durable,
//     and no record names it yet; the fixed header's count and marker lie
//     in its first sector, so they arrive together or not at all, and the
//     count they carry is no more than before.
//   - During 3 every record points at a header and body already durable;
//     a deleted attribute or an emptied record alone each make the message
//     read as deleted, and the lowered count is durable before either.  A
//     record whose bytes were lost after the file grew reads as zeros,
//     pointing into the fixed header, and the open empties it.  Records
//     are 8 bytes at multiples of 8, so no sector boundary cuts one.
//   - During 4 only ActiveMsgs, ModCounter and the marker are stale; the
//     open finds the marker and recounts.
//   A step that fails ends the batch: the records and headers still in
//   memory are dropped and the count is taken again from the files, so the
//   object sees what the next open will see, and CommitBatch reports
//   failure.
// Creation (CreateMsgBase):
//   1. the missing .jdx, .jdt and .jlr are created empty, an existing one
//      is never emptied; their folder is synced;
//   2. a missing .jhr is written whole (its fixed header) under a
//      temporary name, synced, renamed into place; the folder is synced.
//   Other programs take a base to exist when its .jhr does, so none ever
//   sees a part of one: a crash leaves the old state or files without a
//   .jhr, which the next create completes.  (A .jhr left empty or with a
//   partial fixed header by another program is completed by the open.)
// Open (OpenMsgBase), when the marker or the cheap test asks for the
// whole check:
//   index records pointing past .jhr, into the fixed header, or at bytes
//   without the header signature belong to messages never finished: they
//   are marked deleted (synced) so that a later append cannot make them
//   point at someone else's header; so are records of headers whose
//   subfields or body run past the end of .jhr or .jdt, for the same
//   reason.
//   ActiveMsgs is recounted from the index and the headers' deleted
//   attribute and written back (synced) when it differs or the marker is
//   to be taken out.
// Nothing is trusted from the files: every offset and length is checked
// against the file sizes and the buffer before use, and every walk is
// bounded by the index records present.
#include "msgbase/jam/jam_msg_base.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "fidoutil/helpers.h"
#include "msgbase/text_lines.h"
#include "platform/platform.h"

namespace lw {

namespace {

using jam::kFixedHeaderSize;
using jam::kIndexRecordSize;
using jam::kLastReadSize;
using jam::kMsgHeaderSize;
using jam::kSubfieldHeaderSize;

constexpr std::uint32_t kMaxSubfieldArea = 16u << 20;  // beyond this a header is taken as damaged
constexpr std::int32_t kLastReadChunk = 256;           // records read at a time
constexpr std::int64_t kIndexChunk = 512;              // index records read at a time
constexpr std::int64_t kScanChunk = 65536;             // index records the open's check reads at a time
constexpr std::int64_t kMaxMsgNum = 0xFFFFFFFF;        // message numbers are 32-bit unsigned on disk
constexpr std::int64_t kMaxOffset = 0xFFFFFFFF;        // offsets on disk are 32 bits
constexpr std::uint32_t kMaxBody = 0x7FFFFFF0u;        // what a memory stream holds
constexpr jam::IndexRecord kEmptyRecord{jam::kNone, jam::kNone};

const AttrMapping kAttrMap[] = {
    {kAttrPrivate, 0x00000004},      {kAttrCrash, 0x00000100},        {kAttrReceived, 0x00000008},
    {kAttrSent, 0x00000010},         {kAttrFileAttached, 0x00002000}, {kAttrInTransit, 0x00000002},
    {kAttrOrphan, 0x00040000},       {kAttrKillSent, 0x00000020},     {kAttrLocal, 0x00000001},
    {kAttrHold, 0x00000080},         {kAttrFileRequest, 0x00001000},  {kAttrReturnReceiptRequest, 0x00010000},
    {kAttrAuditRequest, 0x00020000}, {0x00800000, 0x00800000},        {0x01000000, 0x01000000},
    {0x02000000, 0x02000000},
};

// Record `i` of a buffer of whole records of `kSize` bytes; the caller
// keeps `i` below the number of records in it.
template <int kSize>
jam::RecordIn<kSize> RecordAt(const std::vector<std::uint8_t>& buf, std::int64_t i) {
  return jam::RecordIn<kSize>(buf.data() + i * kSize, kSize);
}
template <int kSize>
jam::RecordOut<kSize> RecordAt(std::vector<std::uint8_t>& buf, std::int64_t i) {
  return jam::RecordOut<kSize>(buf.data() + i * kSize, kSize);
}

// How a text line is stored when a message is written.
struct LineRule {
  std::string_view prefix;
  int subfield;  // -1: dropped
};

constexpr LineRule kLineRules[] = {
    {"\001MSGID: ", jam::kMsgId},
    {"\001REPLY: ", jam::kReplyId},
    {"\001PID: ", jam::kPid},
    {"\001FLAGS: ", jam::kFlags},
    {"\001Via ", jam::kTraceVia},
    {"SEEN-BY: ", jam::kSeenBy2D},
    {"\001PATH: ", jam::kPath2D},
    {"\001INTL", -1},
    {"\001FMPT", -1},
    {"\001TOPT", -1},
};

// The rule of the first prefix `line` starts with, or nullptr.  Most lines
// are body text whose first character begins no prefix: one comparison per
// rule settles them.
const LineRule* RuleFor(std::string_view line) {
  if (line.empty()) return nullptr;
  for (const LineRule& rule : kLineRules) {
    if (rule.prefix[0] == line[0] && line.starts_with(rule.prefix)) return &rule;
  }
  return nullptr;
}

// Subfields that come back as kludge lines before the body, in the order
// they are stored, and the prefix each line gets.
const std::pair<std::uint16_t, const char*> kKludgesBeforeBody[] = {{jam::kMsgId, "\001MSGID: "},
                                                                    {jam::kReplyId, "\001REPLY: "},
                                                                    {jam::kPid, "\001PID: "},
                                                                    {jam::kFtsKludge, "\001"},
                                                                    {jam::kFlags, "\001FLAGS: "}};

// Subfields that come back as lines after the body, all of one kind
// before the next.
const std::pair<std::uint16_t, const char*> kTraceAfterBody[] = {
    {jam::kTraceVia, "\001Via "}, {jam::kSeenBy2D, "SEEN-BY: "}, {jam::kPath2D, "\001PATH: "}};

}  // namespace

std::uint32_t JamCrc(std::string_view text) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char c : text) crc = Crc32Update(crc, static_cast<std::uint8_t>(LowerChar(c)));
  return crc;
}

JamMsgBase::JamMsgBase() {
  for (jam::JamFile* file : {&jhr_, &jdx_, &jdt_, &jlr_}) file->ReportFailuresTo(FailureSink());
}

JamMsgBase::~JamMsgBase() {
  CloseMsg();
  CloseMsgBase();
}

void JamMsgBase::SetPath(const std::string& path) {
  path_ = path;
  if (path_.empty() || path_.back() != '.') path_ += '.';
}

std::string JamMsgBase::FileName(const char* extension) const { return path_ + platform::FixedNamePart(extension); }

bool JamMsgBase::CloseFiles() {
  bool ok = true;
  for (jam::JamFile* f : {&jhr_, &jdx_, &jdt_, &jlr_}) ok = f->Close() && ok;
  return ok;
}

bool JamMsgBase::MsgBaseExists(const std::string& path) {
  std::string saved = path_;
  SetPath(path);
  bool exists = FileExists(FileName("JHR")) && FileExists(FileName("JDX")) && FileExists(FileName("JDT")) &&
                FileExists(FileName("JLR"));
  path_ = saved;
  return exists;
}

// ---- Opening, creating, closing ----

std::int32_t JamMsgBase::OpenFiles() {
  struct Part {
    const char* ext;
    std::int32_t missing;
    std::int32_t unopenable;
    jam::JamFile* file;
    platform::Sharing sharing;
  } parts[] = {
      {"JHR", kNoHeaderFile, kCannotOpenHeader, &jhr_, platform::Sharing::kDenyWrite},
      {"JDX", kNoIndexFile, kCannotOpenIndex, &jdx_, platform::Sharing::kDenyWrite},
      {"JDT", kNoTextFile, kCannotOpenText, &jdt_, platform::Sharing::kDenyWrite},
      {"JLR", kNoLastReadFile, kCannotOpenLastRead, &jlr_, platform::Sharing::kExclusive},
  };
  for (const Part& p : parts) {
    if (!FileExists(FileName(p.ext))) return p.missing;
  }
  for (const Part& p : parts) {
    if (!p.file->Open(FileName(p.ext), p.sharing)) return p.unopenable;
  }
  return 0;
}

// A creation stopped before its fixed header was whole leaves a header file
// shorter than one (or still zeros) beside an empty index and body.
bool JamMsgBase::IsUnfinishedCreation(std::int64_t jhr_size) {
  std::int64_t jdx_size = 0;
  std::int64_t jdt_size = 0;
  if (jhr_size > kFixedHeaderSize || !jdx_.Size(jdx_size) || !jdt_.Size(jdt_size) || jdx_size != 0 || jdt_size != 0) {
    return false;
  }
  std::uint8_t start[jam::kSignatureSize] = {};
  const std::size_t have = static_cast<std::size_t>(std::min<std::int64_t>(jhr_size, jam::kSignatureSize));
  if (!jhr_.ReadAt(0, start, have)) return false;
  const std::uint8_t zeros[jam::kSignatureSize] = {};
  return std::memcmp(start, jam::kSignature, have) == 0 || std::memcmp(start, zeros, have) == 0;
}

bool JamMsgBase::WriteFixedHeader() {
  std::array<std::uint8_t, kFixedHeaderSize> raw;
  jam::Encode(fixed_, raw);
  fixed_dirty_ = !(jhr_.WriteAt(0, raw.data(), raw.size()) && jhr_.Sync());
  return !fixed_dirty_;
}

bool JamMsgBase::MarkChange(const jam::FixedHeader& on_disk) {
  std::array<std::uint8_t, kFixedHeaderSize> raw;
  jam::Encode(jam::WithChangeMarker(on_disk, true), raw);
  // Whatever the write did, the header on disk is to be written again
  // without the marker.
  fixed_dirty_ = true;
  return jhr_.WriteAt(0, raw.data(), raw.size());
}

std::int32_t JamMsgBase::ReadOrCompleteFixedHeader() {
  std::int64_t jhr_size = 0;
  if (!jhr_.Size(jhr_size)) return kCannotOpenHeader;
  if (jhr_size >= kFixedHeaderSize) {
    std::array<std::uint8_t, kFixedHeaderSize> raw;
    if (!jhr_.ReadAt(0, raw.data(), raw.size())) return kCannotOpenHeader;
    jam::Decode(raw, fixed_);
    // The marker lives on disk only: every fixed header written from
    // memory is one without it.
    marker_found_ = jam::HasChangeMarker(fixed_);
    fixed_ = jam::WithChangeMarker(fixed_, false);
    if (std::memcmp(fixed_.signature, jam::kSignature, jam::kSignatureSize) == 0) {
      // Numbers from BaseMsgNum on must be positive.
      return fixed_.base_msg_num >= 1 && fixed_.base_msg_num <= kMaxMsgNum ? 0 : kCannotOpenHeader;
    }
  }
  if (!IsUnfinishedCreation(jhr_size)) return kCannotOpenHeader;
  fixed_ = jam::FixedHeader{};
  MsgDateTime now;
  GetNow(now);
  fixed_.date_created = static_cast<std::uint32_t>(DateTimeToUnix(now));
  return WriteFixedHeader() ? 0 : kCannotCreateHeader;
}

namespace {

// Whether the subfields and the body of the header at `hdr_offset` lie
// inside .jhr and .jdt.
bool HeaderFitsFiles(std::uint32_t hdr_offset, const jam::MsgHeader& header, std::int64_t jhr_size,
                     std::int64_t jdt_size) {
  return std::int64_t{hdr_offset} + kMsgHeaderSize + header.subfield_len <= jhr_size &&
         std::int64_t{header.offset} + header.txt_len <= jdt_size;
}

}  // namespace

// The base looks sound when it carries no change marker, every index
// record is empty or points between the fixed header and the end of .jhr
// (a record pointing past it would come to name the header a later append
// puts there), ActiveMsgs is no more than the records that are not empty,
// and the last record leads to nothing or to a header whose subfields and
// body lie inside .jhr and .jdt: what an append builds on.  The index is
// read in chunks of kScanChunk records, so a base of up to that many
// messages costs the same few reads, whatever it holds; no header but the
// last is read.
std::int32_t JamMsgBase::CheckEnds(bool& sound) {
  sound = false;
  std::int64_t jhr_size = 0;
  std::int64_t jdt_size = 0;
  if (!jhr_.Size(jhr_size)) return kCannotOpenHeader;
  if (!jdt_.Size(jdt_size)) return kCannotOpenText;
  const std::int64_t records = IndexRecords();
  if (records < 0) return kCannotOpenIndex;
  if (marker_found_) return 0;
  std::vector<std::uint8_t> chunk;
  std::int64_t named = 0;  // records that are not empty
  jam::IndexRecord rec{jam::kNone, jam::kNone};
  for (std::int64_t first = 0; first < records; first += kScanChunk) {
    const std::int64_t n = std::min(records - first, kScanChunk);
    chunk.resize(static_cast<std::size_t>(n * kIndexRecordSize));
    if (!jdx_.ReadAt(first * kIndexRecordSize, chunk.data(), chunk.size())) return kCannotOpenIndex;
    for (std::int64_t i = 0; i < n; ++i) {
      jam::Decode(RecordAt<kIndexRecordSize>(std::as_const(chunk), i), rec);
      if (rec.hdr_offset == jam::kNone) continue;
      if (rec.hdr_offset < static_cast<std::uint32_t>(kFixedHeaderSize) ||
          std::int64_t{rec.hdr_offset} + kMsgHeaderSize > jhr_size) {
        return 0;
      }
      ++named;
    }
  }
  if (fixed_.active_msgs > named) return 0;
  if (rec.hdr_offset == jam::kNone) {
    sound = true;
    return 0;
  }
  std::uint32_t attribute = 0;
  jam::MsgHeader header;
  switch (ProbeHeader(rec.hdr_offset, jhr_size, attribute, &header)) {
    case HeaderState::kUnreadable: return kCannotOpenHeader;
    case HeaderState::kMissing: return 0;
    case HeaderState::kLive:
    case HeaderState::kDeleted: break;
  }
  sound = HeaderFitsFiles(rec.hdr_offset, header, jhr_size, jdt_size);
  return 0;
}

// Marks the records of messages never finished deleted and recounts
// ActiveMsgs; each is written back, synced, only when it changed (the
// fixed header also when `rewrite_fixed` asks, to take a change marker
// out).  A header whose subfields or body run past the end of their file
// (cut short by a crash or another program) is a message never finished
// too: it could never be read whole, and what a later append puts there
// would show up as part of it.  `found` tells what was mended.
std::int32_t JamMsgBase::RepairIndexAndCount(bool rewrite_fixed, RepairFindings* found) {
  RepairFindings local;
  RepairFindings& f = found != nullptr ? *found : local;
  std::int64_t jhr_size = 0;
  std::int64_t jdt_size = 0;
  if (!jhr_.Size(jhr_size)) return kCannotOpenHeader;
  if (!jdt_.Size(jdt_size)) return kCannotOpenText;
  const std::int64_t records = IndexRecords();
  if (records < 0) return kCannotOpenIndex;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kIndexChunk * kIndexRecordSize));
  std::uint32_t active = 0;
  bool index_repaired = false;
  for (std::int64_t first = 0; first < records; first += kIndexChunk) {
    const std::int64_t n = std::min(records - first, kIndexChunk);
    const std::int64_t pos = first * kIndexRecordSize;
    const std::size_t bytes = static_cast<std::size_t>(n * kIndexRecordSize);
    if (!jdx_.ReadAt(pos, chunk.data(), bytes)) return kCannotOpenIndex;
    bool chunk_changed = false;
    for (std::int64_t i = 0; i < n; ++i) {
      jam::IndexRecord rec;
      jam::Decode(RecordAt<kIndexRecordSize>(std::as_const(chunk), i), rec);
      if (rec.hdr_offset == jam::kNone) continue;
      std::uint32_t attribute = 0;
      jam::MsgHeader header;
      const HeaderState state = ProbeHeader(rec.hdr_offset, jhr_size, attribute, &header);
      if (state == HeaderState::kUnreadable) return kCannotOpenHeader;
      if (state == HeaderState::kMissing || !HeaderFitsFiles(rec.hdr_offset, header, jhr_size, jdt_size)) {
        jam::Encode(kEmptyRecord, RecordAt<kIndexRecordSize>(chunk, i));
        chunk_changed = true;
        ++f.records_emptied;
        continue;
      }
      if (state == HeaderState::kLive) ++active;
    }
    if (chunk_changed && !jdx_.WriteAt(pos, chunk.data(), bytes)) return kCannotOpenIndex;
    index_repaired = index_repaired || chunk_changed;
  }
  if (index_repaired && !jdx_.Sync()) return kCannotOpenIndex;
  f.count_was = fixed_.active_msgs;
  f.count_now = active;
  if (active == fixed_.active_msgs && !rewrite_fixed) return 0;
  fixed_.active_msgs = active;
  f.header_written = true;
  return WriteFixedHeader() ? 0 : kCannotOpenHeader;
}

std::int32_t JamMsgBase::CheckOnOpen() {
  bool sound = false;
  if (!TakeCheckWhole()) {
    const std::int32_t fail = CheckEnds(sound);
    if (fail != 0) return fail;
  }
  if (sound) return 0;
  repaired_ = true;
  return RepairIndexAndCount(marker_found_, &findings_);
}

std::vector<std::string> JamMsgBase::RepairsOnOpen() const {
  std::vector<std::string> said;
  if (!repaired_) return said;
  if (marker_found_) said.emplace_back("a change had stopped part way");
  if (findings_.records_emptied != 0) {
    said.push_back(std::to_string(findings_.records_emptied) + " index record(s) led to no whole message: emptied");
  }
  if (findings_.count_was != findings_.count_now) {
    said.push_back("ActiveMsgs was " + std::to_string(findings_.count_was) + ", now " +
                   std::to_string(findings_.count_now));
  }
  return said;
}

bool JamMsgBase::OpenMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  fixed_dirty_ = false;
  marker_found_ = false;
  repaired_ = false;
  findings_ = RepairFindings{};
  ForgetPending();
  std::int32_t fail = OpenFiles();
  if (fail == 0) fail = ReadOrCompleteFixedHeader();
  if (fail == 0) fail = CheckOnOpen();
  if (fail != 0) {
    CloseFiles();
    path_.clear();
    Fail(fail);
    return false;
  }
  IsOpen = true;
  return true;
}

bool JamMsgBase::CreateMsgBase(const std::string& path) {
  if (IsOpen) CloseMsgBase();
  SetPath(path);
  const std::string dir = ParentDir(path_);
  std::string cause;
  if (!ForceDirectories(dir, &cause)) return Fail(kCannotCreateHeader, cause);
  const auto failed = [this](std::int32_t code, const std::string& name, const platform::Result& rc) {
    return Fail(code, name + ": " + platform::ReasonText(rc));
  };
  struct Part {
    const char* ext;
    std::int32_t status;
  } parts[] = {
      {"JDX", kCannotCreateIndex},
      {"JDT", kCannotCreateText},
      {"JLR", kCannotOpenLastRead},
  };
  bool created = false;
  for (const Part& p : parts) {
    if (FileExists(FileName(p.ext))) continue;
    if (const platform::Result rc = jam::JamFile::CreateEmpty(FileName(p.ext)); rc != platform::kOk) {
      return failed(p.status, FileName(p.ext), rc);
    }
    created = true;
  }
  platform::Platform& os = platform::Os();
  if (const platform::Result rc = created ? os.SyncDirectory(dir) : platform::Result(); rc != platform::kOk) {
    return failed(kCannotCreateHeader, dir, rc);
  }
  if (!FileExists(FileName("JHR"))) {
    fixed_ = jam::FixedHeader{};
    MsgDateTime now;
    GetNow(now);
    fixed_.date_created = static_cast<std::uint32_t>(DateTimeToUnix(now));
    std::array<std::uint8_t, kFixedHeaderSize> raw;
    jam::Encode(fixed_, raw);
    const std::string temp = FileName("JHR") + platform::FixedNamePart(".NEW");
    // The header file comes last, whole, under its own name at once: other
    // programs take a base to exist when its header file does.
    platform::Result rc = jam::JamFile::CreateWhole(temp, raw);
    std::string failed_name = temp;
    if (rc == platform::kOk) {
      rc = os.RenameNoReplace(temp, FileName("JHR"));
      failed_name = FileName("JHR");
    }
    if (rc != platform::kOk) {
      DeleteFileOk(temp);
      return failed(kCannotCreateHeader, failed_name, rc);
    }
    if (const platform::Result synced = os.SyncDirectory(dir); synced != platform::kOk) {
      return failed(kCannotCreateHeader, dir, synced);
    }
  }
  return OpenMsgBase(path);
}

bool JamMsgBase::CloseMsgBase() {
  if (!IsOpen) return true;
  bool ok = CommitBatch();
  IsOpen = false;
  // Normally written at each change; here only after a failed attempt.
  ok = (!fixed_dirty_ || WriteFixedHeader()) && ok;
  ok = CloseFiles() && ok;
  fixed_dirty_ = false;
  return ok || Fail(kCannotWriteMessage);
}

// ---- Index and walk ----

// Index records present, on disk or pending in a batch, no more than
// message numbers can name; -1 when the size cannot be had.  A torn record
// at the end of .jdx (a write cut short) is not counted.
std::int64_t JamMsgBase::IndexRecords() {
  std::int64_t size = 0;
  if (!jdx_.Size(size)) return -1;
  std::int64_t records = size / kIndexRecordSize;
  if (!pending_index_.empty()) records = std::max(records, pending_index_.rbegin()->first + 1);
  return std::min<std::int64_t>(records, kMaxMsgNum - fixed_.base_msg_num + 1);
}

bool JamMsgBase::ReadIndexRecord(std::int64_t msg_num, jam::IndexRecord& rec) {
  const std::int64_t at = msg_num - fixed_.base_msg_num;
  const std::int64_t records = IndexRecords();
  if (at < 0 || at >= records) return false;
  if (auto pending = pending_index_.find(at); pending != pending_index_.end()) {
    rec = pending->second;
    return true;
  }
  std::array<std::uint8_t, kIndexRecordSize> raw;
  if (!jdx_.ReadAt(at * kIndexRecordSize, raw.data(), raw.size())) return false;
  jam::Decode(raw, rec);
  return true;
}

// Writes index record number `record` (0 for BaseMsgNum) and syncs .jdx.
bool JamMsgBase::PutIndexRecord(std::int64_t record, const jam::IndexRecord& rec) {
  std::array<std::uint8_t, kIndexRecordSize> raw;
  jam::Encode(rec, raw);
  return jdx_.WriteAt(record * kIndexRecordSize, raw.data(), raw.size()) && jdx_.Sync();
}

// Writes the attribute of the header at `hdr_offset` and syncs .jhr (a
// batch writes its attributes at the commit instead).
bool JamMsgBase::PutAttribute(std::uint32_t hdr_offset, std::uint32_t attribute) {
  std::array<std::uint8_t, 4> raw;
  PutLe32(raw.data(), attribute);
  const std::int64_t at = static_cast<std::int64_t>(hdr_offset) + jam::header_at::kAttribute;
  return jhr_.WriteAt(at, raw.data(), raw.size()) && jhr_.Sync();
}

JamMsgBase::HeaderState JamMsgBase::ProbeHeader(std::uint32_t hdr_offset, std::int64_t jhr_size,
                                                std::uint32_t& attribute, jam::MsgHeader* header) {
  if (hdr_offset < static_cast<std::uint32_t>(kFixedHeaderSize) ||
      static_cast<std::int64_t>(hdr_offset) + kMsgHeaderSize > jhr_size) {
    return HeaderState::kMissing;
  }
  std::array<std::uint8_t, kMsgHeaderSize> raw;
  if (!ReadHeaderFile(hdr_offset, raw.data(), raw.size())) return HeaderState::kUnreadable;
  if (std::memcmp(raw.data() + jam::header_at::kSignature, jam::kSignature, jam::kSignatureSize) != 0) {
    return HeaderState::kMissing;
  }
  attribute = jam::Get32<jam::header_at::kAttribute>(jam::RecordIn<kMsgHeaderSize>(raw));
  if (header != nullptr) jam::Decode(raw, *header);
  return (attribute & jam::kAttrDeleted) != 0 ? HeaderState::kDeleted : HeaderState::kLive;
}

MsgNum JamMsgBase::GetHighMsgNum() {
  if (!IsOpen) return 0;
  const std::int64_t records = std::max<std::int64_t>(IndexRecords(), 0);
  return fixed_.base_msg_num + records - 1;
}

bool JamMsgBase::MsgExists(MsgNum msg_num) {
  if (!IsOpen) return false;
  const std::int64_t record = static_cast<std::int64_t>(msg_num) - fixed_.base_msg_num;
  if (record < 0 || record >= IndexRecords()) return false;
  jam::IndexRecord rec;
  // A record that cannot be read is said to exist, so that OpenMsg reports
  // the message instead of a walk passing over it unjudged.
  if (!ReadIndexRecord(msg_num, rec)) return true;
  if (rec.hdr_offset == jam::kNone) return false;
  std::int64_t jhr_size = 0;
  if (!HeaderFileSize(jhr_size)) return true;
  std::uint32_t attribute = 0;
  const HeaderState state = ProbeHeader(rec.hdr_offset, jhr_size, attribute);
  return state == HeaderState::kLive || state == HeaderState::kUnreadable;
}

// The first live message from number `from` on in direction `step`, within
// the index records present; 0 when there is none.
MsgNum JamMsgBase::FindLive(MsgNum from, int step) {
  if (!IsOpen) return 0;
  const std::int64_t low = fixed_.base_msg_num;
  const std::int64_t high = GetHighMsgNum();
  for (std::int64_t n = std::max(from, low); n >= low && n <= high; n += step) {
    if (MsgExists(n)) return n;
  }
  return 0;
}

void JamMsgBase::SeekFirst(MsgNum msg_num) { CurMsgNum = FindLive(msg_num, 1); }

void JamMsgBase::SeekNext() { CurMsgNum = FindLive(CurMsgNum + 1, 1); }

void JamMsgBase::SeekPrior() {
  const MsgNum from = CurMsgNum - 1;
  CurMsgNum = from < fixed_.base_msg_num ? 0 : FindLive(from, -1);
}

// ---- One message ----

// One subfield: its id and where its data lies in the subfield area.
struct JamMsgBase::Subfield {
  std::uint16_t id;
  std::size_t at;
  std::size_t len;
};

// A message read whole and checked, not yet the current one.
struct JamMsgBase::LoadedMessage {
  jam::MsgHeader header;
  std::uint32_t header_ofs = 0;
  std::string subfields;
  std::vector<Subfield> fields;
  std::string body;
};

namespace {

// Splits a subfield area.  The subfields must fill it exactly: a length
// running past it, or bytes left over, is a damaged header.
template <typename Subfield>
bool SplitSubfields(const std::string& area, std::vector<Subfield>& fields) {
  std::size_t pos = 0;
  while (pos < area.size()) {
    if (area.size() - pos < kSubfieldHeaderSize) return false;
    const jam::RecordIn<kSubfieldHeaderSize> head(reinterpret_cast<const std::uint8_t*>(area.data() + pos),
                                                  kSubfieldHeaderSize);
    const std::uint32_t len = jam::Get32<jam::subfield_at::kDatLen>(head);
    if (len > area.size() - pos - kSubfieldHeaderSize) return false;
    fields.push_back({jam::Get16<jam::subfield_at::kLoId>(head), pos + kSubfieldHeaderSize, len});
    pos += kSubfieldHeaderSize + len;
  }
  return true;
}

}  // namespace

// Reads the current message into `m`, checking every offset and length
// against the files; 0, or the status that tells why not.
std::int32_t JamMsgBase::LoadMessage(bool with_body, LoadedMessage& m) {
  std::int64_t jdt_size = 0;
  std::int32_t fail = ReadIndexedHeader(m, jdt_size);
  if (fail == 0) fail = ReadSubfieldArea(m);
  if (fail == 0 && m.header.offset > jdt_size) fail = kBadTextOffset;
  if (fail == 0 && with_body) fail = ReadBody(m, jdt_size);
  return fail;
}

// The current message's index record, and the fixed part of the header it
// points at, into `m`; `jdt_size` is the body file's size.  0, or the
// status that tells why not.
std::int32_t JamMsgBase::ReadIndexedHeader(LoadedMessage& m, std::int64_t& jdt_size) {
  jam::IndexRecord rec;
  if (!ReadIndexRecord(CurMsgNum, rec) || rec.hdr_offset == jam::kNone) return kCannotReadMessage;
  std::int64_t jhr_size = 0;
  if (!HeaderFileSize(jhr_size) || !jdt_.Size(jdt_size)) return kCannotReadMessage;
  const std::int64_t hdr_ofs = rec.hdr_offset;
  if (hdr_ofs < kFixedHeaderSize || hdr_ofs + kMsgHeaderSize > jhr_size) return kBadHeaderOffset;
  std::array<std::uint8_t, kMsgHeaderSize> raw;
  if (!ReadHeaderFile(hdr_ofs, raw.data(), raw.size())) return kCannotReadMessage;
  jam::Decode(raw, m.header);
  const jam::MsgHeader& h = m.header;
  if (std::memcmp(h.signature, jam::kSignature, jam::kSignatureSize) != 0 || h.subfield_len > kMaxSubfieldArea ||
      hdr_ofs + kMsgHeaderSize + h.subfield_len > jhr_size) {
    return kCannotReadMessage;
  }
  m.header_ofs = rec.hdr_offset;
  return 0;
}

// The subfields that follow the header read in `m`, split and checked.
std::int32_t JamMsgBase::ReadSubfieldArea(LoadedMessage& m) {
  m.subfields.assign(m.header.subfield_len, '\0');
  const std::int64_t at = static_cast<std::int64_t>(m.header_ofs) + kMsgHeaderSize;
  if (!ReadHeaderFile(at, m.subfields.data(), m.subfields.size()) || !SplitSubfields(m.subfields, m.fields)) {
    return kCannotReadMessage;
  }
  return 0;
}

// The body of the header read in `m`, when it lies inside the body file of
// `jdt_size` bytes.
std::int32_t JamMsgBase::ReadBody(LoadedMessage& m, std::int64_t jdt_size) {
  const std::int64_t text_end = static_cast<std::int64_t>(m.header.offset) + m.header.txt_len;
  if (text_end > jdt_size || m.header.txt_len > kMaxBody) return kBadTextOffset;
  m.body.assign(m.header.txt_len, '\0');
  return jdt_.ReadAt(m.header.offset, m.body.data(), m.body.size()) ? 0 : kCannotReadMessage;
}

std::string_view JamMsgBase::FieldData(const Subfield& f) const {
  return std::string_view(subfields_).substr(f.at, f.len);
}

// Makes the loaded message the current one.  JAM keeps kludges and trace
// lines in subfields, not in the body, so the text handed out is built:
// kludge lines made from subfields, then the body, then (with the body)
// the trace lines made from subfields; then the address kludges of the
// addresses read from the subfields.
void JamMsgBase::TakeMessage(LoadedMessage& m, bool with_body) {
  TakeHeaderFields(m);
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  WriteKludgeLines(m.fields);
  if (with_body) {
    Text->Write(m.body.data(), static_cast<std::int32_t>(m.body.size()));
    WriteTraceLines(m.fields);
  }
  PutAddressKludges();
  Text->Seek(0);
}

// The header, names, subject and addresses of the loaded message.  A file
// attach or request keeps its file names in the subject.
void JamMsgBase::TakeHeaderFields(LoadedMessage& m) {
  header_ = m.header;
  header_ofs_ = m.header_ofs;
  subfields_ = std::move(m.subfields);
  ClearAddress(orig_);
  ClearAddress(dest_);
  from_.clear();
  to_.clear();
  subject_.clear();
  for (const Subfield& f : m.fields) {
    switch (f.id) {
      case jam::kOAddress: ParseFidoAddress(std::string(FieldData(f)), orig_); break;
      case jam::kDAddress: ParseFidoAddress(std::string(FieldData(f)), dest_); break;
      case jam::kSenderName: from_ = FieldData(f); break;
      case jam::kReceiverName: to_ = FieldData(f); break;
      case jam::kSubject: subject_ = FieldData(f); break;
      case jam::kEnclosedFile:
        if (IsAttr(kAttrFileAttached)) subject_ = FieldData(f);
        break;
      case jam::kEnclosedFreq:
        if (IsAttr(kAttrFileRequest)) subject_ = FieldData(f);
        break;
      default: break;
    }
  }
}

namespace {

void WriteTextLine(Stream& text, const char* prefix, std::string_view line) {
  text.Write(prefix, static_cast<std::int32_t>(std::strlen(prefix)));
  text.Write(line.data(), static_cast<std::int32_t>(line.size()));
  text.Write(&kLineTerminator, 1);
}

}  // namespace

// The kludge subfields as lines, in the order they are stored.
void JamMsgBase::WriteKludgeLines(const std::vector<Subfield>& fields) {
  for (const Subfield& f : fields) {
    for (const auto& [id, prefix] : kKludgesBeforeBody) {
      if (f.id == id) WriteTextLine(*Text, prefix, FieldData(f));
    }
  }
}

// The Via, SEEN-BY and PATH subfields as lines, each kind together.
void JamMsgBase::WriteTraceLines(const std::vector<Subfield>& fields) {
  for (const auto& [id, prefix] : kTraceAfterBody) {
    for (const Subfield& f : fields) {
      if (f.id == id) WriteTextLine(*Text, prefix, FieldData(f));
    }
  }
}

// A netmail message's addresses, which its subfields keep and WriteMsg
// took out of the text, come back as the address kludges (INTL, FMPT,
// TOPT) that netmail readers look for, after the kludge lines that open
// the text.  Nothing else of the text is rebuilt: the MSGID is the one
// stored, and a message stored without one has none.
void JamMsgBase::PutAddressKludges() {
  if (!TestFlag(kFlagNetmail) || (orig_.zone == 0 && dest_.zone == 0)) return;
  InsertLeadingKludges(AddressKludgeLines(orig_, dest_));
}

// Reads the current message (with its body or without) and makes it the
// current one, its text built from subfields and body (TakeMessage); the
// message becomes current only when all of it was read whole, else Status
// tells why and nothing changed.
bool JamMsgBase::ReadMessage(bool with_body) {
  CloseMsg();
  LoadedMessage m;
  const std::int32_t fail = IsOpen ? LoadMessage(with_body, m) : kCannotReadMessage;
  if (fail != 0) {
    Fail(fail);
    return false;
  }
  TakeMessage(m, with_body);
  return true;
}

bool JamMsgBase::OpenMsg() { return ReadMessage(true); }
bool JamMsgBase::OpenMsgHeader() { return ReadMessage(false); }

bool JamMsgBase::CloseMsg() {
  if (!text_) return false;
  Text = nullptr;
  text_.reset();
  return true;
}

bool JamMsgBase::CreateMsg() {
  if (!IsOpen) return Fail(kCannotWriteMessage, "the base is not open");
  CloseMsg();
  const std::int64_t records = IndexRecords();
  if (records < 0) return Fail(kCannotWriteMessage);
  if (fixed_.base_msg_num + records > kMaxMsgNum) return Fail(kCannotWriteMessage, "the base holds its last number");
  CurMsgNum = fixed_.base_msg_num + records;
  header_ = jam::MsgHeader{};
  subfields_.clear();
  ClearAddress(orig_);
  ClearAddress(dest_);
  from_.clear();
  to_.clear();
  subject_.clear();
  header_.message_number = static_cast<std::uint32_t>(CurMsgNum);
  header_ofs_ = 0;
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  SetDatesToNow();
  return true;
}

// ---- Writing ----

void JamMsgBase::AddSubfield(std::uint16_t id, std::string_view data) {
  std::array<std::uint8_t, kSubfieldHeaderSize> head;
  const jam::RecordOut<kSubfieldHeaderSize> out(head);
  jam::Put16<jam::subfield_at::kLoId>(out, id);
  jam::Put16<jam::subfield_at::kHiId>(out, 0);
  jam::Put32<jam::subfield_at::kDatLen>(out, static_cast<std::uint32_t>(data.size()));
  subfields_.append(reinterpret_cast<const char*>(head.data()), head.size());
  subfields_.append(data);
}

// Names, addresses and subject (and the file names of an attach or a
// request) as subfields.  A message without a destination address is
// addressed to its origin.
void JamMsgBase::AddHeaderSubfields() {
  AddSubfield(jam::kSenderName, from_);
  AddSubfield(jam::kOAddress, FormatAddress4D(orig_));
  AddSubfield(jam::kReceiverName, to_);
  const FidoAddress none{};
  AddSubfield(jam::kDAddress, FormatAddress4D(dest_ == none ? orig_ : dest_));
  if (!subject_.empty()) AddSubfield(jam::kSubject, subject_);
  if (IsAttr(kAttrFileAttached)) AddSubfield(jam::kEnclosedFile, subject_);
  if (IsAttr(kAttrFileRequest)) AddSubfield(jam::kEnclosedFreq, subject_);
}

namespace {

// Whether the line `line` bounds comes back from a subfield as it stood:
// only a line ended by a lone CR does (it is given back with one).
bool EndsInLoneCr(std::string_view text, const LineBounds& line) {
  return line.next == line.end + 1 && text[line.end] == kLineTerminator;
}

// The place of a trace line among those OpenMsg puts after the body (0
// Via, 1 SEEN-BY, 2 PATH); -1 for any other line.
int TraceRank(std::string_view line) {
  for (std::size_t i = 0; i < std::size(kTraceAfterBody); ++i) {
    if (line.starts_with(kTraceAfterBody[i].second)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

// Splits the text so that OpenMsg gives it back byte for byte (but for the
// address kludges, which the address subfields stand for): the kludge
// lines that open it become subfields (the address kludges are dropped),
// and so do the Via, SEEN-BY and PATH lines that end it in the order
// OpenMsg puts them back in; everything between is the body, as it
// stands.  A kludge or trace line that would not come back in its place
// (ended otherwise than by a lone CR, a trace line among the opening
// kludges, trace lines out of that order, or any line followed by body
// text) stays in the body.
void JamMsgBase::SortTextIntoSubfields(std::string_view text, std::string& body) {
  std::size_t body_start = 0;
  while (body_start < text.size() && text[body_start] == kKludgeChar) {
    const LineBounds bounds = FindLineEnd(text, body_start);
    const std::string_view line = text.substr(body_start, bounds.end - body_start);
    if (!EndsInLoneCr(text, bounds) || TraceRank(line) >= 0) break;
    SortIntoSubfield(line);
    body_start = bounds.next;
  }
  std::vector<std::size_t> starts;  // of the lines after the opening kludges
  for (std::size_t pos = body_start; pos < text.size(); pos = FindLineEnd(text, pos).next) starts.push_back(pos);
  std::size_t trace = starts.size();  // the first trace line that ends the text
  int rank_after = static_cast<int>(std::size(kTraceAfterBody)) - 1;
  for (; trace > 0; --trace) {
    const LineBounds bounds = FindLineEnd(text, starts[trace - 1]);
    const int rank = TraceRank(text.substr(starts[trace - 1], bounds.end - starts[trace - 1]));
    if (rank < 0 || rank > rank_after || !EndsInLoneCr(text, bounds)) break;
    rank_after = rank;
  }
  const std::size_t body_end = trace < starts.size() ? starts[trace] : text.size();
  body.assign(text.substr(body_start, body_end - body_start));
  for (std::size_t i = trace; i < starts.size(); ++i) {
    SortIntoSubfield(text.substr(starts[i], FindLineEnd(text, starts[i]).end - starts[i]));
  }
}

// One kludge or trace line, without its terminator, to its subfield (the
// address kludges are dropped; a kludge of no known prefix goes to an FTS
// kludge subfield).
void JamMsgBase::SortIntoSubfield(std::string_view line) {
  if (const LineRule* rule = RuleFor(line)) {
    if (rule->subfield < 0) return;
    const std::string_view value = line.substr(rule->prefix.size());
    AddSubfield(static_cast<std::uint16_t>(rule->subfield), value);
    if (rule->subfield == jam::kMsgId) header_.msgid_crc = JamCrc(value);
    if (rule->subfield == jam::kReplyId) header_.reply_crc = JamCrc(value);
    return;
  }
  AddSubfield(jam::kFtsKludge, line.substr(1));
}

// Stores the current message in the order at the top of this file.  False
// when any step failed; what a failed step appended is cut off again where
// it can be, and nothing points at it either way.
bool JamMsgBase::WriteMsg() {
  if (!IsOpen || Text == nullptr) return Fail(kCannotWriteMessage, "no message is open");
  subfields_.clear();
  header_.msgid_crc = jam::kNone;
  header_.reply_crc = jam::kNone;
  GetAddrs(orig_, dest_);
  AddHeaderSubfields();
  std::string storage;
  const std::string_view text = AllBytes(*Text, storage);
  if (Text->Status != kStreamOk) return Fail(kCannotWriteMessage, "the text cannot be read");
  std::string body;
  SortTextIntoSubfields(text, body);
  SetAttr(0x01000000, TestFlag(kFlagEchomail));
  SetAttr(0x02000000, TestFlag(kFlagNetmail));
  SetAttr(0x00800000, TestFlag(kFlagLocal));
  if (subfields_.size() > kMaxSubfieldArea || body.size() > kMaxBody) {
    return Fail(kCannotWriteMessage, "the message is larger than a JAM base holds");
  }
  return AppendMessage(body) || Fail(kCannotWriteMessage);
}

// Numbers the message after the last index record and appends it.  In a
// batch the index record and the fixed header wait in memory.
bool JamMsgBase::AppendMessage(const std::string& body) {
  std::int64_t jhr_size = 0;
  std::int64_t jdt_size = 0;
  const std::int64_t records = IndexRecords();
  if (records < 0 || !HeaderFileSize(jhr_size) || !jdt_.Size(jdt_size)) return false;
  const std::int64_t header_len = kMsgHeaderSize + static_cast<std::int64_t>(subfields_.size());
  if (jhr_size < kFixedHeaderSize || fixed_.base_msg_num + records > kMaxMsgNum || jhr_size + header_len > kMaxOffset ||
      jdt_size + static_cast<std::int64_t>(body.size()) > kMaxOffset) {
    return false;
  }
  CurMsgNum = fixed_.base_msg_num + records;
  header_.message_number = static_cast<std::uint32_t>(CurMsgNum);
  header_.subfield_len = static_cast<std::uint32_t>(subfields_.size());
  header_.offset = static_cast<std::uint32_t>(jdt_size);
  header_.txt_len = static_cast<std::uint32_t>(body.size());
  if (!AppendBodyAndHeader(jdt_size, jhr_size, body)) return false;
  header_ofs_ = static_cast<std::uint32_t>(jhr_size);
  const jam::IndexRecord rec{JamCrc(to_), header_ofs_};
  if (in_batch_) {
    pending_index_[records] = rec;
  } else if (!PutIndexRecord(records, rec)) {
    // The header and body are synced, so a record that reached the disk
    // anyway points at a whole message; the next open counts it.
    jdx_.TruncateTo(records * kIndexRecordSize);
    return false;
  }
  fixed_.active_msgs += 1;
  fixed_.mod_counter += 1;
  if (in_batch_) {
    fixed_dirty_ = true;
    ++batch_appends_;
  }
  return in_batch_ || WriteFixedHeader();
}

// Appends the body to .jdt and the header with its subfields, in one
// write, to .jhr; each synced.  In a batch the body is written unsynced
// and the header kept in memory until the commit has synced the bodies.
// What a failed step appended is cut off again.
bool JamMsgBase::AppendBodyAndHeader(std::int64_t jdt_size, std::int64_t jhr_size, const std::string& body) {
  if (in_batch_) batch_data_unsynced_ = true;
  if (!jdt_.WriteAt(jdt_size, body.data(), body.size()) || !(in_batch_ || jdt_.Sync())) {
    jdt_.TruncateTo(jdt_size);
    return false;
  }
  std::string header(static_cast<std::size_t>(kMsgHeaderSize), '\0');
  jam::Encode(header_, jam::RecordOut<kMsgHeaderSize>(reinterpret_cast<std::uint8_t*>(header.data()), kMsgHeaderSize));
  header += subfields_;
  if (in_batch_) {
    if (staged_headers_.empty()) staged_headers_at_ = jhr_size;
    staged_headers_ += header;
    return true;
  }
  // The fixed header is marked with the same sync: the record and the
  // count that follow are a change in progress.
  if (!jhr_.WriteAt(jhr_size, header.data(), header.size()) || !MarkChange(fixed_) || !jhr_.Sync()) {
    jhr_.TruncateTo(jhr_size);
    jdt_.TruncateTo(jdt_size);
    return false;
  }
  return true;
}

bool JamMsgBase::WriteMsgHeader() {
  if (!IsOpen || header_ofs_ < static_cast<std::uint32_t>(kFixedHeaderSize)) {
    return Fail(kCannotWriteMessage, "no stored message is open");
  }
  std::int64_t jhr_size = 0;
  if (!HeaderFileSize(jhr_size)) return Fail(kCannotWriteMessage);
  if (static_cast<std::int64_t>(header_ofs_) + kMsgHeaderSize > jhr_size) {
    return Fail(kCannotWriteMessage, FileName("JHR") + ": the message header lies beyond the end of the file");
  }
  std::array<std::uint8_t, kMsgHeaderSize> raw;
  jam::Encode(header_, raw);
  if (IsStaged(header_ofs_)) {
    std::memcpy(staged_headers_.data() + (header_ofs_ - staged_headers_at_), raw.data(), raw.size());
    return true;
  }
  return (jhr_.WriteAt(header_ofs_, raw.data(), raw.size()) && jhr_.Sync()) || Fail(kCannotWriteMessage);
}

// Marks the current message deleted in place, as JAM programs do, in the
// order at the top of this file.  Nothing moves, so every other message
// keeps its number, and the open message's text stays in memory.  A step
// that fails takes back the steps before it where it can, so that a delete
// reported failed leaves the message as it was.
bool JamMsgBase::DeleteMsg() {
  if (!IsOpen) return Fail(kCannotWriteMessage, "the base is not open");
  jam::IndexRecord rec;
  if (!ReadIndexRecord(CurMsgNum, rec)) return Fail(kCannotWriteMessage);
  if (rec.hdr_offset == jam::kNone) return Fail(kCannotWriteMessage, "the message is deleted already");
  std::int64_t jhr_size = 0;
  if (!HeaderFileSize(jhr_size)) return Fail(kCannotWriteMessage);
  std::uint32_t attribute = 0;
  const HeaderState state = ProbeHeader(rec.hdr_offset, jhr_size, attribute);
  if (state == HeaderState::kUnreadable) return Fail(kCannotWriteMessage);
  const bool live = state == HeaderState::kLive;
  const std::int64_t record = CurMsgNum - fixed_.base_msg_num;
  const bool counted = live && fixed_.active_msgs > 0;
  if (counted) fixed_.active_msgs -= 1;
  if (in_batch_) {
    if (live) StageAttribute(rec.hdr_offset, attribute | jam::kAttrDeleted);
    pending_index_[record] = kEmptyRecord;
    fixed_dirty_ = true;
    return true;
  }
  // Failing from here on, the count is put back in memory and written
  // again at close (a lower count that reached the disk is tolerated).
  const auto undo_count = [this, counted] {
    if (counted) fixed_.active_msgs += 1;
    fixed_dirty_ = true;
    return Fail(kCannotWriteMessage);
  };
  if (counted && !(MarkChange(fixed_) && jhr_.Sync())) return undo_count();
  if (live && !PutAttribute(rec.hdr_offset, attribute | jam::kAttrDeleted)) {
    PutAttribute(rec.hdr_offset, attribute);
    return undo_count();
  }
  if (!PutIndexRecord(record, kEmptyRecord)) {
    PutIndexRecord(record, rec);
    if (live) PutAttribute(rec.hdr_offset, attribute);
    return undo_count();
  }
  // The marker comes out once the delete is whole (written again at close
  // when this write fails).
  return !counted || WriteFixedHeader();
}

// ---- Batch ----

void JamMsgBase::BeginBatch() {
  if (IsOpen) in_batch_ = true;
}

bool JamMsgBase::CommitBatch() {
  if (!in_batch_) return true;
  in_batch_ = false;
  if (CommitPending()) return true;
  ForgetPending();
  // What reached the files is known only to them now: take the count (and
  // any record left leading nowhere) from them, as the next open would.
  if (RepairIndexAndCount(true, nullptr) != 0) fixed_dirty_ = true;
  return Fail(kCannotWriteMessage);
}

// The four steps at the top of this file.  A fixed header that could not
// be written is written again at close, as outside a batch.
bool JamMsgBase::CommitPending() {
  if (staged_headers_.empty() && pending_attributes_.empty() && pending_index_.empty()) {
    return !fixed_dirty_ || WriteFixedHeader();
  }
  if (batch_data_unsynced_ && !jdt_.Sync()) return false;
  batch_data_unsynced_ = false;
  jam::FixedHeader lowered = fixed_;
  lowered.active_msgs -= std::min(lowered.active_msgs, batch_appends_);
  // The fixed header goes last: a disk that tears the last write keeps its
  // first sector, with count and marker, or none of it.
  if (!staged_headers_.empty() && !jhr_.WriteAt(staged_headers_at_, staged_headers_.data(), staged_headers_.size())) {
    return false;
  }
  staged_headers_.clear();
  if (!MarkChange(lowered) || !jhr_.Sync()) return false;
  batch_appends_ = 0;
  const bool attributes = !pending_attributes_.empty();
  for (const auto& [hdr_offset, attribute] : pending_attributes_) {
    std::array<std::uint8_t, 4> bytes;
    PutLe32(bytes.data(), attribute);
    if (!jhr_.WriteAt(std::int64_t{hdr_offset} + jam::header_at::kAttribute, bytes.data(), bytes.size())) return false;
  }
  pending_attributes_.clear();
  if (!WritePendingIndex()) return false;
  pending_index_.clear();
  if (!(attributes ? SyncIndexAndHeaders() : jdx_.Sync())) return false;
  return WriteFixedHeader();
}

bool JamMsgBase::SyncIndexAndHeaders() {
  const platform::FileHandle files[] = {jdx_.Handle(), jhr_.Handle()};
  return platform::Os().SyncFiles(files, std::size(files)) == platform::kOk;
}

bool JamMsgBase::IsStaged(std::uint32_t hdr_offset) const {
  return !staged_headers_.empty() && std::int64_t{hdr_offset} >= staged_headers_at_;
}

// A header still in memory takes the attribute there; one on disk gets it
// at the commit, once the lowered count is durable.
void JamMsgBase::StageAttribute(std::uint32_t hdr_offset, std::uint32_t attribute) {
  if (IsStaged(hdr_offset)) {
    PutLe32(reinterpret_cast<std::uint8_t*>(staged_headers_.data()) + (hdr_offset - staged_headers_at_) +
                jam::header_at::kAttribute,
            attribute);
    return;
  }
  pending_attributes_[hdr_offset] = attribute;
}

bool JamMsgBase::HeaderFileSize(std::int64_t& size) {
  if (!jhr_.Size(size)) return false;
  if (!staged_headers_.empty()) size = staged_headers_at_ + static_cast<std::int64_t>(staged_headers_.size());
  return true;
}

bool JamMsgBase::ReadHeaderFile(std::int64_t pos, void* buf, std::size_t count) {
  const std::int64_t end = pos + static_cast<std::int64_t>(count);
  if (staged_headers_.empty() || end <= staged_headers_at_) return jhr_.ReadAt(pos, buf, count);
  auto* out = static_cast<char*>(buf);
  if (pos < staged_headers_at_) {
    const auto on_disk = static_cast<std::size_t>(staged_headers_at_ - pos);
    if (!jhr_.ReadAt(pos, out, on_disk)) return false;
    out += on_disk;
    pos = staged_headers_at_;
  }
  const auto from = static_cast<std::size_t>(pos - staged_headers_at_);
  const auto length = static_cast<std::size_t>(end - pos);
  if (from + length > staged_headers_.size()) return false;
  std::memcpy(out, staged_headers_.data() + from, length);
  return true;
}

// One write per run of consecutive record numbers.
bool JamMsgBase::WritePendingIndex() {
  std::vector<std::uint8_t> run;
  auto it = pending_index_.begin();
  while (it != pending_index_.end()) {
    const std::int64_t first = it->first;
    run.clear();
    for (std::int64_t next = first; it != pending_index_.end() && it->first == next; ++it, ++next) {
      run.resize(run.size() + kIndexRecordSize);
      jam::Encode(it->second, RecordAt<kIndexRecordSize>(run, next - first));
    }
    if (!jdx_.WriteAt(first * kIndexRecordSize, run.data(), run.size())) return false;
  }
  return true;
}

void JamMsgBase::ForgetPending() {
  in_batch_ = false;
  batch_data_unsynced_ = false;
  pending_index_.clear();
  pending_attributes_.clear();
  staged_headers_.clear();
  batch_appends_ = 0;
}

// ---- Header fields ----

bool JamMsgBase::IsAttr(std::uint32_t mask) {
  std::uint32_t bit = MapAttr(kAttrMap, mask);
  return bit != 0 && (header_.attribute & bit) != 0;
}

void JamMsgBase::SetAttr(std::uint32_t mask, bool on) {
  std::uint32_t bit = MapAttr(kAttrMap, mask);
  if (bit == 0) return;
  header_.attribute = on ? (header_.attribute | bit) : (header_.attribute & ~bit);
}

// The stored seconds go over as they are, whether the date helpers take
// them signed or unsigned.
void JamMsgBase::GetDateWritten(MsgDateTime& dt) { UnixToDateTime(header_.date_written, dt); }

void JamMsgBase::GetDateArrived(MsgDateTime& dt) { UnixToDateTime(header_.date_processed, dt); }

void JamMsgBase::SetDateWritten(const MsgDateTime& dt) {
  header_.date_written = static_cast<std::uint32_t>(DateTimeToUnix(dt));
}

void JamMsgBase::SetDateArrived(const MsgDateTime& dt) {
  header_.date_processed = static_cast<std::uint32_t>(DateTimeToUnix(dt));
}

void JamMsgBase::HeaderAddrs(FidoAddress& orig, FidoAddress& dest) {
  orig = orig_;
  dest = dest_;
}

void JamMsgBase::SetHeaderAddrs(const FidoAddress& orig, const FidoAddress& dest) {
  orig_ = orig;
  dest_ = dest;
}

// ---- Lastread ----

MsgNum JamMsgBase::GetLastRead(std::int32_t user_num) {
  if (!IsOpen) return 0;
  std::int64_t size = 0;
  if (!jlr_.Size(size)) return 0;
  const std::int64_t records = size / kLastReadSize;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kLastReadChunk * kLastReadSize));
  for (std::int64_t first = 0; first < records; first += kLastReadChunk) {
    const std::int64_t n = std::min<std::int64_t>(records - first, kLastReadChunk);
    if (!jlr_.ReadAt(first * kLastReadSize, chunk.data(), static_cast<std::size_t>(n * kLastReadSize))) return 0;
    for (std::int64_t i = 0; i < n; ++i) {
      jam::LastRead rec;
      jam::Decode(RecordAt<kLastReadSize>(std::as_const(chunk), i), rec);
      if (rec.user_id == static_cast<std::uint32_t>(user_num)) return rec.last_read_msg;
    }
  }
  return 0;
}

bool JamMsgBase::SetLastRead(std::int32_t user_num, MsgNum msg_num) {
  if (!IsOpen) return true;
  std::int64_t size = 0;
  if (!jlr_.Size(size)) return Fail(kCannotOpenLastRead);
  const std::int64_t records = size / kLastReadSize;
  jam::LastRead rec;
  std::array<std::uint8_t, kLastReadSize> raw;
  std::int64_t at = records;  // append after the last whole record
  for (std::int64_t i = 0; i < records; ++i) {
    if (!jlr_.ReadAt(i * kLastReadSize, raw.data(), raw.size())) return Fail(kCannotOpenLastRead);
    jam::Decode(raw, rec);
    if (rec.user_id == static_cast<std::uint32_t>(user_num)) {
      at = i;
      break;
    }
  }
  if (at == records) {
    rec.user_crc = static_cast<std::uint32_t>(user_num);
    rec.user_id = static_cast<std::uint32_t>(user_num);
  }
  rec.last_read_msg = static_cast<std::uint32_t>(msg_num);
  rec.high_read_msg = static_cast<std::uint32_t>(msg_num);
  jam::Encode(rec, raw);
  return (jlr_.WriteAt(at * kLastReadSize, raw.data(), raw.size()) && jlr_.Sync()) || Fail(kCannotOpenLastRead);
}

}  // namespace lw
