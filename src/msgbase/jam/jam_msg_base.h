// The JAM format: <base>.jhr message headers with subfields, <base>.jdx one
// index record per message number, <base>.jdt the bodies, <base>.jlr the
// lastread records.  Message numbers never change: a deleted message keeps
// its index record, marked deleted, as every JAM program does.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/jam/jam_file.h"
#include "msgbase/jam/jam_layout.h"
#include "msgbase/kludge_addressed_base.h"

namespace lw {

// The CRC of the JAM CRC fields: CRC-32 from 0xFFFFFFFF over the lower-cased
// bytes, not inverted.
std::uint32_t JamCrc(std::string_view text);

class JamMsgBase final : public KludgeAddressedBase {
 public:
  enum StatusCode : std::int32_t {
    kNoHeaderFile = 0x2000,
    kNoIndexFile = 0x2001,
    kNoTextFile = 0x2002,
    kCannotOpenHeader = 0x2003,
    kCannotOpenIndex = 0x2004,
    kCannotOpenText = 0x2005,
    kCannotReadMessage = 0x2006,
    kBadHeaderOffset = 0x2007,
    kBadTextOffset = 0x2008,
    kCannotCreateHeader = 0x200A,
    kCannotCreateIndex = 0x200B,
    kCannotCreateText = 0x200C,
    kNoLastReadFile = 0x200D,
    kCannotOpenLastRead = 0x200F,
    kCannotWriteMessage = 0x2010,
  };

  JamMsgBase();
  ~JamMsgBase() override;

  // Opens the four files of base `path` and repairs what an interrupted
  // change left behind: a header file without its fixed header in an
  // otherwise empty base is completed.  The whole base is checked only when
  // a cheap test (CheckEnds) or the change marker says it may be damaged:
  // then index records of messages never finished or cut short are marked
  // deleted, ActiveMsgs is recounted and the marker taken out.  A repair is written and synced only when
  // something needed it.
  bool OpenMsgBase(const std::string& path) override;
  // Creates the files of base `path` that are missing (never emptying one
  // that exists), makes them durable in their folder and opens the base.
  bool CreateMsgBase(const std::string& path) override;
  bool MsgBaseExists(const std::string& path) override;
  // Commits a batch still open, then closes the files.  False when the
  // commit failed, a fixed header that other programs need could not be
  // written, or a file could not be synced or closed.
  bool CloseMsgBase() override;
  std::vector<std::string> RepairsOnOpen() const override;
  // Whether message `msg_num` has an index record pointing at a header that
  // is there and not deleted.  True on a read failure, so that OpenMsg
  // reports the message rather than the walk passing over it.
  bool MsgExists(MsgNum msg_num) override;
  // The walk moves over the index records present (from BaseMsgNum on) and
  // stops at the live ones; a number below BaseMsgNum starts at the first.
  void SeekFirst(MsgNum msg_num) override;
  void SeekNext() override;
  void SeekPrior() override;
  MsgNum GetMsgNum() override { return CurMsgNum; }
  MsgNum GetMsgPosition() override { return CurMsgNum; }
  void SetMsgPosition(MsgNum pos) override { CurMsgNum = pos; }
  // Read the current message whole (or its header and kludges) or fail
  // with Status set, changing nothing: a damaged or unfinished message, or
  // any failed read, is never handed out in part.  JAM keeps kludges and
  // trace lines in subfields, so the text handed out is built: kludge
  // lines made from the subfields, the body, the Via, SEEN-BY and PATH
  // lines (OpenMsg only), and address kludges for the stored addresses.
  bool OpenMsg() override;
  bool OpenMsgHeader() override;
  bool CloseMsg() override;
  MsgNum GetHighMsgNum() override;
  std::int32_t GetMsgCount() override { return static_cast<std::int32_t>(fixed_.active_msgs); }
  void GetFrom(std::string& name) override { name = from_; }
  void GetTo(std::string& name) override { name = to_; }
  void GetSubj(std::string& subj) override { subj = subject_; }
  void SetFrom(const std::string& name) override { from_ = name; }
  void SetTo(const std::string& name) override { to_ = name; }
  void SetSubj(const std::string& subj) override { subject_ = subj; }
  bool IsAttr(std::uint32_t mask) override;
  void SetAttr(std::uint32_t mask, bool on) override;
  void GetDateWritten(MsgDateTime& dt) override;
  void GetDateArrived(MsgDateTime& dt) override;
  void SetDateWritten(const MsgDateTime& dt) override;
  void SetDateArrived(const MsgDateTime& dt) override;
  // Into the address subfields WriteMsg stores, where the text has no
  // address kludge saying otherwise.
  void SetHeaderAddrs(const FidoAddress& orig, const FidoAddress& dest) override;
  // Appends the created message.  Outside a batch: true only when its text,
  // header, index record and the fixed header are all on stable storage.
  // In a batch: true when its text is written; its header, index record
  // and the fixed header wait in memory for CommitBatch, and this object
  // already walks, counts and reads the message.
  bool WriteMsg() override;
  // Rewrites the current message's header in place and syncs it (one a
  // batch keeps in memory is rewritten there).
  bool WriteMsgHeader() override;
  bool CreateMsg() override;
  // Marks the current message deleted (header and index record, synced)
  // and updates the fixed header.  The open message stays readable.  In a
  // batch the deleted attribute, the emptied index record and the count
  // wait in memory for CommitBatch.  A delete that
  // fails leaves the message as it was.
  bool DeleteMsg() override;
  MsgNum GetLastRead(std::int32_t user_num) override;
  // Stores the lastread record of `user_num`, synced; false on any failure.
  bool SetLastRead(std::int32_t user_num, MsgNum msg_num) override;
  // Starts a batch (see message_base.h); nothing when the base is closed.
  void BeginBatch() override;
  // Makes the batch durable in the order at the top of jam_msg_base.cpp:
  // text synced, then headers synced, then the index records in one write
  // per run of consecutive numbers and synced, then the fixed header
  // written and synced.  When a step fails, the records still in memory are dropped,
  // the count is taken again from the files, and the result is false.
  bool CommitBatch() override;

