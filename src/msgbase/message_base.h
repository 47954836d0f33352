// MessageBase: the one interface through which areas of every format are
// read and written.  The base class implements the number walk and every
// operation on the message text (lines, kludges, address kludges, origin
// line, kind flags) once for all formats; the formats supply the rest.
//
// A plain MessageBase (no format) over a stream serves as a line reader;
// on it every format operation fails: it sets Status to kNoFormat and
// returns false, 0 or nothing.
#pragma once

#include <cstdint>
#include <string>

#include "fidoutil/address.h"
#include "fidoutil/dates.h"
#include "stream/stream.h"

namespace lw {

// Attribute masks: one bit per call.
enum AttrMask : std::uint32_t {
  kAttrPrivate = 0x0001,
  kAttrCrash = 0x0002,
  kAttrReceived = 0x0004,
  kAttrSent = 0x0008,
  kAttrFileAttached = 0x0010,
  kAttrInTransit = 0x0020,
  kAttrOrphan = 0x0040,
  kAttrKillSent = 0x0080,
  kAttrLocal = 0x0100,
  kAttrHold = 0x0200,
  kAttrFileRequest = 0x0400,
  kAttrReturnReceiptRequest = 0x0800,
  kAttrIsReturnReceipt = 0x1000,
  kAttrAuditRequest = 0x2000,
  kAttrFileUpdateRequest = 0x4000,
  kAttrScanned = 0x8000,
};

// Message-kind flags.
enum MsgKindFlag : std::uint32_t { kFlagNetmail = 0x1, kFlagEchomail = 0x2, kFlagLocal = 0x4 };

inline constexpr std::int32_t kMaxKludgeLine = 16384;
inline constexpr std::int32_t kMemStreamSizeHint = 65536;
inline constexpr std::int16_t kDefaultZone = 2;
inline constexpr char kLineTerminator = 13;
inline constexpr char kKludgeChar = 1;
// ReadLine hands out a text line up to this many characters.
inline constexpr std::size_t kMaxTextLine = 255;
inline std::string CutTextLine(std::string line) {
  if (line.size() > kMaxTextLine) line.resize(kMaxTextLine);
  return line;
}

// Status of a plain MessageBase asked for a format operation.
inline constexpr std::int32_t kNoFormat = 217;

class MessageBase {
 public:
  MessageBase();                       // Init
  explicit MessageBase(Stream* text);  // InitOnStream: reads `text`, never frees it
  virtual ~MessageBase();              // Destroy
  MessageBase(const MessageBase&) = delete;
  MessageBase& operator=(const MessageBase&) = delete;

