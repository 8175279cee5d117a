#pragma once
// CPU time and memory of another process (the caster under load), read from /proc.
#include <cstdint>
#include <string>

namespace ntripload {

struct ProcessSample {
  bool ok = false;          // false when the process or its files could not be read
  double cpuSeconds = 0;    // user + system time (/proc/PID/stat utime + stime)
  double userSeconds = 0;   // user time alone: the process's own code, without the kernel's share
  uint64_t rssKib = 0;      // resident set now (/proc/PID/status VmRSS)
  uint64_t peakRssKib = 0;  // highest resident set so far (VmHWM)
};

ProcessSample SampleProcess(int pid);

// What a process used over the measurement window (every connection set up to the end of the
// drain), and during the set-up before it.
struct ProcessUsage {
  int pid = 0;            // 0: not sampled
  bool complete = false;  // every sample was read
  double setupCpuSeconds = 0;
  double windowSeconds = 0;  // wall time of the window
  double cpuSeconds = 0;     // in the window
  double userSeconds = 0;    // of that, in user mode
  uint64_t rssStartKib = 0;
  uint64_t rssEndKib = 0;
  uint64_t peakRssKib = 0;  // at the end of the window
};

// The usage from samples taken before the set-up, at the window's start and at its end.
ProcessUsage Usage(int pid, const ProcessSample& beforeSetup, const ProcessSample& start,
                   const ProcessSample& end, double windowSeconds);

}  // namespace ntripload
