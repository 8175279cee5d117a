#include "db/AdoDb.h"

#include <algorithm>
#include <iterator>
#include <system_error>
#include <utility>

#include "db/AdoCom.h"

namespace {

constexpr auto kNoLimit = std::chrono::steady_clock::time_point::max();

}  // namespace

Ado_Db::Ado_Db() : Ado_Db(ConnectionFactory{}, Options{}) {}

Ado_Db::Ado_Db(ConnectionFactory factory) : Ado_Db(std::move(factory), Options{}) {}

Ado_Db::Ado_Db(ConnectionFactory factory, Options options) : factory_(std::move(factory)), options_(options) {
  if (!factory_) factory_ = [] { return std::make_unique<Ado_Com>(); };
}

Ado_Db::~Ado_Db() { Stop(); }

bool Ado_Db::Open(const std::string& connection, const std::string& user, const std::string& password) {
  if (open_) return true;
  std::unique_ptr<Ado_InterFacce> query = factory_();
  std::unique_ptr<Ado_InterFacce> writer = factory_();
  if (!query || !writer) return false;
  for (Ado_InterFacce* opening : {query.get(), writer.get()}) {
    opening->SetDeadline(Clock::now() + options_.timeout);
    if (opening->Open(connection, user, password) == 0) return false;
    opening->SetDeadline(kNoLimit);
  }
  return Open(std::move(query), std::move(writer), connection, user, password);
}

bool Ado_Db::Open(std::unique_ptr<Ado_InterFacce> query, std::unique_ptr<Ado_InterFacce> writer,
                  std::string connection, std::string user, std::string password) {
  if (open_) return true;
  connection_ = std::move(connection);
  user_ = std::move(user);
  password_ = std::move(password);
  canReconnect_ = true;
  return Start(std::move(query), std::move(writer));
}

bool Ado_Db::Open(std::unique_ptr<Ado_InterFacce> query, std::unique_ptr<Ado_InterFacce> writer) {
  if (open_) return true;
  connection_.clear();
  user_.clear();
  password_.clear();
  canReconnect_ = false;
  return Start(std::move(query), std::move(writer));
}

bool Ado_Db::Start(std::unique_ptr<Ado_InterFacce> query, std::unique_ptr<Ado_InterFacce> writer) {
  // Without a query connection the gateway only writes (queries then fail).
  if (!writer) return false;
  query_ = std::move(query);
  writer_ = std::move(writer);
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    stopping_ = false;
    stopDeadline_ = kNoLimit;
  }
  nextAttempt_ = Clock::time_point::min();
  stopAttempted_ = false;
  groupLimit_ = kGroupStatements;
  lost_ = 0;
  try {
    worker_ = std::thread(&Ado_Db::Work, this);
  } catch (const std::system_error&) {
    query_.reset();
    writer_.reset();
    return false;
  }
  open_ = true;
  return true;
}

void Ado_Db::SetReporter(Reporter reporter) {
  std::lock_guard<std::mutex> lock(queueLock_);
  reporter_ = std::move(reporter);
}

uint64_t Ado_Db::DroppedPositions() const {
  std::lock_guard<std::mutex> lock(queueLock_);
  return droppedTotal_;
}

size_t Ado_Db::QueueLength() const {
  std::lock_guard<std::mutex> lock(queueLock_);
  return queue_.size();
}

bool Ado_Db::EvictOldestPositionLocked() {
  const auto oldest = std::find_if(queue_.begin(), queue_.end(),
                                   [](const Entry& e) { return e.kind == WriteKind::kPosition; });
  if (oldest == queue_.end()) return false;
  queue_.erase(oldest);
  ++droppedTotal_;
  ++droppedUnreported_;
  return true;
}

