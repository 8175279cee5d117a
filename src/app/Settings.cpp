#include "app/Settings.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "app/ProfileFile.h"

namespace {

constexpr size_t kFlagCount = 20;
constexpr size_t kRelayTextLength = 2047;
constexpr size_t kRelayListItems = 20;
constexpr unsigned kSettingsFileMode = 0600;  // the file holds the database password
constexpr int kHighestPort = 65535;

// The flags in the order of their "SET" digits.
constexpr int OptionFlags::*kFlagOrder[kFlagCount] = {
    &OptionFlags::autoStartService,
    &OptionFlags::autoRunAtLogon,
    &OptionFlags::pushToSubscribers,
    &OptionFlags::multiUser,
    &OptionFlags::testBroadcast,
    &OptionFlags::autoCreateUserOff,
    &OptionFlags::recordToBase,
    &OptionFlags::recordToProgramDirectory,
    &OptionFlags::fixedBase,
    &OptionFlags::movingBase,
    &OptionFlags::saveGga,
    &OptionFlags::mustNeedGga,
    &OptionFlags::writeKml,
    &OptionFlags::passwordProtection,
    &OptionFlags::useWorkAreas,
    &OptionFlags::reserved16,
    &OptionFlags::reserved17,
    &OptionFlags::userInPassword,
    &OptionFlags::positionManagement,
    &OptionFlags::receiverCodeLogin,
};

// A port key; a value outside 0..65535 gives the default, since the listener would take it modulo
// 65536 and open a port nobody asked for.
int GetPort(const ProfileFile& file, std::string_view section, std::string_view key, int def) {
  const int port = file.GetInt(section, key, def);
  return port >= 0 && port <= kHighestPort ? port : def;
}

// Items of a comma-separated list, empty ones skipped, at most kRelayListItems.
std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> items;
  while (items.size() < kRelayListItems) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    if (!item.empty()) items.emplace_back(item);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return items;
}

RelaySettings ReadRelay(const std::string& relayFile) {
  ProfileFile file;
  file.Load(relayFile);
  RelaySettings relay;
  relay.ip = file.GetString("Settings", "IP", relay.ip, kRelayTextLength);
  relay.port = GetPort(file, "Settings", "PORT", relay.port);
  if (relay.port != 0) {
    relay.users = SplitList(file.GetString("Settings", "USER", "127.0.0.1", kRelayTextLength));
    relay.users2 = SplitList(file.GetString("Settings", "USER2", "127.0.0.1", kRelayTextLength));
  }
  return relay;
}

void SaveSettingsFile(const ProfileFile& file, const std::string& settingsFile) {
  file.Save(settingsFile, kSettingsFileMode);  // write failures are ignored, as for every writer
}

}  // namespace

bool IsReceiverAlphabet(std::string_view text) {
  static constexpr std::string_view kSymbols =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() != kSymbols.size()) return false;
  bool seen[256] = {};
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (kSymbols.find(c) == std::string_view::npos || seen[byte]) return false;
    seen[byte] = true;
  }
  return true;
}

OptionFlags ParseSetFlags(const std::string& text) {
  OptionFlags flags;
  if (text.empty()) return flags;
  for (size_t i = 0; i < kFlagCount; ++i) flags.*kFlagOrder[i] = i < text.size() && text[i] == '1' ? 1 : 0;
  return flags;
}

std::string FormatSetFlags(const OptionFlags& flags) {
  std::string text;
  // Any non-zero flag is on; writing it as '1' keeps the text at exactly 20 digits.
  for (const auto member : kFlagOrder) text += flags.*member != 0 ? '1' : '0';
  return text;
}

void CleanLinkSlots(std::array<LinkSlot, kLinkSlots>& slots) {
  for (int i = 0; i < kLinkSlots && slots[i].port != 0; ++i) {
    for (int j = i + 1; j < kLinkSlots && slots[j].port != 0; ++j) {
      if (slots[j].address != slots[i].address || slots[j].port != slots[i].port) continue;
      // The last slot is not cleared: it stays as it was, next to its copy.
      for (int k = j; k < kLinkSlots - 1; ++k) slots[k] = slots[k + 1];
      break;
    }
  }
  if (slots[0].port == 0) slots[0] = LinkSlot{"127.0.0.1", 6800};
}

