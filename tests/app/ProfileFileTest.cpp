#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "app/ProfileFile.h"

namespace fs = std::filesystem;

namespace {

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override { fs::remove_all(dir); }
  ProfileFile Loaded(const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    ProfileFile file;
    EXPECT_TRUE(file.Load(path));
    return file;
  }
  std::string Saved(const ProfileFile& file) {
    EXPECT_TRUE(file.Save(path));
    std::stringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
  }

  const fs::path dir = fs::temp_directory_path() / ("kavro-profile-" + std::to_string(::getpid()) + "-" +
                                                    std::to_string(std::random_device{}()));
  const std::string path = (dir / "test.ini").string();
};

TEST_F(ProfileFileTest, ReadsLikeTheWindowsProfileApi) {
  const ProfileFile file = Loaded(
      "Orphan=1\n[ Net ]\n; Ip1=comment\n  Ip1 =  10.0.0.1  \nNoEquals\nEmpty=\nQuoted=\"a b\"\nip1=second\n"
      "[Other]\nIp1=other\n[NET]\nLate=repeated section\n");
  EXPECT_EQ(file.GetString("net", "IP1", "d"), "10.0.0.1");
  EXPECT_EQ(file.GetString("other", "ip1", "d"), "other");
  EXPECT_EQ(file.GetString("NET", "Empty", "d"), "");
  EXPECT_EQ(file.GetString("NET", "Quoted", "d"), "a b");
  for (const char* key : {"NoEquals", "Missing", "; Ip1", "Late"})
    EXPECT_EQ(file.GetString("NET", key, "d"), "d");
  EXPECT_EQ(file.GetString("", "Orphan", "d"), "d");

  const ProfileFile numbers =
      Loaded("[S]\nA=12abc\nB= -7 \nC=+3\nD=abc\nE=\nF=-\nG=99999999999\nH=-99999999999\n");
  const std::pair<const char*, int> expected[] = {{"a", 12},      {"B", -7},      {"C", 3},
                                                  {"D", 5},       {"E", 5},       {"F", 5},
                                                  {"G", INT_MAX}, {"H", INT_MIN}, {"Missing", 5}};
  for (const auto& [key, value] : expected) EXPECT_EQ(numbers.GetInt("s", key, 5), value) << key;
}

TEST_F(ProfileFileTest, ValuesAreCutToTheMaximumLength) {
  const ProfileFile file = Loaded("[S]\nLong=" + std::string(300, 'x') + "\nWide=ab\xE4\xB8\xAD\n");
  EXPECT_EQ(file.GetString("S", "Long", ""), std::string(259, 'x'));
  EXPECT_EQ(file.GetString("S", "Long", "", 2047), std::string(300, 'x'));
  EXPECT_EQ(file.GetString("S", "Missing", std::string(300, 'd')), std::string(259, 'd'));
  EXPECT_EQ(file.GetString("S", "Wide", "", 4), "ab");  // never half a UTF-8 character
  EXPECT_EQ(file.GetString("S", "Wide", "", 5), "ab\xE4\xB8\xAD");
}

TEST_F(ProfileFileTest, SetStringKeepsEveryOtherLine) {
  ProfileFile file = Loaded("; top\n[A]\nKey = old\nSame = 1\ntext without equals\n\n[B]\nX=1");
  file.SetString("a", "KEY", "new");
  file.SetString("A", "Same", "1");
  file.SetString("A", "Added", "v");
  file.SetString("B", "Y", "2");
  file.SetString("C", "Z", "line\n[A]");
  EXPECT_EQ(Saved(file),
            "; top\n[A]\nKey=new\nSame = 1\nAdded=v\ntext without equals\n\n[B]\nX=1\nY=2\n\n[C]\nZ=line\n");

  file = Loaded("\xEF\xBB\xBF[A]\r\nKey=value\r\nOther=1\r\n");
  EXPECT_EQ(file.GetString("A", "Key", ""), "value");
  EXPECT_EQ(file.GetInt("A", "Other", 0), 1);
  file.SetString("A", "Key", "changed");
  file.SetString("A", "New", "2");
  EXPECT_EQ(Saved(file), "\xEF\xBB\xBF[A]\r\nKey=changed\r\nOther=1\r\nNew=2\r\n");
}

TEST_F(ProfileFileTest, SaveCreatesTheDirectoryAndAppliesTheMode) {
  const std::string nested = (dir / "INI" / "new.ini").string();
  ProfileFile file;
  EXPECT_FALSE(file.Load(nested));
  file.SetString("S", "K", "v");
  ASSERT_TRUE(file.Save(nested, 0600));
  struct stat st {};
  ASSERT_EQ(::stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "INI"), fs::directory_iterator()), 1);  // no temp left

  ASSERT_TRUE(WriteProfileString(nested, "S", "N", "17", 0644));
  ASSERT_EQ(::stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(ReadProfileInt(nested, "S", "N", 0), 17);
  EXPECT_EQ(ReadProfileString(nested, "s", "k", ""), "v");
  EXPECT_FALSE(file.Save(nested + "/under-a-file.ini"));
}

}  // namespace
