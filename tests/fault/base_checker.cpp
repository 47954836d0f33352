#include "fault/base_checker.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
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

Violations CheckSquishBase(const std::string& path) {
  Violations v;
  std::optional<Bytes> sqd = ReadCaseless(path + ".sqd");
  std::optional<Bytes> sqi = ReadCaseless(path + ".sqi");
  if (!sqd && !sqi) return v;
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
  const std::vector<std::uint32_t> chain = WalkMessageChain(*sqd, h, v);
  CheckSquishIndex(SquishFiles{*sqd, *sqi}, h, chain, v);
  CheckSquishFreeChain(*sqd, h, chain, v);
  return v;
}

Violations CheckJamBase(const std::string& path) {
  Violations v;
  std::optional<Bytes> jhr = ReadCaseless(path + ".jhr");
  std::optional<Bytes> jdx = ReadCaseless(path + ".jdx");
  std::optional<Bytes> jdt = ReadCaseless(path + ".jdt");
  if (!jhr && !jdx && !jdt) return v;
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
  for (std::size_t i = 0; i < jdx->size() / jam::kIndexRecordSize; ++i) {
    jam::IndexRecord r;
    jam::Decode(jdx->data() + i * jam::kIndexRecordSize, r);
    if (r.user_crc == jam::kNone && r.hdr_offset == jam::kNone) continue;
    if (r.hdr_offset < jam::kFixedHeaderSize || !Inside(r.hdr_offset, jam::kMsgHeaderSize, jhr->size())) {
      v.push_back(Say("index record ", i, " points outside the header file"));
      continue;
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
  if (fixed.active_msgs != active)
    v.push_back(Say("ActiveMsgs ", fixed.active_msgs, " but ", active, " live messages"));
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

Violations CheckArea(const std::string& area_id) {
  if (area_id.empty()) return {"empty area identifier"};
  const std::string path = area_id.substr(1);
  switch (area_id[0]) {
    case 'M':
    case 'm':
    case 'F':
    case 'f':
    case '*': return CheckMsgFolder(path);
    case 'S':
    case 's': return CheckSquishBase(path);
    case 'J':
    case 'j': return CheckJamBase(path);
    default: return {"unknown format letter in " + area_id};
  }
}

AreaContents MessagesOf(const std::string& area_id) {
  AreaContents contents;
  MsgBasePtr base;
  if (!OpenArea(base, area_id)) return contents;
  contents.opened = true;
  base->SetMsgKind(0);
  for (base->SeekFirst(1); base->SeekFound(); base->SeekNext()) {
    if (!base->OpenMsg()) {
      contents.complete = false;
      continue;
    }
    ++contents.messages[IdentityOfOpenMessage(*base)];
    base->CloseMsg();
  }
  CloseArea(base);
  return contents;
}

std::string Describe(const MessageIdentity& m) {
  return "{from \"" + m.from + "\", to \"" + m.to + "\", subject \"" + m.subject + "\"}";
}

}  // namespace lw::test
