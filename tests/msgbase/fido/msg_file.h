// Builds *.MSG files byte for byte for the tests.
#pragma once

#include <cstdint>
#include <string>

namespace lw::test {

struct MsgFile {
  std::string from = "Sender";
  std::string to = "Sysop";
  std::string subject = "Subject";
  std::string date_time = "01 Jan 99  12:34:56";
  std::int16_t orig_net = 5020, orig_node = 1, dest_net = 5020, dest_node = 2;
  std::uint16_t attr = 0;
  std::uint32_t date_written = 0, date_arrived = 0;
  std::string text = "\001MSGID: 2:5020/1 12345678\rHello\r";
  bool closing_nul = true;

  std::string Bytes() const;
};

}  // namespace lw::test
