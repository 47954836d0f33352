// The Squish format: <base>.sqd holds every message in a frame of its own,
// <base>.sqi one index record per message, <base>.sql the lastread values.
// Message numbers are the messages' UMSGIDs.
//
// Every update is ordered so that a crash at any point leaves a base that
// the next OpenMsgBase finds consistent or repairs from the index (the
// order is set out in squish_update.cpp).  Outside a batch, WriteMsg,
// DeleteMsg and SetLastRead return true only when what they wrote is on
// stable storage.  Inside a batch (BeginBatch .. CommitBatch), WriteMsg and
// DeleteMsg stage their index, link and header changes in memory (new
// frames are written, unsynced) and CommitBatch writes and syncs them all
// at once; this object sees every staged change at once.  CloseMsgBase
// commits a batch still open and otherwise writes nothing; it returns false
// when that commit or an update since the open failed part way, or a file
// failed to close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "msgbase/kludge_addressed_base.h"
#include "msgbase/squish/squish_io.h"
#include "msgbase/squish/squish_layout.h"
#include "msgbase/squish/squish_reconcile.h"

namespace lw {

// The recipient-name hash of the index.
std::uint32_t SquishHash(std::string_view to_name);

class SquishMsgBase final : public KludgeAddressedBase {
 public:
  enum StatusCode : std::int32_t {
    kNoDataFile = 0x3000,
    kNoIndexFile = 0x3001,
    kCannotOpenData = 0x3002,
    kCannotOpenIndex = 0x3003,
    kBadFrame = 0x3007,
    kFrameIo = 0x3008,
    kCannotCreateData = 0x3009,
    kCannotCreateIndex = 0x300A,
  };

  SquishMsgBase();
  ~SquishMsgBase() override;

  bool OpenMsgBase(const std::string& path) override;
  bool CreateMsgBase(const std::string& path) override;
  bool MsgBaseExists(const std::string& path) override;
  bool CloseMsgBase() override;
  std::vector<std::string> RepairsOnOpen() const override;
  bool MsgExists(MsgNum msg_num) override;
  MsgNum GetMsgNum() override { return CurMsgNum; }
  void SeekFirst(MsgNum msg_num) override;
  void SeekNext() override;
  void SeekPrior() override;
  bool SeekFound() override { return CurMsgNum != 0; }
  MsgNum GetMsgPosition() override { return index_pos_; }
  void SetMsgPosition(MsgNum pos) override;
  bool OpenMsg() override;
  bool OpenMsgHeader() override;
  bool CloseMsg() override;
  // Both count a message made by CreateMsg and not yet written.  The last
  // UMSGID handed out is uid - 1, in 32 bits (uid 0: all were handed out).
  MsgNum GetHighMsgNum() override { return MsgNum{static_cast<std::uint32_t>(base_.uid - 1)} + (new_message_ ? 1 : 0); }
  std::int32_t GetMsgCount() override { return static_cast<std::int32_t>(base_.num_msg + (new_message_ ? 1 : 0)); }
  void GetFrom(std::string& name) override;
  void GetTo(std::string& name) override;
  void GetSubj(std::string& subj) override;
  void SetFrom(const std::string& name) override;
  void SetTo(const std::string& name) override;
  void SetSubj(const std::string& subj) override;
  bool IsAttr(std::uint32_t mask) override;
  void SetAttr(std::uint32_t mask, bool on) override;
  void GetDateWritten(MsgDateTime& dt) override;
  void GetDateArrived(MsgDateTime& dt) override;
  void SetDateWritten(const MsgDateTime& dt) override;
  void SetDateArrived(const MsgDateTime& dt) override;
  // Into the header's address fields, which WriteMsg keeps where the text
  // has no address kludge saying otherwise.
  void SetHeaderAddrs(const FidoAddress& orig, const FidoAddress& dest) override;
  bool WriteMsg() override;
  bool WriteMsgHeader() override;
  bool CreateMsg() override;
  bool DeleteMsg() override;
  void BeginBatch() override;
  bool CommitBatch() override;
  MsgNum GetLastRead(std::int32_t user_num) override;
  bool SetLastRead(std::int32_t user_num, MsgNum msg_num) override;

  const squish::BaseHeader& BaseHeader() const { return base_; }
  const squish::FrameHeader& FrameHeader() const { return frame_; }
  const squish::MsgHeader& MessageHeader() const { return header_; }
  std::uint32_t FrameOffset() const { return frame_ofs_; }

 protected:
  void HeaderAddrs(FidoAddress& orig, FidoAddress& dest) override;

 private:
  // An append or rewrite staged by WriteMsg, adopted as the current
  // message once it is committed.
  struct Staged {
    squish::FrameHeader frame;
    std::uint32_t frame_ofs = 0;
    squish::IndexRecord record;
    std::int32_t index_pos = 0;
  };

  void SetPath(const std::string& path);
  std::string FileName(const char* extension) const;
  squish::BaseHeader FreshHeader() const;
  // Closes both files; false when a close failed.
  bool CloseFiles();
  // Reads the data file size and the whole index into memory (the index
  // only when `records_` does not hold it already, as the open leaves it)
  // and drops anything staged; `base_` must hold the header on disk.
  // False when a query or read failed.
  bool LoadState(bool index_read = false);
  // After a failed update: drops what was staged (a batch fails with it)
  // and marks the base for reconciling before the next update.  False.
  bool Fail();
  // Reconciles the base again after a failed update; false when that fails.
  bool EnsureConsistent();
  std::int32_t IndexBytes() const;
  bool ReadIndex(std::int32_t pos, squish::IndexRecord& rec) const;
  // Finds the first record whose umsgid matches `want`; its position or -1.
  std::int32_t FindIndex(MsgNum want, bool at_least) const;
  // Positions on record `pos` (CurMsgNum 0 and position 0 when none).
  void MoveTo(std::int32_t pos);

