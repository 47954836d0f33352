// The settings of one run, read from the configuration file.
#pragma once

#include <cstdint>

#include "fidoutil/address.h"
#include "fidoutil/short_str.h"

namespace lw {

inline constexpr int kMaxListEntries = 100;
inline constexpr std::size_t kMaxNameLength = 36;
inline constexpr std::size_t kMaxPriorityWord = 9;
inline const char* const kProductTag = "LW 1.07";
inline const char* const kProgramTitle = "Larkway/WIN32 1.07";

struct NameRule {
  ShortStr name;  // folded, at most 36 characters
  ShortStr target;  // an area identifier or KILL
};

struct AddressRule {
  FidoAddress address;
  ShortStr target;
};

// A list of separately allocated entries, in file order.
template <typename T>
struct RuleList {
  T* items[kMaxListEntries] = {};
  int count = 0;

  bool Full() const { return count >= kMaxListEntries; }
  void Append(T* item) { items[count++] = item; }
  void Release() {
    for (int i = 0; i < count; ++i) {
      delete items[i];
      items[i] = nullptr;
    }
    count = 0;
  }
};

struct MoverConfig {
  RuleList<ShortStr> NetmailAreas;
  RuleList<NameRule> ToRules;
  RuleList<NameRule> FromRules;
  RuleList<AddressRule> ToAddrRules;
  RuleList<AddressRule> FromAddrRules;
  RuleList<ShortStr> NotTouchNames;
  bool MoveMode = false;
  bool UseLastRead = false;
  std::int32_t UserNumber = 0;
  ShortStr Priority[5];
  bool KeepLocalUnsent = false;
  ShortStr LogFileName;

  void ReleaseLists();
};

// The run's settings.
MoverConfig& Config();

// Reads the file named by the first command-line argument into Config(),
// opens the log and checks the settings.  Every failure ends the process.
void ReadConfiguration(int argc, const char* const* argv);

// Applies one configuration line (without its line end) to `config`.
// Returns false when the line was a list entry beyond the list's limit.
bool ApplyConfigLine(MoverConfig& config, std::string_view line);

}  // namespace lw
