#pragma once
// A connection to the server database (PostgreSQL through libpq). Used by one thread at a time.
#include <string>
#include <vector>

#include "db/AdoInterface.h"

struct pg_conn;

class Ado_Com : public Ado_InterFacce {
 public:
  // Seconds a connection attempt may take.
  static constexpr int kConnectTimeoutSeconds = 10;
  // Pause after each statement of a transaction, to spare the server.
  static constexpr int kBatchPauseMs = 2;

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
  int ExecuteBatch(const StatementList& statements) override;
  int Close() override;
  // connection: libpq connection parameters ("host=... port=... dbname=..."); the login name and
  // password are passed beside them.
  int Open(const std::string& connection, const std::string& user, const std::string& password) override;
  bool IsOpen() const override;

 private:
  pg_conn* connection_ = nullptr;
};

// libpq connection parameters for a server address, port and database name, each value quoted.
std::string ServerConnectionString(const std::string& address, int port, const std::string& database);