  // Reading (squish_msg_base.cpp).
  bool ReadMessage(bool with_body);
  // Reads the frame header at `ofs` and checks it holds a whole message;
  // Status kBadFrame when it does not.
  bool ReadMessageFrame(std::uint32_t ofs, squish::FrameHeader& f);
  // Sets the fields WriteMsg derives from the text and the dates.
  void FillDerivedFields();

  // Updating (squish_update.cpp).
  // The whole frame WriteMsg writes: room for the frame header, then the
  // message header, control info and text.  False when it is too long.
  bool BuildFrame(std::string& bytes, std::uint32_t& clen);
  // The frame for `need` bytes: a free frame taken out of the free chain
  // (in the staged edits and `h`) or a new one at the end of the file.
  // Frames freed since the last commit are never taken.
  bool PlaceFrame(squish::BaseHeader& h, std::uint32_t need, std::uint32_t* ofs, std::uint32_t* length);
  // Encodes `f` into the start of `bytes` and writes them at `ofs`
  // (unsynced); the data file size follows.
  bool WriteFrame(std::uint32_t ofs, const squish::FrameHeader& f, std::string& bytes);
  // Each Stage step reads what it needs, writes at most the message's
  // frame (unsynced) and stages the rest; false (after Fail, when it got
  // as far as reading) when a read, write or check failed.
  // The new message (`bytes` from BuildFrame) at the end of the chain and
  // of the index.
  bool StageAppend(std::string& bytes, std::uint32_t clen, Staged& staged);
  // The current message's new content, in its frame when it fits, else in
  // another frame that takes its place in the chain.
  bool StageRewrite(std::string& bytes, std::uint32_t clen, Staged& staged);
  // Points the neighbours of the message frame `old` (at frame_ofs_) at
  // `ofs` instead, in the staged edits and `h`.
  bool Relink(squish::BaseHeader& h, const squish::FrameHeader& old, std::uint32_t ofs);
  // The current message (frame_ofs_, at index_pos_) out of the index and
  // the message chain, its frame into the free chain.
  bool StageDelete();
  // Records [from, to) of the index differ from the file.
  void MarkIndexChanged(std::size_t from, std::size_t to);
  // Takes the free frame at `ofs` (header `f`) out of the free chain on
  // disk, synced, before anything is written into it.
  bool TakeFreeFrame(std::uint32_t ofs, const squish::FrameHeader& f);
  // Writes and syncs everything staged, in the order the crash rules need
  // (squish_update.cpp): appends one way, deletions and rewrites another.
  bool CommitStaged();
  bool CommitAppends();
  bool CommitRemovals();
  // Writes `h` and syncs the data file.
  bool WriteHeaderSynced(const squish::BaseHeader& h);
  // Writes the edited frame headers `chosen` picks and syncs the data
  // file; nothing when it picks none.
  bool WriteEditsSynced(const std::function<bool(std::uint32_t ofs)>& chosen);
  // Writes the whole index under a temporary name, synced, and renames it
  // over the index file (the folder synced); the index is open again after.
  bool ReplaceIndex();
  bool CommitUnlessBatch() { return batch_ || CommitStaged(); }
  // Writes the changed index records in one write, cuts the file to the
  // index's length and syncs it (nothing when the index is unchanged).
  bool WriteIndexChanges();

  std::string path_;                   // with the trailing "."
  squish::BaseHeader base_;            // as this object sees the base (staged changes in)
  squish::BaseHeader committed_base_;  // as the data file holds it
  squish::FrameHeader frame_;
  squish::MsgHeader header_;
  squish::IndexRecord index_;
  std::int32_t index_pos_ = 0;
  std::uint32_t frame_ofs_ = 0;
  bool new_message_ = false;
  bool repaired_ = false;     // the open repaired the base
  squish::Findings findings_;  // what that repair changed
  bool broken_ = false;  // an update failed part way: reconcile before the next
  std::unique_ptr<Stream> sqd_;
  std::unique_ptr<Stream> sqi_;
  std::unique_ptr<Stream> text_;

  // The index as this object sees it; the file holds index_on_disk_
  // records, of which [index_changed_from_, index_changed_to_) differ.
  static constexpr std::size_t kNoChange = static_cast<std::size_t>(-1);
  std::vector<squish::IndexRecord> records_;
  std::size_t index_on_disk_ = 0;
  std::size_t index_changed_from_ = kNoChange;
  std::size_t index_changed_to_ = 0;
  // The data file's size, kept while the base is open (and locked against
  // other writers), including frames written and not yet synced.
  std::int64_t sqd_size_ = 0;
  std::optional<squish::FrameEdits> edits_;  // frame headers staged
  std::vector<std::uint32_t> freed_frames_;  // freed since the last commit
  std::vector<std::uint32_t> new_frames_;    // appended since the last commit
  bool data_unsynced_ = false;               // frames written since the last sync
  bool header_changed_ = false;
  bool batch_ = false;
  bool batch_failed_ = false;
};

}  // namespace lw
