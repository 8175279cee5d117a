#pragma once
// The gateway to the server database: queries run at once on the caller's thread over one connection;
// writes are queued and executed in order by a worker thread over a connection of its own, so a
// writer never waits for the database and a query never waits for the queue.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/AdoInterface.h"

class Ado_Db {
 public:
  // Creates one unopened connection; the default makes server (PostgreSQL) connections.
  using ConnectionFactory = std::function<std::unique_ptr<Ado_InterFacce>()>;
  // Pause after each queued list, which limits the load on the server to about 50 lists a second.
  static constexpr int kListPauseMs = 20;

  Ado_Db();
  explicit Ado_Db(ConnectionFactory factory);
  virtual ~Ado_Db();
  Ado_Db(const Ado_Db&) = delete;
  Ado_Db& operator=(const Ado_Db&) = delete;

  // Connects the query and the write connection and starts the worker. False when either connection
  // failed or the worker could not be started; the gateway then stays closed.
  bool Open(const std::string& connection, const std::string& user, const std::string& password);
  // The same with two connections opened beforehand (for a connect made off the calling thread).
  bool Open(std::unique_ptr<Ado_InterFacce> query, std::unique_ptr<Ado_InterFacce> writer);
  // Queues one statement; dropped without notice while the gateway is not open.
  void Post(const std::string& sql, SqlParams params = {});
  // Queues a list executed as one transaction (one statement alone runs on its own).
  void PostBatch(StatementList statements);
  // Executes everything queued, ends the worker and closes both connections. Nothing when not open.
  void Stop();
  bool IsOpen() const { return open_; }

  // Queries on the caller's thread, bypassing the queue; 0 while not open.
  int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
             std::vector<Ado_Row>& rows);
  int Select(const std::string& sql, const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
    return Select(sql, {}, columns, rows);
  }
  int SelectValue(const std::string& sql, const SqlParams& params = {});
  // The query connection (null while not open).
  Ado_InterFacce* connection() { return query_.get(); }

 private:
  void Enqueue(StatementList statements);
  void Work();

  ConnectionFactory factory_;
  std::mutex queueLock_;
  std::condition_variable wake_;
  std::deque<StatementList> queue_;  // first in, first out; guarded by queueLock_
  bool stopping_ = false;            // guarded by queueLock_
  std::unique_ptr<Ado_InterFacce> query_;
  std::unique_ptr<Ado_InterFacce> writer_;  // touched only by the worker while it runs
  std::thread worker_;
  bool open_ = false;
};
