#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "app/Settings.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(dir); }
  static void Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string ReadBack() const {
    std::stringstream out;
    out << std::ifstream(settingsFile, std::ios::binary).rdbuf();
    return out.str();
  }
  Settings Read() const { return ReadSettings(settingsFile, relayFile); }
  Settings ReadWith(const std::string& text) {
    Write(settingsFile, text);
    return Read();
  }

  const fs::path dir = fs::temp_directory_path() / ("kavro-settings-" + std::to_string(::getpid()) + "-" +
                                                    std::to_string(std::random_device{}()));
  const std::string settingsFile = (dir / "INI" / "KavroServer.INI").string();
  const std::string relayFile = (dir / "USER.NAME").string();
};

// "address:port" of every slot that holds anything.
std::string Describe(const std::array<LinkSlot, kLinkSlots>& slots) {
  std::string text;
  for (const LinkSlot& slot : slots) {
    if (slot.port != 0 || !slot.address.empty()) text += slot.address + ":" + std::to_string(slot.port) + " ";
  }
  return text;
}

TEST_F(SettingsTest, NoFilesGiveTheDefaults) {
  const Settings s = Read();
  EXPECT_EQ(s.port, 6060);
  EXPECT_EQ(s.port2, 0);
  EXPECT_EQ(s.useSql, 0);
  EXPECT_EQ(s.sqlPort, 5432);
  EXPECT_EQ(Describe(s.links), "127.0.0.1:6800 ");
  EXPECT_EQ(s.useLinks * 10 + s.updatePush, 11);
  EXPECT_EQ(FormatSetFlags(s.flags), "11000000001000000000");
  EXPECT_EQ(s.mountLocal, "CHN");
  EXPECT_EQ(s.language, "Chinese");
  EXPECT_EQ(s.monitorPort, 6080);
  EXPECT_EQ(s.monitorBind, "127.0.0.1");
  EXPECT_EQ(s.relay.port, 0);
  EXPECT_EQ(s.sqlTimeout, 3);
  EXPECT_EQ(s.sqlQueueLimit, 100000);
}

TEST_F(SettingsTest, DatabaseTimeAndQueueLimitsStayPositive) {
  for (const auto& [text, timeout, limit] : std::vector<std::tuple<std::string, int, int>>{
           {"Timeout=10\nQueueLimit=500\n", 10, 500}, {"Timeout=0\nQueueLimit=-5\n", 1, 1}}) {
    const Settings s = ReadWith("[SQL]\n" + text);
    EXPECT_EQ(s.sqlTimeout, timeout) << text;
    EXPECT_EQ(s.sqlQueueLimit, limit) << text;
  }
}

TEST_F(SettingsTest, AddressLimitsAreOffUnlessSetAndNeverNegative) {
  for (const auto& [text, perIp, perMinute] : std::vector<std::tuple<std::string, int, int>>{
           {"", 0, 0}, {"MaxPerIP=3\nMaxConnectsPerIP=60\n", 3, 60}, {"maxperip=-2\nMAXCONNECTSPERIP=-1\n", 0, 0}}) {
    const Settings s = ReadWith("[SYSTEMSERVER]\nPORT=7000\n" + text);
    EXPECT_EQ(s.maxPerIp, perIp) << text;
    EXPECT_EQ(s.maxConnectsPerIp, perMinute) << text;
  }
}

// A port outside 0..65535 would be taken modulo 65536 by the listener: it reads as the default.
TEST_F(SettingsTest, PortsOutOfRangeGiveTheirDefaults) {
  for (const auto& [value, port, port2, sql, monitor, link, relay] :
       std::vector<std::tuple<std::string, int, int, int, int, int, int>>{
           {"7000", 7000, 7000, 7000, 7000, 7000, 7000},
           {"65535", 65535, 65535, 65535, 65535, 65535, 65535},
           {"-5", 6060, 0, 5432, 6080, 6800, 0},
           {"65536", 6060, 0, 5432, 6080, 6800, 0},
           {"99999999999999", 6060, 0, 5432, 6080, 6800, 0}}) {
    Write(relayFile, "[Settings]\nPORT=" + value + "\n");
    const Settings s =
        ReadWith("[SYSTEMSERVER]\nPORT=" + value + "\nPORT2=" + value + "\n[SQL]\nPORT=" + value +
                 "\n[MONITOR]\nPORT=" + value + "\n[NET]\nIP1=127.0.0.1\nPORT1=" + value + "\n");
    EXPECT_EQ(s.port, port) << value;
    EXPECT_EQ(s.port2, port2) << value;
    EXPECT_EQ(s.sqlPort, sql) << value;
    EXPECT_EQ(s.monitorPort, monitor) << value;
    EXPECT_EQ(s.links[0].port, link) << value;
    EXPECT_EQ(s.relay.port, relay) << value;
  }
}