Settings ReadSettings(const std::string& settingsFile, const std::string& relayFile) {
  Settings s;
  s.relay = ReadRelay(relayFile);

  ProfileFile file;
  file.Load(settingsFile);

  s.name = file.GetString("SYSTEM", "NAME", s.name);
  s.language = file.GetString("SYSTEM", "Language", s.language);
  s.languageSet = file.GetString("SYSTEM", "LanguageSET", s.languageSet);
  s.masterSlave = file.GetString("SYSTEM", "MasterSlave", s.masterSlave);
  s.icon = file.GetInt("SYSTEM", "ICON", s.icon);

  s.useSql = file.GetInt("SQL", "UseSQL", s.useSql);
  s.sqlPort = GetPort(file, "SQL", "PORT", s.sqlPort);
  s.sqlIp = file.GetString("SQL", "IP", s.sqlIp);
  s.sqlUser = file.GetString("SQL", "User", s.sqlUser);
  s.sqlPassword = file.GetString("SQL", "Password", s.sqlPassword);
  s.sqlDbName = file.GetString("SQL", "DBname", s.sqlDbName);
  s.sqlHostName = file.GetString("SQL", "HostName", s.sqlHostName);
  s.sqlTimeout = std::max(1, file.GetInt("SQL", "Timeout", s.sqlTimeout));
  s.sqlQueueLimit = std::max(1, file.GetInt("SQL", "QueueLimit", s.sqlQueueLimit));

  const long long useNet = std::llabs(file.GetInt("NET", "UseNet", 11));
  s.useLinks = static_cast<int>(useNet % 10);
  s.updatePush = static_cast<int>(useNet / 10 % 10);
  for (int n = 1; n <= kLinkSlots; ++n) {
    LinkSlot& slot = s.links[n - 1];
    slot.address = file.GetString("NET", "IP" + std::to_string(n), "");
    slot.port = GetPort(file, "NET", "PORT" + std::to_string(n), 0);
  }
  CleanLinkSlots(s.links);

  s.total = file.GetInt("SYSTEMSERVER", "TOTAL", s.total);
  s.port = GetPort(file, "SYSTEMSERVER", "PORT", s.port);
  s.port2 = GetPort(file, "SYSTEMSERVER", "PORT2", s.port2);
  s.dispNum = file.GetInt("SYSTEMSERVER", "Disp_num", s.dispNum);
  s.mountLocal = file.GetString("SYSTEMSERVER", "MountLocal", s.mountLocal);
  s.maxPerIp = std::max(0, file.GetInt("SYSTEMSERVER", "MaxPerIP", s.maxPerIp));
  s.maxConnectsPerIp = std::max(0, file.GetInt("SYSTEMSERVER", "MaxConnectsPerIP", s.maxConnectsPerIp));
  s.ntrip2Chunked = file.GetInt("SYSTEMSERVER", "Ntrip2Chunked", s.ntrip2Chunked) == 1 ? 1 : 0;
  s.tlsPort = file.GetInt("SYSTEMSERVER", "TLSPORT", s.tlsPort);
  s.tlsCert = file.GetString("SYSTEMSERVER", "TLSCERT", s.tlsCert);
  s.tlsKey = file.GetString("SYSTEMSERVER", "TLSKEY", s.tlsKey);
  s.ipv6 = file.GetInt("SYSTEMSERVER", "IPV6", s.ipv6) == 1 ? 1 : 0;
  s.flags = ParseSetFlags(file.GetString("SYSTEMSERVER", "SET", ""));
  const std::string alphabet = file.GetString("SYSTEMSERVER", "ReceiverAlphabet", "");
  if (IsReceiverAlphabet(alphabet)) s.receiverAlphabet = alphabet;

  s.monitorPort = GetPort(file, "MONITOR", "PORT", s.monitorPort);
  s.monitorBind = file.GetString("MONITOR", "BIND", s.monitorBind);
  s.monitorPassword = file.GetString("MONITOR", "PASSWORD", s.monitorPassword);
  s.monitorTileUrl = file.GetString("MONITOR", "TileURL", s.monitorTileUrl);
  s.monitorTls = file.GetInt("MONITOR", "TLS", s.monitorTls) == 1 ? 1 : 0;
  return s;
}

void WriteSqlSettings(const std::string& settingsFile, const Settings& settings) {
  ProfileFile file;
  file.Load(settingsFile);
  file.SetString("SQL", "UseSQL", std::to_string(settings.useSql));
  file.SetString("SQL", "PORT", std::to_string(settings.sqlPort));
  file.SetString("SQL", "IP", settings.sqlIp);
  file.SetString("SQL", "User", settings.sqlUser);
  file.SetString("SQL", "Password", settings.sqlPassword);
  file.SetString("SQL", "DBname", settings.sqlDbName);
  file.SetString("SQL", "HostName", settings.sqlHostName);
  SaveSettingsFile(file, settingsFile);
}

void WriteNetSettings(const std::string& settingsFile, const Settings& settings) {
  ProfileFile file;
  file.Load(settingsFile);
  file.SetString("NET", "UseNet", std::to_string(settings.updatePush * 10 + settings.useLinks));
  for (int i = 0; i < kLinkSlots && settings.links[i].port != 0; ++i) {
    file.SetString("NET", "IP" + std::to_string(i + 1), settings.links[i].address);
    file.SetString("NET", "PORT" + std::to_string(i + 1), std::to_string(settings.links[i].port));
  }
  SaveSettingsFile(file, settingsFile);
}

void WriteSystemServerSettings(const std::string& settingsFile, const Settings& settings) {
  ProfileFile file;
  file.Load(settingsFile);
  file.SetString("SYSTEMSERVER", "TOTAL", std::to_string(settings.total));
  file.SetString("SYSTEMSERVER", "PORT", std::to_string(settings.port));
  file.SetString("SYSTEMSERVER", "PORT2", std::to_string(settings.port2));
  file.SetString("SYSTEMSERVER", "Disp_num", std::to_string(settings.dispNum));
  file.SetString("SYSTEMSERVER", "MountLocal", settings.mountLocal);
  file.SetString("SYSTEMSERVER", "SET", FormatSetFlags(settings.flags));
  SaveSettingsFile(file, settingsFile);
}
