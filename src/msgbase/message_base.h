// MessageBase: the one interface through which areas of every format are
// read and written.  The base class implements the number walk and every
// operation on the message text (lines, kludges, address kludges, origin
// line, kind flags) once for all formats; the formats supply the rest.
//
// A plain MessageBase (no format) over a stream serves as a line reader;
// on it every format operation fails: it sets Status to kNoFormat and
// returns false, 0 or nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// A message number.  The formats store numbers as unsigned 32-bit values
// (1 to 4294967295; 0 is no message); a wider signed type holds every one
// of them, and the number after the highest, without a sign or overflow.
using MsgNum = std::int64_t;

// Message-kind flags.
enum MsgKindFlag : std::uint32_t { kFlagNetmail = 0x1, kFlagEchomail = 0x2, kFlagLocal = 0x4 };

// The longest kludge line the kludge operations read whole.
inline constexpr std::int32_t kMaxKludgeLine = 16384;
// The first capacity of a memory stream that holds a message's text.
inline constexpr std::int32_t kMemStreamSizeHint = 65536;
// The zone of an address that names none.
inline constexpr std::int16_t kDefaultZone = 2;
// What WriteLine ends a line with (CR), and what starts a kludge line (^A).
inline constexpr char kLineTerminator = 13;
inline constexpr char kKludgeChar = 1;
// ReadLine hands out a text line up to this many characters.
inline constexpr std::size_t kMaxTextLine = 255;
// The first kMaxTextLine characters of `line`.
inline std::string CutTextLine(std::string line) {
  if (line.size() > kMaxTextLine) line.resize(kMaxTextLine);
  return line;
}

// The netmail address kludge lines that say `orig` and `dest` whole: INTL,
// then FMPT and TOPT for a point, each ended by a CR.
std::string AddressKludgeLines(const FidoAddress& orig, const FidoAddress& dest);

// Status of a plain MessageBase asked for a format operation.
inline constexpr std::int32_t kNoFormat = 217;

// How the operations fail: an operation that fails sets Status to a code
// of its format (or kNoFormat) and returns false, 0 or an empty value; a
// void operation reports only through Status.  Status keeps the code of the
// last failure until the caller clears it, and FailureCause tells what
// failed and why.  No failed operation leaves a message half written on
// disk.
//
// The current message: SeekFirst/SeekNext/SeekPrior pick a number
// (CurMsgNum), OpenMsg or OpenMsgHeader read it into memory, CreateMsg
// starts a new one.  Header fields (names, subject, attributes, dates) and
// Text then live in memory; only WriteMsg, WriteMsgHeader, DeleteMsg,
// SetLastRead, CloseMsgBase and CommitBatch write to disk.
class MessageBase {
 public:
  // A base of no format and no text.
  MessageBase();
  // A base of no format whose Text is `text` (lent: read and written, never
  // freed), so the line and kludge operations work on any stream.
  explicit MessageBase(Stream* text);
  virtual ~MessageBase();
  MessageBase(const MessageBase&) = delete;
  MessageBase& operator=(const MessageBase&) = delete;

  // ---- The base ----

  // Opens the existing base at `path` and sets IsOpen.  A format may
  // repair, and sync, what an interrupted change left behind.  False, with
  // IsOpen off and Status set, when its files are missing, locked by
  // another program, unreadable or damaged beyond repair.
  virtual bool OpenMsgBase(const std::string& path);
  // Creates the files of a base at `path` that are missing (never emptying
  // one that exists), makes them durable in their folder and opens the
  // base.  False, with Status set, when a file cannot be made or synced.
  virtual bool CreateMsgBase(const std::string& path);
  // Whether a base of this format is at `path` (its files exist); reads
  // only the folder, opens nothing, changes no state.
  virtual bool MsgBaseExists(const std::string& path);
  // Commits an open batch, writes back what the format keeps in memory
  // (headers, counts), syncs and closes the files; IsOpen goes off either
  // way.  False when any of that failed.
  virtual bool CloseMsgBase();
  // Makes the next OpenMsgBase check the whole base, whatever the cheap
  // tests of the open say, and repair what it must.  A format whose open
  // has nothing more to check opens as always.
  void CheckWholeOnNextOpen() { check_whole_ = true; }
  // What the last OpenMsgBase found out of line and mended, one line each
  // ("ActiveMsgs was 7, now 5"); empty when it found nothing to mend.
  virtual std::vector<std::string> RepairsOnOpen() const;

  // ---- Walking the numbers ----

