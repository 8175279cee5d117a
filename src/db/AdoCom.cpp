#include "db/AdoCom.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>

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

using Clock = std::chrono::steady_clock;

// Waits until the socket is ready for the events asked for, or the deadline passes. The events that
// occurred (an error or hang-up included, which libpq then reports), or 0 at the deadline or when the
// socket cannot be waited on.
short WaitSocket(int socket, short events, Clock::time_point deadline) {
  if (socket < 0) return 0;
  for (;;) {
    int timeoutMs = -1;
    if (deadline != Clock::time_point::max()) {
      const Clock::time_point now = Clock::now();
      if (deadline <= now) return 0;
      const int64_t left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      timeoutMs = static_cast<int>(std::min<int64_t>(left, std::numeric_limits<int>::max()));
    }
    pollfd entry{socket, events, 0};
    const int ready = poll(&entry, 1, timeoutMs);
    if (ready > 0) return entry.revents;
    if (ready < 0 && errno != EINTR) return 0;
  }
}

// Sends what libpq holds in its output buffer. False when the connection failed or the deadline passed.
bool Flush(PGconn* connection, Clock::time_point deadline) {
  for (;;) {
    const int left = PQflush(connection);
    if (left == 0) return true;
    if (left < 0) return false;
    const short ready = WaitSocket(PQsocket(connection), POLLIN | POLLOUT, deadline);
    if (ready == 0) return false;
    // Reading what the server sends meanwhile keeps both sides from waiting on full buffers.
    if ((ready & POLLIN) != 0 && PQconsumeInput(connection) == 0) return false;
  }
}

// The next result of the command sent, waiting for it until the deadline; null once the command is
// complete, or with broken set when the connection failed or the deadline passed first.
PGresult* NextResult(PGconn* connection, Clock::time_point deadline, bool& broken) {
  while (PQisBusy(connection) != 0) {
    if (WaitSocket(PQsocket(connection), POLLIN, deadline) == 0 || PQconsumeInput(connection) == 0) {
      broken = true;
      return nullptr;
    }
  }
  return PQgetResult(connection);
}

