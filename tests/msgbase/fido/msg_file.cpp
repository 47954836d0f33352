#include "msgbase/fido/msg_file.h"

#include <cstring>

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
  std::string out(190, '\0');
  Field(out, 0, from, 36);
  Field(out, 36, to, 36);
  Field(out, 72, subject, 72);
  Field(out, 144, date_time, 20);
  Put16(out, 166, static_cast<std::uint16_t>(dest_node));
  Put16(out, 168, static_cast<std::uint16_t>(orig_node));
  Put16(out, 172, static_cast<std::uint16_t>(orig_net));
  Put16(out, 174, static_cast<std::uint16_t>(dest_net));
  Put32(out, 176, date_written);
  Put32(out, 180, date_arrived);
  Put16(out, 186, attr);
  out += text;
  if (closing_nul) out += '\0';
  return out;
}

}  // namespace lw::test
