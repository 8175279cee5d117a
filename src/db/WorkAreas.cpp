#include "db/WorkAreas.h"

#include <algorithm>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/StrFormat.h"
#include "db/KavroDatabase.h"
#include "db/RecordFormat.h"
#include "db/ServerQueries.h"

namespace {

constexpr const char* kRepeatName = "Repeat Name";

const std::vector<std::string>& AreaColumns() {
  static const std::vector<std::string> kColumns = {"B1", "B2", "L1", "L2", "DX",       "DY",           "DZ",
                                                    "RX", "RY", "RZ", "SF", "UseSeven", "UseUndulation"};
  return kColumns;
}

constexpr const char* kAreaColumnList = "B1, B2, L1, L2, DX, DY, DZ, RX, RY, RZ, SF, UseSeven, UseUndulation";
constexpr const char* kServerUserAreaQuery = "select ScopeName from SER_UserDB where UserName=$1 order by ID";

const std::string& ServerAreaQuery() {
  static const std::string kQuery = StrFormat("select %s from SER_Scope where Name=$1 order by ID", kAreaColumnList);
  return kQuery;
}

void ReadBounds(const Ado_Row& row, AreaBounds& bounds) {
  bounds = {FieldDouble(row.Get("B1")), FieldDouble(row.Get("B2")), FieldDouble(row.Get("L1")),
            FieldDouble(row.Get("L2"))};
}

// Copies the parameters; with onlySet, NULL fields leave their value as it is.
void ReadParameters(const Ado_Row& row, AreaParameters& p, bool onlySet) {
  auto real = [&](const char* column, double& value) {
    if (!onlySet || !row.Get(column).IsNull()) value = FieldDouble(row.Get(column));
  };
  auto flag = [&](const char* column, int32_t& value) {
    if (!onlySet || !row.Get(column).IsNull()) value = FieldInt(row.Get(column));
  };
  real("DX", p.dx);
  real("DY", p.dy);
  real("DZ", p.dz);
  real("RX", p.rx);
  real("RY", p.ry);
  real("RZ", p.rz);
  real("SF", p.sf);
  flag("UseSeven", p.useSeven);
  flag("UseUndulation", p.useUndulation);
}

}  // namespace

void WorkAreas::FetchUserArea(QueryRecorder& recorder, const std::string& user) {
  std::vector<Ado_Row> rows;
  recorder.Select(kServerUserAreaQuery, {user}, {"ScopeName"}, rows);
  if (rows.empty()) return;
  const std::string area = FieldText(rows.front().Get("ScopeName"));
  if (area.empty()) return;
  std::vector<Ado_Row> areaRows;
  recorder.Select(ServerAreaQuery(), {area}, AreaColumns(), areaRows);
}

int WorkAreas::RepeatName() {
  gybl_.Log(kRepeatName, kLogRed);
  gybl_.monitor().OnNotice(kRepeatName);
  return 0;
}

int WorkAreas::NextWorkAreaName(std::string& text, int& index) {
  std::vector<Ado_Row> rows;
  if (database_.OpenSqlDatabase() == 1) {
    if (database_.ServerSelect(kServerNamesQuery, {}, {"Name"}, rows) == 0) {
      gybl_.Log("Scope Fail", kLogRed);
      return 0;
    }
    if (index < 0 || static_cast<size_t>(index) >= rows.size()) return 0;
    text = FieldText(rows[static_cast<size_t>(index)].Get("Name"));
    ++index;
    return 1;
  }
  LocalStore::Recordset recordset = database_.userDatabase.Take();
  if (!recordset) return 0;
  if (recordset.Select("SELECT Name FROM Scope ORDER BY rowid", {}, {"Name"}, rows) == 0) {
    gybl_.Log("Scope Fail", kLogRed);
    return 0;
  }
  for (size_t i = static_cast<size_t>(std::max(index, 0)); i < rows.size(); ++i) {
    ++index;
    const std::string name = WholeText(rows[i].Get("Name"));
    if (!name.empty()) {
      text = name;
      return 1;
    }
  }
  return 0;
}

