// What a run tells about one message: the facts a person needs to find it
// again (number, names, addresses, subject, MSGID), as a dry run's verdict
// line and as the log's detail line for an action; and which messages are
// another program's high-water mark.
#pragma once

#include <cstdint>
#include <string>

#include "app/message/current_message.h"
#include "msgbase/message_base.h"

namespace lw {

struct MessageFacts {
  MsgNum number = 0;
  std::string from, to, subject;  // as the message has them
  FidoAddress orig, dest;
  std::string msgid;    // the MSGID kludge's value ("" when there is none)
  std::string charset;  // the message's character set (from its CHRS kludge)
};

// The facts of the open current message of `area`, whose header is `msg`.
MessageFacts GatherFacts(MessageBase& area, const CurrentMessage& msg);

// The character set of the open current message of `area`, from its CHRS
// kludge (see CharsetOfChrs).
std::string MessageCharset(MessageBase& area);

// `msg` as the rules judge it: names and subject decoded from the
// character set of the open current message of `area` (its CHRS kludge,
// CP866 without one) to CP866, the set rule names are held in.  A text
// that cannot be decoded stays as it is.  The text is looked at only when
// a name or the subject holds a byte above 127.
CurrentMessage ForRules(MessageBase& area, const CurrentMessage& msg);

// "N from NAME (ADDR) to NAME (ADDR) subj `SUBJECT`: VERDICT", with the
// names and the subject converted to the terminal's character set.
std::string DryRunLine(const MessageFacts& facts, const std::string& verdict);

// The log's detail line of an action ("copied to T", "moved to T",
// "killed"): "#N from NAME (ADDR) to NAME (ADDR) subj `S` msgid `M`: ACTION",
// in the message's own bytes (its character set is facts.charset).
std::string DetailLine(const MessageFacts& facts, const std::string& action);

// True for the high-water mark a tosser keeps as message 1 of a *.MSG
// area: number 1 of a *.MSG area whose subject is "HighWater mark" (any
// case), or whose sender is a tosser's name ("CrashMail II", "CrashMail",
// "SquishMail", "Squish", "hpt") and whose text is empty (nothing but NUL
// bytes).  Other formats keep their high-water mark in their own header,
// never as a message.
bool IsHighWaterMark(MessageBase& area, const std::string& area_id, const CurrentMessage& msg);

}  // namespace lw
