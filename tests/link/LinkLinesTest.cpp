#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/LinkLines.h"

namespace {

using Lines = std::vector<std::string>;

TEST(LinkLinesTest, FramingAcrossBlocks) {
  LinkLineFramer framer;
  // Garbage before a keyword goes; a keyword cut after three characters waits for its rest.
  EXPECT_EQ(framer.Feed("xx\r\nVORAN,BASE,A\r\nnoiseVOR"), Lines{"VORAN,BASE,A\r\n"});
  EXPECT_EQ(framer.Pending(), 3u);
  EXPECT_EQ(framer.Feed("AN,RANGE,1,2\r\n"), Lines{"VORAN,RANGE,1,2\r\n"});
  // No keyword at all: everything goes. A line waits for its CR LF up to 400 bytes.
  EXPECT_TRUE(framer.Feed("nothing to see here").empty());
  EXPECT_EQ(framer.Pending(), 0u);
  EXPECT_TRUE(framer.Feed("VORAN,LINE," + std::string(300, 'a')).empty());
  // 450 bytes without CR LF: the first 400 are a line, the rest is garbage without a keyword.
  const Lines cut = framer.Feed(std::string(139, 'b'));
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].size(), kLinkLineLimit);
  EXPECT_EQ(framer.Pending(), 0u);
}

TEST(LinkLinesTest, FieldsStopAtTheFirstEmptyOneAndDropLongOnes) {
  struct Case {
    std::string line;
    std::vector<std::string> first;  // fields 0.. that must hold these texts; the next is empty
  };
  const std::vector<Case> cases = {
      {"VORAN,BASE,N1,0.5,1.5,OK\r\n", {"VORAN", "BASE", "N1", "0.5", "1.5", "OK"}},
      {"VORAN,BASE,,0.5,1.5,OK\r\n", {"VORAN", "BASE"}},  // empty name: nothing after it is read
      {"VORAN,MOUNT," + std::string(200, 'x') + ",1\r\n", {"VORAN", "MOUNT"}},
      {"VORAN,MOUNT," + std::string(199, 'x') + ",1\r\n", {"VORAN", "MOUNT", std::string(199, 'x'), "1"}},
      {"VORAN,A,B,C,D,E,F,G,H,I,J,K,L,M,N,O,P,Q,R,S,T,U\r\n",
       {"VORAN", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S"}},
  };
  for (const Case& c : cases) {
    const LinkFields fields = ParseLinkFields(c.line);
    for (size_t i = 0; i < c.first.size(); ++i) EXPECT_EQ(fields[i], c.first[i]) << c.line;
    EXPECT_EQ(fields[c.first.size()], "") << c.line;
  }
}

TEST(LinkLinesTest, AnnouncementNumbersTheSlotUnlessSlave) {
  EXPECT_EQ(LinkAnnouncement(20261209, 3, "Master"), "VORAN,KAVOROSERVER,20261209,3\r\n");
  EXPECT_EQ(LinkAnnouncement(20261209, 3, "Slave"), "VORAN,KAVOROSERVER,20261209,0\r\n");
}

}  // namespace
