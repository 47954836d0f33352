#include "fault/base_checker.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <type_traits>

#include "msgbase/area.h"
#include "msgbase/fido/msg_layout.h"
#include "msgbase/jam/jam_layout.h"
#include "msgbase/squish/squish_layout.h"
#include "stream/stream.h"

namespace lw::test {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The file `path`, or the file of that name in another case; nothing when
// neither exists.
std::optional<Bytes> ReadCaseless(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path p(path);
  std::error_code ec;
  if (!fs::exists(p, ec)) {
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    std::string wanted = p.filename().string();
    std::transform(wanted.begin(), wanted.end(), wanted.begin(), ::tolower);
    bool found = false;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
      std::string name = e.path().filename().string();
      std::transform(name.begin(), name.end(), name.begin(), ::tolower);
      if (name == wanted) {
        p = e.path();
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }
  std::ifstream f(p, std::ios::binary);
  if (!f) return std::nullopt;
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

template <typename... Parts>
std::string Say(const Parts&... parts) {
  std::ostringstream out;
  (out << ... << parts);
  return out.str();
}

// Whether [at, at + size) lies inside a file of `file_size` bytes.
bool Inside(std::uint64_t at, std::uint64_t size, std::uint64_t file_size) {
  return at <= file_size && size <= file_size - at;
}

// --- Squish ---------------------------------------------------------------

struct SquishFiles {
  Bytes sqd, sqi;
};

// Reads the frame header at `ofs`, or says why there is none.
std::optional<squish::FrameHeader> FrameAt(const Bytes& sqd, std::uint32_t ofs, const char* what, Violations& v) {
  if (ofs < squish::kBaseHeaderSize || !Inside(ofs, squish::kFrameHeaderSize, sqd.size())) {
    v.push_back(Say(what, " frame at ", ofs, " is outside the data file (", sqd.size(), " bytes)"));
    return std::nullopt;
  }
  squish::FrameHeader f;
  squish::Decode(sqd.data() + ofs, f);
  if (f.id != squish::kFrameId) {
    v.push_back(Say(what, " frame at ", ofs, " has no frame id"));
    return std::nullopt;
  }
  if (!Inside(ofs + std::uint64_t{squish::kFrameHeaderSize}, f.frame_length, sqd.size())) {
    v.push_back(Say(what, " frame at ", ofs, " runs past the end of the data file"));
  }
  return f;
}

// The message chain from begin_frame, checking frames and back links.
std::vector<std::uint32_t> WalkMessageChain(const Bytes& sqd, const squish::BaseHeader& h, Violations& v) {
  std::vector<std::uint32_t> chain;
  const std::size_t bound = sqd.size() / squish::kFrameHeaderSize + 1;
  std::uint32_t prev = 0;
  for (std::uint32_t ofs = h.begin_frame; ofs != 0;) {
    if (chain.size() >= bound) {
      v.push_back("message chain does not end (a loop)");
      break;
    }
    std::optional<squish::FrameHeader> f = FrameAt(sqd, ofs, "chain", v);
    if (!f) break;
    if (f->frame_type != squish::kMessageFrame) v.push_back(Say("chain frame at ", ofs, " is not a message frame"));
    if (f->prev_frame != prev) {
      v.push_back(Say("chain frame at ", ofs, " links back to ", f->prev_frame, ", not ", prev));
    }
    if (f->msg_length > f->frame_length) v.push_back(Say("chain frame at ", ofs, " holds more than it has room for"));
    chain.push_back(ofs);
    prev = ofs;
    ofs = f->next_frame;
  }
  if (h.last_frame != prev) v.push_back(Say("last_frame is ", h.last_frame, " but the chain ends at ", prev));
  return chain;
}

void CheckSquishIndex(const SquishFiles& files, const squish::BaseHeader& h, const std::vector<std::uint32_t>& chain,
                      Violations& v) {
  if (files.sqi.size() % squish::kIndexRecordSize != 0) {
    v.push_back(Say("index size ", files.sqi.size(), " is no whole number of records"));
  }
  const std::size_t records = files.sqi.size() / squish::kIndexRecordSize;
  std::vector<std::uint32_t> index_order;
  std::set<std::uint32_t> umsgids;
  std::uint32_t previous_umsgid = 0;
  for (std::size_t i = 0; i < records; ++i) {
    squish::IndexRecord r;
    squish::Decode(files.sqi.data() + i * squish::kIndexRecordSize, r);
    index_order.push_back(r.ofs);
    std::optional<squish::FrameHeader> f = FrameAt(files.sqd, r.ofs, "indexed", v);
    if (f && f->frame_type != squish::kMessageFrame) {
      v.push_back(Say("index record ", i, " points at a frame that is not a message frame"));
    }
    if (!umsgids.insert(r.umsgid).second) v.push_back(Say("UMSGID ", r.umsgid, " is in the index twice"));
    if (r.umsgid >= h.uid) v.push_back(Say("UMSGID ", r.umsgid, " is not below the base's next uid ", h.uid));
    if (i != 0 && r.umsgid <= previous_umsgid) v.push_back(Say("UMSGID ", r.umsgid, " does not rise in the index"));
    previous_umsgid = r.umsgid;
  }
  if (index_order != chain) v.push_back("index order differs from chain order");
  if (h.num_msg != records) v.push_back(Say("num_msg ", h.num_msg, " but ", records, " index records"));
  if (h.num_msg != chain.size()) v.push_back(Say("num_msg ", h.num_msg, " but ", chain.size(), " frames in the chain"));
}

void CheckSquishFreeChain(const Bytes& sqd, const squish::BaseHeader& h, const std::vector<std::uint32_t>& chain,
                          Violations& v) {
  const std::set<std::uint32_t> live(chain.begin(), chain.end());
  const std::size_t bound = sqd.size() / squish::kFrameHeaderSize + 1;
  std::size_t steps = 0;
  for (std::uint32_t ofs = h.free_frame; ofs != 0; ++steps) {
    if (steps >= bound) {
      v.push_back("free chain does not end (a loop)");
      return;
    }
    if (live.count(ofs) != 0) {
      v.push_back(Say("free chain reaches the live frame at ", ofs));
      return;
    }
    std::optional<squish::FrameHeader> f = FrameAt(sqd, ofs, "free", v);
    if (!f) return;
    if (f->frame_type != squish::kFreeFrame) v.push_back(Say("free frame at ", ofs, " is not marked free"));
    ofs = f->next_frame;
  }
}

// The UMSGID in the message header of every indexed frame is the record's.
void CheckSquishUmsgids(const SquishFiles& files, Violations& v) {
  for (std::size_t i = 0; i < files.sqi.size() / squish::kIndexRecordSize; ++i) {
    squish::IndexRecord r;
    squish::Decode(files.sqi.data() + i * squish::kIndexRecordSize, r);
    const std::uint64_t header_at = std::uint64_t{r.ofs} + squish::kFrameHeaderSize;
    if (r.ofs < squish::kBaseHeaderSize || !Inside(header_at, squish::kMsgHeaderSize, files.sqd.size())) continue;
    squish::MsgHeader m;
    squish::Decode(files.sqd.data() + header_at, m);
    if (m.umsgid != r.umsgid) {
      v.push_back(Say("index record ", i, " names UMSGID ", r.umsgid, " but its frame holds ", m.umsgid));
    }
  }
}

// A frame as a program that does not repair reaches it: its header and
// its whole length inside end_frame (which a writer appends at).
std::optional<squish::FrameHeader> ReachedFrame(const Bytes& sqd, std::uint64_t end, std::uint32_t ofs,
                                                const char* what, Violations& v) {
  if (ofs < squish::kBaseHeaderSize || !Inside(ofs, squish::kFrameHeaderSize, end)) {
    v.push_back(Say(what, " frame at ", ofs, " is outside end_frame ", end));
    return std::nullopt;
  }
  squish::FrameHeader f;
  squish::Decode(sqd.data() + ofs, f);
  if (f.id != squish::kFrameId) {
    v.push_back(Say(what, " frame at ", ofs, " has no frame id"));
    return std::nullopt;
  }
  if (!Inside(ofs + std::uint64_t{squish::kFrameHeaderSize}, f.frame_length, end)) {
    v.push_back(Say(what, " frame at ", ofs, " runs past end_frame ", end));
    return std::nullopt;
  }
  return f;
}

// A bounded walk of a chain from `first`; frames must be of `type`.
std::vector<std::uint32_t> RawChain(const Bytes& sqd, std::uint64_t end, std::uint32_t first, std::uint16_t type,
                                    const char* what, std::map<std::uint32_t, std::uint64_t>& frames, Violations& v) {
  std::vector<std::uint32_t> chain;
  std::set<std::uint32_t> seen;
  for (std::uint32_t ofs = first; ofs != 0;) {
    if (!seen.insert(ofs).second) {
      v.push_back(Say(what, " chain does not end (a loop)"));
      break;
    }
    std::optional<squish::FrameHeader> f = ReachedFrame(sqd, end, ofs, what, v);
    if (!f) break;
    if (f->frame_type != type) v.push_back(Say(what, " chain frame at ", ofs, " is of type ", f->frame_type));
    if (type == squish::kMessageFrame && f->msg_length > f->frame_length) {
      v.push_back(Say(what, " chain frame at ", ofs, " holds more than it has room for"));
    }
    frames[ofs] = ofs + std::uint64_t{squish::kFrameHeaderSize} + f->frame_length;
    chain.push_back(ofs);
    ofs = f->next_frame;
  }
  return chain;
}

// A chain's last frame as the header names it: on the chain, and past it
// only what no index record names (a frame being linked or unlinked),
// so that a writer linking a frame after it cuts off nothing that counts.
void CheckRawChainEnd(const std::vector<std::uint32_t>& chain, std::uint32_t last, const std::set<std::uint32_t>& indexed,
                      const char* what, Violations& v) {
  if (chain.empty()) {
    if (last != 0) v.push_back(Say(what, " chain is empty but its last frame is ", last));
    return;
  }
  const auto at = std::find(chain.begin(), chain.end(), last);
  if (at == chain.end()) {
    v.push_back(Say(what, " chain's last frame ", last, " is not on the chain"));
    return;
  }
  for (auto after = at + 1; after != chain.end(); ++after) {
    if (indexed.count(*after) != 0) v.push_back(Say("the indexed frame at ", *after, " lies past last_frame ", last));
  }
}

void CheckSquishRaw(const SquishFiles& files, const squish::BaseHeader& h, Violations& v) {
  const std::uint64_t end = std::min<std::uint64_t>(h.end_frame, files.sqd.size());
  std::map<std::uint32_t, std::uint64_t> frames;  // every frame reached: offset -> end
  const std::vector<std::uint32_t> chain =
      RawChain(files.sqd, end, h.begin_frame, squish::kMessageFrame, "message", frames, v);
  std::map<std::uint32_t, std::size_t> chain_pos;
  for (std::size_t i = 0; i < chain.size(); ++i) chain_pos[chain[i]] = i;

  if (files.sqi.size() % squish::kIndexRecordSize != 0) {
    v.push_back(Say("index size ", files.sqi.size(), " is no whole number of records"));
  }
  const std::size_t records = files.sqi.size() / squish::kIndexRecordSize;
  std::set<std::uint32_t> indexed;
  std::size_t previous_pos = 0;
  std::uint32_t previous_umsgid = 0;
  for (std::size_t i = 0; i < records; ++i) {
    squish::IndexRecord r;
    squish::Decode(files.sqi.data() + i * squish::kIndexRecordSize, r);
    std::optional<squish::FrameHeader> f = ReachedFrame(files.sqd, end, r.ofs, "indexed", v);
    if (!f) continue;
    frames[r.ofs] = r.ofs + std::uint64_t{squish::kFrameHeaderSize} + f->frame_length;
    if (f->frame_type != squish::kMessageFrame) v.push_back(Say("index record ", i, " names a frame of type ", f->frame_type));
    if (f->msg_length < std::uint64_t{squish::kMsgHeaderSize} + f->clen || f->msg_length > f->frame_length) {
      v.push_back(Say("index record ", i, " names a frame that holds no whole message"));
    }
    if (!indexed.insert(r.ofs).second) v.push_back(Say("two index records name the frame at ", r.ofs));
    if (r.umsgid >= h.uid) v.push_back(Say("UMSGID ", r.umsgid, " is not below the base's next uid ", h.uid));
    if (i != 0 && r.umsgid <= previous_umsgid) v.push_back(Say("UMSGID ", r.umsgid, " does not rise in the index"));
    previous_umsgid = r.umsgid;
    const auto on_chain = chain_pos.find(r.ofs);
    if (on_chain == chain_pos.end()) {
      v.push_back(Say("index record ", i, " names the frame at ", r.ofs, ", which is not on the message chain"));
    } else {
      if (i != 0 && on_chain->second < previous_pos) v.push_back("index order differs from chain order");
      previous_pos = on_chain->second;
    }
  }
  CheckSquishUmsgids(files, v);
  if (h.num_msg > records) v.push_back(Say("num_msg ", h.num_msg, " is above the ", records, " index records"));
  if (h.high_msg > records) v.push_back(Say("high_msg ", h.high_msg, " is above the ", records, " index records"));
  CheckRawChainEnd(chain, h.last_frame, indexed, "message", v);

  const std::vector<std::uint32_t> free_chain =
      RawChain(files.sqd, end, h.free_frame, squish::kFreeFrame, "free", frames, v);
  for (std::uint32_t ofs : free_chain) {
    if (chain_pos.count(ofs) != 0 || indexed.count(ofs) != 0) {
      v.push_back(Say("the free chain reaches the message frame at ", ofs));
    }
  }
  CheckRawChainEnd(free_chain, h.last_free_frame, {}, "free", v);

  // Frames nothing else reaches may hold anything; frames reached may not
  // share a byte.
  std::uint64_t previous_end = squish::kBaseHeaderSize;
  for (const auto& [ofs, frame_end] : frames) {
    if (ofs < previous_end) v.push_back(Say("the frame at ", ofs, " overlaps the frame before it"));
    previous_end = std::max(previous_end, frame_end);
  }
}

// --- JAM ------------------------------------------------------------------

// Checks the subfields and the text of the message header at `ofs`;
// returns its length (fixed part and subfields), 0 when there is no whole
// header there.
std::uint64_t CheckJamHeader(const Bytes& jhr, std::uint64_t jdt_size, std::uint64_t ofs, Violations& v) {
  if (!Inside(ofs, jam::kMsgHeaderSize, jhr.size())) {
    v.push_back(Say("message header at ", ofs, " runs past the end of the header file"));
    return 0;
  }
  jam::MsgHeader m;
  jam::Decode(jhr.data() + ofs, m);
  if (std::memcmp(m.signature, jam::kSignature, 4) != 0) {
    v.push_back(Say("message header at ", ofs, " has no signature"));
    return 0;
  }
  const std::uint64_t subfields_at = ofs + jam::kMsgHeaderSize;
  if (!Inside(subfields_at, m.subfield_len, jhr.size())) {
    v.push_back(Say("subfields of the header at ", ofs, " run past the end of the header file"));
    return 0;
  }
  for (std::uint64_t at = 0; at < m.subfield_len;) {
    if (!Inside(at, jam::kSubfieldHeaderSize, m.subfield_len)) {
      v.push_back(Say("a subfield of the header at ", ofs, " is cut off"));
      break;
    }
    const std::uint32_t dat_len = GetLe32(jhr.data() + subfields_at + at + 4);
    at += jam::kSubfieldHeaderSize;
    if (!Inside(at, dat_len, m.subfield_len)) {
      v.push_back(Say("a subfield of the header at ", ofs, " is longer than SubfieldLen"));
      break;
    }
    at += dat_len;
  }
  if (!Inside(m.offset, m.txt_len, jdt_size)) {
    v.push_back(Say("text of the header at ", ofs, " (", m.offset, "+", m.txt_len, ") is outside the text file (",
                    jdt_size, " bytes)"));
  }
  return jam::kMsgHeaderSize + std::uint64_t{m.subfield_len};
}

// --- *.MSG ----------------------------------------------------------------

bool IsMessageFileName(const std::string& name) {
  if (name.size() < 5) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
  if (ext != ".msg") return false;
  return std::all_of(name.begin(), name.end() - 4, [](char c) { return c >= '0' && c <= '9'; });
}

bool FieldClosed(const Bytes& b, std::size_t at, std::size_t width) {
  return std::find(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + width),
                   0) != b.begin() + static_cast<std::ptrdiff_t>(at + width);
}

// --- identity -------------------------------------------------------------

// The string type of the MessageBase interface's text out-parameters.
template <typename C, typename A>
A OutParamOf(void (C::*)(A&));
using InterfaceText = decltype(OutParamOf(&MessageBase::GetFrom));

template <typename T>
std::string Plain(const T& s) {
  if constexpr (std::is_same_v<T, std::string>) {
    return s;
  } else {
    return s.str();
  }
}

std::string BodyWithoutKludges(const std::string& text) {
  std::string body;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\r', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line[0] == '\n') line.erase(0, 1);
    if ((line.empty() || line[0] != '\001') && !(line.empty() && end == text.size())) body += line + "\r";
    pos = end + 1;
  }
  while (!body.empty() && body.back() == '\0') body.pop_back();
  return body;
}

// The open message's date written, attribute bits and kludge lines (in
// the order its text holds them), in one text.
std::string DetailsOfOpenMessage(MessageBase& base, const std::string& text) {
  MsgDateTime w;
  base.GetDateWritten(w);
  std::uint32_t attributes = 0;
  for (std::uint32_t bit = 1; bit <= kAttrScanned; bit <<= 1) {
    if (base.IsAttr(bit)) attributes |= bit;
  }
  std::string out = Say("written ", w.Year, "-", w.Month, "-", w.Day, " ", w.Hour, ":", w.Min, ":", w.Sec,
                        ", attributes ", attributes, ", kludges");
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\r', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line[0] == '\n') line.erase(0, 1);
    if (!line.empty() && line[0] == '\001') out += " [" + line.substr(1) + "]";
    pos = end + 1;
  }
  return out;
}

