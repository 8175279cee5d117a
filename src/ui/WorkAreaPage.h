#pragma once
// The work-area dialogs on the monitor page: their state as JSON and the requests under
// /api/areas/ (open, close, select, add, save, delete, pick).
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "ui/MonitorServer.h"
#include "ui/WorkAreaDialog.h"

class WorkAreaPage {
 public:
  WorkAreaPage(WorkAreas& areas, const std::vector<std::string>& list) : dialog_(areas, list) {}

  void SetTexts(DialogTexts dialog, DialogTexts name) {
    texts_ = std::move(dialog);
    nameTexts_ = std::move(name);
  }
  // Called after every request that may change what the map shows of the work areas.
  void SetChanged(std::function<void()> changed) { changed_ = std::move(changed); }

  // GET state, or POST open | close | select {name} | add {name} | save {bounds, parameters} | delete |
  // pick {latitude1, longitude1, latitude2, longitude2}. Answers with the state, and an "error" text
  // when the operation was refused.
  SettingsAnswer Request(std::string_view method, std::string_view action, std::string_view body);
  std::string StateJson(const std::string& error = {}) const;

  const WorkAreaDialog& dialog() const { return dialog_; }

 private:
  WorkAreaDialog dialog_;
  DialogTexts texts_ = WorkAreaDialogTexts();
  DialogTexts nameTexts_ = WorkAreaNameDialogTexts();
  std::function<void()> changed_;
};
