// The dry run's report as JSON lines, for programs to read: one object
// for each message judged, then one summary object.  Every text is UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "app/message/message_report.h"
#include "app/rules/rules.h"

namespace lw {

// What a dry run has reported over all its areas.
struct DryRunTally {
  std::int32_t areas = 0;       // areas scanned
  std::int32_t picked = 0;      // messages a rule picked
  std::int32_t kept = 0;        // messages that stay where they are
  std::int32_t unreadable = 0;  // messages that could not be read whole (no line of their own)
};

// The JSON object (one line, no line end) of a message of `area_id`:
//   {"type":"message","area":A,"number":N,"from":F,"to":T,"subject":S,
//    "fromaddr":"Z:N/F","toaddr":"Z:N/F","msgid":M or null,
//    "rules":[found-mail text of each rule that matched, in order],
//    "actions":[{"action":"copy"|"move","to":[targets]} | {"action":"kill"}
//               | {"action":"exec","command":[program, arguments...]}, ...],
//    "kept":null or why it stays ("no rule", "NOT_TOUCH", ...)}
// Names, subject and MSGID are decoded from `facts.charset`, rule texts
// from CP866; a byte that is still not UTF-8 shows as U+FFFD.
// `kept_reason` is "" for a message a rule picked.
std::string JsonMessageLine(const std::string& area_id, const MessageFacts& facts, const RuleVerdict& verdict,
                            const std::string& kept_reason);

// The closing JSON object (one line, no line end):
//   {"type":"summary","areas":N,"messages":N,"picked":N,"kept":N,
//    "unreadable":N,"stopped":null or the signal's name}
// where "messages" counts the message lines before it.  `stopped_by` is ""
// for a run that went to its end.
std::string JsonSummaryLine(const DryRunTally& tally, const std::string& stopped_by);

}  // namespace lw
