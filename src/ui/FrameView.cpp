#include "ui/FrameView.h"

#include <tuple>

ToolbarState MakeToolbar(bool running, const std::array<int, kIndicatorLinks>& slotConnected) {
  ToolbarState toolbar;
  toolbar.startEnabled = !running;
  toolbar.stopEnabled = running;
  for (int i = 0; i < kIndicatorLinks; ++i) toolbar.links[i] = running && slotConnected[i] != 0;
  return toolbar;
}

DialogTexts ConsoleDialogTexts() {
  return {"Debug",
          {{1025, "SOCK"}, {1033, "Send"}, {1034, "BIN"}, {1036, "Decoder"}, {1035, "Clear"}, {1, "OK"},
           {2, "Cancel"}}};
}

DialogTexts StationDialogTexts() { return {"测站情况", {{1, "确定"}, {2, "取消"}}}; }

bool ProgressBar::Apply(int code, int value, const std::string& text) {
  const auto before = std::tie(created_, visible_, range_, position_, paneText_, barText_);
  const auto saved = std::make_tuple(created_, visible_, range_, position_, paneText_, barText_);
  switch (code) {
    case kSetRange:
      range_ = value;
      visible_ = true;
      offset_ = 0;
      break;
    case kSetOffset:
      offset_ = value;
      break;
    case kMove:
      position_ = offset_ + value;
      break;
    case kPaneText:
      paneText_ = text;
      break;
    case kHide:
      visible_ = false;
      break;
    case kBarText:
      barText_ = text;
      break;
    default:
      return false;
  }
  created_ = true;
  return before != saved;
}
