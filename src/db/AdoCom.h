#pragma once
// A connection to the server database (PostgreSQL through libpq). Used by one thread at a time.
// Every operation runs on libpq's asynchronous calls and waits on the socket itself, so that it ends
// at the deadline set by SetDeadline even when the server stops answering.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "db/AdoInterface.h"

struct pg_conn;
struct pg_result;

class Ado_Com : public Ado_InterFacce {
 public:
  // Seconds a connection attempt may take at most, also without a deadline.
  static constexpr int kConnectTimeoutSeconds = 10;

  Ado_Com() = default;
  ~Ado_Com() override;
  Ado_Com(const Ado_Com&) = delete;
  Ado_Com& operator=(const Ado_Com&) = delete;

  using Ado_InterFacce::Execute;
  using Ado_InterFacce::Select;
  using Ado_InterFacce::SelectValue;

  int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
             std::vector<Ado_Row>& rows) override;
  int SelectValue(const std::string& sql, const SqlParams& params) override;
  int Execute(const std::string& sql, const SqlParams& params) override;
  // Runs the statements in one plain transaction; only when a statement fails is the transaction
  // rolled back and run again with a savepoint around each statement, so that the failing one is undone
  // alone. 0 when the connection was lost or the deadline passed (nothing committed, connection closed)
  // or when the commit was refused.
  int ExecuteBatch(const StatementList& statements) override;
  int Close() override;
  // connection: libpq connection parameters ("host=... port=... dbname=..."); the login name and
  // password are passed beside them. Gives up at the deadline or after kConnectTimeoutSeconds.
  int Open(const std::string& connection, const std::string& user, const std::string& password) override;
  bool IsOpen() const override;
  void SetDeadline(std::chrono::steady_clock::time_point deadline) override { deadline_ = deadline; }

 private:
  enum class Outcome;
  // Sends one statement and hands each of its results to take (false: a failed result). 1 when every
  // result was good; 0 otherwise, closing the connection when it broke or the deadline passed.
  int Run(const std::string& sql, const SqlParams& params, bool singleRow,
          const std::function<bool(pg_result*)>& take);
  bool Command(const char* sql);
  // One transaction over the statements, with a savepoint around each (a round trip per command).
  Outcome Transaction(const StatementList& statements);
  // One plain transaction, sent in pipeline mode: every statement is sent before any result is read.
  Outcome Pipelined(const StatementList& statements);
  // The result of a failed operation (0); a connection that broke is closed.
  int Failed(bool broken);

  pg_conn* connection_ = nullptr;
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
};

// libpq connection parameters for a server address, port and database name, each value quoted.
std::string ServerConnectionString(const std::string& address, int port, const std::string& database);
