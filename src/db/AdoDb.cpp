#include "db/AdoDb.h"

#include <chrono>
#include <system_error>
#include <utility>

#include "db/AdoCom.h"

Ado_Db::Ado_Db() : Ado_Db([] { return std::make_unique<Ado_Com>(); }) {}

Ado_Db::Ado_Db(ConnectionFactory factory) : factory_(std::move(factory)) {}

Ado_Db::~Ado_Db() { Stop(); }

bool Ado_Db::Open(const std::string& connection, const std::string& user, const std::string& password) {
  if (open_) return true;
  std::unique_ptr<Ado_InterFacce> query = factory_();
  std::unique_ptr<Ado_InterFacce> writer = factory_();
  if (!query || !writer || query->Open(connection, user, password) == 0 ||
      writer->Open(connection, user, password) == 0) {
    return false;
  }
  return Open(std::move(query), std::move(writer));
}

bool Ado_Db::Open(std::unique_ptr<Ado_InterFacce> query, std::unique_ptr<Ado_InterFacce> writer) {
  if (open_) return true;
  if (!query || !writer) return false;
  query_ = std::move(query);
  writer_ = std::move(writer);
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    stopping_ = false;
  }
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

void Ado_Db::Enqueue(StatementList statements) {
  if (!open_) return;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    queue_.push_back(std::move(statements));
  }
  wake_.notify_one();
}

void Ado_Db::Post(const std::string& sql, SqlParams params) {
  if (!open_) return;
  Enqueue(StatementList{Statement(sql, std::move(params))});
}

void Ado_Db::PostBatch(StatementList statements) { Enqueue(std::move(statements)); }

void Ado_Db::Stop() {
  if (!open_) return;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
  query_->Close();
  writer_->Close();
  query_.reset();
  writer_.reset();
  open_ = false;
}

void Ado_Db::Work() {
  for (;;) {
    StatementList statements;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      // On stop the queue is drained first; the worker ends when it finds it empty.
      if (queue_.empty()) return;
      statements = std::move(queue_.front());
      queue_.pop_front();
    }
    // The lock is not held while executing, so posting never waits for the database.
    if (statements.size() == 1) {
      writer_->Execute(statements.front());
    } else if (statements.size() > 1) {
      writer_->ExecuteBatch(statements);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kListPauseMs));
  }
}

int Ado_Db::Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
                   std::vector<Ado_Row>& rows) {
  return query_ ? query_->Select(sql, params, columns, rows) : 0;
}

int Ado_Db::SelectValue(const std::string& sql, const SqlParams& params) {
  return query_ ? query_->SelectValue(sql, params) : 0;
}
