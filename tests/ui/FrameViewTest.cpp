#include <gtest/gtest.h>

#include "ui/FrameView.h"
#include "ui/MonitorJson.h"

namespace {

TEST(FrameViewTest, ToolbarEnablingAndLinkIndicators) {
  const std::array<int, kIndicatorLinks> slots = {1, 0, 1, 0};
  const ToolbarState running = MakeToolbar(true, slots);
  EXPECT_FALSE(running.startEnabled);
  EXPECT_TRUE(running.stopEnabled);
  EXPECT_EQ(running.links, (std::array<bool, kIndicatorLinks>{true, false, true, false}));
  // A stopped service lights no indicator, whatever the slots say.
  const ToolbarState stopped = MakeToolbar(false, slots);
  EXPECT_TRUE(stopped.startEnabled);
  EXPECT_FALSE(stopped.stopEnabled);
  EXPECT_EQ(stopped.links, (std::array<bool, kIndicatorLinks>{}));
  const std::string title = TitleMessage("t", true, running);
  EXPECT_NE(title.find(R"("toolbar":{"start":false,"stop":true,"links":[true,false,true,false]})"),
            std::string::npos)
      << title;
}

TEST(FrameViewTest, ProgressMessagesInSequence) {
  struct Step {
    int code, value;
    const char* text;
    bool changed, visible;
    int range, position;
    const char* pane;
  };
  ProgressBar bar;
  EXPECT_FALSE(bar.created());
  const Step steps[] = {
      {1, 5, "", false, false, 0, 0, ""},                  // unknown code: nothing, not even created
      {ProgressBar::kSetRange, 300, "", true, true, 300, 0, ""},
      {ProgressBar::kSetOffset, 100, "", false, true, 300, 0, ""},  // the offset alone shows nothing
      {ProgressBar::kMove, 20, "", true, true, 300, 120, ""},
      {ProgressBar::kPaneText, 0, "map 2", true, true, 300, 120, "map 2"},
      {ProgressBar::kSetRange, 50, "", true, true, 50, 120, "map 2"},  // a new range resets the offset
      {ProgressBar::kMove, 7, "", true, true, 50, 7, "map 2"},
      {ProgressBar::kHide, 0, "", true, false, 50, 7, "map 2"},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(bar.Apply(s.code, s.value, s.text), s.changed) << s.code;
    EXPECT_EQ(bar.visible(), s.visible) << s.code;
    EXPECT_EQ(bar.range(), s.range) << s.code;
    EXPECT_EQ(bar.position(), s.position) << s.code;
    EXPECT_EQ(bar.paneText(), s.pane) << s.code;
  }
  EXPECT_TRUE(bar.created());
  EXPECT_TRUE(bar.Apply(ProgressBar::kBarText, 0, "<b>"));
  EXPECT_NE(ProgressMessage(bar).find(R"("text":"<b>")"), std::string::npos);
}

TEST(FrameViewTest, SnapshotCarriesPageTextsAndStation) {
  PageTexts texts{ConsoleDialogTexts(), StationDialogTexts()};
  MonitorView view;
  view.texts = &texts;
  const std::string state = StateJson(view);
  EXPECT_NE(state.find(R"("station":{"caption":"测站情况","controls":{"1":"确定","2":"取消"}})"),
            std::string::npos)
      << state;
  const std::string station = StationMessage({7, "R\xff", {"Socket"}, {"   7"}});
  EXPECT_NE(station.find(R"("name":"R)" "\xef\xbf\xbd" R"(")"), std::string::npos) << station;
}

}  // namespace