MessageIdentity IdentityOfOpenMessage(MessageBase& base) {
  MessageIdentity m;
  InterfaceText s;
  base.GetFrom(s);
  m.from = Plain(s);
  base.GetTo(s);
  m.to = Plain(s);
  base.GetSubj(s);
  m.subject = Plain(s);
  InterfaceText line;
  if (base.GetKludge("\001MSGID", line)) m.msgid = Plain(line);
  Stream* text = base.GetTextStream();
  if (text != nullptr) m.body = BodyWithoutKludges(ReadAllBytes(*text));
  return m;
}

}  // namespace

Violations CheckSquishBase(const std::string& path, CheckMode mode) {
  Violations v;
  std::optional<Bytes> sqd = ReadCaseless(path + ".sqd");
  std::optional<Bytes> sqi = ReadCaseless(path + ".sqi");
  if (!sqd && !sqi) return v;
  // Other programs see no base without its data file (a creation that
  // had not renamed it into place yet).
  if (!sqd && mode == CheckMode::kRaw) return v;
  if (!sqd || !sqi) {
    v.push_back(!sqd ? "index file without data file" : "data file without index file");
    return v;
  }
  if (sqd->size() < static_cast<std::size_t>(squish::kBaseHeaderSize)) {
    v.push_back(Say("data file of ", sqd->size(), " bytes has no whole base header"));
    return v;
  }
  squish::BaseHeader h;
  squish::Decode(sqd->data(), h);
  if (h.len != squish::kBaseHeaderSize) v.push_back(Say("base header len is ", h.len));
  if (h.sz_sqhdr != squish::kFrameHeaderSize) v.push_back(Say("sz_sqhdr is ", h.sz_sqhdr));
  if (h.end_frame > sqd->size()) v.push_back(Say("end_frame ", h.end_frame, " is past the file end ", sqd->size()));
  if (mode == CheckMode::kRaw) {
    CheckSquishRaw(SquishFiles{*sqd, *sqi}, h, v);
    return v;
  }
  const std::vector<std::uint32_t> chain = WalkMessageChain(*sqd, h, v);
  CheckSquishIndex(SquishFiles{*sqd, *sqi}, h, chain, v);
  CheckSquishFreeChain(*sqd, h, chain, v);
  CheckSquishUmsgids(SquishFiles{*sqd, *sqi}, v);
  return v;
}

