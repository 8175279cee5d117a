#include "core/ntrip/SourcetableReply.h"

#include "app/KavroGyBl.h"
#include "core/Messages.h"
#include "core/StrFormat.h"
#include "core/ntrip/Sourcetable.h"

namespace {

// Fields of the STR record that hold latitude and longitude.
constexpr size_t kLatField = 9;
constexpr size_t kLonField = 10;

}  // namespace

void Sourcetable(CKavroGyBl& gybl, uint32_t socket, double minLat, double maxLat, double minLon,
                 double maxLon) {
  const ClientEntry* entry = FindClient(gybl.clientTable, socket);
  if (entry == nullptr) return;
  const SourcetableInput input{
      .ntripVersion = entry->ntripVersion,
      .window = {minLat, maxLat, minLon, maxLon},
      .mounts = gybl.mounts,
      .clientTable = gybl.clientTable,
      .mountLocal = gybl.settings.mountLocal,
      .buildNumber = gybl.buildNumber,
      .upstreamServerName = gybl.upstreamServerName,
      .link0Connected = gybl.linkSlots[0].connected != 0,
      .fixedBase = gybl.settings.flags.fixedBase != 0,
      .movingBase = gybl.settings.flags.movingBase != 0,
      .now = gybl.clock().Now(),
  };
  gybl.SendText(socket, ComposeSourcetable(input));
}

void FilteredSourcetable(CKavroGyBl& gybl, const std::string& path, uint32_t socket) {
  const std::vector<std::string> fields = SplitSourcetablePath(path);
  if (!fields[0].starts_with("/?filter=")) {
    Sourcetable(gybl, socket, 0, 0, 0, 0);  // "/?match=" and any other path: the whole table
    return;
  }
  const std::string lat = fields.size() > kLatField ? fields[kLatField] : std::string();
  const std::string lon = fields.size() > kLonField ? fields[kLonField] : std::string();
  if (!lat.empty()) gybl.Log(StrFormat("filter [%s] [%s]", lat.c_str(), lon.c_str()), kLogNormal);
  const auto [minLat, maxLat] = FilterBounds(lat);
  const auto [minLon, maxLon] = FilterBounds(lon);
  Sourcetable(gybl, socket, minLat, maxLat, minLon, maxLon);
}