bool Succeeded(const PGresult* result) {
  const ExecStatusType status = PQresultStatus(result);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
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

enum class Ado_Com::Outcome { kCommitted, kStatementFailed, kNotCommitted, kBroken };

Ado_Com::~Ado_Com() { Close(); }

bool Ado_Com::IsOpen() const { return connection_ != nullptr && PQstatus(connection_) == CONNECTION_OK; }

int Ado_Com::Open(const std::string& connection, const std::string& user, const std::string& password) {
  Close();
  // The first dbname is expanded as a parameter string; the entries after it override its values.
  const char* keywords[] = {"dbname", "user", "password", "client_encoding", "application_name", nullptr};
  const char* values[] = {connection.c_str(), user.c_str(), password.c_str(), "UTF8", "KavroServer", nullptr};
  PGconn* opened = PQconnectStartParams(keywords, values, 1);
  if (opened == nullptr) return 0;
  // libpq's own connect_timeout counts whole seconds and only in its blocking connect; the socket is
  // waited on here instead, up to the deadline.
  const Clock::time_point limit =
      std::min(deadline_, Clock::now() + std::chrono::seconds(kConnectTimeoutSeconds));
  PostgresPollingStatusType step = PGRES_POLLING_WRITING;
  while (PQstatus(opened) != CONNECTION_BAD && step != PGRES_POLLING_OK && step != PGRES_POLLING_FAILED) {
    const short wanted = step == PGRES_POLLING_READING ? POLLIN : POLLOUT;
    // The socket may change between steps (another address, a retry without SSL).
    if (WaitSocket(PQsocket(opened), wanted, limit) == 0) break;
    step = PQconnectPoll(opened);
  }
  // Non-blocking mode: sending (and PQfinish's goodbye) never waits on a server that stopped reading.
  if (step != PGRES_POLLING_OK || PQstatus(opened) != CONNECTION_OK || PQsetnonblocking(opened, 1) != 0) {
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

int Ado_Com::Failed(bool broken) {
  if (connection_ != nullptr && (broken || PQstatus(connection_) != CONNECTION_OK)) Close();
  return 0;
}

int Ado_Com::Run(const std::string& sql, const SqlParams& params, bool singleRow,
                 const std::function<bool(pg_result*)>& take) {
  if (connection_ == nullptr) return 0;
  const ParamValues values(params);
  if (PQsendQueryParams(connection_, sql.c_str(), values.count(), nullptr, values.values(), nullptr, nullptr,
                        0) == 0) {
    return Failed(false);
  }
  if (singleRow) PQsetSingleRowMode(connection_);
  if (!Flush(connection_, deadline_)) return Failed(true);
  bool broken = false;
  bool ok = true;
  while (PGresult* result = NextResult(connection_, deadline_, broken)) {
    if (!take(result)) ok = false;
    PQclear(result);
  }
  if (broken || !ok) return Failed(broken);
  return 1;
}

bool Ado_Com::Command(const char* sql) { return Run(sql, {}, false, Succeeded) == 1; }

int Ado_Com::Execute(const std::string& sql, const SqlParams& params) {
  return Run(sql, params, false, Succeeded);
}

Ado_Com::Outcome Ado_Com::Transaction(const StatementList& statements) {
  const auto notCommitted = [this] {
    if (connection_ != nullptr) Command("ROLLBACK");
    return connection_ == nullptr ? Outcome::kBroken : Outcome::kNotCommitted;
  };
  if (!Command("BEGIN")) return notCommitted();
  for (const Statement& statement : statements) {
    if (!Command("SAVEPOINT kavro_statement")) return notCommitted();
    const bool ok = Execute(statement) == 1;
    if (connection_ == nullptr) return Outcome::kBroken;
    if ((!ok && !Command("ROLLBACK TO SAVEPOINT kavro_statement")) ||
        !Command("RELEASE SAVEPOINT kavro_statement")) {
      return notCommitted();
    }
  }
  // COMMIT of a failed transaction succeeds as a command but reports ROLLBACK.
  const int committed = Run("COMMIT", {}, false, [](PGresult* result) {
    return PQresultStatus(result) == PGRES_COMMAND_OK && std::strcmp(PQcmdStatus(result), "COMMIT") == 0;
  });
  if (connection_ == nullptr) return Outcome::kBroken;
  return committed == 1 ? Outcome::kCommitted : notCommitted();
}

Ado_Com::Outcome Ado_Com::Pipelined(const StatementList& statements) {
  if (PQenterPipelineMode(connection_) == 0) return Outcome::kNotCommitted;
  // BEGIN, the statements and COMMIT, then a synchronisation point.
  const size_t commands = statements.size() + 2;
  bool sent = PQsendQueryParams(connection_, "BEGIN", 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
  for (size_t i = 0; sent && i < statements.size(); ++i) {
    const ParamValues values(statements[i].params);
    sent = PQsendQueryParams(connection_, statements[i].sql.c_str(), values.count(), nullptr, values.values(),
                             nullptr, nullptr, 0) == 1;
  }
  sent = sent && PQsendQueryParams(connection_, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
         PQpipelineSync(connection_) == 1;
  if (!sent || !Flush(connection_, deadline_)) {
    Failed(true);
    return Outcome::kBroken;
  }
  // Each command's results end with a null; after a failure the server skips the rest up to the
  // synchronisation point, whose result comes last.
  bool broken = false;
  bool statementFailed = false;
  bool committed = false;
  size_t command = 0;
  for (;;) {
    PGresult* result = NextResult(connection_, deadline_, broken);
    if (broken) {
      Failed(true);
      return Outcome::kBroken;
    }
    if (result == nullptr) {
      ++command;
      continue;
    }
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_PIPELINE_SYNC) {
      PQclear(result);
      break;
    }
    if (command == commands - 1) {
      committed = status == PGRES_COMMAND_OK && std::strcmp(PQcmdStatus(result), "COMMIT") == 0;
    } else if (command > 0 && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      statementFailed = true;
    }
    PQclear(result);
  }
  if (PQexitPipelineMode(connection_) == 0) {
    Failed(true);
    return Outcome::kBroken;
  }
  if (committed) return Outcome::kCommitted;
  // A failure inside the transaction leaves it open (aborted); a failed COMMIT has ended it.
  Command("ROLLBACK");
  if (connection_ == nullptr) return Outcome::kBroken;
  return statementFailed ? Outcome::kStatementFailed : Outcome::kNotCommitted;
}

int Ado_Com::ExecuteBatch(const StatementList& statements) {
  if (connection_ == nullptr) return 0;
  // Most transactions hold no failing statement and need no savepoints; sent as a pipeline they cost
  // one round trip in all. A failing statement aborts the transaction: it is then run again with a
  // savepoint around each statement, so that the failing one is undone alone.
  Outcome outcome = Pipelined(statements);
  if (outcome == Outcome::kStatementFailed) outcome = Transaction(statements);
  return outcome == Outcome::kCommitted ? 1 : 0;
}

int Ado_Com::Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
                    std::vector<Ado_Row>& rows) {
  // Rows arrive one by one (single-row mode), so those before an error in the middle of the query are
  // kept; after a failed result the rest is only read away.
  bool ok = true;
  bool mapped = false;
  std::vector<int> fields(columns.size(), -1);
  const int ran = Run(sql, params, true, [&](PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    if (!ok || (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK)) {
      ok = false;
      return false;
    }
    if (!mapped) {
      mapped = true;
      for (size_t i = 0; i < columns.size(); ++i) {
        fields[i] = PQfnumber(result, columns[i].c_str());
        if (fields[i] < 0) ok = false;
      }
    }
    for (int r = 0; ok && r < PQntuples(result); ++r) {
      Ado_Row row;
      for (size_t i = 0; i < columns.size(); ++i) row[columns[i]] = ReadValue(result, r, fields[i]);
      rows.push_back(std::move(row));
    }
    return ok;
  });
  return ran == 1 && ok ? 1 : 0;
}

int Ado_Com::SelectValue(const std::string& sql, const SqlParams& params) {
  int value = 0;
  const int ran = Run(sql, params, false, [&value](PGresult* result) {
    if (PQresultStatus(result) != PGRES_TUPLES_OK) return false;
    if (PQntuples(result) > 0 && PQnfields(result) > 0) value = FieldInt(ReadValue(result, 0, 0));
    return true;
  });
  return ran == 1 ? value : 0;
}
