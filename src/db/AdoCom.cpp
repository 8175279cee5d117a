#include "db/AdoCom.h"

#include <libpq-fe.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// Type identifiers of the PostgreSQL built-in types that are read as numbers.
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kOidOid = 26;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;

// Parameter values in libpq's text format; null pointers stand for NULL.
class ParamValues {
 public:
  explicit ParamValues(const SqlParams& params) {
    texts_.reserve(params.size());
    for (const SqlParam& p : params) texts_.push_back(p.AsText());
    for (size_t i = 0; i < params.size(); ++i) {
      pointers_.push_back(params[i].kind() == SqlParam::Kind::kNull ? nullptr : texts_[i].c_str());
    }
  }
  int count() const { return static_cast<int>(pointers_.size()); }
  const char* const* values() const { return pointers_.empty() ? nullptr : pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<const char*> pointers_;
};

Ado_Value ReadValue(const PGresult* result, int row, int column) {
  if (PQgetisnull(result, row, column)) return Ado_Value::Null();
  const char* text = PQgetvalue(result, row, column);
  const size_t length = static_cast<size_t>(PQgetlength(result, row, column));
  switch (PQftype(result, column)) {
    case kBoolOid:
      return Ado_Value::Integer(text[0] == 't' ? 1 : 0);
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid:
    case kOidOid: {
      int64_t value = 0;
      std::from_chars(text, text + length, value);
      return Ado_Value::Integer(value);
    }
    case kFloat4Oid:
    case kFloat8Oid:
    case kNumericOid:
      return Ado_Value::Real(std::strtod(text, nullptr));
    default:
      return Ado_Value::Text(std::string(text, length));
  }
}

// Runs a command whose result does not matter beyond success.
bool Command(PGconn* connection, const char* sql) {
  PGresult* result = PQexec(connection, sql);
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  PQclear(result);
  return ok;
}

void IgnoreNotice(void*, const char*) {}

void AppendQuoted(std::string& out, const std::string& value) {
  out += '\'';
  for (char c : value) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  out += '\'';
}

}  // namespace

std::string ServerConnectionString(const std::string& address, int port, const std::string& database) {
  std::string text = "host=";
  AppendQuoted(text, address);
  text += " port=" + std::to_string(port) + " dbname=";
  AppendQuoted(text, database);
  return text;
}

Ado_Com::~Ado_Com() { Close(); }

bool Ado_Com::IsOpen() const { return connection_ != nullptr && PQstatus(connection_) == CONNECTION_OK; }

int Ado_Com::Open(const std::string& connection, const std::string& user, const std::string& password) {
  Close();
  const std::string timeout = std::to_string(kConnectTimeoutSeconds);
  // The first dbname is expanded as a parameter string; the entries after it override its values.
  const char* keywords[] = {"dbname",           "user", "password", "connect_timeout", "client_encoding",
                            "application_name", nullptr};
  const char* values[] = {connection.c_str(), user.c_str(), password.c_str(), timeout.c_str(), "UTF8",
                          "KavroServer",      nullptr};
  PGconn* opened = PQconnectdbParams(keywords, values, 1);
  if (opened == nullptr) return 0;
  if (PQstatus(opened) != CONNECTION_OK) {
    PQfinish(opened);
    return 0;
  }
  PQsetNoticeProcessor(opened, IgnoreNotice, nullptr);
  connection_ = opened;
  return 1;
}

int Ado_Com::Close() {
  if (connection_ != nullptr) {
    PQfinish(connection_);
    connection_ = nullptr;
  }
  return 1;
}

int Ado_Com::Execute(const std::string& sql, const SqlParams& params) {
  if (connection_ == nullptr) return 0;
  const ParamValues values(params);
  PGresult* result =
      PQexecParams(connection_, sql.c_str(), values.count(), nullptr, values.values(), nullptr, nullptr, 0);
  const ExecStatusType status = PQresultStatus(result);
  PQclear(result);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? 1 : 0;
}

int Ado_Com::ExecuteBatch(const StatementList& statements) {
  if (connection_ == nullptr) return 0;
  Command(connection_, "BEGIN");
  for (const Statement& statement : statements) {
    // A failing statement aborts a PostgreSQL transaction; the savepoint undoes that statement alone
    // so that the others still run and commit.
    const bool savepoint = Command(connection_, "SAVEPOINT kavro_statement");
    const int ok = Execute(statement);
    if (savepoint) {
      if (ok == 0) Command(connection_, "ROLLBACK TO SAVEPOINT kavro_statement");
      Command(connection_, "RELEASE SAVEPOINT kavro_statement");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kBatchPauseMs));
  }
  PGresult* result = PQexec(connection_, "COMMIT");
  // COMMIT of a failed transaction succeeds as a command but reports ROLLBACK.
  const bool committed =
      PQresultStatus(result) == PGRES_COMMAND_OK && std::strcmp(PQcmdStatus(result), "COMMIT") == 0;
  PQclear(result);
  if (!committed) Command(connection_, "ROLLBACK");
  return committed ? 1 : 0;
}

int Ado_Com::Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
                    std::vector<Ado_Row>& rows) {
  if (connection_ == nullptr) return 0;
  const ParamValues values(params);
  if (PQsendQueryParams(connection_, sql.c_str(), values.count(), nullptr, values.values(), nullptr, nullptr,
                        0) == 0) {
    return 0;
  }
  // Rows arrive one by one, so those before an error in the middle of the query are kept.
  PQsetSingleRowMode(connection_);
  int ok = 1;
  bool mapped = false;
  std::vector<int> fields(columns.size(), -1);
  while (PGresult* result = PQgetResult(connection_)) {
    const ExecStatusType status = PQresultStatus(result);
    if (ok == 1 && (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK)) {
      if (!mapped) {
        mapped = true;
        for (size_t i = 0; i < columns.size(); ++i) {
          fields[i] = PQfnumber(result, columns[i].c_str());
          if (fields[i] < 0) ok = 0;
        }
      }
      for (int r = 0; ok == 1 && r < PQntuples(result); ++r) {
        Ado_Row row;
        for (size_t i = 0; i < columns.size(); ++i) row[columns[i]] = ReadValue(result, r, fields[i]);
        rows.push_back(std::move(row));
      }
    } else {
      ok = 0;
    }
    PQclear(result);
  }
  return ok;
}

int Ado_Com::SelectValue(const std::string& sql, const SqlParams& params) {
  if (connection_ == nullptr) return 0;
  const ParamValues values(params);
  PGresult* result =
      PQexecParams(connection_, sql.c_str(), values.count(), nullptr, values.values(), nullptr, nullptr, 0);
  int value = 0;
  if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0 && PQnfields(result) > 0) {
    value = FieldInt(ReadValue(result, 0, 0));
  }
  PQclear(result);
  return value;
}