  // Whether message `msg_num` is stored and not deleted.  A format whose
  // record cannot be read says true, so that OpenMsg reports the message
  // instead of a walk passing over it.
  virtual bool MsgExists(MsgNum msg_num);
  // The current message's number (CurMsgNum); 0 after a walk ended.
  virtual MsgNum GetMsgNum();
  // Moves to the first existing message numbered `msg_num` or higher;
  // CurMsgNum is 0 when there is none.  SeekNext and SeekPrior move to
  // the next higher or lower existing number, 0 past either end.  The
  // base's walk never goes past GetHighMsgNum; a format walking its own
  // records bounds the walk by their count.
  virtual void SeekFirst(MsgNum msg_num);
  virtual void SeekNext();
  virtual void SeekPrior();
  // Whether the last seek found a message (CurMsgNum != 0).
  virtual bool SeekFound();
  // A format's token for the current place in the walk, and going back to
  // one (CurMsgNum follows; 0 when the token leads to no record).
  virtual MsgNum GetMsgPosition();
  virtual void SetMsgPosition(MsgNum pos);
  // The highest number in use and the count of stored messages (a message
  // created and not yet written may count).
  virtual MsgNum GetHighMsgNum();
  virtual std::int32_t GetMsgCount();

  // ---- One message ----

  // Reads message CurMsgNum whole, header into memory and text into Text
  // (position 0).  A message that cannot be read whole (a failed read, a
  // length or offset outside its file, an unfinished message) is never
  // handed out in part: false, Status set, nothing changed.  A format may
  // build text here that is not stored as text: Squish puts the kludge
  // lines of its control area ahead of the body, and JAM makes a kludge
  // line of each header subfield (MSGID, REPLY, PID, ...).
  virtual bool OpenMsg();
  // As OpenMsg, with only the kludge lines that lead the text in Text; such
  // a message can have its header rewritten, not be written whole.
  virtual bool OpenMsgHeader();
  // Drops the open message from memory; nothing is written.  False when no
  // message was open.
  virtual bool CloseMsg();
  // Starts a new, empty message in memory (header cleared, empty Text) under
  // the number the format will give it; nothing is written before WriteMsg.
  virtual bool CreateMsg();
  // Stores the open message whole, header and Text as they are in memory
  // (a message made by CreateMsg is added under a new number).  A format
  // may move the leading kludge lines out of the text into its own storage
  // (Squish's control area, JAM's subfields), to be given back as lines by
  // OpenMsg.  Outside a batch, true only when the message, the records
  // that lead to it and the base's header are on stable storage.  False:
  // the message may not be counted stored; the base holds it whole (when
  // only a step after it was written failed, such as a sync or the base's
  // header) or not at all, and every other message as it was.
  virtual bool WriteMsg();
  // Rewrites the stored header of the open message in place (names,
  // subject, attributes, dates; the text is not touched) and syncs it;
  // false with Status set when the write or sync failed.
  virtual bool WriteMsgHeader();
  // Deletes the current message (it may be open: it stays readable in
  // memory) and, outside a batch, makes that durable; the base's counts
  // follow.  False when that failed: the message is then still there whole
  // or gone (a sync after the removal failed), every other message as it
  // was.
  virtual bool DeleteMsg();

  // ---- Header fields of the open message (memory only) ----

  // The names and subject as stored, cut at the format's widths when set.
  virtual void GetFrom(std::string& name);
  virtual void GetTo(std::string& name);
  virtual void GetSubj(std::string& subj);
  virtual void SetFrom(const std::string& name);
  virtual void SetTo(const std::string& name);
  virtual void SetSubj(const std::string& subj);
  // One attribute of AttrMask.  IsAttr is false for an attribute the format
  // has no place for, and SetAttr then does nothing.  A format may keep an
  // attribute in the text: *.MSG rewrites (or drops) the ^AFLAGS kludge
  // line for the attributes its header lacks.
  virtual bool IsAttr(std::uint32_t mask);
  virtual void SetAttr(std::uint32_t mask, bool on);
  // The dates in the format's own precision (a packed stamp keeps seconds
  // in steps of two); a date outside its range is clamped (dates.h).
  virtual void GetDateWritten(MsgDateTime& dt);
  virtual void GetDateArrived(MsgDateTime& dt);
  virtual void SetDateWritten(const MsgDateTime& dt);
  virtual void SetDateArrived(const MsgDateTime& dt);
  // Both dates of the current message to the current local time.
  void SetDatesToNow();

  // ---- Addresses: from the header and the kludge lines of Text ----