  // The operations, in their slot order.
  virtual bool OpenMsgBase(const std::string& path);
  virtual bool CreateMsgBase(const std::string& path);
  virtual bool MsgBaseExists(const std::string& path);
  virtual bool CloseMsgBase();
  virtual bool MsgExists(std::int32_t msg_num);
  virtual std::int32_t GetMsgNum();
  virtual void SeekFirst(std::int32_t msg_num);
  virtual void SeekNext();
  virtual void SeekPrior();
  virtual bool SeekFound();
  virtual std::int32_t GetMsgPosition();
  virtual void SetMsgPosition(std::int32_t pos);
  virtual bool OpenMsg();
  virtual bool OpenMsgHeader();
  virtual bool CloseMsg();
  virtual std::int32_t GetHighMsgNum();
  virtual std::int32_t GetMsgCount();
  virtual void GetFrom(std::string& name);
  virtual void GetTo(std::string& name);
  virtual void GetSubj(std::string& subj);
  virtual void GetOrigAddr(FidoAddress& addr);
  virtual void GetDestAddr(FidoAddress& addr);
  virtual void GetAddrs(FidoAddress& orig, FidoAddress& dest);
  virtual void SetFrom(const std::string& name);
  virtual void SetTo(const std::string& name);
  virtual void SetSubj(const std::string& subj);
  virtual void SetOrigAddr(const FidoAddress& addr, bool new_msg_id);
  virtual void SetDestAddr(const FidoAddress& addr);
  virtual void SetAddrs(const FidoAddress& orig, const FidoAddress& dest, bool new_msg_id);
  virtual void ReadLineZ(char* buf, std::int32_t capacity);
  virtual void ReadLine(std::string& line);
  virtual void WriteLineZ(const char* line);
  virtual void WriteLine(const std::string& line);
  virtual bool TextEnd();
  virtual void SetTextPos(std::int32_t pos);
  virtual std::int32_t GetTextPos();
  virtual std::int32_t GetTextSize();
  virtual void TruncateText();
  virtual void ReadText(void* buf, std::int32_t count);
  virtual void WriteText(const void* buf, std::int32_t count);
  virtual bool IsAttr(std::uint32_t mask);
  virtual void SetAttr(std::uint32_t mask, bool on);
  virtual void GetDateWritten(MsgDateTime& dt);
  virtual void GetDateArrived(MsgDateTime& dt);
  virtual void SetDateWritten(const MsgDateTime& dt);
  virtual void SetDateArrived(const MsgDateTime& dt);
  virtual bool WriteMsg();
  virtual bool WriteMsgHeader();
  virtual bool FindKludgeZ(const char* prefix, char* buf, std::int32_t capacity);
  virtual bool GetKludge(const std::string& prefix, std::string& line);
  virtual void SetKludgeZ(const char* prefix, const char* line);
  virtual void SetKludge(const std::string& prefix, const std::string& line);
  virtual void DeleteKludgeZ(const char* prefix);
  virtual void DeleteKludge(const std::string& prefix);
  virtual void AddKludgeZ(const char* line);
  virtual void AddKludge(const std::string& line);
  virtual Stream* GetTextStream();
  virtual void SetFlag(std::uint32_t mask, bool on);
  virtual bool TestFlag(std::uint32_t mask);
  virtual void ParseOrigKludge(const std::string& line, FidoAddress& addr);
  virtual void ParseDestKludge(const std::string& line, FidoAddress& addr);
  virtual bool CreateMsg();
  virtual bool DeleteMsg();
  virtual std::int32_t GetLastRead(std::int32_t user_num);
  virtual bool SetLastRead(std::int32_t user_num, std::int32_t msg_num);
  virtual void SetMsgKind(int kind);
  virtual void AddOrigin(const FidoAddress& addr, const std::string& origin_text);
  virtual std::int32_t GetKludgeEnd();

  // Batched durability.  Without a batch, each WriteMsg and DeleteMsg has
  // made its change durable when it returns true.  After BeginBatch they
  // may leave it unsynced, still ordering their writes so that a crash
  // leaves a base the next open finds consistent or repairs without loss
  // of any message that was durable before; CommitBatch makes every change
  // since BeginBatch durable (message data, index, header and folder
  // entries) and ends the batch.  CommitBatch is true when all of that
  // reached stable storage, and true with nothing to do outside a batch;
  // false means no message written in the batch may be counted durable.
  // CloseMsgBase commits a batch still open (and fails when that fails).
  // This base keeps per-call durability: a batch costs nothing here.
  virtual void BeginBatch();
  virtual bool CommitBatch();

  // Both dates of the current message to the current local time.
  void SetDatesToNow();

  std::int32_t Status = 0;
  bool IsOpen = false;
  std::uint32_t Flags = 0;
  std::int32_t CurMsgNum = 0;
  Stream* Text = nullptr;  // lent by the format while a message is open
  std::int32_t FoundStart = 0;
  std::int32_t FoundEnd = 0;

 private:
  // Sets Status to kNoFormat; false.
  bool NoFormat();
  // Moves the text from `from` to its end into a scratch stream, runs
  // `edit` at `at`, and puts the saved tail back behind what it wrote.
  template <typename Edit>
  void ReplaceRange(std::int32_t at, std::int32_t from, Edit edit);
};

}  // namespace lw