TEST_F(SettingsTest, SetDigitsMapToFlagsInOrder) {
  const OptionFlags one = ParseSetFlags("1");
  EXPECT_EQ(FormatSetFlags(one), "10000000000000000000");
  EXPECT_EQ(one.saveGga, 0);
  EXPECT_EQ(FormatSetFlags(ParseSetFlags("1x1 ab9999911")), "10100000000110000000");

  const std::string all = "01011001110100101101";
  EXPECT_EQ(FormatSetFlags(ParseSetFlags(all)), all);
  // Digit n sets exactly the n-th flag.
  // clang-format off
  constexpr int OptionFlags::*kOrder[] = {
      &OptionFlags::autoStartService, &OptionFlags::autoRunAtLogon, &OptionFlags::pushToSubscribers,
      &OptionFlags::multiUser, &OptionFlags::testBroadcast, &OptionFlags::autoCreateUserOff,
      &OptionFlags::recordToBase, &OptionFlags::recordToProgramDirectory, &OptionFlags::fixedBase,
      &OptionFlags::movingBase, &OptionFlags::saveGga, &OptionFlags::mustNeedGga, &OptionFlags::writeKml,
      &OptionFlags::passwordProtection, &OptionFlags::useWorkAreas, &OptionFlags::reserved16,
      &OptionFlags::reserved17, &OptionFlags::userInPassword, &OptionFlags::positionManagement,
      &OptionFlags::receiverCodeLogin};
  // clang-format on
  for (size_t n = 0; n < std::size(kOrder); ++n) {
    const OptionFlags flags = ParseSetFlags(std::string(n, '0') + "1");
    int on = 0;
    for (const auto member : kOrder) on += flags.*member;
    EXPECT_TRUE(on == 1 && flags.*kOrder[n] == 1) << "digit " << n + 1;
  }

  // Missing or empty "SET" keeps the built-in flags; a present one replaces all of them.
  EXPECT_EQ(FormatSetFlags(ReadWith("[SYSTEMSERVER]\nSET=\n").flags), "11000000001000000000");
  EXPECT_EQ(FormatSetFlags(ReadWith("[systemserver]\nset=0001\n").flags), "00010000000000000000");
}

TEST_F(SettingsTest, UseNetSplitsIntoDigits) {
  Settings s = ReadWith("[NET]\nUseNet=10\n");
  EXPECT_EQ(s.updatePush, 1);
  EXPECT_EQ(s.useLinks, 0);
  s = ReadWith("[NET]\nUseNet=1\n");
  EXPECT_EQ(s.updatePush, 0);
  EXPECT_EQ(s.useLinks, 1);
}