int WorkAreas::GetWorkArea(const std::string& name, AreaBounds& bounds, AreaParameters& parameters) {
  parameters = {};
  if (name.empty()) return 0;
  std::vector<Ado_Row> rows;
  if (database_.OpenSqlDatabase() == 1) {
    if (database_.ServerSelect(ServerAreaQuery(), {name}, AreaColumns(), rows) == 0) {
      gybl_.Log(StrFormat("%s %d", database_.FailureText().c_str(), 12), kLogRed);
      return 0;
    }
    if (rows.empty()) return 0;
    ReadBounds(rows.front(), bounds);
    ReadParameters(rows.front(), parameters, false);
    return 1;
  }
  LocalStore::Recordset recordset = database_.userDatabase.Take();
  if (!recordset) return 0;
  if (recordset.Select(
          StrFormat("SELECT %s FROM Scope WHERE Name=$1 ORDER BY rowid LIMIT 1", kAreaColumnList), {name},
          AreaColumns(), rows) == 0) {
    gybl_.Log(StrFormat("%s %d", database_.FailureText().c_str(), 12), kLogRed);
    return 0;
  }
  bounds = {-1.0, -1.0, -1.0, -1.0};
  if (rows.empty()) return 0;
  ReadBounds(rows.front(), bounds);
  ReadParameters(rows.front(), parameters, true);
  return 1;
}

int WorkAreas::AddWorkArea(const std::string& entered) {
  // Cut on both back ends, so that the list and the table hold the same name.
  const std::string name = CutText(entered, kNameBytes);
  if (name.empty()) return 0;
  std::vector<Ado_Row> rows;
  int added = 0;
  if (database_.OpenSqlDatabase() == 1) {
    if (database_.ServerSelect("select Name from SER_Scope where Name=$1", {name}, {"Name"}, rows) == 0) {
      gybl_.Log(StrFormat("%s %d", database_.FailureText().c_str(), 11), kLogRed);
      return 0;
    }
    if (!rows.empty()) return RepeatName();
    database_.adoDb.Post("insert into SER_Scope (Name,B1,B2,L1,L2) Values ($1,'0','0','0','0')", {name});
    added = 1;
  } else {
    LocalStore::Recordset recordset = database_.userDatabase.Take();
    if (!recordset) return 0;
    if (recordset.Select("SELECT Name FROM Scope WHERE Name=$1", {name}, {"Name"}, rows) == 0 ||
        (rows.empty() && recordset.Execute("INSERT INTO Scope(Name) VALUES ($1)", {name}) == 0)) {
      gybl_.Log(StrFormat("%s %d", database_.FailureText().c_str(), 11), kLogRed);
      return 0;
    }
    if (!rows.empty()) return RepeatName();
    added = 1;
  }
  gybl_.workAreaList.push_back(name);
  return added;
}

int WorkAreas::SaveWorkArea(const std::string& name, const AreaBounds& b, const AreaParameters& p) {
  if (name.empty()) return 0;
  auto failed = [this] { gybl_.Log(StrFormat("%s %d", database_.FailureText().c_str(), 13), kLogRed); };
  std::vector<Ado_Row> rows;
  if (database_.OpenSqlDatabase() == 1) {
    if (database_.ServerSelect("select Name from SER_Scope where Name=$1", {name}, {"Name"}, rows) == 0) {
      failed();
      return 0;
    }
    if (rows.empty()) return 0;
    // The server keeps six decimals of every value.
    auto six = [](double v) { return StrFormat("%f", v); };
    database_.adoDb.Post(
        "update SER_Scope set B1=$1,B2=$2,L1=$3,L2=$4,DX=$5,DY=$6,DZ=$7,RX=$8,RY=$9,RZ=$10,SF=$11,"
        "UseSeven=$12,UseUndulation=$13 where Name=$14",
        {six(b[0]), six(b[1]), six(b[2]), six(b[3]), six(p.dx), six(p.dy), six(p.dz), six(p.rx), six(p.ry),
         six(p.rz), six(p.sf), p.useSeven, p.useUndulation, name});
    return 1;
  }
  LocalStore::Recordset recordset = database_.userDatabase.Take();
  if (!recordset) return 0;
  if (recordset.Select("SELECT rowid AS RowKey FROM Scope WHERE Name=$1 ORDER BY rowid LIMIT 1", {name},
                       {"RowKey"}, rows) == 0) {
    failed();
    return 0;
  }
  if (rows.empty()) return 0;
  if (recordset.Execute(
          "UPDATE Scope SET B1=$1, B2=$2, L1=$3, L2=$4, DX=$5, DY=$6, DZ=$7, RX=$8, RY=$9, RZ=$10, "
          "SF=$11, UseSeven=$12, UseUndulation=$13 WHERE rowid=$14",
          {b[0], b[1], b[2], b[3], p.dx, p.dy, p.dz, p.rx, p.ry, p.rz, p.sf, p.useSeven, p.useUndulation,
           rows.front().Get("RowKey").integer()}) == 0) {
    failed();
    return 0;
  }
  return 1;
}

