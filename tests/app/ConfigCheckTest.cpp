#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/ConfigCheck.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"

namespace {

std::string Lines(const std::vector<ConfigFinding>& findings) {
  std::string text;
  for (const ConfigFinding& finding : findings) text += FindingLine("F", finding) + "\n";
  return text;
}

struct Case {
  std::string name;
  std::string text;
  std::string expected;  // the findings as "F:LINE: message" lines
};

class SettingsCheckTest : public ::testing::TestWithParam<Case> {};

TEST_P(SettingsCheckTest, ReportsEachFindingOnItsLine) {
  EXPECT_EQ(Lines(CheckSettingsText(GetParam().text)), GetParam().expected);
}

const std::vector<Case> kSettingsCases = {
    {"Clean",
     "\xEF\xBB\xBF; comment\r\n[sql]\r\nport = 5433\r\nIP=db.example\r\n\r\n[NET]\nUseNet=10\nPORT16=7000\n",
     ""},
    {"Structure",
     "stray=1\n[SYSTEM]\nNAME=x\nColour=red\n[Extra]\nA=1\n[system]\nNAME=y\njust words\n[SQL]\nIP=a\nip=b\n",
     "F:1: key \"stray\" is outside any section and is ignored\n"
     "F:4: unknown key \"Colour\" in [SYSTEM]\n"
     "F:5: unknown section [Extra]\n"
     "F:7: section [system] appears again; only the first one is read\n"
     "F:9: not a section, key or comment; the line is ignored\n"
     "F:12: key \"ip\" appears again in [SQL]; only the first one is read\n"},
    {"Numbers",
     "[SYSTEMSERVER]\nPORT=70000\nPORT2=-1\nTOTAL=12abc\nDisp_num=many\n[SQL]\nUseSQL=2\nTimeout=0\n"
     "PORT=99999999999999999999\n[SYSTEM]\nICON=\n[NET]\nPORT17=1\nUseNet=12\nPORT3=\"6800\"\n",
     "F:2: PORT: 70000 is not a port (0..65535); the default is used\n"
     "F:3: PORT2: -1 is not a port (0..65535); the default is used\n"
     "F:4: TOTAL: \"12abc\" is not a number; it is read as 12\n"
     "F:5: Disp_num: \"many\" is not a number; the default is used\n"
     "F:7: UseSQL: 2 is not 0 or 1\n"
     "F:8: Timeout: 0 is below 1\n"
     "F:9: PORT: 99999999999999999999 is not a port (0..65535); the default is used\n"
     "F:11: ICON: \"\" is not a number; the default is used\n"
     "F:13: unknown key \"PORT17\" in [NET]\n"
     "F:14: UseNet: \"12\" is not two digits of 0 and 1 (0, 1, 10 or 11)\n"},
    {"Flags", "[SYSTEMSERVER]\nSET=1100000000100000000\n[SYSTEMSERVER]\n",
     "F:2: SET: \"1100000000100000000\" is not 20 digits of 0 and 1\n"
     "F:3: section [SYSTEMSERVER] appears again; only the first one is read\n"},
    {"FlagCharacters", "[SYSTEMSERVER]\nSET=11000000001000000002\nSET=1\n",
     "F:2: SET: \"11000000001000000002\" is not 20 digits of 0 and 1\n"
     "F:3: key \"SET\" appears again in [SYSTEMSERVER]; only the first one is read\n"},
    {"Texts",
     "[SYSTEM]\nLanguage=../etc/x\nLanguageSET=set\n[SYSTEMSERVER]\nReceiverAlphabet=ABC\n[MONITOR]\n"
     "BIND=localhost\nTileURL=tile.example/{z}/{x}/{y}.png\n",
     "F:2: Language: \"../etc/x\" is not a plain name (it names INI/Server_<Language>.INI)\n"
     "F:3: LanguageSET: \"set\" has no effect; only \"SET\" exports the language files\n"
     "F:5: ReceiverAlphabet: not the 64 Base64 symbols, each once; the built-in order is used\n"
     "F:7: BIND: \"localhost\" is not an IP address\n"
     "F:8: TileURL: does not begin with http:// or https://; no tiles are fetched\n"},
    {"OpenMonitorWithoutPassword", "[MONITOR]\nPASSWORD=\nBIND=0.0.0.0\n[SQL]\nPORT=x\n",
     "F:3: BIND: \"0.0.0.0\" needs a PASSWORD; without one the monitor is not started\n"
     "F:5: PORT: \"x\" is not a number; the default is used\n"},
    {"AddressLimits", "[SYSTEMSERVER]\nMaxPerIP=3\nMaxConnectsPerIP=-1\n",
     "F:3: MaxConnectsPerIP: -1 is below 0\n"},
    {"Huge", "[SQL]\nQueueLimit=99999999999999\n[SYSTEMSERVER]\nDisp_num=2147483648\nTOTAL=2147483647\n",
     "F:2: QueueLimit: 99999999999999 is above 2147483647; it is read as such\n"
     "F:4: Disp_num: 2147483648 is above 2147483647; it is read as such\n"},
    {"OpenMonitorWithPassword", "[MONITOR]\nBIND=::\nPASSWORD=secret\n", ""},
    {"LongestText", "[SYSTEM]\nNAME=" + std::string(259, 'n') + "\n", ""},
    {"LongerText", "[SYSTEM]\nNAME=" + std::string(260, 'n') + "\n",
     "F:2: NAME: longer than 259 bytes; the rest is cut\n"},
};

INSTANTIATE_TEST_SUITE_P(Files, SettingsCheckTest, ::testing::ValuesIn(kSettingsCases),
                         [](const auto& info) { return info.param.name; });

TEST(RelayCheckTest, ChecksTheRelayFileWithItsLongerValues) {
  std::string users = "a";
  for (int i = 0; i < 20; ++i) users += ",u" + std::to_string(i);
  const std::string text = "[Settings]\nIP=" + std::string(2047, 'i') + "\nPORT=2101\nUSER=" + users +
                           "\nUSER2=,,x,\nNAME=y\n[SYSTEM]\n[settings]\nIP=b\n";
  EXPECT_EQ(Lines(CheckRelayText(text)),
            "F:4: USER: 21 names; only the first 20 are read\n"
            "F:6: unknown key \"NAME\" in [Settings]\n"
            "F:7: unknown section [SYSTEM]\n"
            "F:8: section [settings] appears again; only the first one is read\n");
  EXPECT_EQ(Lines(CheckRelayText("[Settings]\nIP=" + std::string(2048, 'i') + "\n")),
            "F:2: IP: longer than 2047 bytes; the rest is cut\n");
}

TEST(ConfigCheckTest, FindingLineNamesFileAndLine) {
  EXPECT_EQ(FindingLine("/d/INI/KavroServer.INI", {3, "x"}), "/d/INI/KavroServer.INI:3: x");
  EXPECT_EQ(FindingLine("/d/USER.NAME", {0, "cannot be read"}), "/d/USER.NAME: cannot be read");
}

// The shipped sample names every key, passes the check and reads as the defaults.
TEST(ConfigCheckTest, SampleFileHoldsEveryKeyAtItsDefault) {
  const std::string sample = std::string(KAVRO_SOURCE_DIR) + "/packaging/KavroServer.INI.sample";
  std::stringstream text;
  text << std::ifstream(sample).rdbuf();
  ASSERT_FALSE(text.str().empty()) << sample;
  EXPECT_EQ(Lines(CheckSettingsText(text.str())), "");
  ProfileFile file;
  ASSERT_TRUE(file.Load(sample));
  for (const std::string& key : KnownSettingsKeys()) {
    const size_t slash = key.find('/');
    EXPECT_NE(file.GetString(key.substr(0, slash), key.substr(slash + 1), "(missing)"), "(missing)") << key;
  }
  const std::string none =
      std::filesystem::temp_directory_path() / ("kavro-none-" + std::to_string(getpid()));
  EXPECT_TRUE(ReadSettings(sample, none) == ReadSettings(none, none));
}

}  // namespace
