#pragma once
// A connection to a local database file (SQLite), in WAL mode with synchronous=NORMAL so that a
// write costs no fsync on the calling thread and a killed process loses no committed row.
#include <string>
#include <unordered_map>
#include <vector>

#include "db/AdoInterface.h"

struct sqlite3;
struct sqlite3_stmt;

class Ado_Sqlite : public Ado_InterFacce {
 public:
  // How long a statement waits for another process's write lock.
  static constexpr int kBusyTimeoutMs = 250;

  Ado_Sqlite() = default;
  ~Ado_Sqlite() override;
  Ado_Sqlite(const Ado_Sqlite&) = delete;
  Ado_Sqlite& operator=(const Ado_Sqlite&) = delete;

  using Ado_InterFacce::Execute;
  using Ado_InterFacce::Select;
  using Ado_InterFacce::SelectValue;

  int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
             std::vector<Ado_Row>& rows) override;
  int SelectValue(const std::string& sql, const SqlParams& params) override;
  int Execute(const std::string& sql, const SqlParams& params) override;
  int ExecuteBatch(const StatementList& statements) override;
  int Close() override;
  // connection: the path of the file, created when missing. Login name and password are not used.
  int Open(const std::string& connection, const std::string& user, const std::string& password) override;
  bool IsOpen() const override { return db_ != nullptr; }
  // How long statements of this open connection wait for another process's write lock.
  void SetBusyTimeout(int milliseconds);

 private:
  // Compiles one statement and binds its parameters; null on failure or when the text holds more than
  // one statement.
  sqlite3_stmt* Prepare(const std::string& sql, const SqlParams& params);
  // Ends the use of a statement from Prepare: a kept one is reset for its next use.
  void Release(sqlite3_stmt* statement);
  void ForgetStatements();

  // Logins and closes run the same few statements over and over: compiled ones are kept, by text.
  static constexpr size_t kKeptStatements = 64;
  std::unordered_map<std::string, sqlite3_stmt*> kept_;
  sqlite3* db_ = nullptr;
};
