#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/LogonRegistration.h"
#include "ui/SettingsActions.h"
#include "ui/SettingsForm.h"
#include "ui/SettingsFormJson.h"

namespace {

constexpr LocalTime kNow{2015, 2, 1, 2, 9, 5, 7, 0};

Settings Edited() {
  Settings s;
  s.port = 7001;
  s.port2 = 7002;
  s.links[0] = {"10.0.0.9", 6900};
  s.useLinks = 0;
  s.updatePush = 1;
  s.flags = ParseSetFlags("01010100111011001011");
  s.dispNum = 250;
  s.mountLocal = "DEU";
  s.useSql = 1;
  s.sqlIp = "10.1.1.1";
  s.sqlPort = 15432;
  s.sqlUser = "u";
  s.sqlPassword = "p'w";
  s.sqlDbName = "db";
  return s;
}

TEST(SettingsFormTest, BindingsRoundTripThroughSettings) {
  const Settings edited = Edited();
  const SettingsFormValues values = ReadFormValues(edited);
  EXPECT_FALSE(values.useNet);
  EXPECT_TRUE(values.updatePush);
  EXPECT_FALSE(values.autoCreateUser);  // autoCreateUserOff (digit 6) is on: the box shows inverted
  EXPECT_EQ(values.netIp, "10.0.0.9");

  Settings back;
  back.flags.testBroadcast = 1;  // a flag the form does not show stays as it was
  ApplyFormValues(values, back);
  EXPECT_EQ(ReadFormValues(back), values);
  EXPECT_EQ(back.links[0].port, 6900);
  EXPECT_EQ(back.flags.autoCreateUserOff, 1);
  EXPECT_EQ(back.flags.testBroadcast, 1);
  EXPECT_EQ(FormatSetFlags(back.flags).substr(5, 1), "1");
}

TEST(SettingsFormTest, EnablingRules) {
  struct Case {
    bool running;
    bool useSql;
    bool portsAndNet, sqlBox, sqlFields, start, stop;
  };
  for (const Case c :
       {Case{false, false, true, true, false, true, false}, Case{false, true, true, true, true, true, false},
        Case{true, false, false, false, false, false, true},
        Case{true, true, false, false, false, false, true}}) {
    SCOPED_TRACE(testing::Message() << "running " << c.running << " sql " << c.useSql);
    const auto enabled = SettingsEnabled(c.running, c.useSql);
    for (int id : {kCtlPort, kCtlPort2, kCtlNetIp, kCtlNetPort, kCtlUseNet, kCtlUpdatePush})
      EXPECT_EQ(enabled.at(id), c.portsAndNet) << id;
    EXPECT_EQ(enabled.at(kCtlUseSql), c.sqlBox);
    for (int id : {kCtlSqlIp, kCtlSqlPort, kCtlSqlUser, kCtlSqlPassword, kCtlSqlDbName})
      EXPECT_EQ(enabled.at(id), c.sqlFields) << id;
    EXPECT_EQ(enabled.at(kCtlStart), c.start);
    EXPECT_EQ(enabled.at(kCtlStop), c.stop);
    for (int id : {kCtlDispNum, kCtlMountLocal, kCtlAutoCreateUser, kCtlRunAtLogon, kCtlSave})
      EXPECT_TRUE(enabled.at(id)) << id;
  }
}

// A bad entry is reported by its control; it and every field after it keep their previous values,
// the fields before it are taken.
TEST(SettingsFormTest, BadEntryKeepsItsFieldAndTheLaterOnes) {
  struct Case {
    int id;
    std::string text;
  };
  for (const Case& bad : {Case{kCtlDispNum, "12x"}, Case{kCtlDispNum, ""}, Case{kCtlDispNum, "3.5"},
                          Case{kCtlDispNum, "99999999999"}, Case{kCtlMountLocal, "A\nB"},
                          Case{kCtlMountLocal, std::string(260, 'x')}, Case{kCtlNetIp, "1.2.3"},
                          Case{kCtlNetIp, "256.1.1.1"}, Case{kCtlMultiUser, "yes"}}) {
    SCOPED_TRACE(bad.text);
    SettingsForm form;
    form.Initialise(Edited(), kNow);
    const SettingsFormValues before = form.values();
    std::map<int, std::string> entries = {{kCtlPort, "8001"},      {kCtlNetIp, "10.0.0.1"},
                                          {kCtlMultiUser, "0"},    {kCtlDispNum, "77"},
                                          {kCtlMountLocal, "USA"}, {kCtlSqlPort, "1433"}};
    entries[bad.id] = bad.text;
    const auto errors = form.Take(entries, false);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].id, bad.id);
    const SettingsFormValues& after = form.values();
    EXPECT_EQ(after.port, 8001);  // before every bad field
    EXPECT_EQ(after.sqlPort, before.sqlPort);
    EXPECT_EQ(after.mountLocal, before.mountLocal);
    EXPECT_EQ(after.dispNum, bad.id == kCtlMountLocal ? 77 : before.dispNum);
  }
}

