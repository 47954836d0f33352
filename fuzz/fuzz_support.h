// What the fuzz targets share: a scratch folder per process, the split of
// one input into several files, and the walk that reads every message of
// an open base the way a scan does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fidoutil/address.h"
#include "msgbase/message_base.h"

namespace lw::fuzz {

// A folder of this process's own, created on first use and emptied by
// every later call, so each input starts from nothing.  Ends with "/".
const std::string& FreshScratchFolder();

// Writes `bytes` to `path`; aborts when that fails (a broken harness, not a
// finding).
void WriteWholeFile(const std::string& path, std::string_view bytes);
// The size of `path`, or -1 when it does not exist.
std::int64_t FileSizeOf(const std::string& path);

// One file cut out of the input.
struct Piece {
  bool present = false;
  std::uint8_t tag = 0;  // 0..127, a free choice the target may give meaning
  std::string_view bytes;
};

// The input as `count` pieces.  Each piece is a 4-byte little-endian word
// followed by its bytes: bits 0..23 are the length (fewer bytes when the
// input ends first), bits 24..30 the tag, and bit 31 set marks a file that
// is absent (no bytes follow).  Pieces the input does not reach are absent.
std::vector<Piece> SplitInput(const std::uint8_t* data, std::size_t size, int count);
// The inverse, for the seed generator.
std::string JoinPieces(const std::vector<Piece>& pieces);

// Walks the open base from its first message, opening each, reading every
// header field, the kludges and the whole text, and closing it again.
// Aborts when a walk step does not move forward.  Returns the number of
// messages that opened.
int ReadEveryMessage(MessageBase& base);

// Creates, fills and stores one small message; returns its number, or
// -1 when WriteMsg failed.
MsgNum AppendSmallMessage(MessageBase& base);
// Whether message `num` of the open base is the one AppendSmallMessage
// stores, whole.
bool HoldsAppendedMessage(MessageBase& base, MsgNum num);

// Ends the process with a message: the target found a broken promise.
[[noreturn]] void Fail(const char* what);

}  // namespace lw::fuzz
