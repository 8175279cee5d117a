#include "db/AdoSqlite.h"

#include <sqlite3.h>
#include <strings.h>

#include <cctype>

namespace {

Ado_Value ReadValue(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      return Ado_Value::Integer(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
      return Ado_Value::Real(sqlite3_column_double(statement, column));
    case SQLITE_NULL:
      return Ado_Value::Null();
    default: {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
      const int length = sqlite3_column_bytes(statement, column);
      return Ado_Value::Text(bytes == nullptr ? std::string()
                                              : std::string(bytes, static_cast<size_t>(length)));
    }
  }
}

bool OnlyBlanks(const char* text) {
  for (; *text != '\0'; ++text) {
    if (std::isspace(static_cast<unsigned char>(*text)) == 0 && *text != ';') return false;
  }
  return true;
}

bool Command(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace

Ado_Sqlite::~Ado_Sqlite() { Close(); }

int Ado_Sqlite::Open(const std::string& connection, const std::string& /*user*/,
                     const std::string& /*password*/) {
  Close();
  sqlite3* opened = nullptr;
  if (sqlite3_open_v2(connection.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(opened);
    return 0;
  }
  sqlite3_busy_timeout(opened, kBusyTimeoutMs);
  // Switching the journal reads the file header, so a file that is no database fails here.
  sqlite3_stmt* statement = nullptr;
  bool wal = false;
  if (sqlite3_prepare_v2(opened, "PRAGMA journal_mode=WAL", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    wal = mode != nullptr && strcasecmp(mode, "wal") == 0;
  }
  sqlite3_finalize(statement);
  if (!wal || !Command(opened, "PRAGMA synchronous=NORMAL")) {
    sqlite3_close(opened);
    return 0;
  }
  db_ = opened;
  return 1;
}

void Ado_Sqlite::SetBusyTimeout(int milliseconds) {
  if (db_ != nullptr) sqlite3_busy_timeout(db_, milliseconds);
}

void Ado_Sqlite::ForgetStatements() {
  for (const auto& [sql, statement] : kept_) sqlite3_finalize(statement);
  kept_.clear();
}

int Ado_Sqlite::Close() {
  if (db_ == nullptr) return 1;
  ForgetStatements();
  if (sqlite3_close(db_) != SQLITE_OK) return 0;
  db_ = nullptr;
  return 1;
}

sqlite3_stmt* Ado_Sqlite::Prepare(const std::string& sql, const SqlParams& params) {
  if (db_ == nullptr) return nullptr;
  sqlite3_stmt* statement = nullptr;
  if (auto it = kept_.find(sql); it != kept_.end()) {
    statement = it->second;
    if (sqlite3_bind_parameter_count(statement) != static_cast<int>(params.size())) return nullptr;
  } else {
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, &tail) != SQLITE_OK ||
        statement == nullptr || (tail != nullptr && !OnlyBlanks(tail)) ||
        sqlite3_bind_parameter_count(statement) != static_cast<int>(params.size())) {
      sqlite3_finalize(statement);
      return nullptr;
    }
    // Statements with their values written into the text would fill the store: it starts afresh when full.
    if (kept_.size() >= kKeptStatements) ForgetStatements();
    kept_.emplace(sql, statement);
  }
  for (size_t i = 0; i < params.size(); ++i) {
    // "$1", "$2", ... as on the server; anonymous "?" parameters by position.
    const std::string name = "$" + std::to_string(i + 1);
    int index = sqlite3_bind_parameter_index(statement, name.c_str());
    if (index == 0) index = static_cast<int>(i) + 1;
    const SqlParam& p = params[i];
    int rc = SQLITE_OK;
    switch (p.kind()) {
      case SqlParam::Kind::kNull:
        rc = sqlite3_bind_null(statement, index);
        break;
      case SqlParam::Kind::kInteger:
        rc = sqlite3_bind_int64(statement, index, p.integer());
        break;
      case SqlParam::Kind::kReal:
        rc = sqlite3_bind_double(statement, index, p.real());
        break;
      case SqlParam::Kind::kText:
        rc = sqlite3_bind_text(statement, index, p.text().data(), static_cast<int>(p.text().size()),
                               SQLITE_TRANSIENT);
        break;
    }
    if (rc != SQLITE_OK) {
      Release(statement);
      return nullptr;
    }
  }
  return statement;
}

void Ado_Sqlite::Release(sqlite3_stmt* statement) {
  // Reset at once: a statement left stepping would hold its read transaction open.
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
}

int Ado_Sqlite::Execute(const std::string& sql, const SqlParams& params) {
  sqlite3_stmt* statement = Prepare(sql, params);
  if (statement == nullptr) return 0;
  int rc = SQLITE_ROW;
  while (rc == SQLITE_ROW) rc = sqlite3_step(statement);
  Release(statement);
  return rc == SQLITE_DONE ? 1 : 0;
}

int Ado_Sqlite::ExecuteBatch(const StatementList& statements) {
  if (db_ == nullptr) return 0;
  Command(db_, "BEGIN");
  for (const Statement& statement : statements) {
    // Some errors roll back a whole SQLite transaction; the savepoint confines a failure to its statement.
    const bool savepoint = Command(db_, "SAVEPOINT kavro_statement");
    const int ok = Execute(statement);
    if (savepoint) {
      if (ok == 0) Command(db_, "ROLLBACK TO SAVEPOINT kavro_statement");
      Command(db_, "RELEASE SAVEPOINT kavro_statement");
    }
  }
  if (Command(db_, "COMMIT")) return 1;
  Command(db_, "ROLLBACK");
  return 0;
}

int Ado_Sqlite::Select(const std::string& sql, const SqlParams& params,
                       const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
  sqlite3_stmt* statement = Prepare(sql, params);
  if (statement == nullptr) return 0;
  const int count = sqlite3_column_count(statement);
  std::vector<int> fields(columns.size(), -1);
  bool mapped = count > 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    // Column names compare as SQL identifiers do, without regard to case.
    for (int c = 0; c < count && fields[i] < 0; ++c) {
      const char* name = sqlite3_column_name(statement, c);
      if (name != nullptr && strcasecmp(name, columns[i].c_str()) == 0) fields[i] = c;
    }
    if (fields[i] < 0) mapped = false;
  }
  int rc = mapped ? sqlite3_step(statement) : SQLITE_ERROR;
  while (rc == SQLITE_ROW) {
    Ado_Row row;
    for (size_t i = 0; i < columns.size(); ++i) row[columns[i]] = ReadValue(statement, fields[i]);
    rows.push_back(std::move(row));
    rc = sqlite3_step(statement);
  }
  Release(statement);
  return rc == SQLITE_DONE ? 1 : 0;
}

int Ado_Sqlite::SelectValue(const std::string& sql, const SqlParams& params) {
  sqlite3_stmt* statement = Prepare(sql, params);
  if (statement == nullptr) return 0;
  int value = 0;
  if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_count(statement) > 0) {
    value = FieldInt(ReadValue(statement, 0));
  }
  Release(statement);
  return value;
}
