#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <vector>

#include "app/LanguageInstall.h"
#include "app/LanguageTexts.h"
#include "app/ProfileFile.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::stringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

// A fresh program directory with its INI folder; removed afterwards.
class LanguageInstallTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir / "INI"); }
  void TearDown() override { fs::remove_all(dir); }
  const fs::path dir = fs::temp_directory_path() / ("kavro-lang-" + std::to_string(::getpid()) + "-" +
                                                    std::to_string(std::random_device{}()));
  const std::string programDirectory = dir.string() + "/";
  const fs::path file = dir / "INI" / "Server_English.INI";
};

// The shipped file as the caster reads it.
const ProfileFile& Shipped() {
  static const ProfileFile shipped = [] {
    const fs::path path =
        fs::temp_directory_path() / ("kavro-shipped-" + std::to_string(::getpid()) + ".INI");
    std::ofstream(path, std::ios::binary) << ShippedEnglishLanguageFile();
    ProfileFile loaded;
    loaded.Load(path.string());
    fs::remove(path);
    return loaded;
  }();
  return shipped;
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::vector<std::string> Conversions(const std::string& text) {
  static const std::regex conversion(
      R"(%[-+ #0]*[0-9*]*(\.[0-9*]+)?(hh|h|ll|l|L|z|j|t)?[diouxXeEfFgGaAcspn%])");
  std::vector<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), conversion), end; it != end; ++it)
    found.push_back(it->str());
  return found;
}

size_t Count(std::string_view text, std::string_view separator) {
  size_t count = 0;
  for (size_t at = text.find(separator); at != std::string_view::npos; at = text.find(separator, at + 1))
    ++count;
  return count;
}

std::vector<int> BuiltinNumbers() {
  std::vector<int> numbers;
  for (int number = 62446; number < 63000; ++number) {
    if (BuiltinText(number) != nullptr) numbers.push_back(number);
  }
  return numbers;
}

class ShippedTextTest : public ::testing::TestWithParam<int> {};

TEST_P(ShippedTextTest, HasAnEnglishValueShapedLikeTheBuiltinText) {
  const std::string builtin = BuiltinText(GetParam());
  const std::string value = Shipped().GetString("IDS", "IDS_" + std::to_string(GetParam()), "", 999);
  ASSERT_FALSE(value.empty());
  EXPECT_TRUE(IsAscii(value)) << value;
  EXPECT_EQ(Count(value, "\\n"), Count(builtin, "\n")) << value;
  EXPECT_EQ(Conversions(value), Conversions(builtin)) << value;
}

INSTANTIATE_TEST_SUITE_P(EveryBuiltinText, ShippedTextTest, ::testing::ValuesIn(BuiltinNumbers()));

// Controls of each translated dialog, by identifier.
const std::vector<std::pair<int, std::vector<int>>> kDialogControls = {
    {131,
     {1006, 1008, 1007, 1026, 1040, 1043, 1010, 1016, 1027, 1034, 1012, 1022, 1023, 1025, 1053, 1035, 1038,
      1019, 1021, 1020, 1028, 1029, 1030, 1031, 1032, 1015, 1009, 1036, 1037, 2001, 2002, 2003, 2004}},
    {142, {1025, 1033, 1034, 1036, 1035, 1, 2}},
    {145,
     {1047, 1048, 1049, 1050, 1051, 1052, 1053, 1054, 1055, 1056, 1057, 1058, 1062, 1064, 1044, 1045, 1043,
      1046, 1}},
    {146, {1}},
    {147, {1015, 1054, 1058, 1057, 1055, 1059, 1056, 1017}},
    {149, {1051, 1, 2}},
    {150, {1, 2}},
};

TEST(ShippedDialogTest, EveryDialogHasACaptionAndEveryControlAText) {
  for (const auto& [dialog, controls] : kDialogControls) {
    const std::string title = "IDD" + std::to_string(dialog) + "_Title";
    EXPECT_FALSE(Shipped().GetString("String", title, "").empty()) << title;
    for (const int control : controls) {
      const std::string key = "IDC" + std::to_string(dialog) + "_" + std::to_string(control);
      const std::string text = Shipped().GetString("String", key, "");
      EXPECT_FALSE(text.empty()) << key;
      EXPECT_TRUE(IsAscii(text)) << key;
    }
  }
}

TEST_F(LanguageInstallTest, InstalledFileTranslatesAndLacksNothing) {
  ASSERT_EQ(InstallLanguageFile(programDirectory), "");
  LanguageTable table("English", "", file.string());
  TextList slots;
  table.LoadTexts(62453, slots);
  EXPECT_EQ(slots[0], "Client");
  EXPECT_EQ(slots[2], "closed");
  EXPECT_EQ(table.ApplyToDialog(146, {"图层控制", {{1, "确定"}}}),
            (DialogTexts{"Layer control", {{1, "OK"}}}));

  // Looking up every text and dialog adds nothing: the file stays as shipped.
  for (const int number : BuiltinNumbers()) table.LoadTexts(number, slots);
  for (const auto& [dialog, controls] : kDialogControls) {
    DialogTexts texts{"", {}};
    for (const int control : controls) texts.controls.push_back({control, "中文"});
    table.ApplyToDialog(dialog, texts);
  }
  EXPECT_EQ(ReadAll(file), ShippedEnglishLanguageFile());
}

TEST_F(LanguageInstallTest, WritesOnlyWhenMissingAndReportsFailures) {
  ASSERT_EQ(InstallLanguageFile(programDirectory), "");
  EXPECT_EQ(ReadAll(file), ShippedEnglishLanguageFile());

  const std::string edited = "[IDS]\r\nIDS_62453=Kunde\\nverbunden\\ngeschlossen\r\n";
  std::ofstream(file, std::ios::binary | std::ios::trunc) << edited;
  EXPECT_EQ(InstallLanguageFile(programDirectory), "");
  EXPECT_EQ(ReadAll(file), edited);

  fs::remove_all(dir / "INI");
  std::ofstream(dir / "INI") << "not a directory";
  EXPECT_NE(InstallLanguageFile(programDirectory).find("Server_English.INI not written"), std::string::npos);
}

}  // namespace
