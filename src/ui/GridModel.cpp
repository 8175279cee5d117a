#include "ui/GridModel.h"

#include <arpa/inet.h>

#include "core/ClientEntry.h"
#include "core/StrFormat.h"
#include "db/RecordFormat.h"

namespace {

constexpr size_t kMaxCellText = 40;  // texts this long or longer are shown as "Error"
constexpr size_t kMaxLinkNames = 11;
constexpr int kFirstUpstreamMode = 11;  // dataFormat of a rover on the first upstream mountpoint
constexpr int kMaxSendErrors = 5;

// Columns by their position (0-based).
enum Column : size_t {
  kSocket,
  kUser,
  kType,
  kLinks,
  kPosition,
  kStatus,
  kFixRate,
  kSendErrors,
  kIdle,
  kOnline,
  kReceived,
  kFrames,
  kSent,
  kAgent,
  kArea,
  kAddress
};

std::string ShownText(const std::string& text) { return text.size() >= kMaxCellText ? "Error" : text; }

// Keeps the cell as it is when the new text is too long.
void SetUnlessLong(std::string& cell, const std::string& text) {
  if (text.size() < kMaxCellText) cell = text;
}

std::string ByteCount(int64_t bytes) {
  return StrFormat("%lld(K)%lld", static_cast<long long>(bytes / 1024), static_cast<long long>(bytes % 1024));
}

std::string AddressCell(const ClientEntry& entry) {
  std::string cell = entry.peerText;
  if (cell.empty()) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &entry.peerAddress.sin_addr, text, sizeof text);
    cell = text;
  }
  if (!entry.ipLocation.empty()) cell += "(" + entry.ipLocation + ")";
  return cell;
}

std::string LinksCell(const ClientEntry& entry, const MountList& mounts) {
  if (entry.dataFormat >= kFirstUpstreamMode) {
    const auto mount = static_cast<size_t>(entry.dataFormat - kFirstUpstreamMode);
    return mount < mounts.size() ? mounts[mount]->name : std::string();
  }
  std::string cell;
  size_t count = 0;
  for (const auto& [socket, name] : entry.links) {
    if (count++ == kMaxLinkNames) break;
    cell += name + " ";
  }
  return cell;
}

}  // namespace

std::vector<std::string> GridColumnTitles(const TextList& texts) {
  return std::vector<std::string>(texts.begin(), texts.begin() + kGridColumns);
}

int GridRowIcon(const ClientEntry& entry) {
  int icon = 0;
  if (!entry.links.empty()) icon = entry.clientType == "BASE" ? 3 : 2;
  if (entry.dataFormat >= kFirstUpstreamMode) icon = 4;
  if (entry.roveFlagA == 1 || entry.sendErrors > kMaxSendErrors) icon = 5;
  return icon;
}

GridCells AddedRowCells(const ClientEntry& entry) {
  GridCells cells;
  cells[kSocket] = StrFormat("%4d", static_cast<int>(entry.socket));
  cells[kUser] = ShownText(entry.userName);
  cells[kType] = ShownText(entry.clientType);
  cells[kOnline] = "00:00";
  cells[kSent] = StrFormat("%d", entry.formatState);  // a new row shows the frame count one column right
  cells[kAgent] = ShownText(entry.agent);
  cells[kArea] = entry.areaName;
  cells[kAddress] = AddressCell(entry);
  return cells;
}

void UpdateRowCells(const ClientEntry& entry, int64_t onlineSeconds, const MountList& mounts,
                    GridCells& cells) {
  SetUnlessLong(cells[kUser], entry.userName);
  std::string type = entry.clientType;
  if (entry.dataFormat != 0) type += "-" + entry.dataFormatName;
  if (entry.deviceParam != 0) type += "(Slave)";
  cells[kType] = type;
  cells[kLinks] = LinksCell(entry, mounts);
  if (entry.position[0] != 0) {
    cells[kPosition] = StrFormat("%.2f-%.2f", entry.position[0], entry.position[1]);
    if (entry.roveFlagA == 1) cells[kPosition] += "[Out]";
  }
  SetUnlessLong(cells[kStatus], entry.statusText);
  if (entry.ggaCounters[5] > 0)
    cells[kFixRate] = StrFormat("%d%%", 100 * entry.ggaCounters[0] / entry.ggaCounters[5]);
  cells[kSendErrors] = StrFormat("%d", entry.sendErrors);
  cells[kIdle] = entry.idleSeconds > 1 ? StrFormat("%d", entry.idleSeconds) : "0";
  const auto seconds = static_cast<long long>(onlineSeconds < 0 ? 0 : onlineSeconds);
  cells[kOnline] = StrFormat("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  cells[kReceived] = ByteCount(entry.bytesReceived);
  cells[kFrames] = StrFormat("%d", entry.formatState);
  cells[kSent] = ByteCount(entry.bytesSent);
  cells[kAgent] = entry.agent;
  cells[kArea] = entry.areaName;
}

bool GridModel::Apply(int code, ClientEntry& entry, const LocalTime& now) {
  if (code == kUpdate && entry.gridRefreshDue == 0) return false;
  entry.gridRefreshDue = 0;
  const uint32_t socket = entry.socket;
  switch (code) {
    case kAdd:
      Add(entry);
      return true;
    case kRemove:
      if (rows_.erase(socket) == 0) return false;
      changed_.erase(socket);
      removed_.insert(socket);
      return true;
    case kUpdate: {
      entry.disconnectTime = now;
      auto it = rows_.find(socket);
      if (it == rows_.end()) {
        Add(entry);
        return true;
      }
      it->second.icon = GridRowIcon(entry);
      static const MountList kNoMounts;
      UpdateRowCells(entry, SecondsBetween(entry.connectTime, now), mounts_ != nullptr ? *mounts_ : kNoMounts,
                     it->second.cells);
      changed_.insert(socket);
      return true;
    }
    default:
      return false;
  }
}

void GridModel::Add(const ClientEntry& entry) {
  rows_[entry.socket] = GridRow{entry.socket, 0, AddedRowCells(entry)};
  changed_.insert(entry.socket);
  removed_.erase(entry.socket);
}

void GridModel::Clear() {
  for (const auto& [socket, row] : rows_) removed_.insert(socket);
  rows_.clear();
  changed_.clear();
}

GridModel::Changes GridModel::TakeChanges() {
  Changes changes;
  for (uint32_t socket : changed_) changes.changed.push_back(&rows_.at(socket));
  changes.removed.assign(removed_.begin(), removed_.end());
  changed_.clear();
  removed_.clear();
  return changes;
}
