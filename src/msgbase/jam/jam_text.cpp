// How message text maps onto a JAM message: the kludge lines that open it
// and the trace lines that end it go into subfields, the rest is the body;
// reading builds the text back from the subfields and the body.
#include "msgbase/jam/jam_msg_base.h"

#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fidoutil/helpers.h"
#include "msgbase/text_lines.h"

namespace lw {

namespace {

using jam::kSubfieldHeaderSize;

// How a text line is stored when a message is written.
struct LineRule {
  std::string_view prefix;
  int subfield;  // -1: dropped
};

constexpr LineRule kLineRules[] = {
    {"\001MSGID: ", jam::kMsgId},
    {"\001REPLY: ", jam::kReplyId},
    {"\001PID: ", jam::kPid},
    {"\001FLAGS: ", jam::kFlags},
    {"\001Via ", jam::kTraceVia},
    {"SEEN-BY: ", jam::kSeenBy2D},
    {"\001PATH: ", jam::kPath2D},
    {"\001INTL", -1},
    {"\001FMPT", -1},
    {"\001TOPT", -1},
};

// The rule of the first prefix `line` starts with, or nullptr.  Most lines
// are body text whose first character begins no prefix: one comparison per
// rule settles them.
const LineRule* RuleFor(std::string_view line) {
  if (line.empty()) return nullptr;
  for (const LineRule& rule : kLineRules) {
    if (rule.prefix[0] == line[0] && line.starts_with(rule.prefix)) return &rule;
  }
  return nullptr;
}

// Subfields that come back as kludge lines before the body, in the order
// they are stored, and the prefix each line gets.
const std::pair<std::uint16_t, const char*> kKludgesBeforeBody[] = {{jam::kMsgId, "\001MSGID: "},
                                                                    {jam::kReplyId, "\001REPLY: "},
                                                                    {jam::kPid, "\001PID: "},
                                                                    {jam::kFtsKludge, "\001"},
                                                                    {jam::kFlags, "\001FLAGS: "}};

// Subfields that come back as lines after the body, all of one kind
// before the next.
const std::pair<std::uint16_t, const char*> kTraceAfterBody[] = {
    {jam::kTraceVia, "\001Via "}, {jam::kSeenBy2D, "SEEN-BY: "}, {jam::kPath2D, "\001PATH: "}};

}  // namespace

std::uint32_t JamCrc(std::string_view text) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char c : text) crc = Crc32Update(crc, static_cast<std::uint8_t>(LowerChar(c)));
  return crc;
}

std::string_view JamMsgBase::FieldData(const Subfield& f) const {
  return std::string_view(subfields_).substr(f.at, f.len);
}

// Makes the loaded message the current one.  JAM keeps kludges and trace
// lines in subfields, not in the body, so the text handed out is built:
// kludge lines made from subfields, then the body, then (with the body)
// the trace lines made from subfields; then the address kludges of the
// addresses read from the subfields.
void JamMsgBase::TakeMessage(LoadedMessage& m, bool with_body) {
  TakeHeaderFields(m);
  text_ = NewMemoryStream(kMemStreamSizeHint);
  Text = text_.get();
  WriteKludgeLines(m.fields);
  if (with_body) {
    Text->Write(m.body.data(), static_cast<std::int32_t>(m.body.size()));
    WriteTraceLines(m.fields);
  }
  PutAddressKludges();
  Text->Seek(0);
}

// The header, names, subject and addresses of the loaded message.  A file
// attach or request keeps its file names in the subject.
void JamMsgBase::TakeHeaderFields(LoadedMessage& m) {
  header_ = m.header;
  header_ofs_ = m.header_ofs;
  subfields_ = std::move(m.subfields);
  ClearAddress(orig_);
  ClearAddress(dest_);
  from_.clear();
  to_.clear();
  subject_.clear();
  for (const Subfield& f : m.fields) {
    switch (f.id) {
      case jam::kOAddress: ParseFidoAddress(std::string(FieldData(f)), orig_); break;
      case jam::kDAddress: ParseFidoAddress(std::string(FieldData(f)), dest_); break;
      case jam::kSenderName: from_ = FieldData(f); break;
      case jam::kReceiverName: to_ = FieldData(f); break;
      case jam::kSubject: subject_ = FieldData(f); break;
      case jam::kEnclosedFile:
        if (IsAttr(kAttrFileAttached)) subject_ = FieldData(f);
        break;
      case jam::kEnclosedFreq:
        if (IsAttr(kAttrFileRequest)) subject_ = FieldData(f);
        break;
      default: break;
    }
  }
}

namespace {

void WriteTextLine(Stream& text, const char* prefix, std::string_view line) {
  text.Write(prefix, static_cast<std::int32_t>(std::strlen(prefix)));
  text.Write(line.data(), static_cast<std::int32_t>(line.size()));
  text.Write(&kLineTerminator, 1);
}

}  // namespace

// The kludge subfields as lines, in the order they are stored.
void JamMsgBase::WriteKludgeLines(const std::vector<Subfield>& fields) {
  for (const Subfield& f : fields) {
    for (const auto& [id, prefix] : kKludgesBeforeBody) {
      if (f.id == id) WriteTextLine(*Text, prefix, FieldData(f));
    }
  }
}

// The Via, SEEN-BY and PATH subfields as lines, each kind together.
void JamMsgBase::WriteTraceLines(const std::vector<Subfield>& fields) {
  for (const auto& [id, prefix] : kTraceAfterBody) {
    for (const Subfield& f : fields) {
      if (f.id == id) WriteTextLine(*Text, prefix, FieldData(f));
    }
  }
}

