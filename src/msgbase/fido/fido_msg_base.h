// The *.MSG format: one directory per area, one file per message named by
// its number, and a "lastread" file of 16-bit entries.
//
// Only files named by a plain number ("12.msg": digits, no leading zero,
// at most INT32_MAX, the extension in any case) are messages; other names are
// never read or counted.  The area keeps the real name of every message
// file it listed or created and reaches each file by that name only.  A
// message is read whole or not at all.  A message is stored by writing it
// under a temporary name ("lwtemp<k>.tmp") in the same folder, syncing it,
// renaming it to its number (never over a file of that number) and syncing
// the folder, so that a crash leaves either the whole message or none.
// Inside a batch the syncs wait for CommitBatch, which makes all of them
// at once; until then a new message exists only as its temporary file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/fido/held_file.h"
#include "msgbase/fido/msg_layout.h"
#include "msgbase/fido/msg_names.h"
#include "msgbase/message_base.h"

namespace lw {

class FidoMsgBase final : public MessageBase {
 public:
  // New messages a batch holds unsynced at most; one more commits them.
  static constexpr std::size_t kMostPending = 128;
  enum StatusCode : std::int32_t {
    kNoArea = 0x1000,
    kNoMessage = 0x1001,
    kCannotOpenMessage = 0x1002,
    kNoOpenMessage = 0x1003,
    kReadFailed = 0x1004,      // a read, size query or close of the message failed
    kDamagedMessage = 0x1005,  // the file is shorter than a message header
    kWriteFailed = 0x1006,     // storing a message or deleting one failed
    kAreaFull = 0x1007,        // no number is left above the highest
  };

  FidoMsgBase();
  ~FidoMsgBase() override;

  // Both list the folder once and record every message file by its real
  // name.  What a batch holds for the area open before is committed first
  // (the batch goes on; its CommitBatch reports a failure of that commit).
  bool OpenMsgBase(const std::string& path) override;
  bool CreateMsgBase(const std::string& path) override;
  bool MsgBaseExists(const std::string& path) override;
  // Commits a batch still open; false when that commit failed.
  bool CloseMsgBase() override;
  bool MsgExists(MsgNum msg_num) override;
  MsgNum GetMsgNum() override { return CurMsgNum; }
  MsgNum GetMsgPosition() override { return CurMsgNum; }
  void SetMsgPosition(MsgNum pos) override { CurMsgNum = pos; }
  // Step through the recorded numbers only.
  void SeekNext() override;
  void SeekPrior() override;
  // Reads the current message whole (header and text) with one open, one
  // size query, one read and one close of its file; false, with Status
  // set and nothing changed, when any of them fails or the file is
  // shorter than a header.  The file is not held afterwards.
  bool OpenMsg() override;
  // As OpenMsg, keeping only the kludge lines that lead the text.
  bool OpenMsgHeader() override;
  // Ends the open message; the file stays as it is on disk.
  bool CloseMsg() override;
  MsgNum GetHighMsgNum() override { return names_.High(); }
  std::int32_t GetMsgCount() override { return names_.Count(); }
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
  void SetHeaderAddrs(const FidoAddress& orig, const FidoAddress& dest) override;
  // The attribute bits this format stores in the header; the others read
  // as clear.
  bool IsAttr(std::uint32_t mask) override;
  // Sets or clears the header bit and, for the bits other programs read
  // from it (PVT, CRA, RCV, SNT, FIL, K/S, HLD, FRQ, RRQ), the word of the
  // "\001FLAGS" kludge line too; a FLAGS line left with no word goes.
  void SetAttr(std::uint32_t mask, bool on) override;
  void GetDateWritten(MsgDateTime& dt) override;
  void GetDateArrived(MsgDateTime& dt) override;
  void SetDateWritten(const MsgDateTime& dt) override;
  void SetDateArrived(const MsgDateTime& dt) override;
  // Stores the open message whole (see above) with one create and one
  // write of its temporary file; refused after OpenMsgHeader, whose text
  // has no body.  A new message takes the number CreateMsg chose or, when
  // another program wrote that number meanwhile, the next free one.
  // Outside a batch: true only when the message is on stable storage
  // under its number; false leaves the area as it was.  Inside a batch a
  // new message is written to its temporary file unsynced and keeps the
  // number CreateMsg chose until CommitBatch puts it in place (it is
  // counted and found only then); when kMostPending are waiting they are
  // committed first.  A stored message is rewritten durably at once.
  bool WriteMsg() override;
  // Rewrites the header of a stored message in place and syncs it.
  bool WriteMsgHeader() override;
  // Starts a new message under the next number free in the table (after
  // those of the batch's pending messages), without looking at the disk:
  // a number another program took meanwhile is found when the message is
  // put in place.  Nothing is written before WriteMsg.  The first call on
  // an opened base removes temporary files a crashed run left, unless
  // another run holds them.
  bool CreateMsg() override;
  // Removes the current message's file by its real name and, outside a
  // batch, syncs the folder; a following CloseMsg is harmless.
  bool DeleteMsg() override;
  // A batch as MessageBase describes it.  CommitBatch syncs the new
  // messages' temporary files with one call, renames each into place (all
  // of them are taken back when any step fails), and syncs the folder
  // once, for the batch's deletions too.
  void BeginBatch() override;
  bool CommitBatch() override;
  MsgNum GetLastRead(std::int32_t user_num) override;
  // True only when the entry was written, synced and the file closed.
  bool SetLastRead(std::int32_t user_num, MsgNum msg_num) override;

