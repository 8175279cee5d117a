#pragma once
// Database test helpers: the PostgreSQL server that scripts/test.sh starts (KAVRO_TEST_PG_*), a
// scratch database per test, temporary directories, both back ends behind one fixture, a stub
// connection that can hold its caller at a gate or play a lost server, a real connection held at a
// gate, and a fake server that lets libpq log in and then never answers.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "db/AdoCom.h"
#include "db/AdoSqlite.h"
#include "support/Loopback.h"

namespace dbtest {

inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The test server; available only when the test script exported its connection data.
struct PgServer {
  std::string host = Env("KAVRO_TEST_PG_HOST");
  int port = std::atoi(Env("KAVRO_TEST_PG_PORT").c_str());
  std::string user = Env("KAVRO_TEST_PG_USER");
  std::string database = Env("KAVRO_TEST_PG_DB");
  bool available() const { return !host.empty() && port > 0 && !user.empty() && !database.empty(); }
};

#define SKIP_WITHOUT_POSTGRES()                                                                       \
  if (!dbtest::PgServer().available())                                                                \
  GTEST_SKIP()                                                                                        \
      << "no PostgreSQL for this test: KAVRO_TEST_PG_HOST/PORT/USER/DB are not set (scripts/test.sh " \
         "starts one)"

inline int NextNumber() {
  static std::atomic<int> counter{0};
  return ++counter;
}

// A fresh, empty database on the test server, dropped when the test ends.
class ScratchDatabase {
 public:
  ScratchDatabase() : name_("kavro_t" + std::to_string(getpid()) + "_" + std::to_string(NextNumber())) {
    Admin("DROP DATABASE IF EXISTS " + name_);
    created_ = Admin("CREATE DATABASE " + name_) == 1;
  }
  ~ScratchDatabase() { Admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"); }
  bool created() const { return created_; }
  const std::string& name() const { return name_; }
  std::string ConnectionString() const { return ServerConnectionString(server_.host, server_.port, name_); }
  const PgServer& server() const { return server_; }

 private:
  int Admin(const std::string& sql) {
    Ado_Com admin;
    if (admin.Open(ServerConnectionString(server_.host, server_.port, server_.database), server_.user, "") ==
        0) {
      return 0;
    }
    return admin.Execute(sql);
  }

  PgServer server_;
  std::string name_;
  bool created_ = false;
};

// A directory of its own under the system's temporary directory, removed at the end.
class TempDir {
 public:
  TempDir()
      : path_(std::filesystem::temp_directory_path() /
              ("kavro-db-" + std::to_string(getpid()) + "-" + std::to_string(NextNumber()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  // The directory with a trailing "/", as programDirectory holds it.
  std::string Directory() const { return path_.string() + "/"; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

enum class Backend { kSqlite, kPostgres };

inline void PrintTo(Backend backend, std::ostream* out) {
  *out << (backend == Backend::kSqlite ? "SQLite" : "PostgreSQL");
}

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSqlite ? "Sqlite" : "Postgres";
}

// A test that runs on each back end: a file in a temporary directory, or a scratch server database.
class BackendTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kPostgres) {
      SKIP_WITHOUT_POSTGRES();
      scratch_ = std::make_unique<ScratchDatabase>();
      ASSERT_TRUE(scratch_->created());
    } else {
      dir_ = std::make_unique<TempDir>();
    }
  }

  std::unique_ptr<Ado_InterFacce> NewConnection() const {
    if (GetParam() == Backend::kPostgres) return std::make_unique<Ado_Com>();
    return std::make_unique<Ado_Sqlite>();
  }
  std::string ConnectionString() const {
    return GetParam() == Backend::kPostgres ? scratch_->ConnectionString() : dir_->File("test.db");
  }
  std::string User() const { return GetParam() == Backend::kPostgres ? scratch_->server().user : ""; }
  // A new connection, opened.
  std::unique_ptr<Ado_InterFacce> Connect() const {
    auto connection = NewConnection();
    EXPECT_EQ(connection->Open(ConnectionString(), User(), ""), 1);
    return connection;
  }
  // The key column numbered by the database in the order rows are added.
  std::string IdColumn() const {
    return GetParam() == Backend::kPostgres ? "ID int GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"
                                            : "ID INTEGER PRIMARY KEY";
  }
  // A query of five rows (column v) that fails while producing the third.
  std::string FailsAtThirdRow() const {
    if (GetParam() == Backend::kPostgres) return "select 10 / (3 - x) as v from generate_series(1, 5) as x";
    return "WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s WHERE x < 5) "
           "SELECT CASE WHEN x = 3 THEN abs(-9223372036854775807 - 1) ELSE x END AS v FROM s";
  }

 private:
  std::unique_ptr<ScratchDatabase> scratch_;
  std::unique_ptr<TempDir> dir_;
};

// A gate that holds threads until it is opened.
class Gate {
 public:
  explicit Gate(bool open = false) : open_(open) {}
  void Pass() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    --waiting_;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
  }
  bool IsOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
  }
  // Waits until a thread is held at the gate (or the deadline passes).
  bool WaitForWaiter() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return waiting_ > 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_;
  int waiting_ = 0;
};

// A connection that records the statements it executes; Open and Execute pass their gates first.
// While the shared "down" is set it plays a lost server: Open fails, and Execute and ExecuteBatch
// fail and close the connection. A batch is recorded whole or not at all.
class StubConnection : public Ado_InterFacce {
 public:
  struct Shared {
    Gate openGate{true};
    Gate executeGate{true};
    bool openResult = true;
    std::atomic<bool> down{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> executed;
    std::vector<size_t> calls;  // statements of each successful Execute (1) or ExecuteBatch
    std::atomic<int> opens{0};
    std::vector<std::string> Executed() {
      std::lock_guard<std::mutex> lock(mutex);
      return executed;
    }
    // Waits until count statements were executed (or the deadline passes).
    bool WaitForExecuted(size_t count) {
      std::unique_lock<std::mutex> lock(mutex);
      return changed.wait_for(lock, std::chrono::seconds(10), [&] { return executed.size() >= count; });
    }
  };
  explicit StubConnection(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

  using Ado_InterFacce::Execute;
  using Ado_InterFacce::Select;
  using Ado_InterFacce::SelectValue;
  int Select(const std::string&, const SqlParams&, const std::vector<std::string>&,
             std::vector<Ado_Row>&) override {
    return open_ ? 1 : 0;
  }
  int SelectValue(const std::string&, const SqlParams&) override { return open_ ? 7 : 0; }
  int Execute(const std::string& sql, const SqlParams&) override { return Record({sql}); }
  int ExecuteBatch(const StatementList& statements) override { return Record(statements); }
  int Close() override {
    open_ = false;
    return 1;
  }
  int Open(const std::string&, const std::string&, const std::string&) override {
    ++shared_->opens;
    shared_->openGate.Pass();
    open_ = shared_->openResult && !shared_->down;
    return open_ ? 1 : 0;
  }
  bool IsOpen() const override { return open_; }

 private:
  int Record(const StatementList& statements) {
    shared_->executeGate.Pass();
    if (shared_->down) {
      open_ = false;
      return 0;
    }
    std::lock_guard<std::mutex> lock(shared_->mutex);
    for (const Statement& s : statements) shared_->executed.push_back(s.sql);
    shared_->calls.push_back(statements.size());
    shared_->changed.notify_all();
    return 1;
  }

  std::shared_ptr<Shared> shared_;
  bool open_ = false;
};

// A real connection whose Execute and ExecuteBatch pass a gate first; records the statements of each
// call.
class GatedConnection : public Ado_InterFacce {
 public:
  struct Shared {
    Gate gate{true};
    std::mutex mutex;
    std::vector<size_t> calls;
  };
  GatedConnection(std::unique_ptr<Ado_InterFacce> inner, std::shared_ptr<Shared> shared)
      : inner_(std::move(inner)), shared_(std::move(shared)) {}

