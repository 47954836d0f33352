// The *.MSG format: one directory per area, one file per message named by
// its number, and a "lastread" file of 16-bit entries.
#pragma once

#include <cstdint>
#include <memory>

#include "msgbase/fido/msg_layout.h"
#include "msgbase/message_base.h"

namespace lw {

class FidoMsgBase final : public MessageBase {
 public:
  static constexpr std::int32_t kMapSize = 61440;  // numbers 1..61439 are recorded
  enum StatusCode : std::int32_t {
    kNoArea = 0x1000,
    kNoMessage = 0x1001,
    kCannotOpenMessage = 0x1002,
    kNoOpenMessage = 0x1003,
  };

  FidoMsgBase();
  ~FidoMsgBase() override;

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
  std::int32_t GetHighMsgNum() override { return high_msg_num_; }
  std::int32_t GetMsgCount() override { return msg_count_; }
  void GetFrom(std::string& name) override;
  void GetTo(std::string& name) override;
  void GetSubj(std::string& subj) override;
  void GetOrigAddr(FidoAddress& addr) override;
  void GetDestAddr(FidoAddress& addr) override;
  void GetAddrs(FidoAddress& orig, FidoAddress& dest) override;
  void SetFrom(const std::string& name) override;
  void SetTo(const std::string& name) override;
  void SetSubj(const std::string& subj) override;
  void SetOrigAddr(const FidoAddress& addr, bool new_msg_id) override;
  void SetDestAddr(const FidoAddress& addr) override;
  void SetAddrs(const FidoAddress& orig, const FidoAddress& dest, bool new_msg_id) override;
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

  // The header of the current message, as read or about to be written.
  const fido::MsgHeader& Header() const { return header_; }

 private:
  void SetPath(const std::string& path);
  void ScanDirectory();
  void SetMapBit(std::int32_t n, bool on);
  std::string MessageFileName(std::int32_t n) const;
  std::string LastReadFileName() const;
  // Opens message CurMsgNum and reads its header; false with Status set.
  bool OpenMessageFile();
  void UpdateFlagsLine(const char* word, bool on);

  std::string path_;
  std::uint8_t msg_map_[kMapSize / 8] = {};
  std::int32_t msg_count_ = 0;
  std::int32_t high_msg_num_ = 0;
  bool new_message_ = false;  // created by CreateMsg and not yet stored
  std::unique_ptr<Stream> msg_file_;
  std::unique_ptr<Stream> text_;
  fido::MsgHeader header_;
};

}  // namespace lw