Violations CheckJamBase(const std::string& path, CheckMode mode) {
  Violations v;
  std::optional<Bytes> jhr = ReadCaseless(path + ".jhr");
  std::optional<Bytes> jdx = ReadCaseless(path + ".jdx");
  std::optional<Bytes> jdt = ReadCaseless(path + ".jdt");
  if (!jhr && !jdx && !jdt) return v;
  // Other programs see no base without its header file (a creation that
  // had not renamed it into place yet).
  if (!jhr && mode == CheckMode::kRaw) return v;
  if (!jhr || !jdx || !jdt) {
    v.push_back("some of the header, index and text files are missing");
    return v;
  }
  if (jhr->size() < static_cast<std::size_t>(jam::kFixedHeaderSize)) {
    v.push_back(Say("header file of ", jhr->size(), " bytes has no whole fixed header"));
    return v;
  }
  jam::FixedHeader fixed;
  jam::Decode(jhr->data(), fixed);
  if (std::memcmp(fixed.signature, jam::kSignature, 4) != 0) v.push_back("fixed header has no signature");
  // Every header in the file, stored one after another.
  for (std::uint64_t ofs = jam::kFixedHeaderSize; ofs < jhr->size();) {
    const std::uint64_t length = CheckJamHeader(*jhr, jdt->size(), ofs, v);
    if (length == 0) break;
    ofs += length;
  }
  if (jdx->size() % jam::kIndexRecordSize != 0) {
    v.push_back(Say("index size ", jdx->size(), " is no whole number of records"));
  }
  std::uint32_t active = 0;
  std::set<std::uint32_t> headers_named;
  for (std::size_t i = 0; i < jdx->size() / jam::kIndexRecordSize; ++i) {
    jam::IndexRecord r;
    jam::Decode(jdx->data() + i * jam::kIndexRecordSize, r);
    if (r.user_crc == jam::kNone && r.hdr_offset == jam::kNone) continue;
    if (r.hdr_offset < jam::kFixedHeaderSize || !Inside(r.hdr_offset, jam::kMsgHeaderSize, jhr->size())) {
      v.push_back(Say("index record ", i, " points outside the header file"));
      continue;
    }
    if (!headers_named.insert(r.hdr_offset).second) {
      v.push_back(Say("index record ", i, " points at a header another record names"));
    }
    jam::MsgHeader m;
    jam::Decode(jhr->data() + r.hdr_offset, m);
    if (std::memcmp(m.signature, jam::kSignature, 4) != 0) {
      v.push_back(Say("index record ", i, " points at no message header"));
      continue;
    }
    if (m.message_number != fixed.base_msg_num + i) {
      v.push_back(Say("index record ", i, " points at the header of message ", m.message_number));
    }
    CheckJamHeader(*jhr, jdt->size(), r.hdr_offset, v);
    if ((m.attribute & jam::kAttrDeleted) == 0) ++active;
  }
  // A reader tolerates a count that lags behind; one above what the index
  // holds is never right.
  if (fixed.active_msgs > active || (mode == CheckMode::kWhole && fixed.active_msgs != active)) {
    v.push_back(Say("ActiveMsgs ", fixed.active_msgs, " but ", active, " live messages"));
  }
  return v;
}

