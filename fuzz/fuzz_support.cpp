#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "stream/stream.h"

namespace lw::fuzz {

namespace fs = std::filesystem;

namespace {

// LARKWAY_FUZZ_SCRATCH when set (a crashed process leaves its folder behind,
// so a script points it at a folder of its own); else in memory where the
// system offers it: the bases sync what they write, and there that costs
// nothing.
fs::path ScratchParent() {
  if (const char* chosen = std::getenv("LARKWAY_FUZZ_SCRATCH"); chosen != nullptr && *chosen != '\0') return chosen;
  std::error_code ec;
  if (fs::is_directory("/dev/shm", ec)) return "/dev/shm";
  return fs::temp_directory_path();
}

std::string NewScratchFolder() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "larkway-fuzz-%08x", static_cast<unsigned>(random()));
    fs::path dir = ScratchParent() / name;
    std::error_code ec;
    if (fs::create_directory(dir, ec)) return dir.string() + "/";
  }
  Fail("no scratch folder could be created");
}

// The prefixes the application looks for, and a few that are absent.
const char* const kKludgePrefixes[] = {"\001MSGID", "\001REPLY", "\001INTL", "\001FMPT", "\001TOPT",
                                       "\001FLAGS", "\001PID",   "SEEN-BY",  "\001PATH", "\001NOSUCH"};

const std::uint32_t kAttrMasks[] = {kAttrPrivate,
                                    kAttrCrash,
                                    kAttrReceived,
                                    kAttrSent,
                                    kAttrFileAttached,
                                    kAttrInTransit,
                                    kAttrOrphan,
                                    kAttrKillSent,
                                    kAttrLocal,
                                    kAttrHold,
                                    kAttrFileRequest,
                                    kAttrReturnReceiptRequest,
                                    kAttrIsReturnReceipt,
                                    kAttrAuditRequest,
                                    kAttrFileUpdateRequest,
                                    kAttrScanned};

void ReadHeader(MessageBase& base) {
  std::string text;
  base.GetFrom(text);
  base.GetTo(text);
  base.GetSubj(text);
  FidoAddress orig, dest;
  base.GetAddrs(orig, dest);
  base.GetOrigAddr(orig);
  base.GetDestAddr(dest);
  MsgDateTime written, arrived;
  base.GetDateWritten(written);
  base.GetDateArrived(arrived);
  for (std::uint32_t mask : kAttrMasks) base.IsAttr(mask);
  for (std::uint32_t flag : {kFlagNetmail, kFlagEchomail, kFlagLocal}) base.TestFlag(flag);
}

void ReadKludgesAndText(MessageBase& base) {
  std::string line;
  for (const char* prefix : kKludgePrefixes) base.GetKludge(std::string(prefix), line);
  base.GetKludgeEnd();
  base.SetTextPos(0);
  std::int32_t last_pos = -1;
  while (!base.TextEnd()) {
    base.ReadLine(line);
    std::int32_t pos = base.GetTextPos();
    if (pos <= last_pos) Fail("ReadLine did not move forward");
    last_pos = pos;
  }
  if (Stream* text = base.GetTextStream()) {
    std::string all = ReadAllBytes(*text);
    if (static_cast<std::int64_t>(all.size()) != text->GetSize()) Fail("the text read is not its size");
  }
}

const char kAppendedSubject[] = "appended";
const char kAppendedLine[] = "One line of text.";

}  // namespace

const std::string& FreshScratchFolder() {
  static const std::string folder = NewScratchFolder();
  static const bool removed_at_exit = [] {
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(folder, ec);
    });
    return true;
  }();
  (void)removed_at_exit;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) fs::remove_all(entry.path(), ec);
  if (ec) Fail("the scratch folder could not be emptied");
  return folder;
}

void WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail("a scratch file could not be written");
}

std::int64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  std::uintmax_t size = fs::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

std::vector<Piece> SplitInput(const std::uint8_t* data, std::size_t size, int count) {
  std::vector<Piece> pieces(static_cast<std::size_t>(count));
  std::size_t at = 0;
  for (Piece& piece : pieces) {
    if (size - at < 4) break;
    std::uint32_t word = static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
                         static_cast<std::uint32_t>(data[at + 2]) << 16 |
                         static_cast<std::uint32_t>(data[at + 3]) << 24;
    at += 4;
    if (word & 0x80000000u) continue;
    std::size_t length = std::min<std::size_t>(word & 0xFFFFFFu, size - at);
    piece.present = true;
    piece.tag = static_cast<std::uint8_t>(word >> 24);
    piece.bytes = std::string_view(reinterpret_cast<const char*>(data + at), length);
    at += length;
  }
  return pieces;
}

std::string JoinPieces(const std::vector<Piece>& pieces) {
  std::string out;
  for (const Piece& piece : pieces) {
    std::uint32_t word =
        piece.present ? static_cast<std::uint32_t>(piece.bytes.size()) | std::uint32_t{piece.tag} << 24 : 0x80000000u;
    for (int i = 0; i < 4; ++i) out += static_cast<char>(word >> (8 * i));
    out += piece.bytes;
  }
  return out;
}

int ReadEveryMessage(MessageBase& base) {
  base.GetHighMsgNum();
  base.GetMsgCount();
  base.GetLastRead(0);
  base.GetLastRead(1);
  int opened = 0;
  MsgNum last_position = -1;
  for (base.SeekFirst(1); base.SeekFound(); base.SeekNext()) {
    // The position (a number, or a place in the index) grows on every step,
    // whatever numbers a damaged base holds.
    const MsgNum position = base.GetMsgPosition();
    if (position <= last_position) Fail("the walk did not move forward");
    last_position = position;
    base.GetMsgNum();
    if (!base.OpenMsg()) continue;
    ++opened;
    ReadHeader(base);
    ReadKludgesAndText(base);
    base.CloseMsg();
  }
  return opened;
}

MsgNum AppendSmallMessage(MessageBase& base) {
  if (!base.CreateMsg()) return -1;
  FidoAddress orig, dest;
  ParseFidoAddress("2:5020/1042.7", orig);
  ParseFidoAddress("2:5020/9", dest);
  base.SetFrom("Fuzz Sender");
  base.SetTo("Sysop");
  base.SetSubj("appended");
  base.SetAddrs(orig, dest, true);
  base.SetMsgKind(0);  // netmail
  base.SetAttr(kAttrPrivate, true);
  base.AddKludge("\001PID: fuzz");
  base.WriteLine("One line of text.");
  bool stored = base.WriteMsg();
  base.CloseMsg();
  return stored ? base.GetMsgNum() : -1;
}

bool HoldsAppendedMessage(MessageBase& base, MsgNum num) {
  base.SeekFirst(num);
  if (!base.SeekFound() || base.GetMsgNum() != num || !base.OpenMsg()) return false;
  std::string subject;
  base.GetSubj(subject);
  Stream* text = base.GetTextStream();
  bool whole = subject == kAppendedSubject && text != nullptr &&
               ReadAllBytes(*text).find(std::string(kAppendedLine) + "\r") != std::string::npos;
  base.CloseMsg();
  return whole;
}

void Fail(const char* what) {
  std::fprintf(stderr, "==FUZZ== %s\n", what);
  std::abort();
}

}  // namespace lw::fuzz
