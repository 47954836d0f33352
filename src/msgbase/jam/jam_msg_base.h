// The JAM format: <base>.jhr message headers with subfields, <base>.jdx one
// index record per message number, <base>.jdt the bodies, <base>.jlr the
// lastread records.  Message numbers never change: a deleted message keeps
// its index record, marked deleted, as every JAM program does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
  };

  JamMsgBase();
  ~JamMsgBase() override;

  bool OpenMsgBase(const std::string& path) override;
  bool CreateMsgBase(const std::string& path) override;
  bool MsgBaseExists(const std::string& path) override;
  bool CloseMsgBase() override;
  bool MsgExists(std::int32_t msg_num) override;
  std::int32_t GetMsgNum() override { return CurMsgNum; }
  std::int32_t GetMsgPosition() override { return CurMsgNum; }
  void SetMsgPosition(std::int32_t pos) override { CurMsgNum = pos; }
  bool OpenMsg() override;
  bool OpenMsgHeader() override;
  bool CloseMsg() override;
  std::int32_t GetHighMsgNum() override;
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
  bool WriteMsg() override;
  bool WriteMsgHeader() override;
  bool CreateMsg() override;
  bool DeleteMsg() override;
  std::int32_t GetLastRead(std::int32_t user_num) override;
  bool SetLastRead(std::int32_t user_num, std::int32_t msg_num) override;

  const jam::FixedHeader& FixedHeader() const { return fixed_; }
  const jam::MsgHeader& MessageHeader() const { return header_; }
  std::uint32_t HeaderOffset() const { return header_ofs_; }

 private:
  void SetPath(const std::string& path);
  std::string FileName(const char* extension) const;
  void CloseFiles();
  void ResetFiles();
  std::int32_t IndexRecords();
  std::int64_t IndexPosition(std::int32_t msg_num);
  bool ReadIndex(std::int64_t pos, jam::IndexRecord& rec);
  bool ReadMessage(bool with_body);
  void AddSubfield(std::uint16_t id, std::string_view data);
  void SortTextIntoSubfields(const std::string& text, std::string& body);

  std::string path_;  // with the trailing "."
  jam::FixedHeader fixed_;
  jam::MsgHeader header_;
  std::string subfields_;
  jam::IndexRecord index_;
  std::int64_t index_pos_ = 0;
  std::uint32_t header_ofs_ = 0;
  FidoAddress orig_;
  FidoAddress dest_;
  std::string from_;
  std::string to_;
  std::string subject_;
  std::unique_ptr<Stream> jhr_;
  std::unique_ptr<Stream> jdx_;
  std::unique_ptr<Stream> jdt_;
  std::unique_ptr<Stream> jlr_;
  std::unique_ptr<Stream> text_;
};

}  // namespace lw
