#pragma once
// The connection grid: one row per connected socket with the sixteen cell texts and the row icon,
// brought up to date by the grid codes of the caster core. A model only; the monitor draws it.
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/LanguageTexts.h"
#include "core/LocalTime.h"
#include "core/Mount.h"

struct ClientEntry;

constexpr size_t kGridColumns = 16;
constexpr int kTextGridColumns = 62448;  // the column titles, one part per column

using GridCells = std::array<std::string, kGridColumns>;

struct GridRow {
  uint32_t socket = 0;
  int icon = 0;  // 0 no links, 2 linked, 3 linked base, 4 upstream mountpoint, 5 out of area or failing
  GridCells cells;
};

// The column titles: the first sixteen parts of text 62448.
std::vector<std::string> GridColumnTitles(const TextList& texts);
// The row icon of an entry; later rules win.
int GridRowIcon(const ClientEntry& entry);
// The cells of a row as a new row shows them (grid code 0).
GridCells AddedRowCells(const ClientEntry& entry);
// Brings the cells of an existing row up to date (grid code 5); mounts names the upstream mountpoints.
void UpdateRowCells(const ClientEntry& entry, int64_t onlineSeconds, const MountList& mounts,
                    GridCells& cells);

class GridModel {
 public:
  // Grid codes of the caster core (message 1527).
  static constexpr int kAdd = 0;
  static constexpr int kRemove = 4;
  static constexpr int kUpdate = 5;

  // The upstream mountpoints that rows of linked rovers name; none until set.
  void SetMounts(const MountList* mounts) { mounts_ = mounts; }

  // Handles one grid code at local time now. An update is dropped unless the entry's gridRefreshDue
  // is set, so a row is refreshed at most once per tick; every handled code clears it. An update
  // also stores now as the entry's disconnectTime (the time it was last seen). True when a row
  // changed.
  bool Apply(int code, ClientEntry& entry, const LocalTime& now);
  void Clear();

  const std::map<uint32_t, GridRow>& rows() const { return rows_; }
  static constexpr size_t kUserColumn = 1;  // "机号", the row's user name
  const GridRow* Find(uint32_t socket) const {
    const auto it = rows_.find(socket);
    return it == rows_.end() ? nullptr : &it->second;
  }

  // Rows changed and sockets removed since the last call, for one batch of the monitor.
  struct Changes {
    std::vector<const GridRow*> changed;
    std::vector<uint32_t> removed;
    bool Empty() const { return changed.empty() && removed.empty(); }
  };
  Changes TakeChanges();

 private:
  void Add(const ClientEntry& entry);

  const MountList* mounts_ = nullptr;
  std::map<uint32_t, GridRow> rows_;  // in socket order
  std::set<uint32_t> changed_;
  std::set<uint32_t> removed_;
};
