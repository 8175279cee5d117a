#include "ui/map/MapSetTables.h"

#include <cstdlib>

#include "db/LocalStore.h"

namespace {

double Number(const Ado_Value& value) {
  switch (value.kind()) {
    case Ado_Value::Kind::kInteger:
      return static_cast<double>(value.integer());
    case Ado_Value::Kind::kReal:
      return value.real();
    case Ado_Value::Kind::kText:
      return std::atof(value.text().c_str());
    default:
      return 0.0;
  }
}

// A yes/no flag as a 16-bit value.
int Flag(const Ado_Value& value) { return static_cast<int16_t>(static_cast<int64_t>(Number(value))); }

std::string Text(const Ado_Value& value) {
  if (value.kind() == Ado_Value::Kind::kText) return value.text();
  if (value.kind() == Ado_Value::Kind::kInteger) return std::to_string(value.integer());
  return {};
}

}  // namespace

std::vector<LayerSetRow> ReadLayerSet(LocalStore& store,
                                      const std::function<void(const std::string&)>& redLine) {
  std::vector<Ado_Row> rows;
  const std::vector<std::string> columns = {"LayerName", "DISP",    "SETECT", "TEXT",
                                            "EDIT",      "MAXDISP", "MINDISP"};
  if (!store.IsOpen() ||
      store.Select(
          "SELECT LayerName, DISP, SETECT, \"TEXT\", EDIT, MAXDISP, MINDISP FROM LayerSet ORDER BY rowid", {},
          columns, rows) == 0) {
    if (redLine) redLine("LayerSet Fail");
    return {};
  }
  std::vector<LayerSetRow> layers;
  for (const Ado_Row& row : rows) {
    layers.push_back({Text(row.Get("LayerName")), Flag(row.Get("DISP")), Flag(row.Get("SETECT")),
                      Flag(row.Get("TEXT")), Flag(row.Get("EDIT")), Number(row.Get("MAXDISP")),
                      Number(row.Get("MINDISP"))});
  }
  return layers;
}

std::vector<MapDataEntry> ReadMapData(LocalStore& store,
                                      const std::function<void(const std::string&)>& redLine) {
  std::vector<Ado_Row> rows;
  const std::vector<std::string> columns = {"LayerName", "FileNAme", "X1", "Y1", "X2", "Y2", "DataType"};
  if (!store.IsOpen() ||
      store.Select("SELECT LayerName, FileNAme, X1, Y1, X2, Y2, DataType FROM MapData ORDER BY rowid", {},
                   columns, rows) == 0) {
    if (redLine) redLine("Mapdata open Fail");
    return {};
  }
  std::vector<MapDataEntry> entries;
  for (const Ado_Row& row : rows) {
    entries.push_back({Text(row.Get("LayerName")), Text(row.Get("FileNAme")), Number(row.Get("X1")),
                       Number(row.Get("Y1")), Number(row.Get("X2")), Number(row.Get("Y2")),
                       static_cast<int>(Number(row.Get("DataType")))});
  }
  return entries;
}
