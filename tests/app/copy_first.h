// Copies the first message of one area into another as a move does: read
// whole, header taken by ReadHeader, copied by CopyMessageInto.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/message/message_digest.h"
#include "app/scan/transfer.h"
#include "msgbase/area.h"

namespace lw::test {

inline void CopyFirstMessage(const std::string& from_id, const std::string& to_id) {
  MsgBasePtr source;
  MsgBasePtr dest;
  ASSERT_TRUE(OpenArea(source, from_id)) << from_id;
  ASSERT_TRUE(OpenOrCreateArea(dest, to_id)) << to_id;
  source->SetFlag(kFlagNetmail, true);  // as a scan reads a netmail area
  source->SeekFirst(1);
  ASSERT_TRUE(source->OpenMsg());
  CurrentMessage msg;
  ReadHeader(*source, msg);
  ASSERT_TRUE(CopyMessageInto(*source, msg, *dest).ok());
  source->CloseMsg();
  ASSERT_TRUE(CloseArea(dest));
  ASSERT_TRUE(CloseArea(source));
}

}  // namespace lw::test
