// Opening a message area by its identifier: a format letter followed by
// the path of the base ("MC:\NETMAIL", "S/var/spool/fido/area").
#pragma once

#include <memory>
#include <string>

#include "msgbase/message_base.h"

namespace lw {

enum class AreaKind { kJam = 0, kMsg = 1, kSquish = 2, kNone = 3 };

using MsgBasePtr = std::unique_ptr<MessageBase>;

// Kind from the first letter; `path` is the rest (the whole identifier for
// kNone; left as it was for an empty identifier).
void ParseAreaId(const std::string& area_id, AreaKind& kind, std::string& path);
// A closed base of the identifier's format; false (and no object) for an
// unknown letter or an empty identifier.
bool NewMsgBaseForArea(const std::string& area_id, MsgBasePtr& base);
// Opens an existing area; on failure `base` is empty and `cause` (when
// given) says what failed and why, as far as the format knows ("" else).
bool OpenArea(MsgBasePtr& base, const std::string& area_id, std::string* cause = nullptr);
// Opens the area, or creates it when no base of its format is there.  A
// base that exists but does not open is never replaced.  On failure the
// closed object stays in `base`, its FailureCause telling why.
bool OpenOrCreateArea(MsgBasePtr& base, const std::string& area_id);
// Closes the base (writing what it holds back) and frees it; false when
// there was none or closing failed, `cause` (when given) then saying what
// failed and why as far as the format knows.
bool CloseArea(MsgBasePtr& base, std::string* cause = nullptr);
// Frees the base without closing it (nothing is written back); false when
// there was none.
bool DisposeMsgBase(MsgBasePtr& base);

}  // namespace lw