  // What the whole check of the last open found and mended.
  struct RepairFindings {
    std::uint32_t records_emptied = 0;  // records of messages never finished or cut short
    std::uint32_t count_was = 0;        // ActiveMsgs found
    std::uint32_t count_now = 0;        // ActiveMsgs counted
    bool header_written = false;        // the fixed header was written (count or marker)
  };

  const jam::FixedHeader& FixedHeader() const { return fixed_; }
  const jam::MsgHeader& MessageHeader() const { return header_; }
  std::uint32_t HeaderOffset() const { return header_ofs_; }

 protected:
  void HeaderAddrs(FidoAddress& orig, FidoAddress& dest) override;

 private:
  // What an index record leads to.
  enum class HeaderState {
    kLive,
    kDeleted,     // a header with the deleted attribute
    kMissing,     // no header there: a message never finished
    kUnreadable,  // the read failed
  };

  void SetPath(const std::string& path);
  std::string FileName(const char* extension) const;
  bool CloseFiles();
  std::int32_t OpenFiles();
  std::int32_t ReadOrCompleteFixedHeader();
  bool IsUnfinishedCreation(std::int64_t jhr_size);
  bool WriteFixedHeader();
  // Writes `on_disk` with the change marker (unsynced) before the steps of
  // a change an open cannot check cheaply; the next WriteFixedHeader takes
  // it out.  False when the write failed.
  bool MarkChange(const jam::FixedHeader& on_disk);
  // The open's check: CheckEnds, and the whole check and repair
  // (RepairIndexAndCount) when it is not sound or the open was asked for
  // it.  0, or the status that tells why the base does not open.
  std::int32_t CheckOnOpen();
  // Sets `sound` when the cheap test finds nothing out of line (see
  // jam_msg_base.cpp); 0, or the status of a failed read.
  std::int32_t CheckEnds(bool& sound);
  std::int32_t RepairIndexAndCount(bool rewrite_fixed, RepairFindings* found);
  std::int64_t IndexRecords();
  bool ReadIndexRecord(std::int64_t msg_num, jam::IndexRecord& rec);
  bool PutIndexRecord(std::int64_t record, const jam::IndexRecord& rec);
  bool PutAttribute(std::uint32_t hdr_offset, std::uint32_t attribute);
  // What the index record's `hdr_offset` leads to; the header read goes to
  // `header` when it is given and the state is kLive or kDeleted.
  HeaderState ProbeHeader(std::uint32_t hdr_offset, std::int64_t jhr_size, std::uint32_t& attribute,
                          jam::MsgHeader* header = nullptr);
  MsgNum FindLive(MsgNum from, int step);
  struct Subfield;
  struct LoadedMessage;
  std::int32_t LoadMessage(bool with_body, LoadedMessage& m);
  std::int32_t ReadIndexedHeader(LoadedMessage& m, std::int64_t& jdt_size);
  std::int32_t ReadSubfieldArea(LoadedMessage& m);
  std::int32_t ReadBody(LoadedMessage& m, std::int64_t jdt_size);
  void TakeMessage(LoadedMessage& m, bool with_body);
  void TakeHeaderFields(LoadedMessage& m);
  void WriteKludgeLines(const std::vector<Subfield>& fields);
  void WriteTraceLines(const std::vector<Subfield>& fields);
  void PutAddressKludges();
  std::string_view FieldData(const Subfield& f) const;
  bool ReadMessage(bool with_body);
  void AddSubfield(std::uint16_t id, std::string_view data);
  void AddHeaderSubfields();
  void SortTextIntoSubfields(std::string_view text, std::string& body);
  void SortIntoSubfield(std::string_view line);
  bool AppendMessage(const std::string& body);
  bool AppendBodyAndHeader(std::int64_t jdt_size, std::int64_t jhr_size, const std::string& body);
  bool CommitPending();
  bool SyncIndexAndHeaders();
  // Whether the header at `hdr_offset` is one a batch keeps in memory.
  bool IsStaged(std::uint32_t hdr_offset) const;
  void StageAttribute(std::uint32_t hdr_offset, std::uint32_t attribute);
  // The size of .jhr and reads of it, the headers a batch keeps in memory
  // taken as appended; false when the platform call failed (or a read
  // runs past the end).
  bool HeaderFileSize(std::int64_t& size);
  bool ReadHeaderFile(std::int64_t pos, void* buf, std::size_t count);
  bool WritePendingIndex();
  void ForgetPending();

