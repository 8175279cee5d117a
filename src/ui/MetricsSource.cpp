#include "ui/MetricsSource.h"

#include <array>

#include "app/KavroGyBl.h"
#include "db/KavroDatabase.h"
#include "gnss/DataFormat.h"

namespace {

// The client types the handlers set, then entries without one yet and anything else.
constexpr std::array<const char*, 4> kClientTypes = {"NTRIP", "ROVE", "BASE", "GETGGA"};
constexpr size_t kBaseType = 2;  // "BASE"
constexpr size_t kUnclassified = kClientTypes.size();
constexpr size_t kOtherType = kClientTypes.size() + 1;
constexpr int kFormats = 8;  // 0 (not known yet) and the codes 1 to 7

size_t TypeIndex(const std::string& type) {
  if (type.empty()) return kUnclassified;
  for (size_t i = 0; i < kClientTypes.size(); ++i) {
    if (type == kClientTypes[i]) return i;
  }
  return kOtherType;
}

}  // namespace

MetricsSnapshot GatherMetrics(const CKavroGyBl& gybl, const KavroDatabase* database) {
  MetricsSnapshot snapshot;
  snapshot.counters = gybl.counters;
  snapshot.serviceRunning = gybl.serviceRunning != 0;

  std::array<int, kClientTypes.size() + 2> types{};
  std::array<int, kFormats> formats{};
  for (const auto& [socket, entry] : gybl.clientTable) {
    const size_t type = TypeIndex(entry.clientType);
    ++types[type];
    if (type == kBaseType)
      ++formats[entry.dataFormat > 0 && entry.dataFormat < kFormats ? entry.dataFormat : 0];
  }
  for (size_t i = 0; i < kClientTypes.size(); ++i)
    snapshot.connections.emplace_back(kClientTypes[i], types[i]);
  snapshot.connections.emplace_back("unclassified", types[kUnclassified]);
  snapshot.connections.emplace_back("other", types[kOtherType]);
  snapshot.bases.emplace_back("unknown", formats[0]);
  for (int f = 1; f < kFormats; ++f)
    snapshot.bases.emplace_back(std::string(DataFormatName(static_cast<DataFormat>(f))), formats[f]);

  // Configured slots run from slot 0 to the first without a port, as the tick connects them.
  for (size_t i = 0; i < gybl.linkSlots.size() && gybl.settings.links[i].port != 0; ++i) {
    ++snapshot.linkSlotsConfigured;
    if (gybl.linkSlots[i].connected != 0) ++snapshot.linkSlotsUp;
  }

  if (database != nullptr) {
    snapshot.dbQueryQueue = database->queries().Pending();
    snapshot.dbQueryFailures = database->queries().Failures();
    snapshot.dbWriteQueue = database->adoDb.QueueLength();
    snapshot.dbPositionsDropped = database->adoDb.DroppedPositions();
  }
  return snapshot;
}
