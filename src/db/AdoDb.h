#pragma once
// The gateway to the server database: queries run at once on the caller's thread over one connection;
// writes are queued and executed in order by a worker thread over a connection of its own, so a
// writer never waits for the database and a query never waits for the queue.
//
// The worker writes many queued lists as one transaction. Every operation has a deadline, so a frozen
// server costs the worker one time-out, never the caller. A lost connection keeps the queue: the
// worker reconnects by itself and carries on. The queue is bounded by dropping positions, the only
// kind of write that may be lost; records are never dropped while the gateway is open.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
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
  // Creates one unopened connection; the default (or an empty factory) makes server (PostgreSQL)
  // connections.
  using ConnectionFactory = std::function<std::unique_ptr<Ado_InterFacce>()>;

  struct Options {
    // Deadline of each statement, transaction, query and connection attempt.
    std::chrono::milliseconds timeout{3000};
    // Queued lists beyond which positions are dropped.
    size_t queueLimit = 100000;
    // Shortest time between two connection attempts of the worker.
    std::chrono::milliseconds reconnectInterval{5000};
  };

  // What a queued list holds. Positions (GGA rows) are the only kind that may be dropped.
  enum class WriteKind { kRecord, kPosition };

  // Something the owner should hear about, reported on the worker thread.
  struct WriteEvent {
    enum class Kind {
      kConnectFailed,     // a reconnection attempt failed (count 1)
      kReconnected,       // the worker connected again (count 1)
      kPositionsDropped,  // positions dropped since the last such report
      kListsLost,         // lists discarded by a stop whose time ran out
    } kind;
    uint64_t count;
  };
  using Reporter = std::function<void(const WriteEvent&)>;

  // Statements the worker puts into one transaction at most (fewer after a time-out).
  static constexpr size_t kGroupStatements = 1000;
  // Shortest time between two reports of dropped positions.
  static constexpr std::chrono::seconds kDropReportInterval{10};

  Ado_Db();
  explicit Ado_Db(ConnectionFactory factory);
  Ado_Db(ConnectionFactory factory, Options options);
  virtual ~Ado_Db();
  Ado_Db(const Ado_Db&) = delete;
  Ado_Db& operator=(const Ado_Db&) = delete;

  // Connects the query and the write connection (each within the time-out) and starts the worker. False
  // when either connection failed or the worker could not be started; the gateway then stays closed.
  // The connection data is kept for the worker's reconnections.
  bool Open(const std::string& connection, const std::string& user, const std::string& password);
  // The same with two connections opened beforehand (for a connect made off the calling thread),
  // with the data the worker reconnects with.
  bool Open(std::unique_ptr<Ado_InterFacce> query, std::unique_ptr<Ado_InterFacce> writer,
            std::string connection, std::string user, std::string password);
  // The same without connection data: a lost write connection is then not reconnected, and the
  // queue waits for the stop.
  bool Open(std::unique_ptr<Ado_InterFacce> query, std::unique_ptr<Ado_InterFacce> writer);
  // Queues one statement; dropped without notice while the gateway is not open.
  void Post(const std::string& sql, SqlParams params = {}, WriteKind kind = WriteKind::kRecord);
  // Queues a list executed as one transaction (one statement alone runs on its own).
  void PostBatch(StatementList statements, WriteKind kind = WriteKind::kRecord);
  // Lets the worker write what is queued for at most budget, ends it and closes both connections.
  // Returns at once when nothing is queued, and within budget plus one time-out at most. What is still
  // queued when the budget ends is discarded, reported (kListsLost) and its number returned. Nothing
  // (0) when not open.
  size_t Stop(std::chrono::milliseconds budget);
  // Stop with the time-out as budget.
  size_t Stop();
  bool IsOpen() const { return open_; }

  // Called on the worker thread for each event; may be empty. Set it before Open.
  void SetReporter(Reporter reporter);
  // Positions dropped to bound the queue, in total.
  uint64_t DroppedPositions() const;
  // Lists waiting in the queue (not counting those the worker is writing).
  size_t QueueLength() const;

  // Queries on the caller's thread, bypassing the queue, each within the time-out; 0 while not open.
  int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
             std::vector<Ado_Row>& rows);
  int Select(const std::string& sql, const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
    return Select(sql, {}, columns, rows);
  }
  int SelectValue(const std::string& sql, const SqlParams& params = {});
  // The query connection (null while not open).
  Ado_InterFacce* connection() { return query_.get(); }

 private:
  using Clock = std::chrono::steady_clock;
  struct Entry {
    StatementList statements;
    WriteKind kind;
  };

  bool Start(std::unique_ptr<Ado_InterFacce> query, std::unique_ptr<Ado_InterFacce> writer);
  void Enqueue(StatementList statements, WriteKind kind);
  // Drops the oldest queued position (counted); false when none is queued. Needs queueLock_.
  bool EvictOldestPositionLocked();
  void Work();
  void Reconnect(Clock::time_point deadline);
  // Writes the lists; returns those left unwritten because the connection was lost (in order).
  std::vector<Entry> WriteGroup(std::vector<Entry> group, Clock::time_point deadline,
                                Clock::time_point stopDeadline);
  // False when the list was not written because the connection was lost.
  bool WriteList(const Entry& entry);
  void Report(WriteEvent::Kind kind, uint64_t count);

  ConnectionFactory factory_;
  Options options_;
  std::string connection_, user_, password_;  // for reconnections, when canReconnect_
  bool canReconnect_ = false;

  mutable std::mutex queueLock_;
  std::condition_variable wake_;
  // Guarded by queueLock_:
  std::deque<Entry> queue_;  // first in, first out
  bool stopping_ = false;
  Clock::time_point stopDeadline_ = Clock::time_point::max();
  uint64_t droppedTotal_ = 0;
  uint64_t droppedUnreported_ = 0;
  Clock::time_point nextDropReport_ = Clock::time_point::min();
  Reporter reporter_;

  std::unique_ptr<Ado_InterFacce> query_;
  // Touched only by the worker while it runs:
  std::unique_ptr<Ado_InterFacce> writer_;
  Clock::time_point nextAttempt_ = Clock::time_point::min();
  bool stopAttempted_ = false;  // the stop's one connection attempt was made
  size_t groupLimit_ = kGroupStatements;
  size_t lost_ = 0;  // lists the worker discarded when it ended

  std::thread worker_;
  bool open_ = false;
};
