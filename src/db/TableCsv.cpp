#include "db/TableCsv.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>

#include "core/Csv.h"
#include "core/StrFormat.h"
#include "core/Utf8.h"
#include "db/WorkAreas.h"

namespace {

enum class Kind { kText, kInteger, kReal };

struct Column {
  const char* name;
  Kind kind;
  const char* fresh;  // the value of a new row when the file leaves the column out; "" is NULL for numbers
};

struct Layout {
  const char* table;
  const char* order;                      // the column giving the order rows were added in
  const char* otherKey;                   // the key's name on the other back end
  std::vector<Column> columns;            // columns[0] is the key
  std::vector<const char*> otherColumns;  // columns only the other back end's table has
};

// A new account gets its used time as its snapshot, so that it does not count as active.
constexpr const char* kSnapshot = "USERTIME_LAST";
constexpr const char* kUsedTime = "USERTIME";
// The longest text of a server column.
constexpr size_t kTextBytes = 255;

const Layout& LayoutOf(AccountBackend backend, CsvTable table) {
  using K = Kind;
  static const Layout kLocalAccounts{"USERPASSWORD",
                                     "rowid",
                                     "UserName",
                                     {{"UserUser", K::kText, ""},
                                      {"USERPASSWORD", K::kText, ""},
                                      {"PUSERTIME", K::kInteger, "0"},
                                      {"USERTIME", K::kInteger, "0"},
                                      {"PUSEDATA", K::kInteger, "0"},
                                      {"USERLX", K::kInteger, "0"},
                                      {"Measure_unit", K::kText, ""},
                                      {"Contact_person", K::kText, ""},
                                      {"Telephone", K::kText, ""},
                                      {"ScopeName", K::kText, ""},
                                      {kSnapshot, K::kInteger, "0"},
                                      {"SN_YES", K::kInteger, "0"},
                                      {"SN", K::kText, ""},
                                      {"EMAIL", K::kText, ""}},
                                     {"GLName"}};
  static const Layout kServerAccounts{"SER_UserDB",
                                      "ID",
                                      "UserUser",
                                      {{"UserName", K::kText, ""},
                                       {"GLName", K::kText, ""},
                                       {"USERPASSWORD", K::kText, ""},
                                       {"PUSERTIME", K::kInteger, "0"},
                                       {"USERTIME", K::kInteger, "0"},
                                       {"PUSEDATA", K::kInteger, "0"},
                                       {"USERLX", K::kInteger, "0"},
                                       {"Measure_unit", K::kText, ""},
                                       {"Contact_person", K::kText, ""},
                                       {"Telephone", K::kText, ""},
                                       {"ScopeName", K::kText, ""},
                                       {"SN", K::kText, ""},
                                       {"EMAIL", K::kText, ""},
                                       {"SN_YES", K::kInteger, "0"},
                                       {kSnapshot, K::kInteger, "0"}},
                                      {}};
  // A new work area has a zero rectangle and no parameters.
  static const std::vector<Column> kAreaColumns = {
      {"Name", K::kText, ""},       {"B1", K::kReal, "0"}, {"B2", K::kReal, "0"}, {"L1", K::kReal, "0"},
      {"L2", K::kReal, "0"},        {"DX", K::kReal, ""},  {"DY", K::kReal, ""},  {"DZ", K::kReal, ""},
      {"RX", K::kReal, ""},         {"RY", K::kReal, ""},  {"RZ", K::kReal, ""},  {"SF", K::kReal, ""},
      {"UseSeven", K::kInteger, ""}};
  static const Layout kLocalAreas = [] {
    Layout layout{"Scope", "rowid", "Name", kAreaColumns, {}};
    layout.columns.push_back({"UseSevenEncry", K::kInteger, ""});
    layout.columns.push_back({"UseUndulation", K::kInteger, ""});
    return layout;
  }();
  static const Layout kServerAreas = [] {
    Layout layout{"SER_Scope", "ID", "Name", kAreaColumns, {"UseSevenEncry"}};
    layout.columns.push_back({"UseUndulation", K::kInteger, ""});
    return layout;
  }();
  const bool server = backend == AccountBackend::kServer;
  if (table == CsvTable::kAccounts) return server ? kServerAccounts : kLocalAccounts;
  return server ? kServerAreas : kLocalAreas;
}

using Row = std::vector<std::string>;

size_t IndexOf(const Layout& layout, std::string_view name) {
  for (size_t i = 0; i < layout.columns.size(); ++i) {
    if (name == layout.columns[i].name) return i;
  }
  return layout.columns.size();
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string RealText(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool ParseWhole(const std::string& text, int64_t& value) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && at == end && !text.empty();
}

bool ParseReal(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && at == end && !text.empty() && std::isfinite(value);
}

// A stored value in the form the file carries: NULL as the empty text, numbers in their shortest
// exact decimal form.
std::string CellText(const Ado_Value& value) {
  switch (value.kind()) {
    case Ado_Value::Kind::kInteger:
      return std::to_string(value.integer());
    case Ado_Value::Kind::kReal:
      return RealText(value.real());
    case Ado_Value::Kind::kText:
      return value.text();
    default:
      return {};
  }
}

// A field of the file in the form the database gives back; false with the fault when it is no value
// of the column.
bool ParseCell(const std::string& field, Kind kind, std::string& cell, std::string& fault) {
  if (kind == Kind::kText || field.empty()) {
    cell = field;
    return true;
  }
  if (kind == Kind::kInteger) {
    int64_t value = 0;
    if (!ParseWhole(field, value) || value < INT32_MIN || value > INT32_MAX) {
      fault = "'" + field + "' is not a whole number";
      return false;
    }
    cell = std::to_string(value);
    return true;
  }
  double value = 0;
  if (!ParseReal(field, value)) {
    fault = "'" + field + "' is not a number";
    return false;
  }
  cell = RealText(value);
  return true;
}

SqlParam Param(const std::string& cell, Kind kind) {
  if (kind == Kind::kText) return cell;
  if (cell.empty()) return nullptr;
  if (kind == Kind::kInteger) {
    int64_t value = 0;
    ParseWhole(cell, value);
    return value;
  }
  double value = 0;
  ParseReal(cell, value);
  return value;
}

int WholeOrZero(const std::string& cell) {
  int64_t value = 0;
  return ParseWhole(cell, value) && value >= INT32_MIN && value <= INT32_MAX ? static_cast<int>(value) : 0;
}

// Why the row cannot be stored, with the rules of the account administration and the work-area dialog.
std::string RowFault(CsvTable table, const Layout& layout, const Row& row) {
  auto cell = [&](const char* name) -> const std::string& { return row[IndexOf(layout, name)]; };
  if (table == CsvTable::kAccounts) {
    const Account account{.name = row[0],
                          .password = cell("USERPASSWORD"),
                          .allowedSeconds = WholeOrZero(cell("PUSERTIME")),
                          .usedSeconds = WholeOrZero(cell(kUsedTime)),
                          .validUntil = WholeOrZero(cell("PUSEDATA")),
                          .deniedServices = WholeOrZero(cell("USERLX")),
                          .organisation = cell("Measure_unit"),
                          .contact = cell("Contact_person"),
                          .telephone = cell("Telephone"),
                          .area = cell("ScopeName"),
                          .serialBinding = WholeOrZero(cell("SN_YES")),
                          .serial = cell("SN"),
                          .email = cell("EMAIL")};
    if (std::string fault = AccountFault(account); !fault.empty()) return fault;
    if (WholeOrZero(cell(kSnapshot)) < 0) return "used-time snapshot is negative";
    if (const size_t group = IndexOf(layout, "GLName"); group < row.size()) {
      return TextFault("group", row[group], kTextBytes);
    }
    return {};
  }
  if (row[0].empty()) return "name is empty";
  if (std::string fault = TextFault("name", row[0], WorkAreas::kNameBytes); !fault.empty()) return fault;
  for (const char* flag : {"UseSeven", "UseSevenEncry", "UseUndulation"}) {
    const size_t at = IndexOf(layout, flag);
    if (at < row.size() && !row[at].empty() && row[at] != "0" && row[at] != "1") {
      return StrFormat("%s is not 0 or 1", flag);
    }
  }
  return {};
}

std::vector<std::string> ColumnNames(const Layout& layout) {
  std::vector<std::string> names;
  for (const Column& column : layout.columns) names.emplace_back(column.name);
  return names;
}

bool ReadRows(Ado_InterFacce& db, const Layout& layout, std::vector<Row>& rows) {
  const std::vector<std::string> names = ColumnNames(layout);
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  std::vector<Ado_Row> found;
  if (db.Select(StrFormat("select %s from %s order by %s", list.c_str(), layout.table, layout.order), {},
                names, found) == 0) {
    return false;
  }
  for (const Ado_Row& adoRow : found) {
    Row row;
    for (const std::string& name : names) row.push_back(CellText(adoRow.Get(name)));
    rows.push_back(std::move(row));
  }
  return true;
}

// One row to write: added, or the columns of an existing row that the file sets.
struct Change {
  bool add = false;
  Row row;
  std::vector<bool> set;
};

std::string LineError(size_t line, const std::string& text) { return StrFormat("line %zu: ", line) + text; }

// Which column each field of the header fills (the column count for a column that is passed over).
bool MapHeader(const Layout& layout, const CsvRecord& header, std::vector<size_t>& columns,
               std::vector<std::string>& errors) {
  const size_t passedOver = layout.columns.size();
  std::vector<bool> taken(layout.columns.size(), false);
  for (const std::string& name : header.fields) {
    size_t at = passedOver;
    for (size_t i = 0; i < layout.columns.size() && at == passedOver; ++i) {
      if (SameName(name, layout.columns[i].name) || (i == 0 && SameName(name, layout.otherKey))) at = i;
    }
    bool other = false;
    for (const char* column : layout.otherColumns) other = other || SameName(name, column);
    if (at == passedOver && !other) {
      errors.push_back(LineError(header.line, "unknown column '" + name + "'"));
    } else if (at != passedOver && taken[at]) {
      errors.push_back(LineError(header.line, "column '" + name + "' appears twice"));
    } else if (at != passedOver) {
      taken[at] = true;
    }
    columns.push_back(at);
  }
  if (!taken[0]) {
    errors.push_back(LineError(header.line, StrFormat("no column %s", layout.columns[0].name)));
  }
  return errors.empty();
}

// Checks every line against the rows there are, and lists the changes.
void Plan(CsvTable table, const Layout& layout, const std::vector<CsvRecord>& records,
          const std::vector<Row>& existing, CsvImportReport& report, std::vector<Change>& changes) {
  std::vector<size_t> columns;
  if (!MapHeader(layout, records.front(), columns, report.errors)) return;
  const size_t count = layout.columns.size();
  std::map<std::string, size_t> byKey;  // the first row of each key
  for (size_t i = 0; i < existing.size(); ++i) byKey.emplace(existing[i][0], i);
  std::map<std::string, size_t> seen;  // key -> its line in the file
  const size_t snapshot = IndexOf(layout, kSnapshot), used = IndexOf(layout, kUsedTime);
  for (size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    if (record.fields.size() != columns.size()) {
      report.errors.push_back(LineError(record.line, StrFormat("%zu fields where the header has %zu",
                                                               record.fields.size(), columns.size())));
      continue;
    }
    Row given(count);
    std::vector<bool> set(count, false);
    std::string fault;
    for (size_t f = 0; f < columns.size() && fault.empty(); ++f) {
      const size_t c = columns[f];
      if (c == count) continue;
      if (!ParseCell(record.fields[f], layout.columns[c].kind, given[c], fault)) {
        fault = std::string(layout.columns[c].name) + ": " + fault;
      }
      set[c] = true;
    }
    if (!fault.empty()) {
      report.errors.push_back(LineError(record.line, fault));
      continue;
    }
    const std::string& key = given[0];
    if (const auto [at, fresh] = seen.emplace(key, record.line); !fresh) {
      report.errors.push_back(
          LineError(record.line,
                    StrFormat("%s '%s' repeats line %zu", layout.columns[0].name, key.c_str(), at->second)));
      continue;
    }
    const auto found = byKey.find(key);
    Change change{found == byKey.end(), {}, set};
    if (change.add) {
      for (const Column& column : layout.columns) change.row.emplace_back(column.fresh);
    } else {
      change.row = existing[found->second];
    }
    for (size_t c = 0; c < count; ++c) {
      if (set[c]) change.row[c] = given[c];
    }
    if (snapshot < count && !set[snapshot]) {
      // As the administration does: a new account starts inactive, and lowering the used time lowers
      // the snapshot with it.
      const bool lowered = set[used] && (change.row[snapshot].empty() ||
                                         WholeOrZero(change.row[snapshot]) > WholeOrZero(change.row[used]));
      if (change.add || lowered) {
        change.row[snapshot] = change.row[used];
        change.set[snapshot] = true;
      }
    }
    if (std::string rowFault = RowFault(table, layout, change.row); !rowFault.empty()) {
      report.errors.push_back(LineError(record.line, rowFault));
      continue;
    }
    if (change.add) {
      report.added.push_back(key);
    } else if (change.row != existing[found->second]) {
      report.updated.push_back(key);
    } else {
      ++report.unchanged;
      continue;
    }
    changes.push_back(std::move(change));
  }
}

bool Write(Ado_InterFacce& db, const Layout& layout, const Change& change) {
  SqlParams params;
  std::string sql;
  if (change.add) {
    std::string names, values;
    for (size_t c = 0; c < layout.columns.size(); ++c) {
      names += (c == 0 ? "" : ", ") + std::string(layout.columns[c].name);
      values += StrFormat("%s$%zu", c == 0 ? "" : ", ", c + 1);
      params.push_back(Param(change.row[c], layout.columns[c].kind));
    }
    sql = StrFormat("insert into %s (%s) values (%s)", layout.table, names.c_str(), values.c_str());
  } else {
    std::string assignments;
    for (size_t c = 1; c < layout.columns.size(); ++c) {
      if (!change.set[c]) continue;
      params.push_back(Param(change.row[c], layout.columns[c].kind));
      assignments +=
          StrFormat("%s%s = $%zu", assignments.empty() ? "" : ", ", layout.columns[c].name, params.size());
    }
    params.push_back(change.row[0]);
    sql = StrFormat("update %s set %s where %s = $%zu", layout.table, assignments.c_str(),
                    layout.columns[0].name, params.size());
  }
  return db.Execute(sql, params) == 1;
}

}  // namespace

bool ExportTableCsv(Ado_InterFacce& db, AccountBackend backend, CsvTable table, std::string& csv,
                    std::string& error) {
  const Layout& layout = LayoutOf(backend, table);
  std::vector<Row> rows;
  if (!ReadRows(db, layout, rows)) {
    error = "database error";
    return false;
  }
  csv = CsvLine(ColumnNames(layout));
  for (const Row& row : rows) csv += CsvLine(row);
  return true;
}

CsvImportReport ImportTableCsv(Ado_InterFacce& db, AccountBackend backend, CsvTable table,
                               std::string_view csv, bool dryRun) {
  CsvImportReport report;
  std::vector<CsvRecord> records;
  std::string error;
  if (!ReadCsv(csv, records, error)) {
    report.errors.push_back(error);
    return report;
  }
  if (records.empty()) {
    report.errors.push_back("line 1: no header row");
    return report;
  }
  const Layout& layout = LayoutOf(backend, table);
  // The rows are read inside the transaction that writes, so that nothing changes between the check
  // and the writes.
  const bool server = backend == AccountBackend::kServer;
  if (!dryRun && db.Execute(server ? "BEGIN" : "BEGIN IMMEDIATE") == 0) {
    report.errors.push_back("database error: the import could not begin");
    return report;
  }
  auto abandon = [&](const char* why) {
    if (!dryRun) db.Execute("ROLLBACK");
    if (why != nullptr) {
      // A failing database leaves no plan to report.
      report = {};
      report.errors.emplace_back(why);
    }
    return report;
  };
  std::vector<Row> existing;
  if (!ReadRows(db, layout, existing)) return abandon("database error: the table could not be read");
  std::vector<Change> changes;
  Plan(table, layout, records, existing, report, changes);
  if (!report.ok() || dryRun) return abandon(nullptr);
  for (const Change& change : changes) {
    if (!Write(db, layout, change)) return abandon("database error: nothing was imported");
  }
  if (db.Execute("COMMIT") == 0) return abandon("database error: nothing was imported");
  return report;
}
