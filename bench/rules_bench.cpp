// Judging messages against the rules: 100 rules of each of four kinds
// (TO, FROM, SUBJ, TOADDR), written as exact names and addresses or as
// patterns and masks, over a batch of messages none of the rules picks,
// so every message is tried against all 400; and 200 FILTER lines that
// test the text, each text split into lines once however many test it.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/rules/rules.h"

namespace lw {
namespace {

constexpr int kRulesPerKind = 100;

MoverConfig MakeConfig(bool patterns) {
  MoverConfig config;
  ApplyConfigLine(config, "PRIORITY TO FROM SUBJ TOADDR");
  for (int i = 0; i < kRulesPerKind; ++i) {
    const std::string n = std::to_string(i);
    if (patterns) {
      ApplyConfigLine(config, "TO *Robot " + n + ", Mrobots");
      ApplyConfigLine(config, "FROM J?hn " + n + "*, Mjohn");
      ApplyConfigLine(config, "SUBJ Re: Areafix " + n + "*, Mareafix");
      ApplyConfigLine(config, "TOADDR 2:" + std::to_string(6000 + i) + "/*.*, Mnet");
    } else {
      ApplyConfigLine(config, "TO Area Robot " + n + ", Mrobots");
      ApplyConfigLine(config, "FROM John " + n + ", Mjohn");
      ApplyConfigLine(config, "SUBJ Re: Areafix " + n + ", Mareafix");
      ApplyConfigLine(config, "TOADDR 2:" + std::to_string(6000 + i) + "/1, Mnet");
    }
  }
  return config;
}

std::vector<CurrentMessage> MakeMessages(int count) {
  std::vector<CurrentMessage> msgs(count);
  for (int k = 0; k < count; ++k) {
    CurrentMessage& m = msgs[k];
    m.to = "Some User Number " + std::to_string(k);
    m.from = "Jack Sender " + std::to_string(k % 977);
    m.subject = "Re: a netmail subject of ordinary length, message " + std::to_string(k);
    m.dest = FidoAddress{2, 5020, static_cast<std::int16_t>(k % 500), static_cast<std::int16_t>(k % 3)};
    m.orig = FidoAddress{2, 5020, 1, 0};
  }
  return msgs;
}

// Arguments: number of messages, 1 for patterns and masks / 0 for exact rules.
void BM_JudgeMessages(benchmark::State& state) {
  const MoverConfig config = MakeConfig(state.range(1) != 0);
  const std::vector<CurrentMessage> msgs = MakeMessages(static_cast<int>(state.range(0)));
  LogFile log;  // no file: found-mail lines go nowhere
  for (auto _ : state) {
    int found = 0;
    for (const CurrentMessage& m : msgs) found += EvaluateRules(config, m, log).found ? 1 : 0;
    if (found != 0) state.SkipWithError("a rule picked a message");
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(msgs.size()));
}
BENCHMARK(BM_JudgeMessages)
    ->ArgNames({"messages", "patterns"})
    ->Args({1000, 0})
    ->Args({8000, 0})
    ->Args({1000, 1})
    ->Args({8000, 1})
    ->Unit(benchmark::kMillisecond);

constexpr int kFilters = 200;

MoverConfig MakeFilterConfig() {
  MoverConfig config;
  ApplyConfigLine(config, "PRIORITY FILTER");
  for (int i = 0; i < kFilters; ++i) {
    const std::string n = std::to_string(i);
    // Half the filters test the text first, half a name first.
    if (i % 2 == 0) {
      ApplyConfigLine(config, "FILTER TEXT \"*keyword " + n + "*\" AND NOT FROM Nobody THEN COPY Mkeywords");
    } else {
      ApplyConfigLine(config, "FILTER FROM \"J?hn " + n + "*\" OR KLUDGE \"REPLY: 9:*\" THEN KILL");
    }
  }
  return config;
}

// A text of `lines` body lines of ordinary length, with its kludges and
// SEEN-BY lines.
std::string MakeText(int lines, int k) {
  std::string text = "\001MSGID: 2:5020/1 " + std::to_string(10000000 + k) + "\r\001REPLY: 2:5020/2 1\r";
  for (int i = 0; i < lines; ++i) {
    text += "Line " + std::to_string(i) + " of an ordinary netmail message, written by hand.\r";
  }
  return text + "SEEN-BY: 5020/1 2 3\r\001PATH: 5020/1\r";
}

// Arguments: number of messages, body lines of each.
void BM_JudgeWithTextFilters(benchmark::State& state) {
  const MoverConfig config = MakeFilterConfig();
  const std::vector<CurrentMessage> msgs = MakeMessages(static_cast<int>(state.range(0)));
  std::vector<std::string> texts;
  for (std::size_t k = 0; k < msgs.size(); ++k)
    texts.push_back(MakeText(static_cast<int>(state.range(1)), static_cast<int>(k)));
  LogFile log;
  std::int64_t bytes = 0;
  for (const std::string& t : texts) bytes += static_cast<std::int64_t>(t.size());
  for (auto _ : state) {
    int found = 0;
    for (std::size_t k = 0; k < msgs.size(); ++k) {
      found += EvaluateRules(config, msgs[k], log, MessageContent{0, texts[k]}).found ? 1 : 0;
    }
    if (found != 0) state.SkipWithError("a filter picked a message");
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(msgs.size()));
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_JudgeWithTextFilters)
    ->ArgNames({"messages", "lines"})
    ->Args({1000, 20})
    ->Args({1000, 200})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lw