  // The origin and destination: the format's header fields (when it has
  // them), overridden by the ^AMSGID, ^AINTL, ^AFMPT and ^ATOPT lines.
  // Reading moves the text position.
  virtual void GetOrigAddr(FidoAddress& addr);
  virtual void GetDestAddr(FidoAddress& addr);
  virtual void GetAddrs(FidoAddress& orig, FidoAddress& dest);
  // Sets the origin: rewrites the ^AMSGID line (a new serial when
  // `new_msg_id` or when there was none, else the old one kept) and, for
  // netmail, the ^AINTL line and ^AFMPT (dropped for point 0).  A format
  // with address fields in its header sets them too.
  virtual void SetOrigAddr(const FidoAddress& addr, bool new_msg_id);
  // Sets the destination: for netmail, rewrites ^AINTL and ^ATOPT (dropped
  // for point 0); echomail keeps its text.
  virtual void SetDestAddr(const FidoAddress& addr);
  virtual void SetAddrs(const FidoAddress& orig, const FidoAddress& dest, bool new_msg_id);
  // For a copy whose text, kludges included, is already the source's: sets
  // the address fields the format keeps in its header, so that the
  // message reads as `orig` and `dest` (GetAddrs) without its text being
  // rewritten.  A format that keeps part of an address only in kludge
  // lines (*.MSG: zone and point) adds to a netmail text the address
  // kludges it lacks for that; nothing else of the text changes.
  virtual void SetHeaderAddrs(const FidoAddress& orig, const FidoAddress& dest);
  // What one kludge line says of the origin or destination, laid over
  // `addr` (fields the line does not give stay as they are).
  virtual void ParseOrigKludge(const std::string& line, FidoAddress& addr);
  virtual void ParseDestKludge(const std::string& line, FidoAddress& addr);

  // ---- Text lines (Text at its position; nothing when Text is null) ----

  // Reads the line at the position by FindLineEnd's rule (text_lines.h) and
  // moves past its terminator.  ReadLineZ keeps up to `capacity` - 1 bytes
  // and a NUL in `buf`; ReadLine keeps up to kMaxTextLine bytes.
  virtual void ReadLineZ(char* buf, std::int32_t capacity);
  virtual void ReadLine(std::string& line);
  // Writes `line` and a CR at the position, over what was there.
  virtual void WriteLineZ(const char* line);
  virtual void WriteLine(const std::string& line);
  // Whether the position is at (or past) the end of Text.
  virtual bool TextEnd();
  virtual void SetTextPos(std::int32_t pos);
  virtual std::int32_t GetTextPos();
  virtual std::int32_t GetTextSize();
  // Cuts Text at the position.
  virtual void TruncateText();
  // Raw bytes at the position; a short read sets the stream's Status.
  virtual void ReadText(void* buf, std::int32_t count);
  virtual void WriteText(const void* buf, std::int32_t count);
  virtual Stream* GetTextStream();
  // Writes " * Origin: text (address)" as a line, the text cut so that the
  // line stays within 79 characters.
  virtual void AddOrigin(const FidoAddress& addr, const std::string& origin_text);

  // ---- Kludge lines (^A lines of Text) ----

  // Finds the first line that starts with `prefix`, from the text's start:
  // true with the line in `buf` (ReadLineZ's cut) or `line`, FoundStart at
  // its start, FoundEnd and the text position after its terminator.  False
  // when there is none, with the text's last line in `buf` or `line` and
  // FoundStart at it, and the position at the end (a message without a
  // MSGID is known by its last line).  A text that cannot be read holds no
  // line: false, nothing found.
  virtual bool FindKludgeZ(const char* prefix, char* buf, std::int32_t capacity);
  virtual bool GetKludge(const std::string& prefix, std::string& line);
  // Replaces the first line starting with `prefix` by `line`, or adds
  // `line` as AddKludge does when there is none.  The rest of the text is
  // kept byte for byte.
  virtual void SetKludgeZ(const char* prefix, const char* line);
  virtual void SetKludge(const std::string& prefix, const std::string& line);
  // Removes the first line starting with `prefix`, if any.
  virtual void DeleteKludgeZ(const char* prefix);
  virtual void DeleteKludge(const std::string& prefix);
  // Inserts `line` after the last kludge line of the leading block, or at
  // the end of a text that has none.
  virtual void AddKludgeZ(const char* line);
  virtual void AddKludge(const std::string& line);
  // Where the leading block of kludge lines ends (the start of the first
  // plain line after a kludge line); the text's size when no plain line
  // follows one.
  virtual std::int32_t GetKludgeEnd();
  // Inserts `lines` (whole lines, each ended by a CR) right after the
  // kludge lines that open the text, at its start when none does; the
  // rest of the text is kept byte for byte.
  void InsertLeadingKludges(std::string_view lines);