  using Ado_InterFacce::Execute;
  using Ado_InterFacce::Select;
  using Ado_InterFacce::SelectValue;
  int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
             std::vector<Ado_Row>& rows) override {
    return inner_->Select(sql, params, columns, rows);
  }
  int SelectValue(const std::string& sql, const SqlParams& params) override {
    return inner_->SelectValue(sql, params);
  }
  int Execute(const std::string& sql, const SqlParams& params) override {
    Called(1);
    return inner_->Execute(sql, params);
  }
  int ExecuteBatch(const StatementList& statements) override {
    Called(statements.size());
    return inner_->ExecuteBatch(statements);
  }
  int Close() override { return inner_->Close(); }
  int Open(const std::string& connection, const std::string& user, const std::string& password) override {
    return inner_->Open(connection, user, password);
  }
  bool IsOpen() const override { return inner_->IsOpen(); }
  void SetDeadline(std::chrono::steady_clock::time_point deadline) override { inner_->SetDeadline(deadline); }

 private:
  void Called(size_t statements) {
    shared_->gate.Pass();
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->calls.push_back(statements);
  }

  std::unique_ptr<Ado_InterFacce> inner_;
  std::shared_ptr<Shared> shared_;
};

// A loopback server that lets libpq log in (no encryption, no password) and then reads everything and
// answers nothing, as a frozen server does.
class FrozenServer {
 public:
  FrozenServer() : listener_(testsupport::ListenLoopback(port_)) {
    if (pipe(stop_) != 0) ADD_FAILURE() << "pipe";
    thread_ = std::thread([this] { Serve(); });
  }
  ~FrozenServer() {
    [[maybe_unused]] const ssize_t n = write(stop_[1], "x", 1);
    thread_.join();
    for (int fd : {listener_, stop_[0], stop_[1]}) close(fd);
  }
  std::string ConnectionString() const {
    return ServerConnectionString("127.0.0.1", port_, "frozen") + " sslmode=disable gssencmode=disable";
  }

