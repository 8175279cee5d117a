// Program directory layout, the single-instance guard, window titles and address location at accept.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/CasterSteps.h"
#include "app/ProgramLayout.h"
#include "app/SingleInstance.h"
#include "app/WindowTitle.h"
#include "reports/IpLocation.h"

namespace {

namespace fs = std::filesystem;

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "kavro-start-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern + "/";
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string dir;
};

TEST_F(StartupTest, LayoutIsCreatedAndExistingDirectoriesAreKept) {
  fs::create_directories(dir + "LOG");
  std::ofstream(dir + "LOG/old.txt") << "kept";
  CreateProgramDirectories(dir);
  for (const char* name : {"INI", "BASE", "LOG", "KML", "GGA", "ServerHtml", "DownLoad"}) {
    EXPECT_TRUE(fs::is_directory(dir + name)) << name;
  }
  EXPECT_FALSE(fs::exists(dir + "ServerWeb"));
  EXPECT_TRUE(fs::exists(dir + "LOG/old.txt"));
  EXPECT_EQ(LanguageFilePath(dir, "English"), dir + "INI/Server_English.INI");
  EXPECT_EQ(SettingsFilePath(dir), dir + "INI/KavroServer.INI");
}

TEST_F(StartupTest, OneInstancePerLockFile) {
  fs::create_directories(dir + "a");
  fs::create_directories(dir + "b");
  {
    SingleInstance first;
    ASSERT_TRUE(first.Acquire(dir + "a/lock"));
    EXPECT_TRUE(first.Held());
    SingleInstance second;
    EXPECT_FALSE(second.Acquire(dir + "a/lock"));
    EXPECT_FALSE(second.Held());
    SingleInstance other;
    EXPECT_TRUE(other.Acquire(dir + "b/lock"));
  }
  SingleInstance again;  // the first released its lock when it ended
  EXPECT_TRUE(again.Acquire(dir + "a/lock"));
}

TEST(WindowTitleTest, NameAndSecondPortChooseTheForm) {
  EXPECT_EQ(RunningTitle("Net", "Slave", "服务器启动 ", "2.00.150202", 6060, 6070),
            "Net(Slave) - 服务器启动 [2.00.150202] PORT[6060] PORT[6070]");
  EXPECT_EQ(RunningTitle("Net", "Slave", "服务器启动 ", "2.00.150202", 6060, 0),
            "Net(Slave) - 服务器启动 [2.00.150202] PORT[6060] ");
  EXPECT_EQ(RunningTitle("", "Master", "服务器启动 ", "2.00.150202", 6060, 6070),
            "QVO Server(Master) - 服务器启动 [2.00.150202] PORT[6060] PORT[6070]");
  EXPECT_EQ(StoppedTitle("Net", "Slave", "服务关闭", "2.00.150202"), "Net(Slave) - 服务关闭 [2.00.150202] ");
}

std::string Le(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

TEST_F(StartupTest, AcceptedPeersAreLocatedOnlyWhenAskedAndTheFileIsOpen) {
  // Two ranges: 1.0.0.0-1.255.255.255 "AA BB" and 2.0.0.0-2.255.255.255 "CC DD".
  std::string data = Le(0x01FFFFFF, 4) + std::string("AA\0BB\0", 6);
  const uint32_t second = 8 + static_cast<uint32_t>(data.size());
  data += Le(0x02FFFFFF, 4) + std::string("CC\0DD\0", 6);
  const uint32_t first = 8 + static_cast<uint32_t>(data.size());
  std::ofstream(dir + "QQwry.dat", std::ios::binary) << Le(first, 4) + Le(first + 7, 4) + data +
                                                            Le(0x01000000, 4) + Le(8, 3) + Le(0x02000000, 4) +
                                                            Le(second, 3);

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  inet_pton(AF_INET, "2.1.2.3", &peer.sin_addr);

  NL_QQwry reader;
  CasterSteps closed(&reader, true);
  EXPECT_EQ(closed.LocateAddress(peer), "");
  ASSERT_TRUE(reader.Open(dir + "QQwry.dat"));
  EXPECT_EQ(CasterSteps(&reader, true).LocateAddress(peer), "CC DD");
  EXPECT_EQ(CasterSteps(&reader, false).LocateAddress(peer), "");
  EXPECT_EQ(CasterSteps(nullptr, true).LocateAddress(peer), "");
}

}  // namespace