TEST(SettingsFormTest, NumbersAcceptBlanksAndSignsAndRunningIgnoresLockedFields) {
  SettingsForm form;
  form.Initialise(Edited(), kNow);
  EXPECT_EQ(form.values().startTime, "2015/ 2/ 2  9: 5: 7");
  EXPECT_TRUE(form.Take({{kCtlPort, " 42 "}, {kCtlPort2, "+5"}, {kCtlDispNum, "-3"}}, false).empty());
  EXPECT_EQ(form.values().port, 42);
  EXPECT_EQ(form.values().port2, 5);
  EXPECT_EQ(form.values().dispNum, -3);
  // While the service runs the ports and SQL fields cannot change; other fields can.
  EXPECT_TRUE(
      form.Take({{kCtlPort, "9"}, {kCtlUseSql, "0"}, {kCtlSqlUser, "x"}, {kCtlDispNum, "8"}}, true).empty());
  EXPECT_EQ(form.values().port, 42);
  EXPECT_TRUE(form.values().useSql);
  EXPECT_EQ(form.values().sqlUser, "u");
  EXPECT_EQ(form.values().dispNum, 8);
  // Unchecking "使用SQL" locks the SQL fields that follow it in the same save.
  EXPECT_TRUE(form.Take({{kCtlUseSql, "false"}, {kCtlSqlUser, "y"}}, false).empty());
  EXPECT_EQ(form.values().sqlUser, "u");
}

TEST(SettingsFormTest, BodyEntriesAndUpdateNotice) {
  std::map<int, std::string> entries;
  ASSERT_TRUE(
      ParseSettingsBody(R"({"values":{"1006":"6061","1019":12,"1038":true,"1021":"C\"N"}})", entries));
  EXPECT_EQ(entries, (std::map<int, std::string>{{1006, "6061"}, {1019, "12"}, {1038, "1"}, {1021, "C\"N"}}));
  EXPECT_TRUE(ParseSettingsBody("", entries));
  EXPECT_TRUE(entries.empty());
  for (const char* bad : {"[]", R"({"values":[]})", R"({"values":{"x":"1"}})", R"({"values":{"1006":null}})"})
    EXPECT_FALSE(ParseSettingsBody(bad, entries)) << bad;
  EXPECT_EQ(UpdateNotice("2.00.150202", "2.00.150301"), "Software updates 2.00.150202 ===> 2.00.150301");
  EXPECT_EQ(UpdateNotice("2.00.150202", ""), "");
}

class SettingsSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kavro-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    const char* old = getenv("XDG_CONFIG_HOME");
    if (old != nullptr) oldConfig = old;
    hadConfig = old != nullptr;
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    file = (dir / "INI" / "KavroServer.INI").string();
  }
  void TearDown() override {
    if (hadConfig) {
      setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::filesystem::remove_all(dir);
  }
  std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path dir;
  std::string file;
  std::string oldConfig;
  bool hadConfig = false;
};

TEST_F(SettingsSaveTest, WritesTheThreeSectionsInOrderAndTheLogonEntry) {
  Settings settings;
  settings.flags.autoCreateUserOff = 1;
  SettingsForm form;
  const auto errors =
      SaveSettingsForm(form, {{kCtlDispNum, "321"}, {kCtlMountLocal, "FRA"}, {kCtlAutoCreateUser, "1"}},
                       false, settings, file, dir.string() + "/", kNow);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(form.values().startTime, "2015/ 2/ 2  9: 5: 7");  // a save before any read initialises
  const std::string text = Read(file);
  const size_t sql = text.find("[SQL]");
  const size_t net = text.find("[NET]");
  const size_t server = text.find("[SYSTEMSERVER]");
  ASSERT_NE(server, std::string::npos);
  EXPECT_LT(sql, net);
  EXPECT_LT(net, server);
  EXPECT_NE(text.find("UseNet=11"), std::string::npos);
  EXPECT_NE(text.find("Disp_num=321"), std::string::npos);
  EXPECT_NE(text.find("MountLocal=FRA"), std::string::npos);
  EXPECT_NE(text.find("SET=11000000001000000000"), std::string::npos);  // digit 6 is 0: users are created
  const Settings reread = ReadSettings(file, (dir / "USER.NAME").string());
  EXPECT_EQ(reread.dispNum, 321);
  EXPECT_EQ(reread.flags.autoCreateUserOff, 0);

  // autoRunAtLogon is on by default: the entry runs this binary on the program directory.
  const std::string entry = (dir / "config" / "autostart" / "KavroServer.desktop").string();
  EXPECT_EQ(AutostartEntryPath(), entry);
  const std::string desktop = Read(entry);
  EXPECT_NE(desktop.find("Exec=\"" + RunningBinary() + "\" --dir \"" + dir.string() + "/\"\n"),
            std::string::npos)
      << desktop;

  // Unchecked: the entry is removed, and SET digit 6 goes back to 1.
  SaveSettingsForm(form, {{kCtlRunAtLogon, "0"}, {kCtlAutoCreateUser, "0"}}, false, settings, file,
                   dir.string() + "/", kNow);
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_NE(Read(file).find("SET=10000100001000000000"), std::string::npos);
}

TEST(LogonRegistrationTest, ExecArgumentsAreQuotedAndControlCharactersRefused) {
  const std::string text = AutostartEntryText("/opt/a b/Kavro$1", "/srv/50%\"x\\/");
  EXPECT_NE(text.find("Exec=\"/opt/a b/Kavro\\\\$1\" --dir \"/srv/50%%\\\\\"x\\\\\\\\/\"\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(AutostartEntryText("/bin/k", "/srv/a\nExec=evil"), "");
}

}  // namespace
