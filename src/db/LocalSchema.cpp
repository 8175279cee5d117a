#include "db/LocalSchema.h"

#include "core/StrFormat.h"

namespace {

constexpr const char* kUserTables[] = {
    "CREATE TABLE IF NOT EXISTS USERPASSWORD("
    "UserUser TEXT, USERPASSWORD TEXT, PUSERTIME INTEGER, USERTIME INTEGER, PUSEDATA INTEGER, "
    "USERLX INTEGER, Measure_unit TEXT, Contact_person TEXT, Telephone TEXT, ScopeName TEXT, "
    "USERTIME_LAST INTEGER, SN_YES INTEGER, SN VARCHAR(200), EMAIL VARCHAR(200))",
    "CREATE INDEX IF NOT EXISTS USERPASSWORD_UserUser ON USERPASSWORD(UserUser)",
    "CREATE TABLE IF NOT EXISTS Scope("
    "Name TEXT, B1 REAL, B2 REAL, L1 REAL, L2 REAL, DX REAL, DY REAL, DZ REAL, RX REAL, RY REAL, RZ REAL, "
    "SF REAL, UseSeven INTEGER, UseSevenEncry INTEGER, UseUndulation INTEGER)",
    "CREATE TABLE IF NOT EXISTS RECORD("
    "IP TEXT, A1 TEXT, A2 TEXT, A3 TEXT, A4 TEXT, RES TEXT, Send TEXT, Num1 TEXT, position TEXT, ver TEXT, "
    "BASEMODE TEXT, BaseLink VARCHAR(100))",
};

constexpr const char* kMapSetTables[] = {
    "CREATE TABLE IF NOT EXISTS LayerSet("
    "LayerName TEXT, DISP INTEGER, SETECT INTEGER, \"TEXT\" INTEGER, EDIT INTEGER, MAXDISP REAL, MINDISP "
    "REAL)",
    "CREATE TABLE IF NOT EXISTS MapData("
    "LayerName TEXT, FileNAme TEXT, X1 REAL, Y1 REAL, X2 REAL, Y2 REAL, DataType INTEGER)",
};

template <size_t N>
int ExecuteAll(Ado_InterFacce& db, const char* const (&statements)[N]) {
  int ok = 1;
  for (const char* statement : statements) {
    if (db.Execute(statement) == 0) ok = 0;
  }
  return ok;
}

}  // namespace

const std::vector<AddedColumn>& AddedColumns() {
  static const std::vector<AddedColumn> kColumns = {
      {"Scope", "DX", 3},
      {"Scope", "DY", 3},
      {"Scope", "DZ", 3},
      {"Scope", "RX", 3},
      {"Scope", "RY", 3},
      {"Scope", "RZ", 3},
      {"Scope", "SF", 3},
      {"Scope", "UseSeven", 0},
      {"Scope", "UseSevenEncry", 0},
      {"Scope", "UseUndulation", 0},
      {"USERPASSWORD", "USERTIME_LAST", 0},
      {"USERPASSWORD", "SN_YES", 0},
      {"USERPASSWORD", "SN", 2},
      {"USERPASSWORD", "EMAIL", 2},
      {"RECORD", "BaseLink", 1},
  };
  return kColumns;
}

std::string AddColumnStatement(const std::string& table, const std::string& column, int type) {
  static constexpr const char* kTypes[] = {"INTEGER", "VARCHAR(100)", "VARCHAR(200)", "REAL"};
  if (type < 0 || type > 3) return {};
  return StrFormat("ALTER TABLE %s ADD COLUMN %s %s", table.c_str(), column.c_str(), kTypes[type]);
}

int CreateLocalTables(Ado_InterFacce& db) { return ExecuteAll(db, kUserTables); }

int CreateMapSetTables(Ado_InterFacce& db) { return ExecuteAll(db, kMapSetTables); }