 private:
  static uint32_t Int32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
  }
  void Serve() {
    struct Client {
      std::string input;
      bool loggedIn = false;
    };
    std::vector<pollfd> fds{{stop_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    std::vector<Client> clients(2);
    while (poll(fds.data(), fds.size(), -1) >= 0 && fds[0].revents == 0) {
      if ((fds[1].revents & POLLIN) != 0) {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd >= 0) {
          fds.push_back({fd, POLLIN, 0});
          clients.emplace_back();
        }
      }
      for (size_t i = 2; i < fds.size(); ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char block[4096];
        const ssize_t n = recv(fds[i].fd, block, sizeof block, 0);
        if (n <= 0) {
          close(fds[i].fd);
          fds[i].fd = -1;
          continue;
        }
        Client& client = clients[i];
        if (client.loggedIn) continue;
        client.input.append(block, static_cast<size_t>(n));
        // Start-up packets: length (with itself), then a code: a request for encryption is refused
        // ("N"); the start-up message is answered with "authentication ok" and "ready for query".
        while (client.input.size() >= 8 && client.input.size() >= Int32(client.input, 0)) {
          const uint32_t code = Int32(client.input, 4);
          client.input.erase(0, Int32(client.input, 0));
          if (code == 80877103 || code == 80877104) {
            testsupport::SendAll(fds[i].fd, "N");
            continue;
          }
          testsupport::SendAll(fds[i].fd, std::string("R\0\0\0\x08\0\0\0\0Z\0\0\0\x05I", 15));
          client.loggedIn = true;
          break;
        }
      }
    }
    for (size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].fd >= 0) close(fds[i].fd);
    }
  }

  int port_ = 0;
  int listener_;
  int stop_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace dbtest
