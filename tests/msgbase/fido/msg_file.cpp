#include "msgbase/fido/msg_file.h"

#include <cstring>

#include "msgbase/fido/msg_layout.h"

namespace lw::test {

namespace {

void Field(std::string& out, std::size_t at, const std::string& value, std::size_t size) {
  std::memcpy(&out[at], value.data(), std::min(value.size(), size));
}

void Put16(std::string& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<char>(v & 0xFF);
  out[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& out, std::size_t at, std::uint32_t v) {
  Put16(out, at, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(out, at + 2, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

std::string MsgFile::Bytes() const {
  using namespace fido;
  std::string out(kMsgHeaderSize, '\0');
  Field(out, kFromUserOffset, from, kNameField);
  Field(out, kToUserOffset, to, kNameField);
  Field(out, kSubjectOffset, subject, kSubjectField);
  Field(out, kDateTimeOffset, date_time, kDateField);
  Put16(out, kDestNodeOffset, static_cast<std::uint16_t>(dest_node));
  Put16(out, kOrigNodeOffset, static_cast<std::uint16_t>(orig_node));
  Put16(out, kOrigNetOffset, static_cast<std::uint16_t>(orig_net));
  Put16(out, kDestNetOffset, static_cast<std::uint16_t>(dest_net));
  Put32(out, kDateWrittenOffset, date_written);
  Put32(out, kDateArrivedOffset, date_arrived);
  Put16(out, kAttrOffset, attr);
  out += text;
  if (closing_nul) out += '\0';
  return out;
}

}  // namespace lw::test
