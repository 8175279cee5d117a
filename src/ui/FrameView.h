#pragma once
// The main frame around the views: the toolbar's state, the captions of the page (view tabs and the
// dialogs drawn on it), the station dialog and the status-bar progress.
#include <array>
#include <string>
#include <vector>

#include "app/LanguageTexts.h"

constexpr int kConsoleDialog = 142;
constexpr int kStationDialog = 150;
constexpr int kIndicatorLinks = 4;  // toolbar indicators 32804 to 32807: link slots 0 to 3

struct ToolbarState {
  bool startEnabled = false;  // 103
  bool stopEnabled = false;   // 104
  std::array<bool, kIndicatorLinks> links{};
  bool operator==(const ToolbarState&) const = default;
};

// Start while stopped, stop while running; a link indicator lights while the service runs and its
// slot is connected.
ToolbarState MakeToolbar(bool running, const std::array<int, kIndicatorLinks>& slotConnected);

// The built-in texts of the debug console and of the station dialog, for the language table.
DialogTexts ConsoleDialogTexts();
DialogTexts StationDialogTexts();

// Captions of the dialogs drawn on the page, translated.
struct PageTexts {
  DialogTexts console;
  DialogTexts station;
};

// The station dialog as opened from a grid row: the connection and its grid cells under their titles.
struct StationView {
  unsigned socket = 0;
  std::string name;
  std::vector<std::string> titles;
  std::vector<std::string> cells;
};

// The status-bar progress (message 3124), created by its first message.
class ProgressBar {
 public:
  static constexpr int kSetRange = 3125;
  static constexpr int kSetOffset = 3126;
  static constexpr int kMove = 3027;
  static constexpr int kPaneText = 3127;
  static constexpr int kHide = 3026;
  static constexpr int kBarText = 3024;

  // Applies one message; value is lParam for the numeric codes, text for 3127 and 3024. Unknown
  // codes change nothing. True when something shown changed.
  bool Apply(int code, int value, const std::string& text);

  bool created() const { return created_; }
  bool visible() const { return visible_; }
  int range() const { return range_; }
  int position() const { return position_; }
  const std::string& paneText() const { return paneText_; }
  const std::string& barText() const { return barText_; }

 private:
  bool created_ = false;
  bool visible_ = false;
  int range_ = 0;
  int offset_ = 0;
  int position_ = 0;
  std::string paneText_;
  std::string barText_;
};