Violations CheckMsgFolder(const std::string& dir, bool closing_nul) {
  Violations v;
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return v;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (!IsMessageFileName(name)) continue;
    std::optional<Bytes> b = ReadCaseless(e.path().string());
    if (!b) {
      v.push_back(name + " cannot be read");
      continue;
    }
    if (b->size() < static_cast<std::size_t>(fido::kHeaderSize)) {
      v.push_back(Say(name, " has ", b->size(), " bytes, less than a header"));
      continue;
    }
    if (!FieldClosed(*b, 0, fido::kNameField)) v.push_back(name + ": from field is not closed by NUL");
    if (!FieldClosed(*b, 36, fido::kNameField)) v.push_back(name + ": to field is not closed by NUL");
    if (!FieldClosed(*b, 72, fido::kSubjectField)) v.push_back(name + ": subject field is not closed by NUL");
    if (closing_nul && b->back() != 0) v.push_back(name + ": text does not end in NUL (half written)");
  }
  return v;
}

Violations CheckArea(const std::string& area_id, CheckMode mode) {
  if (area_id.empty()) return {"empty area identifier"};
  const std::string path = area_id.substr(1);
  switch (area_id[0]) {
    case 'M':
    case 'm':
    case 'F':
    case 'f':
    case '*': return CheckMsgFolder(path);
    case 'S':
    case 's': return CheckSquishBase(path, mode);
    case 'J':
    case 'j': return CheckJamBase(path, mode);
    default: return {"unknown format letter in " + area_id};
  }
}

AreaContents MessagesOf(const std::string& area_id, std::int32_t lastread_user) {
  AreaContents contents;
  MsgBasePtr base;
  if (!OpenArea(base, area_id)) return contents;
  contents.opened = true;
  if (lastread_user != 0) contents.lastread = base->GetLastRead(lastread_user);
  base->SetMsgKind(0);
  for (base->SeekFirst(1); base->SeekFound(); base->SeekNext()) {
    if (!base->OpenMsg()) {
      contents.complete = false;
      continue;
    }
    const MessageIdentity identity = IdentityOfOpenMessage(*base);
    ++contents.messages[identity];
    contents.by_number[base->GetMsgNum()] = identity;
    std::string text;
    if (Stream* stream = base->GetTextStream(); stream != nullptr) text = ReadAllBytes(*stream);
    contents.details[identity].push_back(DetailsOfOpenMessage(*base, text));
    base->CloseMsg();
  }
  CloseArea(base);
  return contents;
}

std::string Describe(const MessageIdentity& m) {
  return "{from \"" + m.from + "\", to \"" + m.to + "\", subject \"" + m.subject + "\"}";
}

}  // namespace lw::test
