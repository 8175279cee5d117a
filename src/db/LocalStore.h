#pragma once
// One local database file with its one recordset. Every local operation works through the recordset;
// an operation that finds it in use by another gives up at once with its failure result and touches
// nothing. Used on the main thread only.
#include <string>
#include <vector>

#include "db/AdoSqlite.h"

class LocalStore {
 public:
  // The recordset held by one operation for all of its steps; released when destroyed.
  class Recordset {
   public:
    Recordset(Recordset&& other) noexcept : store_(other.store_) { other.store_ = nullptr; }
    Recordset& operator=(Recordset&&) = delete;
    ~Recordset();

    // False when another operation holds the recordset: the operation must give up.
    explicit operator bool() const { return store_ != nullptr; }

    int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
               std::vector<Ado_Row>& rows);
    int SelectValue(const std::string& sql, const SqlParams& params = {});
    int Execute(const std::string& sql, const SqlParams& params = {});

   private:
    friend class LocalStore;
    explicit Recordset(LocalStore* store) : store_(store) {}

    LocalStore* store_;
  };

  // Opens (and creates) the file; 1 opened, 0 failed.
  int Open(const std::string& path);
  int Close() { return connection_.Close(); }
  bool IsOpen() const { return connection_.IsOpen(); }

  // Takes the recordset; the result tests false when it is in use.
  Recordset Take();
  bool Busy() const { return busy_; }

  // One-step operations: each takes the recordset for its duration and fails with 0, touching
  // nothing, when it is in use.
  int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
             std::vector<Ado_Row>& rows);
  int Execute(const std::string& sql, const SqlParams& params = {});

  // The connection itself, for schema work that does not go through the recordset.
  Ado_Sqlite& connection() { return connection_; }

 private:
  Ado_Sqlite connection_;
  bool busy_ = false;
};
