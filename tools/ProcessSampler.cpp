#include "tools/ProcessSampler.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string_view>

namespace ntripload {
namespace {

// "Key:   1234 kB" of /proc/PID/status, in KiB; false when the key is absent.
bool StatusKib(const std::string& status, std::string_view key, uint64_t& value) {
  std::istringstream lines(status);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == ':') {
      std::istringstream(line.substr(key.size() + 1)) >> value;
      return true;
    }
  }
  return false;
}

}  // namespace

ProcessSample SampleProcess(int pid) {
  ProcessSample sample;
  if (pid <= 0) return sample;
  const std::string dir = "/proc/" + std::to_string(pid) + "/";
  std::ifstream statFile(dir + "stat");
  std::string stat;
  if (!std::getline(statFile, stat)) return sample;
  // The command name may hold blanks and parentheses: the fields start after the last ")".
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return sample;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  uint64_t utime = 0, stime = 0;
  // After the name: state (field 3) ... utime (field 14), stime (field 15).
  for (int number = 3; number <= 13 && fields >> field; ++number) {
  }
  if (!(fields >> utime >> stime)) return sample;
  std::ifstream statusFile(dir + "status");
  std::stringstream status;
  status << statusFile.rdbuf();
  if (!StatusKib(status.str(), "VmRSS", sample.rssKib) ||
      !StatusKib(status.str(), "VmHWM", sample.peakRssKib))
    return sample;
  sample.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  sample.userSeconds = static_cast<double>(utime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  sample.ok = true;
  return sample;
}

ProcessUsage Usage(int pid, const ProcessSample& beforeSetup, const ProcessSample& start,
                   const ProcessSample& end, double windowSeconds) {
  ProcessUsage usage;
  usage.pid = pid;
  usage.complete = beforeSetup.ok && start.ok && end.ok;
  if (!usage.complete) return usage;
  usage.setupCpuSeconds = start.cpuSeconds - beforeSetup.cpuSeconds;
  usage.windowSeconds = windowSeconds;
  usage.cpuSeconds = end.cpuSeconds - start.cpuSeconds;
  usage.userSeconds = end.userSeconds - start.userSeconds;
  usage.rssStartKib = start.rssKib;
  usage.rssEndKib = end.rssKib;
  usage.peakRssKib = end.peakRssKib;
  return usage;
}

}  // namespace ntripload
