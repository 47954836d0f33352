// Message bases: opening and walking a *.MSG area, and appending one
// message per open/create/write/close (as the transfer does) to Squish and
// JAM bases that already hold N messages.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "msgbase/area.h"

namespace lw {
namespace {

std::string ScratchDir(const char* name) {
  std::string dir = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

const std::string kText = [] {
  std::string t = "\001MSGID: 2:5020/1 12345678\r\001INTL 2:5020/2 2:5020/1\r";
  while (t.size() < 2000) t += "A line of an ordinary netmail message, some sixty characters.\r";
  return t;
}();

void Append(const std::string& area_id) {
  MsgBasePtr base;
  if (!OpenOrCreateArea(base, area_id)) std::abort();
  base->SetMsgKind(0);
  base->CreateMsg();
  base->SetTo(std::string("Sysop"));
  base->SetFrom(std::string("Sender"));
  base->GetTextStream()->Write(kText.data(), static_cast<std::int32_t>(kText.size()));
  if (!base->WriteMsg()) std::abort();
  base->CloseMsg();
  CloseArea(base);
}

void BM_AppendOneTransferAtATime(benchmark::State& state, char letter) {
  std::string dir = ScratchDir("lwbench_append");
  std::string id(1, letter);
  id.append(dir + "/area");
  std::string area_id(id);
  for (std::int64_t i = 0; i < state.range(0); ++i) Append(area_id);
  for (auto _ : state) Append(area_id);
  std::filesystem::remove_all(dir);
}
BENCHMARK_CAPTURE(BM_AppendOneTransferAtATime, Squish, 'S')->Arg(0)->Arg(2000)->Arg(10000)->Iterations(1000);
BENCHMARK_CAPTURE(BM_AppendOneTransferAtATime, Jam, 'J')->Arg(0)->Arg(2000)->Arg(10000)->Iterations(1000);
BENCHMARK_CAPTURE(BM_AppendOneTransferAtATime, Msg, '*')->Arg(0)->Arg(2000)->Arg(10000)->Iterations(1000);

void BM_OpenAndWalkMsgArea(benchmark::State& state) {
  std::string dir = ScratchDir("lwbench_walk");
  std::string area_id("*" + dir);
  for (std::int64_t i = 0; i < state.range(0); ++i) Append(area_id);
  for (auto _ : state) {
    MsgBasePtr base;
    OpenArea(base, area_id);
    std::int64_t n = 0;
    for (base->SeekFirst(1); base->SeekFound(); base->SeekNext()) {
      base->OpenMsg();
      base->CloseMsg();
      ++n;
    }
    CloseArea(base);
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_OpenAndWalkMsgArea)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lw