void Ado_Db::Enqueue(StatementList statements, WriteKind kind) {
  if (!open_ || statements.empty()) return;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    if (stopping_) return;
    if (queue_.size() >= options_.queueLimit) {
      if (kind == WriteKind::kPosition) {
        ++droppedTotal_;
        ++droppedUnreported_;
        // The worker needs waking only when the drop is to be reported now.
        if (Clock::now() >= nextDropReport_) wake_.notify_one();
        return;
      }
      // A record takes the place of the oldest position; with none queued it is queued all the same.
      EvictOldestPositionLocked();
    }
    queue_.push_back(Entry{std::move(statements), kind});
  }
  wake_.notify_one();
}

void Ado_Db::Post(const std::string& sql, SqlParams params, WriteKind kind) {
  if (!open_) return;
  Enqueue(StatementList{Statement(sql, std::move(params))}, kind);
}

void Ado_Db::PostBatch(StatementList statements, WriteKind kind) { Enqueue(std::move(statements), kind); }

size_t Ado_Db::Stop(std::chrono::milliseconds budget) {
  if (!open_) return 0;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    stopping_ = true;
    stopDeadline_ = Clock::now() + budget;
  }
  wake_.notify_all();
  worker_.join();
  if (query_) query_->Close();
  if (writer_) writer_->Close();
  query_.reset();
  writer_.reset();
  open_ = false;
  return lost_;
}

size_t Ado_Db::Stop() { return Stop(options_.timeout); }

void Ado_Db::Report(WriteEvent::Kind kind, uint64_t count) {
  Reporter reporter;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    reporter = reporter_;
  }
  // Called without the lock, so that the reporter may use the gateway.
  if (reporter) reporter(WriteEvent{kind, count});
}

void Ado_Db::Work() {
  enum class Step { kReport, kReconnect, kWrite, kEnd };
  for (;;) {
    Step step = Step::kReport;
    uint64_t dropped = 0;
    std::vector<Entry> group;
    Clock::time_point deadline;
    Clock::time_point stopDeadline;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      const Clock::time_point now = Clock::now();
      if (droppedUnreported_ > 0 && now >= nextDropReport_) {
        dropped = droppedUnreported_;
        droppedUnreported_ = 0;
        nextDropReport_ = now + kDropReportInterval;
      }
      const bool connected = writer_ != nullptr && writer_->IsOpen();
      stopDeadline = stopping_ ? stopDeadline_ : kNoLimit;
      // A stop without a connection tries one connection at once; when that fails the server is
      // unreachable and the stop does not wait for more attempts.
      if (stopping_ &&
          (queue_.empty() || now >= stopDeadline_ || (!connected && (!canReconnect_ || stopAttempted_)))) {
        // The end: what could not be written in time is discarded.
        step = Step::kEnd;
        lost_ = queue_.size();
        queue_.clear();
        dropped += droppedUnreported_;
        droppedUnreported_ = 0;
      } else if (!queue_.empty() && connected) {
        // Whole lists, up to the group limit (at least one list).
        step = Step::kWrite;
        size_t statements = 0;
        while (!queue_.empty() &&
               (group.empty() || statements + queue_.front().statements.size() <= groupLimit_)) {
          statements += queue_.front().statements.size();
          group.push_back(std::move(queue_.front()));
          queue_.pop_front();
        }
      } else if (!queue_.empty() && (now >= nextAttempt_ || stopping_)) {
        step = Step::kReconnect;
        if (stopping_) stopAttempted_ = true;
      } else if (dropped == 0) {
        // Nothing to do before a post, a stop, the next reconnection or the next drop report.
        Clock::time_point until = stopDeadline;
        if (droppedUnreported_ > 0) until = std::min(until, nextDropReport_);
        if (!queue_.empty()) until = std::min(until, nextAttempt_);
        if (until == kNoLimit) {
          wake_.wait(lock);
        } else {
          wake_.wait_until(lock, until);
        }
        continue;
      }
      deadline = std::min(now + options_.timeout, stopDeadline);
    }
    // The lock is not held from here on, so posting never waits for the database.
    if (dropped > 0) Report(WriteEvent::Kind::kPositionsDropped, dropped);
    switch (step) {
      case Step::kReport:
        break;
      case Step::kEnd:
        if (lost_ > 0) Report(WriteEvent::Kind::kListsLost, lost_);
        return;
      case Step::kReconnect:
        Reconnect(deadline);
        break;
      case Step::kWrite: {
        std::vector<Entry> unwritten = WriteGroup(std::move(group), deadline, stopDeadline);
        if (unwritten.empty()) break;
        // Back to the front, in their order, for after the reconnection.
        std::lock_guard<std::mutex> lock(queueLock_);
        queue_.insert(queue_.begin(), std::make_move_iterator(unwritten.begin()),
                      std::make_move_iterator(unwritten.end()));
        while (queue_.size() > options_.queueLimit) {
          if (!EvictOldestPositionLocked()) break;
        }
        break;
      }
    }
  }
}