  // The header of the current message, as read or about to be written.
  const fido::MsgHeader& Header() const { return header_; }

 private:
  // Net and node of both addresses into the header.
  void StoreNetAndNode(const FidoAddress& orig, const FidoAddress& dest);
  // A message written to its temporary file and not yet put in place.
  struct PendingMessage {
    fido::HeldFile file;    // the temporary file, held (locked) until placed
    std::string temp_name;  // with the folder
    std::int32_t number = 0;
    bool replaces = false;  // a rewrite of stored message `number`
    bool placed = false;
  };

  void SetPath(const std::string& path);
  void SettlePending();
  // Lists the area's messages; false (Status and cause set, no message
  // known) when the folder could not be listed to its end.
  bool ScanDirectory();
  // Whether a file of message `n` exists on disk; when it does its real
  // name is recorded.  For numbers the listing did not show.
  bool FoundOnDisk(std::int32_t n);
  // The first number from `n` on that neither the table nor the disk
  // holds (those on disk are recorded), or 0 when none is left.
  std::int32_t FreeNumberFrom(std::int32_t n);
  std::string PathOf(std::int32_t n) const { return path_ + names_.Name(n); }
  std::string TempFileName(std::int32_t k) const;
  std::string LastReadFileName() const;
  // The folder of the area as the platform's folder calls take it.
  std::string FolderName() const;
  bool SyncFolder();
  // True when `rc` is kOk; else keeps `name` and the system's reason as
  // the cause of the failure the caller is about to report.
  bool Noted(const platform::Result& rc, std::string_view name);
  // Opens message CurMsgNum and reads it whole; false with Status set.
  bool ReadMessage(bool kludges_only);
  // The open message as its file holds it: header, text, closing NUL.
  bool MessageBytes(std::vector<std::uint8_t>& bytes);
  // Writes the open message to a new locked temporary file, unsynced.
  bool WriteTemp(PendingMessage& pending);
  // Hands every pending file to stable storage at once.
  bool SyncPending();
  // Gives a synced temporary file its message name.
  bool Place(PendingMessage& pending);
  // Makes everything pending durable (see CommitBatch); false, with the
  // new messages taken back, when any step failed.
  bool CommitPending();
  // Removes the pending new messages again after a failed commit.
  void TakeBack();
  void RemoveLeftoverTemps();
  void UpdateFlagsLine(const char* word, bool on);

  std::string path_;
  fido::MsgNameTable names_;
  bool msg_open_ = false;      // a message is open (read, or created)
  bool new_message_ = false;   // created by CreateMsg and not yet stored
  bool kludges_only_ = false;  // opened by OpenMsgHeader: Text holds no body
  bool temps_checked_ = false;
  std::unique_ptr<Stream> text_;
  fido::MsgHeader header_;

  bool in_batch_ = false;
  bool batch_failed_ = false;      // an early commit of this batch failed
  bool deleted_unsynced_ = false;  // a deletion waits for the folder sync
  std::vector<PendingMessage> pending_;
  std::int32_t reserved_high_ = 0;  // the highest number a pending message holds
  std::int32_t next_temp_ = 0;      // the first temporary name no pending file holds
};

}  // namespace lw
