#include "fidoutil/pattern_containment.h"

#include <array>
#include <deque>
#include <set>
#include <string>

namespace lw {

namespace {

// The positions a pattern can be at after some text: position i means the
// first i pattern characters have matched.  A `*` may match nothing, so
// being before it means being after it too.
using Positions = std::vector<bool>;

void Close(std::string_view pattern, Positions& at) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (at[i] && pattern[i] == '*') at[i + 1] = true;
  }
}

Positions Start(std::string_view pattern) {
  Positions at(pattern.size() + 1, false);
  at[0] = true;
  Close(pattern, at);
  return at;
}

Positions Step(std::string_view pattern, const Positions& at, char c) {
  Positions next(pattern.size() + 1, false);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (!at[i]) continue;
    if (pattern[i] == '*') {
      next[i] = true;
    } else if (pattern[i] == '?' || pattern[i] == c) {
      next[i + 1] = true;
    }
  }
  Close(pattern, next);
  return next;
}

bool Accepts(std::string_view pattern, const Positions& at) { return at[pattern.size()]; }

bool Dead(const Positions& at) {
  for (bool b : at) {
    if (b) return false;
  }
  return true;
}

// True when the pattern, from one of these positions, takes in every
// continuation: a star is next and only stars follow it.  (The end
// position takes in only the empty one.)
bool TakesAll(std::string_view pattern, const Positions& at) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (at[i] && pattern.substr(i).find_first_not_of('*') == std::string_view::npos) return true;
  }
  return false;
}

// The characters to try: each literal of the patterns, and one that none of
// them names and so stands for all the others (they act alike in every
// pattern).  With an explicit alphabet, its characters.
std::string Letters(const std::vector<std::string_view>& narrow, std::string_view wide, std::string_view alphabet) {
  if (!alphabet.empty()) return std::string(alphabet);
  std::array<bool, 256> named{};
  auto name_all = [&named](std::string_view pattern) {
    for (char c : pattern) {
      if (c != '*' && c != '?') named[static_cast<unsigned char>(c)] = true;
    }
  };
  for (std::string_view p : narrow) name_all(p);
  name_all(wide);
  std::string letters;
  bool other_added = false;
  for (std::size_t b = 1; b < named.size(); ++b) {
    if (named[b]) {
      letters += static_cast<char>(b);
    } else if (!other_added) {
      letters += static_cast<char>(b);
      other_added = true;
    }
  }
  return letters;
}

struct State {
  std::vector<Positions> narrow;
  Positions wide;
};

std::string Key(const State& s) {
  std::string key;
  for (const Positions& p : s.narrow) {
    for (bool b : p) key += b ? '1' : '0';
    key += '|';
  }
  for (bool b : s.wide) key += b ? '1' : '0';
  return key;
}

}  // namespace

Containment PatternsContained(const std::vector<std::string_view>& narrow, std::string_view wide,
                              std::string_view alphabet, std::size_t max_states) {
  const std::string letters = Letters(narrow, wide, alphabet);
  State first;
  for (std::string_view p : narrow) first.narrow.push_back(Start(p));
  first.wide = Start(wide);
  std::set<std::string> seen{Key(first)};
  std::deque<State> queue{first};
  // Looks for a text all of `narrow` match and `wide` does not; a state
  // from which no narrow pattern can still match, or from which `wide`
  // takes in everything, leads to no such text.
  while (!queue.empty()) {
    State s = std::move(queue.front());
    queue.pop_front();
    bool all_accept = true;
    bool any_dead = false;
    for (std::size_t i = 0; i < narrow.size(); ++i) {
      all_accept = all_accept && Accepts(narrow[i], s.narrow[i]);
      any_dead = any_dead || Dead(s.narrow[i]);
    }
    if (any_dead || TakesAll(wide, s.wide)) continue;
    if (all_accept && !Accepts(wide, s.wide)) return Containment::kNotContained;
    for (char c : letters) {
      State next;
      for (std::size_t i = 0; i < narrow.size(); ++i) next.narrow.push_back(Step(narrow[i], s.narrow[i], c));
      next.wide = Step(wide, s.wide, c);
      if (!seen.insert(Key(next)).second) continue;
      if (seen.size() > max_states) return Containment::kUnknown;
      queue.push_back(std::move(next));
    }
  }
  return Containment::kContained;
}

}  // namespace lw
