// Memory-stream writes and reads of a 1 MB text, and CopyFrom between a
// file and a memory stream.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "stream/stream.h"

namespace lw {
namespace {

constexpr std::int32_t kText = 1 << 20;

void BM_MemoryStreamWrite(benchmark::State& state) {
  const std::int32_t piece = static_cast<std::int32_t>(state.range(0));
  std::vector<char> data(static_cast<std::size_t>(piece), 'x');
  for (auto _ : state) {
    MemoryStream m;
    for (std::int32_t done = 0; done < kText; done += piece) m.Write(data.data(), piece);
    benchmark::DoNotOptimize(m.GetSize());
  }
  state.SetBytesProcessed(state.iterations() * kText);
}
BENCHMARK(BM_MemoryStreamWrite)->Arg(1024)->Arg(64 * 1024);

void BM_MemoryStreamRead(benchmark::State& state) {
  const std::int32_t piece = static_cast<std::int32_t>(state.range(0));
  std::vector<char> data(static_cast<std::size_t>(piece), 'x');
  MemoryStream m;
  for (std::int32_t done = 0; done < kText; done += piece) m.Write(data.data(), piece);
  for (auto _ : state) {
    m.Seek(0);
    for (std::int32_t done = 0; done < kText; done += piece) m.Read(data.data(), piece);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(state.iterations() * kText);
}
BENCHMARK(BM_MemoryStreamRead)->Arg(1024)->Arg(64 * 1024);

void BM_CopyFileToMemory(benchmark::State& state) {
  char name[] = "/tmp/lwbenchXXXXXX";
  int fd = mkstemp(name);
  std::string text(kText, 'y');
  FILE* f = fdopen(fd, "wb");
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  for (auto _ : state) {
    auto file = OpenFileStream(name, fmRead);
    MemoryStream m;
    m.CopyFrom(*file, file->GetSize());
    benchmark::DoNotOptimize(m.GetSize());
  }
  std::remove(name);
  state.SetBytesProcessed(state.iterations() * kText);
}
BENCHMARK(BM_CopyFileToMemory);

}  // namespace
}  // namespace lw
