#pragma once
// The work-area dialogs of the monitor: the list of work areas with the fields of the selected one
// (dialog 145), the name asked for a new one (dialog 149), and the corners picked on the map.
#include <string>
#include <string_view>
#include <vector>

#include "app/LanguageTexts.h"
#include "db/WorkAreas.h"

constexpr int kWorkAreaDialog = 145;
constexpr int kWorkAreaNameDialog = 149;

DialogTexts WorkAreaDialogTexts();
DialogTexts WorkAreaNameDialogTexts();

// A rectangle dragged on the map as corners: B1, B2 the smaller and larger latitude, L1, L2 the smaller
// and larger longitude, each rounded down to six decimals.
AreaBounds PickedBounds(double latitude1, double longitude1, double latitude2, double longitude2);

// What the dialog shows: the list, the loaded work area and whether the dialog is open.
struct WorkAreaForm {
  bool open = false;
  std::vector<std::string> names;
  std::string selected;  // the loaded work area; empty when none
  AreaBounds bounds{};
  AreaParameters parameters;
};

// The dialog's operations on the work areas of the database in use. The caller shows the result and
// redraws the map's work-area layer after each (see ShownRectangle).
class WorkAreaDialog {
 public:
  explicit WorkAreaDialog(WorkAreas& areas, const std::vector<std::string>& list) : areas_(areas), list_(list) {}

  // Opening clears the closed mark; the first entry is loaded when nothing is.
  void Open();
  void Close() { form_.open = false; }
  // Loads a work area by name; false when it cannot be read.
  bool Select(const std::string& name);
  // Adds a work area (a name of at most 250 bytes, not empty); false for a refused name, a duplicate
  // ("Repeat Name", said by the database layer) or a failed write. The new area is selected.
  bool Add(const std::string& name, std::string& error);
  // Saves the fields to the loaded work area; false when there is none or the write failed.
  bool Save(const AreaBounds& bounds, const AreaParameters& parameters);
  // Deletes the loaded work area; false when an account uses it or the delete failed. The entry before
  // it (or the first) is loaded next.
  bool Delete();
  // The corners of a rectangle picked on the map go into the fields (not saved until Save).
  void Pick(double latitude1, double longitude1, double latitude2, double longitude2);

  WorkAreaForm form() const;
  // The rectangle the map shows for the dialog: none while it is closed or a corner is 0.
  bool ShownRectangle(AreaBounds& bounds) const;

 private:
  WorkAreas& areas_;
  const std::vector<std::string>& list_;
  WorkAreaForm form_;
};
