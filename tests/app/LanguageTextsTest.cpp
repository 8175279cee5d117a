#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "app/KavroGyBl.h"
#include "app/LanguageTexts.h"

namespace fs = std::filesystem;

namespace {

class LanguageTextsTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(dir); }
  std::string Contents() const {
    std::stringstream out;
    out << std::ifstream(file, std::ios::binary).rdbuf();
    return out.str();
  }
  std::string Value(const char* section, const std::string& key) const {
    return ReadProfileString(file, section, key, "<missing>", 100000);
  }

  const fs::path dir = fs::temp_directory_path() / ("kavro-language-" + std::to_string(::getpid()) + "-" +
                                                    std::to_string(std::random_device{}()));
  const std::string file = (dir / "INI" / "Server_English.INI").string();
  TextList slots;
};

TEST_F(LanguageTextsTest, SplittingFillsFortySlots) {
  std::string text;
  for (int i = 0; i < 45; ++i) text += (i ? "|" : "") + std::to_string(i);
  SplitText(text, "|", slots);
  EXPECT_EQ(slots[0], "0");
  EXPECT_EQ(slots[38], "38");
  EXPECT_EQ(slots[39], "39|40|41|42|43|44");

  SplitText("a\\nb\\n", "\\n", slots);
  EXPECT_EQ(slots[0], "a");
  EXPECT_EQ(slots[1], "b");
  EXPECT_EQ(slots[2], "");

  EXPECT_EQ(LanguageFileValue("a\r\nb\rc\n"), "a\\nbc\\n");
}

TEST_F(LanguageTextsTest, ChineseUsesTheBuiltinTextsWithoutAFile) {
  LanguageTable table("Chinese", "", file);
  table.LoadTexts(62446, slots);
  EXPECT_EQ(slots[0], "层名");
  EXPECT_EQ(slots[4], "编辑");
  EXPECT_EQ(slots[5], "");  // the text ends in a line feed

  slots.fill("stale");
  table.LoadTexts(62458, slots);
  EXPECT_EQ(slots, TextList{});

  const DialogTexts dialog{"统计", {{1001, "名称"}}};
  EXPECT_EQ(table.ApplyToDialog(147, dialog), dialog);
  EXPECT_FALSE(fs::exists(dir));
}

TEST_F(LanguageTextsTest, AnotherLanguageAddsWhatItsFileLacks) {
  for (int run = 0; run < 2; ++run) {
    LanguageTable table("English", "", file);
    table.LoadTexts(62453, slots);
    EXPECT_EQ(slots[0], "客户端");
    EXPECT_EQ(slots[2], "关闭");
    EXPECT_EQ(slots[3], "");
    slots.fill("stale");
    table.LoadTexts(62458, slots);  // no such text: nothing shown, nothing written
    EXPECT_EQ(slots, TextList{});
  }
  EXPECT_EQ(Contents(), "[IDS]\nIDS_62453=客户端\\n连接\\n关闭\n");

  // A text ending in a line feed comes back from the file with its empty last part.
  LanguageTable("English", "", file).LoadTexts(62455, slots);
  LanguageTable("English", "", file).LoadTexts(62455, slots);
  EXPECT_EQ(slots[4], "没有定位");
  EXPECT_EQ(slots[5], "");
  EXPECT_EQ(slots[6], "");
}

TEST_F(LanguageTextsTest, TranslatedTextsAreReadAndFollowEditsOfTheFile) {
  ASSERT_TRUE(WriteProfileString(file, "IDS", "IDS_62453", "Client\\nClosed"));
  LanguageTable table("English", "", file);
  table.LoadTexts(62453, slots);
  EXPECT_EQ(slots[0], "Client");
  EXPECT_EQ(slots[1], "Closed");
  EXPECT_EQ(slots[2], "");

  // Edited while running: the next lookup shows the new text. Values are read up to 999 characters.
  const std::string longText = std::string(998, 'x') + "中文";
  ASSERT_TRUE(WriteProfileString(file, "IDS", "IDS_62453", longText));
  table.LoadTexts(62453, slots);
  EXPECT_EQ(slots[0], std::string(998, 'x') + "中");

  // An empty value counts as missing and gets the built-in text.
  ASSERT_TRUE(WriteProfileString(file, "IDS", "IDS_62453", ""));
  table.LoadTexts(62453, slots);
  EXPECT_EQ(slots[0], "客户端");
  EXPECT_EQ(Value("IDS", "IDS_62453"), "客户端\\n连接\\n关闭");
}

