#pragma once
// The interface of one database connection, implemented for the server database (PostgreSQL) and
// the local files (SQLite). No operation throws: each turns a failure into its result.
#include <chrono>
#include <string>
#include <vector>

#include "db/AdoRow.h"

class Ado_InterFacce {
 public:
  virtual ~Ado_InterFacce() = default;

  // Runs a query and appends one row per result row holding the named columns. 1 when the query ran
  // to its end; 0 on any failure (bad SQL, a column the query does not return, a lost connection),
  // keeping the rows appended before it.
  virtual int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
                     std::vector<Ado_Row>& rows) = 0;
  // The first column of the first row as an integer; 0 on failure or when there is no row.
  virtual int SelectValue(const std::string& sql, const SqlParams& params) = 0;
  // 1 executed, 0 failed.
  virtual int Execute(const std::string& sql, const SqlParams& params) = 0;
  // Runs the statements as one transaction; a failing statement is undone alone and does not stop the
  // others. 1 when the transaction was committed, 0 when it was not (and was rolled back).
  virtual int ExecuteBatch(const StatementList& statements) = 0;
  // 1 closed or already closed, 0 when closing failed.
  virtual int Close() = 0;
  // 1 connected, 0 failed.
  virtual int Open(const std::string& connection, const std::string& user, const std::string& password) = 0;
  virtual bool IsOpen() const = 0;
  // Operations started after this call give up at the deadline: they fail with their usual failure
  // result and, on a back end that talks to a server, close the connection (IsOpen() false), so that
  // no half-read result stays behind. time_point::max() means no limit, the default. Back ends that
  // cannot wait on a peer may ignore it.
  virtual void SetDeadline(std::chrono::steady_clock::time_point /*deadline*/) {}

  int Select(const std::string& sql, const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
    return Select(sql, {}, columns, rows);
  }
  int SelectValue(const std::string& sql) { return SelectValue(sql, {}); }
  int Execute(const Statement& statement) { return Execute(statement.sql, statement.params); }
};
