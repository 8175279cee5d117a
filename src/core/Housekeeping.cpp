#include "core/Housekeeping.h"

#include "app/KavroGyBl.h"
#include "core/Messages.h"
#include "core/StrFormat.h"

namespace {

constexpr int kReportTicks = 30;     // the report runs when the counter passes this
constexpr int kTestLines = 60;       // test lines are numbered modulo this
constexpr int kLinkRetryTicks = 20;  // link i is retried every 20·(i+1)+1 ticks
constexpr int kIdleTicks = 30;
constexpr int kNoGgaTicks = 60;
constexpr int kSilentBaseTicks = 300;
constexpr int kMaxSendErrors = 30;

bool IsNetworkAgent(const std::string& agent) {
  return agent == " NTRIP-KavroNet" || agent == "NTRIP-KavroNet";
}

}  // namespace

std::string TestLine(int counter) {
  static const std::string kSymbols = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string line = StrFormat("%02d,测试成功", counter);
  for (int i = 0; i < 5; ++i) line += kSymbols;
  return line + "测试成功";
}

void Housekeeping::OnTick() {
  if (running_) return;
  running_ = true;
  Settings& settings = gybl_.settings;

  if (gybl_.serviceRunning != 0 && settings.flags.testBroadcast != 0) SendTestLine();
  ++tickCounter;

  const int entries = static_cast<int>(gybl_.clientTable.size());
  if (entries > settings.total) {
    settings.total = entries;
    if (!gybl_.settingsFile.empty()) WriteSystemServerSettings(gybl_.settingsFile, settings);
  }

  if (settings.useLinks != 0 && gybl_.serviceRunning != 0) RetryLinks();

  if (tickCounter > kReportTicks) {
    tickCounter = 0;
    if (upstreamReport_) upstreamReport_();
    gybl_.SendStatistics();
  }

  uint32_t socket = 0;
  int reason = 0;
  if (FindStale(socket, reason)) gybl_.Close(socket, static_cast<CloseReason>(reason));
  running_ = false;
}

void Housekeeping::SendTestLine() {
  ClientTable& table = gybl_.clientTable;
  if (table.empty() || table.begin()->first != kTestBaseSocket) return;
  testCounter = (testCounter + 1) % kTestLines;
  const std::string line = TestLine(testCounter);
  // Sending may close a rover, which changes the links; walk a copy of the sockets.
  std::vector<uint32_t> rovers;
  for (const auto& [rover, name] : table.begin()->second.links) rovers.push_back(rover);
  for (uint32_t rover : rovers) gybl_.SendText(rover, line);
}

void Housekeeping::RetryLinks() {
  for (int i = 0; i < kLinkSlots; ++i) {
    if (gybl_.settings.links[static_cast<size_t>(i)].port == 0) break;
    LinkSlotState& slot = gybl_.linkSlots[static_cast<size_t>(i)];
    // A link marked connected is asked whether it still is: a lost one is retried like a failed one.
    if (slot.connected != 0 && gybl_.steps().LinkConnected(i)) continue;
    slot.connected = 0;
    if (++slot.retryTicks > kLinkRetryTicks * (i + 1)) {
      slot.retryTicks = 0;
      gybl_.steps().ConnectLink(i);
    }
  }
}

bool Housekeeping::FindStale(uint32_t& socket, int& reason) {
  const bool mustNeedGga = gybl_.settings.flags.mustNeedGga != 0;
  for (auto& [key, entry] : gybl_.clientTable) {
    ++entry.idleSeconds;
    entry.gridRefreshDue = 1;
    socket = key;
    if (entry.closeReason != 0) {
      reason = entry.closeReason;
      return true;
    }
    if (key == kTestBaseSocket) continue;
    const bool rover = entry.clientType == "NTRIP" || entry.clientType == "ROVE";
    if (entry.idleSeconds > kIdleTicks && (entry.userName.empty() || (entry.links.empty() && rover))) {
      reason = static_cast<int>(CloseReason::kIdle);
      return true;
    }
    if (!entry.links.empty() && entry.links.begin()->first == kTestBaseSocket) continue;
    if (entry.idleSeconds > kNoGgaTicks && entry.clientType != "GETGGA" && !IsNetworkAgent(entry.agent) &&
        mustNeedGga) {
      reason = static_cast<int>(CloseReason::kNoGga);
      return true;
    }
    if (entry.idleSeconds > kSilentBaseTicks && entry.clientType == "BASE") {
      reason = static_cast<int>(CloseReason::kBaseSilent);
      return true;
    }
    if (entry.sendErrors > kMaxSendErrors) {
      reason = static_cast<int>(CloseReason::kSendErrors);
      return true;
    }
  }
  return false;
}