  std::string path_;  // with the trailing "."
  jam::FixedHeader fixed_;    // never carries the change marker
  bool fixed_dirty_ = false;  // fixed_ differs from what is on disk
  bool marker_found_ = false;  // the open found the change marker on disk
  bool repaired_ = false;      // the open checked the whole base
  RepairFindings findings_;    // what that check mended
  bool in_batch_ = false;
  bool batch_data_unsynced_ = false;  // bodies written to .jdt in the batch, not synced since
  // The headers of the batch's new messages, to be appended to .jhr at
  // staged_headers_at_ once their bodies are durable.
  std::string staged_headers_;
  std::int64_t staged_headers_at_ = 0;
  // Index records of the batch not yet on disk, by record number (0 for
  // BaseMsgNum); they take precedence over what .jdx holds.
  std::map<std::int64_t, jam::IndexRecord> pending_index_;
  // A batch's deleted attributes (header offset -> attribute), written at
  // the commit once the fixed header counts the deletions.
  std::map<std::uint32_t, std::uint32_t> pending_attributes_;
  std::uint32_t batch_appends_ = 0;  // messages the pending records add to ActiveMsgs
  jam::MsgHeader header_;
  std::string subfields_;
  std::uint32_t header_ofs_ = 0;
  FidoAddress orig_;
  FidoAddress dest_;
  std::string from_;
  std::string to_;
  std::string subject_;
  jam::JamFile jhr_;
  jam::JamFile jdx_;
  jam::JamFile jdt_;
  jam::JamFile jlr_;
  std::unique_ptr<Stream> text_;
};

}  // namespace lw