TEST_F(SettingsTest, LinkSlotCleanUp) {
  // Entry 3 repeats entry 1: it goes and entry 4 moves up. Only the first copy goes in one pass.
  Settings s =
      ReadWith("[NET]\nIP1=a\nPORT1=1\nIP2=b\nPORT2=2\nIP3=a\nPORT3=1\nIP4=c\nPORT4=4\nIP5=a\nPORT5=1\n");
  EXPECT_EQ(Describe(s.links), "a:1 b:2 c:4 a:1 ");
  s = ReadWith("[NET]\nIP1=x\nPORT1=0\nIP2=10.1.1.1\nPORT2=7000\n");
  EXPECT_EQ(Describe(s.links), "127.0.0.1:6800 10.1.1.1:7000 ");

  // Other address text or port is no copy; the search stops at an empty slot.
  std::array<LinkSlot, kLinkSlots> slots{{{"a", 1}, {"A", 1}, {"a", 2}, {"b", 0}, {"a", 1}}};
  CleanLinkSlots(slots);
  EXPECT_EQ(Describe(slots), "a:1 A:1 a:2 b:0 a:1 ");

  // With all slots used, the last slot keeps its value beside its moved copy.
  for (int i = 0; i < kLinkSlots; ++i) slots[i] = {"h" + std::to_string(i), 100 + i};
  slots[5] = slots[0];
  CleanLinkSlots(slots);
  EXPECT_EQ(slots[5].address, "h6");
  EXPECT_EQ(slots[14].address + slots[15].address, "h15h15");
}

TEST_F(SettingsTest, NetWriterStopsAtTheFirstEmptySlot) {
  Write(settingsFile, "[NET]\n; links\nUseNet=11\nIP1=old\nPORT1=1\nIP3=kept\nPORT3=3\n[SQL]\nIP=db\n");
  Settings s;
  s.useLinks = 0;
  s.links = {{{"h1", 11}, {"h2", 22}, {"h3", 0}, {"h4", 44}}};
  WriteNetSettings(settingsFile, s);
  EXPECT_EQ(
      ReadBack(),
      "[NET]\n; links\nUseNet=10\nIP1=h1\nPORT1=11\nIP3=kept\nPORT3=3\nIP2=h2\nPORT2=22\n[SQL]\nIP=db\n");
}

TEST_F(SettingsTest, WritersRoundTripAndProtectTheFile) {
  const std::string kept = "[SYSTEM]\r\nNAME=Station\r\n; note\r\n[MONITOR]\r\nPORT=7080\r\n";
  Write(settingsFile, kept);
  ::chmod(settingsFile.c_str(), 0644);
  Settings s = Read();
  s.useSql = 1;
  s.sqlPort = 15432;
  s.sqlPassword = "p@ss word";
  s.sqlHostName = "host";
  s.total = 57;
  s.port2 = 2101;
  s.mountLocal = "DEU";
  s.flags = ParseSetFlags("00000000000001000001");
  WriteSqlSettings(settingsFile, s);
  WriteSystemServerSettings(settingsFile, s);

  struct stat st {};
  ASSERT_EQ(::stat(settingsFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(ReadBack().starts_with(kept));
  const Settings back = Read();
  EXPECT_EQ(back.name + "|" + back.sqlPassword + "|" + back.sqlHostName + "|" + back.mountLocal,
            "Station|p@ss word|host|DEU");
  EXPECT_EQ(
      std::vector<int>({back.monitorPort, back.useSql, back.sqlPort, back.total, back.port, back.port2}),
      std::vector<int>({7080, 1, 15432, 57, 6060, 2101}));
  EXPECT_EQ(FormatSetFlags(back.flags), "00000000000001000001");
}

TEST_F(SettingsTest, RelayListsAreReadOnlyWithAPort) {
  std::string many;  // longer than 259 characters
  for (int i = 1; i <= 25; ++i) many += "user" + std::to_string(i) + "-station,";
  Write(relayFile, "[settings]\nip=10.9.9.9\nport=2101\nUSER=" + many + "\nUSER2=,a,,b,\n");
  RelaySettings relay = Read().relay;
  EXPECT_EQ(relay.ip, "10.9.9.9");
  ASSERT_EQ(relay.users.size(), 20u);
  EXPECT_EQ(relay.users.back(), "user20-station");
  EXPECT_EQ(relay.users2, (std::vector<std::string>{"a", "b"}));

  Write(relayFile, "[Settings]\nPORT=2101\n");
  EXPECT_EQ(Read().relay.users, std::vector<std::string>{"127.0.0.1"});
  Write(relayFile, "[Settings]\nPORT=0\nUSER=a,b\nUSER2=c\n");
  relay = Read().relay;
  EXPECT_TRUE(relay.users.empty() && relay.users2.empty());
}

}  // namespace
