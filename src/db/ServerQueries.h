#pragma once
// Round trips to the server database, off the main thread: one worker with a connection of its own runs
// the queued queries in order. Each query has a deadline (the time-out after it was queued); a query
// that misses it fails, and the connection is dropped and made again for the next one, at most once per
// reconnect interval. Results are handed back through the poster, on the main thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/AdoInterface.h"

// One answered query: its text and parameters, whether it ran, and its rows.
struct QueryAnswer {
  std::string sql;
  std::vector<std::string> params;  // as text, for matching
  bool ok = false;
  std::vector<Ado_Row> rows;
};

// The queries of one piece of work, run on the worker; each Select is answered and kept.
class QueryRecorder {
 public:
  explicit QueryRecorder(Ado_InterFacce* connection) : connection_(connection) {}
  int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
             std::vector<Ado_Row>& rows);
  std::vector<QueryAnswer>& answers() { return answers_; }

 private:
  Ado_InterFacce* connection_;  // null: every query fails
  std::vector<QueryAnswer> answers_;
};

// Parameters as text, the key a query's answer is found by.
std::vector<std::string> ParamTexts(const SqlParams& params);

class ServerQueries {
 public:
  using Poster = std::function<void(std::function<void()>)>;
  using Factory = std::function<std::unique_ptr<Ado_InterFacce>()>;
  using Clock = std::chrono::steady_clock;
  // Runs on the worker with the recorder of the piece of work.
  using Work = std::function<void(QueryRecorder&)>;
  // Runs on the main thread with the answers of the piece of work.
  using Done = std::function<void(std::vector<QueryAnswer>)>;
  // Called on the worker after each failed connection attempt.
  using FailureReport = std::function<void()>;

  ServerQueries(Poster post, Factory factory);
  ~ServerQueries();
  ServerQueries(const ServerQueries&) = delete;
  ServerQueries& operator=(const ServerQueries&) = delete;

  // Starts the worker with a connection opened beforehand (it may be null or closed: the worker then
  // connects with the stored data before the first query).
  void Start(std::unique_ptr<Ado_InterFacce> connection, std::string connectionText, std::string user,
             std::string password, std::chrono::milliseconds timeout,
             std::chrono::milliseconds reconnectInterval);
  // Ends the worker: queued work fails at once (its Done is still posted); waits at most for the query
  // running now, which its deadline bounds.
  void Stop();
  bool Running() const { return running_; }
  void SetFailureReport(FailureReport report) { failureReport_ = std::move(report); }

  // Queues work whose answers come back through post.
  void Run(Work work, Done done);
  // Queues work and waits for it on the calling thread (bounded by the deadline).
  std::vector<QueryAnswer> RunAndWait(Work work);
  // Entries queued and running.
  size_t Pending() const;
  // Queries the worker ran that failed or missed their deadline, in total; any thread may read it.
  uint64_t Failures() const { return failures_.load(std::memory_order_relaxed); }

 private:
  struct Job {
    Work work;
    std::function<void(std::vector<QueryAnswer>)> finish;  // called on the worker
    Clock::time_point deadline;
  };
  void Enqueue(Work work, std::function<void(std::vector<QueryAnswer>)> finish);
  void Loop();
  bool EnsureConnected(Clock::time_point deadline);

  Poster post_;
  Factory factory_;
  FailureReport failureReport_;
  std::string connectionText_, user_, password_;
  std::chrono::milliseconds timeout_{3000};
  std::chrono::milliseconds reconnectInterval_{5000};
  std::unique_ptr<Ado_InterFacce> connection_;  // the worker's while it runs
  Clock::time_point lastAttempt_{};
  bool attempted_ = false;
  std::atomic<uint64_t> failures_{0};  // written by the worker

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Job> queue_;  // guarded by lock_
  bool stopping_ = false;  // guarded by lock_
  size_t busy_ = 0;        // guarded by lock_: 1 while a job runs
  std::thread worker_;
  bool running_ = false;
};
