#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/ConsoleModel.h"

namespace {

void Feed(ConsoleModel& console, uint32_t socket, const std::string& bytes) {
  console.OnReceived(socket, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(ConsoleModelTest, TextAndHexadecimalLines) {
  ConsoleModel console;
  console.Open("rover", 7);
  Feed(console, 7, std::string("AB\r\nC\0\x85", 7));
  EXPECT_EQ(console.lines(), (std::vector<std::string>{"AB", "C**"}));
  EXPECT_EQ(console.pending(), "C**");
  Feed(console, 7, "D\n");  // the pending line grows in place
  EXPECT_EQ(console.lines(), (std::vector<std::string>{"AB", "C**D"}));
  Feed(console, 8, "not watched");
  EXPECT_EQ(console.lines().size(), 2u);

  console.Open("rover", 7);
  Feed(console, 7, std::string(100, 'x'));
  ASSERT_EQ(console.lines().size(), 2u);
  EXPECT_EQ(console.lines()[0], std::string(96, 'x') + "x<Break>");
  EXPECT_EQ(console.lines()[1], "xxx");

  console.Open("rover", 7);
  console.SetBinary(true);
  Feed(console, 7, std::string(40, '\x0A'));  // "0A " pieces: the one crossing 96 ends the line
  ASSERT_EQ(console.lines().size(), 2u);
  EXPECT_EQ(console.lines()[0].size(), 99u);
  EXPECT_EQ(console.lines()[0].substr(0, 6), "0A 0A ");
}

TEST(ConsoleModelTest, ModesLimitsAndSendText) {
  ConsoleModel console;
  console.Open("base", 3);
  EXPECT_FALSE(console.WantsDecoderLines(3));
  EXPECT_TRUE(console.WatchesSocket(3));
  console.SetDecoder(true);
  EXPECT_TRUE(console.WantsDecoderLines(3));
  Feed(console, 3, "raw\n");  // bytes are not shown while decoder lines are
  EXPECT_TRUE(console.lines().empty());
  for (int i = 0; i < 201; ++i) console.AddDecoderLine("line");
  console.AddDecoderLine("last");
  EXPECT_EQ(console.lines(), std::vector<std::string>{"last"});  // emptied past 200

  console.SetDecoder(false);
  console.Clear();
  for (int i = 0; i < 101; ++i) Feed(console, 3, "l\n");
  Feed(console, 3, "m\n");
  EXPECT_EQ(console.lines(), std::vector<std::string>{"m"});  // emptied past 100

  EXPECT_EQ(ConsoleModel::SendText(""), "");
  EXPECT_EQ(ConsoleModel::SendText("a\nb\r\nc"), "a\r\nb\r\nc");
  EXPECT_EQ(ConsoleModel::SendText(std::string(300, 'z')).size(), 199u);
}

}  // namespace