void Ado_Db::Reconnect(Clock::time_point deadline) {
  nextAttempt_ = Clock::now() + options_.reconnectInterval;
  std::unique_ptr<Ado_InterFacce> fresh = canReconnect_ ? factory_() : nullptr;
  bool opened = false;
  if (fresh) {
    fresh->SetDeadline(deadline);
    opened = fresh->Open(connection_, user_, password_) == 1;
  }
  if (!opened) {
    Report(WriteEvent::Kind::kConnectFailed, 1);
    return;
  }
  writer_ = std::move(fresh);
  Report(WriteEvent::Kind::kReconnected, 1);
}

bool Ado_Db::WriteList(const Entry& entry) {
  const StatementList& list = entry.statements;
  const int ok = list.size() == 1 ? writer_->Execute(list.front()) : writer_->ExecuteBatch(list);
  // A list the database refused (a bad statement) is not retried; only a lost connection keeps it.
  return ok == 1 || writer_->IsOpen();
}

std::vector<Ado_Db::Entry> Ado_Db::WriteGroup(std::vector<Entry> group, Clock::time_point deadline,
                                              Clock::time_point stopDeadline) {
  size_t statements = 0;
  for (const Entry& entry : group) statements += entry.statements.size();
  writer_->SetDeadline(deadline);
  size_t written = 0;
  if (group.size() == 1) {
    if (WriteList(group.front())) written = 1;
  } else {
    StatementList all;
    all.reserve(statements);
    for (const Entry& entry : group) all.insert(all.end(), entry.statements.begin(), entry.statements.end());
    if (writer_->ExecuteBatch(all) == 1) {
      written = group.size();
    } else if (writer_->IsOpen()) {
      // Refused as a whole (by a statement, or at the commit): each list on its own, so that one bad
      // list never costs its neighbours.
      for (; written < group.size(); ++written) {
        writer_->SetDeadline(std::min(Clock::now() + options_.timeout, stopDeadline));
        if (!WriteList(group[written])) break;
      }
    }
  }
  // A group that outlived its deadline is halved for the next attempt, so that a slow server still
  // gets through; full groups return with success.
  if (written == 0 && statements > 1) {
    groupLimit_ = std::max<size_t>(1, statements / 2);
  } else if (written == group.size()) {
    groupLimit_ = std::min(kGroupStatements, groupLimit_ * 2);
  }
  writer_->SetDeadline(kNoLimit);
  return {std::make_move_iterator(group.begin() + static_cast<std::ptrdiff_t>(written)),
          std::make_move_iterator(group.end())};
}

int Ado_Db::Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
                   std::vector<Ado_Row>& rows) {
  if (!query_) return 0;
  query_->SetDeadline(Clock::now() + options_.timeout);
  const int ok = query_->Select(sql, params, columns, rows);
  query_->SetDeadline(kNoLimit);
  return ok;
}

int Ado_Db::SelectValue(const std::string& sql, const SqlParams& params) {
  if (!query_) return 0;
  query_->SetDeadline(Clock::now() + options_.timeout);
  const int value = query_->SelectValue(sql, params);
  query_->SetDeadline(kNoLimit);
  return value;
}
