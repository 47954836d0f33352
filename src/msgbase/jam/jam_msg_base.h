#pragma once
#include "msgbase/message_base.h"
namespace lw {
class JamMsgBase final : public MessageBase {
 public:
  bool OpenMsgBase(const ShortStr&) override { return false; }
  bool CreateMsgBase(const ShortStr&) override { return false; }
  bool MsgBaseExists(const ShortStr&) override { return false; }
  void CloseMsgBase() override {}
};
}  // namespace lw
