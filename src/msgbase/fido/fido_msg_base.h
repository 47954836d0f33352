// The *.MSG format: one directory per area, one file per message named by
// its number, and a "lastread" file of 16-bit entries.
//
// Only files named by a plain number ("12.msg": digits, no leading zero,
// below kMapSize) are messages; other names are never read or counted.  A
// message is read whole or not at all.  A message is stored by writing it
// under a temporary name ("lwtemp<k>.tmp") in the same folder, syncing it,
// renaming it to its number (never over a file of that number) and syncing
// the folder, so that a crash leaves either the whole message or none.
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
    kReadFailed = 0x1004,      // a read, seek or size query of the message failed
    kDamagedMessage = 0x1005,  // the file is shorter than a message header
    kWriteFailed = 0x1006,     // storing a message or deleting one failed
    kAreaFull = 0x1007,        // no free number below kMapSize
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
  // Step through the numbers recorded in the map only.
  void SeekNext() override;
  void SeekPrior() override;
  // Reads the current message whole (header and text); false, with Status
  // set and nothing changed, when the file cannot be opened, any read or
  // query fails, or it is shorter than a header.
  bool OpenMsg() override;
  // As OpenMsg, keeping only the kludge lines that lead the text.
  bool OpenMsgHeader() override;
  // Ends the open message; the file stays as it is on disk.
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
  // Stores the open message whole (see above); refused after
  // OpenMsgHeader, whose text has no body.  A new message takes the
  // number CreateMsg chose or, when another program wrote that number
  // meanwhile, the next free one.  True only when the message is on
  // stable storage under its number; false leaves the area as it was.
  bool WriteMsg() override;
  // Rewrites the header of a stored message in place and syncs it.
  bool WriteMsgHeader() override;
  // Starts a new message under the next free number; nothing is written
  // before WriteMsg.  The first call on an opened base removes temporary
  // files a crashed run left, unless another run holds them.
  bool CreateMsg() override;
  // Removes the current message's file (it may be open) and syncs the
  // folder; a following CloseMsg is harmless.
  bool DeleteMsg() override;
  std::int32_t GetLastRead(std::int32_t user_num) override;
  // True only when the entry was written, synced and the file closed.
  bool SetLastRead(std::int32_t user_num, std::int32_t msg_num) override;

  // The header of the current message, as read or about to be written.
  const fido::MsgHeader& Header() const { return header_; }

 private:
  void SetPath(const std::string& path);
  void ScanDirectory();
  void SetMapBit(std::int32_t n, bool on);
  // The first number from `n` on whose file does not exist (those that do
  // are recorded in the map), or 0 when none is left below kMapSize.
  std::int32_t FreeNumberFrom(std::int32_t n);
  std::string MessageFileName(std::int32_t n) const;
  std::string TempFileName(std::int32_t k) const;
  std::string LastReadFileName() const;
  // The folder of the area as the platform's folder calls take it.
  std::string FolderName() const;
  bool SyncFolder();
  // Opens message CurMsgNum and reads it whole; false with Status set.
  bool ReadMessage(bool kludges_only);
  // Writes the open message to a new locked temporary file and syncs it.
  bool WriteTempCopy(std::unique_ptr<Stream>& temp, std::string& temp_name);
  // Gives the synced temporary file its message name and syncs the folder.
  bool PutInPlace(const std::string& temp_name);
  void RemoveLeftoverTemps();
  void UpdateFlagsLine(const char* word, bool on);

  std::string path_;
  std::uint8_t msg_map_[kMapSize / 8] = {};
  std::int32_t msg_count_ = 0;
  std::int32_t high_msg_num_ = 0;
  bool msg_open_ = false;      // a message is open (read, or created)
  bool new_message_ = false;   // created by CreateMsg and not yet stored
  bool kludges_only_ = false;  // opened by OpenMsgHeader: Text holds no body
  bool temps_checked_ = false;
  std::unique_ptr<Stream> msg_file_;  // the open message's file, held while it is open
  std::unique_ptr<Stream> text_;
  fido::MsgHeader header_;
};

}  // namespace lw