  // ---- Message kind (Flags, memory only) ----
  // The kind of the area, said by the caller before it reads or writes
  // (a scan of netmail areas sets kFlagNetmail).  The address kludges
  // follow it: INTL, FMPT and TOPT are written, and rebuilt by a format
  // that stores them elsewhere (JAM), only for netmail.

  virtual void SetFlag(std::uint32_t mask, bool on);
  // True when every bit of `mask` is set.
  virtual bool TestFlag(std::uint32_t mask);
  // 0 netmail, 1 echomail, 2 local: sets that kind's flag, clears the rest.
  virtual void SetMsgKind(int kind);

  // ---- Lastread ----

  // The lastread number of user `user_num`; 0 when it has none or the
  // record cannot be read.
  virtual MsgNum GetLastRead(std::int32_t user_num);
  // Stores it, synced; false on any failure.
  virtual bool SetLastRead(std::int32_t user_num, MsgNum msg_num);

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

  // The file the last failure happened on and the system's reason
  // ("net/3.msg: Permission denied"), or words for a failure no system
  // call made ("net.jdx: the record lies beyond the end of the file"); ""
  // while Status is 0 or when the format knows nothing more.
  std::string FailureCause() const { return Status == 0 ? std::string() : failure_cause_; }

  std::int32_t Status = 0;
  bool IsOpen = false;
  std::uint32_t Flags = 0;
  MsgNum CurMsgNum = 0;
  Stream* Text = nullptr;  // lent by the format while a message is open
  std::int32_t FoundStart = 0;
  std::int32_t FoundEnd = 0;

 protected:
  // Sets Status to `code` and the cause to `cause`; false.
  bool Fail(std::int32_t code, std::string cause);
  // Sets Status to `code`, the cause being what the format's streams and
  // files wrote to FailureSink since the last Fail (none: no cause, so an
  // earlier failure's cause never describes this one); false.
  bool Fail(std::int32_t code);
  // Sets Status to `code`, and the cause to the failure `stream` holds
  // when it holds one; false.
  bool Fail(std::int32_t code, const Stream& stream);
  // Where the streams and files of a format write the cause of each of
  // their failures as it happens (Stream::ReportFailuresTo); the next Fail
  // takes it.
  std::string* FailureSink() { return &sink_cause_; }
  // Whether this open is to check the whole base (CheckWholeOnNextOpen);
  // true once, for the open that asks.
  bool TakeCheckWhole() { return std::exchange(check_whole_, false); }

 private:
  // Sets Status to kNoFormat; false.
  bool NoFormat();
  // A line of a text read whole: found or not, its bytes [start, end) (cut
  // as the lookup keeps it), the next line at `next`.
  struct TextLine {
    bool found = false;
    std::size_t start = 0;
    std::size_t end = 0;
    std::size_t next = 0;
  };
  // Reads the whole of Text into `text`, leaving the position at its end.
  // False, with `text` empty, when there is no Text or the stream reports a
  // failure (before the read or from it): no lookup then acts on the text.
  bool ReadWholeText(std::string& text);
  // As ReadWholeText, for a lookup that only reads: `text` views Text's
  // own memory when it keeps the text in one piece, else `storage`, which
  // the text is read into.  Valid until Text next changes.
  bool ViewWholeText(std::string& storage, std::string_view* text);
  // The line FindKludgeZ settles on in `text` (the whole of Text), each line
  // seen as its first `limit` bytes: the first one that starts with
  // `prefix`, else the last line (what a walk from the start reads last).
  // Sets FoundStart, FoundEnd and the position as FindKludgeZ documents.
  TextLine SettleOnKludge(std::string_view text, std::string_view prefix, std::size_t limit);
  // Writes `insert` and then the bytes of `text` (the whole of Text) from
  // `from` on at `at`, and cuts Text behind them.  A failed write stays in
  // the stream's Status.
  void ReplaceRange(std::string_view text, std::size_t at, std::size_t from, std::string_view insert);
  // AddKludgeZ over `text`, the whole of Text.
  void AddKludgeTo(std::string_view text, const char* line);

  std::string failure_cause_;
  std::string sink_cause_;  // written by streams and files, taken by Fail
  bool check_whole_ = false;
};

}  // namespace lw