TEST_F(LanguageTextsTest, UnwritableFileStillShowsTheBuiltinTexts) {
  fs::create_directories(dir);
  std::ofstream(dir / "INI") << "not a directory";
  LanguageTable table("English", "", file);
  for (int i = 0; i < 2; ++i) {
    table.LoadTexts(62452, slots);
    EXPECT_EQ(slots[0], "数据库打开失败");
  }
}

TEST_F(LanguageTextsTest, ExportWritesEveryBuiltinTextAndDialog) {
  ASSERT_TRUE(WriteProfileString(file, "String", "IDD145_Title", "Work area"));
  LanguageTable table("Chinese", "SET", file);
  table.ExportTexts();
  int written = 0;
  for (int number = 62400; number < 63100; ++number) {
    const char* builtin = BuiltinText(number);
    const std::string value = Value("IDS", "IDS_" + std::to_string(number));
    if (builtin != nullptr) ++written;
    EXPECT_EQ(value, builtin ? LanguageFileValue(builtin) : "<missing>") << number;
  }
  EXPECT_EQ(written, 12);

  const DialogTexts dialog{"", {{1001, "名称"}, {1002, "Static"}, {1003, "0"}, {1004, ""}, {1005, "确定"}}};
  EXPECT_EQ(table.ApplyToDialog(145, dialog), dialog);
  EXPECT_EQ(Value("String", "IDD145_Title"), "1234");
  EXPECT_EQ(Value("String", "IDC145_1001"), "名称");
  EXPECT_EQ(Value("String", "IDC145_1005"), "确定");
  for (const char* key : {"IDC145_1002", "IDC145_1003", "IDC145_1004"}) {
    EXPECT_EQ(Value("String", key), "<missing>") << key;
  }
}

TEST_F(LanguageTextsTest, DialogsAreTranslatedAndMissingTextsAdded) {
  ASSERT_TRUE(WriteProfileString(file, "String", "IDD150_Title", "Station"));
  ASSERT_TRUE(WriteProfileString(file, "String", "IDC150_1001", "Name"));
  ASSERT_TRUE(WriteProfileString(file, "String", "IDC150_1002", ""));
  LanguageTable table("English", "", file);

  const DialogTexts shown =
      table.ApplyToDialog(150, {"基站", {{1001, "名称"}, {1002, "地址"}, {1003, "Static"}, {1004, "坐标"}}});
  EXPECT_EQ(shown,
            (DialogTexts{"Station", {{1001, "Name"}, {1002, "地址"}, {1003, "Static"}, {1004, "坐标"}}}));
  EXPECT_EQ(Value("String", "IDD150_Title"), "Station");
  EXPECT_EQ(Value("String", "IDC150_1002"), "地址");
  EXPECT_EQ(Value("String", "IDC150_1004"), "坐标");
  EXPECT_EQ(Value("String", "IDC150_1003"), "<missing>");

  EXPECT_EQ(table.ApplyToDialog(131, {"", {}}).caption, "");
  EXPECT_EQ(Value("String", "IDD131_Title"), "1234");
}

TEST_F(LanguageTextsTest, SharedStateUsesItsLanguageSettingsAndFile) {
  ManualClock clock({2015, 2, 1, 0, 0, 0, 0, 0});
  MonitorEvents monitor;
  ServiceSteps steps;
  Settings settings;
  settings.language = "English";
  CKavroGyBl gybl(settings, clock, monitor, steps);
  gybl.languageFile = file;
  ASSERT_TRUE(WriteProfileString(file, "IDS", "IDS_62452", "Database failed"));

  EXPECT_EQ(gybl.LoadTexts(62452), 1);
  EXPECT_EQ(gybl.textList[0], "Database failed");
  EXPECT_EQ(gybl.applyLanguageToDialog(142, {"调试", {}}).caption, "调试");
  EXPECT_EQ(Value("String", "IDD142_Title"), "调试");

  gybl.settings.language = "Chinese";
  gybl.LoadTexts(62452);
  EXPECT_EQ(gybl.textList[0], "数据库打开失败");
  gybl.settings.languageSet = "SET";
  gybl.exportTexts();
  EXPECT_EQ(Value("IDS", "IDS_62452"), "数据库打开失败");
}

}  // namespace