int WorkAreas::DeleteWorkArea(const std::string& name) {
  std::vector<Ado_Row> rows;
  if (database_.OpenSqlDatabase() == 1) {
    // Without an answer the area may be in use: it is kept.
    if (database_.ServerSelect("select ScopeName from SER_UserDB where ScopeName=$1", {name}, {"ScopeName"},
                               rows) == 0) {
      gybl_.Log("USERPASSWORD ScopeName Fail", kLogRed);
      return 0;
    }
    if (!rows.empty()) return 0;
    database_.adoDb.Post("delete from SER_Scope where Name=$1", {name});
  } else {
    LocalStore::Recordset recordset = database_.userDatabase.Take();
    if (!recordset) return 0;
    if (recordset.Select("SELECT ScopeName FROM USERPASSWORD WHERE ScopeName=$1 LIMIT 1", {name},
                         {"ScopeName"}, rows) == 0) {
      gybl_.Log("USERPASSWORD ScopeName Fail", kLogRed);
      return 0;
    }
    if (!rows.empty()) return 0;
    if (recordset.Execute("DELETE FROM Scope WHERE rowid=(SELECT rowid FROM Scope WHERE Name=$1 "
                          "ORDER BY rowid LIMIT 1)",
                          {name}) == 0) {
      gybl_.Log(database_.FailureText(), kLogRed);
      return 0;
    }
  }
  std::erase(gybl_.workAreaList, name);
  return 1;
}

int WorkAreas::LookupUserArea(const std::string& user, AreaBounds& bounds, AreaParameters& parameters,
                              std::string& areaName) {
  std::vector<Ado_Row> rows;
  if (database_.OpenSqlDatabase() == 1) {
    database_.ServerSelect(kServerUserAreaQuery, {user}, {"ScopeName"}, rows);
    bounds = {-1.0, -1.0, -1.0, -1.0};
    if (rows.empty()) return 0;
    bounds = {0.0, 0.0, 0.0, 0.0};
    areaName = FieldText(rows.front().Get("ScopeName"));
    GetWorkArea(areaName, bounds, parameters);
    return 1;
  }
  int result = 0;
  {
    LocalStore::Recordset recordset = database_.userDatabase.Take();
    if (!recordset) return 0;
    recordset.Select("SELECT ScopeName FROM USERPASSWORD WHERE UserUser=$1 ORDER BY rowid LIMIT 1", {user},
                     {"ScopeName"}, rows);
  }
  bounds = {-1.0, -1.0, -1.0, -1.0};
  if (!rows.empty()) {
    bounds = {0.0, 0.0, 0.0, 0.0};
    areaName.clear();
    if (!rows.front().Get("ScopeName").IsNull()) {
      areaName = WholeText(rows.front().Get("ScopeName"));
      result = 1;
    }
  }
  if (result != 1) {
    parameters = {};
    if (!gybl_.workAreaList.empty()) areaName = gybl_.workAreaList.front();
  }
  if (!areaName.empty()) GetWorkArea(areaName, bounds, parameters);
  return result;
}

void WorkAreas::LoadWorkAreas() {
  if (gybl_.settings.useSql == 1 && database_.sqlOpen != 1) return;
  std::vector<std::string> names;
  std::string name;
  int index = 0;
  while (NextWorkAreaName(name, index) == 1) {
    if (!name.empty()) names.push_back(name);
  }
  gybl_.workAreaList = std::move(names);
}
