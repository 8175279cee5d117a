#include "db/ServerQueries.h"

#include <future>
#include <system_error>
#include <utility>

std::vector<std::string> ParamTexts(const SqlParams& params) {
  std::vector<std::string> texts;
  texts.reserve(params.size());
  for (const SqlParam& p : params) texts.push_back(p.kind() == SqlParam::Kind::kNull ? "\x01NULL" : p.AsText());
  return texts;
}

int QueryRecorder::Select(const std::string& sql, const SqlParams& params,
                          const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
  QueryAnswer answer;
  answer.sql = sql;
  answer.params = ParamTexts(params);
  answer.ok = connection_ != nullptr && connection_->Select(sql, params, columns, answer.rows) == 1;
  rows.insert(rows.end(), answer.rows.begin(), answer.rows.end());
  answers_.push_back(std::move(answer));
  return answers_.back().ok ? 1 : 0;
}

ServerQueries::ServerQueries(Poster post, Factory factory) : post_(std::move(post)), factory_(std::move(factory)) {}

ServerQueries::~ServerQueries() { Stop(); }

void ServerQueries::Start(std::unique_ptr<Ado_InterFacce> connection, std::string connectionText,
                          std::string user, std::string password, std::chrono::milliseconds timeout,
                          std::chrono::milliseconds reconnectInterval) {
  if (running_) return;
  connection_ = std::move(connection);
  connectionText_ = std::move(connectionText);
  user_ = std::move(user);
  password_ = std::move(password);
  timeout_ = timeout;
  reconnectInterval_ = reconnectInterval;
  attempted_ = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = false;
  }
  try {
    worker_ = std::thread(&ServerQueries::Loop, this);
  } catch (const std::system_error&) {
    connection_.reset();
    return;
  }
  running_ = true;
}

void ServerQueries::Stop() {
  if (!running_) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
  running_ = false;
  if (connection_) connection_->Close();
  connection_.reset();
}

size_t ServerQueries::Pending() const {
  std::lock_guard<std::mutex> guard(lock_);
  return queue_.size() + busy_;
}

void ServerQueries::Enqueue(Work work, std::function<void(std::vector<QueryAnswer>)> finish) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!stopping_ && running_) {
      queue_.push_back(Job{std::move(work), std::move(finish), Clock::now() + timeout_});
      wake_.notify_one();
      return;
    }
  }
  // Not running: every query of the work fails at once.
  QueryRecorder failed(nullptr);
  work(failed);
  finish(std::move(failed.answers()));
}

void ServerQueries::Run(Work work, Done done) {
  Enqueue(std::move(work), [post = post_, done = std::move(done)](std::vector<QueryAnswer> answers) {
    post([done, answers = std::move(answers)]() mutable { done(std::move(answers)); });
  });
}

std::vector<QueryAnswer> ServerQueries::RunAndWait(Work work) {
  std::promise<std::vector<QueryAnswer>> promise;
  std::future<std::vector<QueryAnswer>> future = promise.get_future();
  Enqueue(std::move(work), [&promise](std::vector<QueryAnswer> answers) { promise.set_value(std::move(answers)); });
  return future.get();
}

bool ServerQueries::EnsureConnected(Clock::time_point deadline) {
  if (connection_ && connection_->IsOpen()) return true;
  const Clock::time_point now = Clock::now();
  if (attempted_ && now - lastAttempt_ < reconnectInterval_) return false;
  attempted_ = true;
  lastAttempt_ = now;
  std::unique_ptr<Ado_InterFacce> fresh = factory_ ? factory_() : nullptr;
  if (fresh) {
    fresh->SetDeadline(deadline);
    if (fresh->Open(connectionText_, user_, password_) == 1) {
      connection_ = std::move(fresh);
      attempted_ = false;
      return true;
    }
  }
  if (failureReport_) failureReport_();
  return false;
}

void ServerQueries::Loop() {
  for (;;) {
    Job job;
    bool stopping = false;
    {
      std::unique_lock<std::mutex> guard(lock_);
      wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      stopping = stopping_;
      job = std::move(queue_.front());
      queue_.pop_front();
      busy_ = 1;
    }
    // Work queued before a stop, or past its deadline, fails without a round trip.
    Ado_InterFacce* connection = nullptr;
    if (!stopping && Clock::now() < job.deadline && EnsureConnected(job.deadline)) {
      connection = connection_.get();
      connection->SetDeadline(job.deadline);
    }
    QueryRecorder recorder(connection);
    job.work(recorder);
    for (const QueryAnswer& answer : recorder.answers()) {
      if (!answer.ok) failures_.fetch_add(1, std::memory_order_relaxed);
    }
    if (connection != nullptr) connection->SetDeadline(Clock::time_point::max());
    job.finish(std::move(recorder.answers()));
    std::lock_guard<std::mutex> guard(lock_);
    busy_ = 0;
  }
}
