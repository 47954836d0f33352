// The Squish format: <base>.sqd holds every message in a frame of its own,
// <base>.sqi one index record per message, <base>.sql the lastread values.
// Message numbers are the messages' UMSGIDs.
//
// Every update is ordered and synced so that a crash at any point leaves a
// base that the next OpenMsgBase finds consistent or repairs from the index
// (the order of each is set out in squish_msg_base.cpp).  WriteMsg,
// DeleteMsg and SetLastRead return true only when what they wrote is on
// stable storage; CloseMsgBase writes nothing and returns false when an
// update failed part way since the open or a file failed to close.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "msgbase/kludge_addressed_base.h"
#include "msgbase/squish/squish_io.h"
#include "msgbase/squish/squish_layout.h"

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
  bool MsgExists(std::int32_t msg_num) override;
  std::int32_t GetMsgNum() override { return CurMsgNum; }
  void SeekFirst(std::int32_t msg_num) override;
  void SeekNext() override;
  void SeekPrior() override;
  bool SeekFound() override { return CurMsgNum != 0; }
  std::int32_t GetMsgPosition() override { return index_pos_; }
  void SetMsgPosition(std::int32_t pos) override;
  bool OpenMsg() override;
  bool OpenMsgHeader() override;
  bool CloseMsg() override;
  // Both count a message made by CreateMsg and not yet written.
  std::int32_t GetHighMsgNum() override { return static_cast<std::int32_t>(base_.uid - 1 + (new_message_ ? 1 : 0)); }
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
  bool WriteMsg() override;
  bool WriteMsgHeader() override;
  bool CreateMsg() override;
  bool DeleteMsg() override;
  std::int32_t GetLastRead(std::int32_t user_num) override;
  bool SetLastRead(std::int32_t user_num, std::int32_t msg_num) override;

  const squish::BaseHeader& BaseHeader() const { return base_; }
  const squish::FrameHeader& FrameHeader() const { return frame_; }
  const squish::MsgHeader& MessageHeader() const { return header_; }
  std::uint32_t FrameOffset() const { return frame_ofs_; }

 private:
  void SetPath(const std::string& path);
  std::string FileName(const char* extension) const;
  squish::BaseHeader FreshHeader() const;
  // Closes both files; false when a close failed.
  bool CloseFiles();
  // After a failed update the base is reconciled again before the next one.
  bool Fail();
  bool EnsureConsistent();
  std::int32_t IndexBytes();
  bool ReadIndex(std::int32_t pos, squish::IndexRecord& rec);
  // Finds the first record whose umsgid matches `want`; its position or -1.
  std::int32_t FindIndex(std::int32_t want, bool at_least);
  bool ReadMessage(bool with_body);
  // The frame for `need` bytes: a free frame taken out of the free chain
  // (in `edits` and `h`) or a new one at the end of the file.
  bool PlaceFrame(squish::FrameEdits& edits, squish::BaseHeader& h, std::uint32_t need, std::uint32_t* ofs,
                  std::uint32_t* length);
  bool WriteWholeFrame(std::uint32_t ofs, const squish::FrameHeader& f, const std::string& payload);
  bool AppendMessage(const std::string& payload, std::uint32_t clen);
  bool RewriteMessage(const std::string& payload, std::uint32_t clen);
  // Sets the fields WriteMsg derives from the text and the dates.
  void FillDerivedFields();

  std::string path_;  // with the trailing "."
  squish::BaseHeader base_;
  squish::FrameHeader frame_;
  squish::MsgHeader header_;
  squish::IndexRecord index_;
  std::int32_t index_pos_ = 0;
  std::uint32_t frame_ofs_ = 0;
  bool new_message_ = false;
  bool broken_ = false;  // an update failed part way: reconcile before the next
  std::unique_ptr<Stream> sqd_;
  std::unique_ptr<Stream> sqi_;
  std::unique_ptr<Stream> text_;
};

}  // namespace lw
