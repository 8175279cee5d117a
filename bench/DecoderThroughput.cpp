// Throughput of the RTCM 3 decoder on a recorded MSM base stream, fed in socket-sized reads.
// Usage: DecoderThroughput [benchmark options] (the stream is read from the shared data folder).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/ClientEntry.h"
#include "gnss/Crc24q.h"
#include "gnss/DecoderContext.h"
#include "gnss/DecoderMonitor.h"
#include "gnss/Rtcm3Decoder.h"

namespace {

const std::vector<uint8_t>& Stream() {
  static const std::vector<uint8_t> stream = [] {
    std::ifstream in(std::string(KAVRO_SHARED_DATA) + "/rtcm3/swiftnav/dropped-packets-STR24.rtcm3",
                     std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }();
  return stream;
}

// A console that shows this base's decoder lines, so that every trace is composed.
class WatchingConsole : public DecoderConsole {
 public:
  bool WantsDecoderLines(uint32_t) const override { return true; }
  void AddDecoderLine(std::string_view line) override { benchmark::DoNotOptimize(line.data()); }
};

void RunDecoder(benchmark::State& state, DecoderConsole& console) {
  const std::vector<uint8_t>& stream = Stream();
  if (stream.empty()) {
    state.SkipWithError("recorded stream not found in " KAVRO_SHARED_DATA);
    return;
  }
  const size_t readSize = static_cast<size_t>(state.range(0));
  DecoderMonitor monitor;
  PositionRecorder recorder;
  int saveGga = 1;
  DecoderContext context{monitor, console, recorder, saveGga};
  int64_t frames = 0;
  for (auto _ : state) {
    ClientEntry entry;
    entry.streamBuffer = std::make_unique<CBuffer>();
    entry.userName = "STR2";
    entry.dataFormat = 3;
    for (size_t at = 0; at < stream.size(); at += readSize) {
      DecodeRtcm3(context, entry, stream.data() + at,
                  static_cast<uint32_t>(std::min(readSize, stream.size() - at)));
    }
    frames += entry.formatState;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void BM_DecodeRtcm3(benchmark::State& state) {
  DecoderConsole console;
  RunDecoder(state, console);
}
BENCHMARK(BM_DecodeRtcm3)->Arg(8095)->Arg(1460)->Arg(64);

void BM_DecodeRtcm3Traced(benchmark::State& state) {
  WatchingConsole console;
  RunDecoder(state, console);
}
BENCHMARK(BM_DecodeRtcm3Traced)->Arg(8095);

void BM_Crc24q(benchmark::State& state) {
  const std::vector<uint8_t>& stream = Stream();
  for (auto _ : state) benchmark::DoNotOptimize(Crc24q(stream.data(), stream.size()));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_Crc24q);

}  // namespace

BENCHMARK_MAIN();