// A netmail message's addresses, which its subfields keep and WriteMsg
// took out of the text, come back as the address kludges (INTL, FMPT,
// TOPT) that netmail readers look for, after the kludge lines that open
// the text.  Nothing else of the text is rebuilt: the MSGID is the one
// stored, and a message stored without one has none.
void JamMsgBase::PutAddressKludges() {
  if (!TestFlag(kFlagNetmail) || (orig_.zone == 0 && dest_.zone == 0)) return;
  InsertLeadingKludges(AddressKludgeLines(orig_, dest_));
}

void JamMsgBase::AddSubfield(std::uint16_t id, std::string_view data) {
  std::array<std::uint8_t, kSubfieldHeaderSize> head;
  const jam::RecordOut<kSubfieldHeaderSize> out(head);
  jam::Put16<jam::subfield_at::kLoId>(out, id);
  jam::Put16<jam::subfield_at::kHiId>(out, 0);
  jam::Put32<jam::subfield_at::kDatLen>(out, static_cast<std::uint32_t>(data.size()));
  subfields_.append(reinterpret_cast<const char*>(head.data()), head.size());
  subfields_.append(data);
}

// Names, addresses and subject (and the file names of an attach or a
// request) as subfields.  A message without a destination address is
// addressed to its origin.
void JamMsgBase::AddHeaderSubfields() {
  AddSubfield(jam::kSenderName, from_);
  AddSubfield(jam::kOAddress, FormatAddress4D(orig_));
  AddSubfield(jam::kReceiverName, to_);
  const FidoAddress none{};
  AddSubfield(jam::kDAddress, FormatAddress4D(dest_ == none ? orig_ : dest_));
  if (!subject_.empty()) AddSubfield(jam::kSubject, subject_);
  if (IsAttr(kAttrFileAttached)) AddSubfield(jam::kEnclosedFile, subject_);
  if (IsAttr(kAttrFileRequest)) AddSubfield(jam::kEnclosedFreq, subject_);
}

namespace {

// Whether the line `line` bounds comes back from a subfield as it stood:
// only a line ended by a lone CR does (it is given back with one).
bool EndsInLoneCr(std::string_view text, const LineBounds& line) {
  return line.next == line.end + 1 && text[line.end] == kLineTerminator;
}

// The place of a trace line among those OpenMsg puts after the body (0
// Via, 1 SEEN-BY, 2 PATH); -1 for any other line.
int TraceRank(std::string_view line) {
  for (std::size_t i = 0; i < std::size(kTraceAfterBody); ++i) {
    if (line.starts_with(kTraceAfterBody[i].second)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

// Splits the text so that OpenMsg gives it back byte for byte (but for the
// address kludges, which the address subfields stand for): the kludge
// lines that open it become subfields (the address kludges are dropped),
// and so do the Via, SEEN-BY and PATH lines that end it in the order
// OpenMsg puts them back in; everything between is the body, as it
// stands.  A kludge or trace line that would not come back in its place
// (ended otherwise than by a lone CR, a trace line among the opening
// kludges, trace lines out of that order, or any line followed by body
// text) stays in the body.
void JamMsgBase::SortTextIntoSubfields(std::string_view text, std::string& body) {
  std::size_t body_start = 0;
  while (body_start < text.size() && text[body_start] == kKludgeChar) {
    const LineBounds bounds = FindLineEnd(text, body_start);
    const std::string_view line = text.substr(body_start, bounds.end - body_start);
    if (!EndsInLoneCr(text, bounds) || TraceRank(line) >= 0) break;
    SortIntoSubfield(line);
    body_start = bounds.next;
  }
  std::vector<std::size_t> starts;  // of the lines after the opening kludges
  for (std::size_t pos = body_start; pos < text.size(); pos = FindLineEnd(text, pos).next) starts.push_back(pos);
  std::size_t trace = starts.size();  // the first trace line that ends the text
  int rank_after = static_cast<int>(std::size(kTraceAfterBody)) - 1;
  for (; trace > 0; --trace) {
    const LineBounds bounds = FindLineEnd(text, starts[trace - 1]);
    const int rank = TraceRank(text.substr(starts[trace - 1], bounds.end - starts[trace - 1]));
    if (rank < 0 || rank > rank_after || !EndsInLoneCr(text, bounds)) break;
    rank_after = rank;
  }
  const std::size_t body_end = trace < starts.size() ? starts[trace] : text.size();
  body.assign(text.substr(body_start, body_end - body_start));
  for (std::size_t i = trace; i < starts.size(); ++i) {
    SortIntoSubfield(text.substr(starts[i], FindLineEnd(text, starts[i]).end - starts[i]));
  }
}

// One kludge or trace line, without its terminator, to its subfield (the
// address kludges are dropped; a kludge of no known prefix goes to an FTS
// kludge subfield).
void JamMsgBase::SortIntoSubfield(std::string_view line) {
  if (const LineRule* rule = RuleFor(line)) {
    if (rule->subfield < 0) return;
    const std::string_view value = line.substr(rule->prefix.size());
    AddSubfield(static_cast<std::uint16_t>(rule->subfield), value);
    if (rule->subfield == jam::kMsgId) header_.msgid_crc = JamCrc(value);
    if (rule->subfield == jam::kReplyId) header_.reply_crc = JamCrc(value);
    return;
  }
  AddSubfield(jam::kFtsKludge, line.substr(1));
}

}  // namespace lw
