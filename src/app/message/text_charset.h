// Character sets of the text the program handles: rule names written in
// UTF-8, message names in the set their CHRS kludge names, and the
// terminal's set.  Conversions go through the platform (iconv on Linux,
// the Win32 code-page calls there).
#pragma once

#include <string>
#include <string_view>

namespace lw {

// True when `text` is well-formed UTF-8 and holds a byte above 127 (plain
// ASCII is the same in every set the program meets).
bool IsUtf8WithNonAscii(std::string_view text);

// The character set a message's "\x01CHRS: NAME LEVEL" kludge line names,
// as the platform's conversion knows it: "CP866", "UTF-8", "KOI8-R",
// "CP1251", "ISO-8859-1", any other name the conversion knows ...
// "IBMPC" and a missing, empty or unknown kludge are taken as CP866, the
// set FidoNet's Russian-speaking nets use and the one rules are compared
// in.
std::string CharsetOfChrs(std::string_view chrs_line);

// `text`, in character set `charset`, converted to CP866 (the set rules
// are compared in); the bytes as they are when it is already CP866 or
// ASCII, or holds what cannot be decoded or has no place in CP866.  A
// UTF-8 sequence cut short at the end (a name cut at its field's length)
// is left out.
std::string DecodeToCp866(std::string_view text, std::string_view charset);

// `text`, in character set `charset`, converted to UTF-8 (for programs
// run by a rule); a character that does not convert shows as '?'.
std::string ToUtf8(std::string_view text, std::string_view charset);

// `text`, in character set `charset`, as the terminal shows it: converted
// to the terminal's set, or the bytes as they are when the terminal's set
// is unknown or the same; a character the terminal's set lacks, or a
// conversion that fails, shows as '?'.
std::string ForTerminal(std::string_view text, std::string_view charset);

// Rewrites the name part of a TO, FROM, NOT_TOUCH or SUBJ line (the words
// between the key and the first comma) from UTF-8 to CP866 when it is
// UTF-8 with non-ASCII characters; every other line comes back as it is.
// `problem` is set (and the line returned as it is) when the name has a
// character CP866 lacks.
std::string RuleNamesToCp866(std::string_view line, std::string* problem);

}  // namespace lw
