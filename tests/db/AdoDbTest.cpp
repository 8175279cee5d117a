// The write gateway: queue order, transactions, groups and their fallback, draining on stop, posts
// while closed, reopening, that neither a writer nor a query waits for a running statement, the queue
// bound, reconnection after a lost connection, and a stop that gives up on a server that is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "db/AdoDb.h"
#include "db/DbTestSupport.h"

namespace {

using dbtest::Backend;
using dbtest::StubConnection;
using Clock = std::chrono::steady_clock;
constexpr Ado_Db::WriteKind kPosition = Ado_Db::WriteKind::kPosition;

// The events a gateway reported, as "dropped 4", "failed 1", "reconnected 1", "lost 3".
class EventLog {
 public:
  Ado_Db::Reporter Reporter() {
    return [this](const Ado_Db::WriteEvent& event) {
      static const char* const kNames[] = {"failed", "reconnected", "dropped", "lost"};
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::string(kNames[static_cast<int>(event.kind)]) + " " +
                        std::to_string(event.count));
      changed_.notify_all();
    };
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // Waits until an event was reported as text (or the deadline passes).
  bool WaitFor(const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
      return std::find(events_.begin(), events_.end(), text) != events_.end();
    });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
};

class AdoDbTest : public dbtest::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    inspector = Connect();
    ASSERT_EQ(inspector->Execute("CREATE TABLE q(" + IdColumn() + ", seq int, v varchar(64))"), 1);
  }
  bool Open(Ado_Db& db) const { return db.Open(ConnectionString(), User(), ""); }
  // seq:v of every row, in the order the rows were added.
  std::vector<std::string> Rows() {
    std::vector<Ado_Row> rows;
    EXPECT_EQ(inspector->Select("SELECT seq, v FROM q ORDER BY ID", {"seq", "v"}, rows), 1);
    std::vector<std::string> out;
    for (Ado_Row& row : rows) out.push_back(FieldText(row["seq"]) + ":" + FieldText(row["v"]));
    return out;
  }

  std::unique_ptr<Ado_InterFacce> inspector;
};

TEST_P(AdoDbTest, ListsRunInPostingOrderAndBatchesAsTransactions) {
  Ado_Db db([this] { return NewConnection(); });
  ASSERT_TRUE(Open(db));
  db.Post("INSERT INTO q(seq, v) VALUES (1, 'a')");
  db.Post("UPDATE q SET v = v || $1 WHERE seq = 1", {"b"});
  db.Post("INSERT INTO q(seq, v) VALUES ($1, $2)", {2, "x"});
  db.PostBatch({{"UPDATE q SET v = v || $1 WHERE seq = 1", {"c"}},
                "INSERT INTO nowhere VALUES (1)",
                {"INSERT INTO q(seq, v) VALUES ($1, $2)", {3, "' OR '1'='1"}}});
  db.Post("UPDATE q SET v = v || 'd' WHERE seq = 1");
  db.PostBatch({{"INSERT INTO q(seq, v) VALUES ($1, $2)", {4, "O'Brien"}}});
  db.Stop();
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1:abcd", "2:x", "3:' OR '1'='1", "4:O'Brien"}));
}

TEST_P(AdoDbTest, StopExecutesEverythingQueuedFirst) {
  Ado_Db db([this] { return NewConnection(); });
  ASSERT_TRUE(Open(db));
  for (int i = 1; i <= 8; ++i) db.Post("INSERT INTO q(seq, v) VALUES ($1, 'n')", {i});
  db.Stop();
  EXPECT_EQ(Rows().size(), 8u);
}

TEST_P(AdoDbTest, PostsWhileClosedAreDroppedAndReopeningWorks) {
  Ado_Db db([this] { return NewConnection(); });
  db.Post("INSERT INTO q(seq, v) VALUES (1, 'before open')");
  db.PostBatch({"INSERT INTO q(seq, v) VALUES (1, 'a')", "INSERT INTO q(seq, v) VALUES (1, 'b')"});
  std::vector<Ado_Row> rows;
  EXPECT_EQ(db.Select("SELECT seq FROM q", {"seq"}, rows), 0);
  ASSERT_TRUE(Open(db));
  db.Post("INSERT INTO q(seq, v) VALUES (2, 'open')");
  db.Stop();
  db.Post("INSERT INTO q(seq, v) VALUES (3, 'after stop')");
  ASSERT_TRUE(Open(db));
  db.Post("INSERT INTO q(seq, v) VALUES (4, 'reopened')");
  EXPECT_EQ(db.Select("SELECT seq FROM q WHERE seq = $1", {2}, {"seq"}, rows), 1);
  EXPECT_EQ(rows.size(), 1u);
  db.Stop();
  db.Stop();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"2:open", "4:reopened"}));
}

TEST_P(AdoDbTest, GroupRefusedAtItsCommitFallsBackToEachListAlone) {
  ASSERT_EQ(inspector->Execute("CREATE TABLE parent(id int PRIMARY KEY)"), 1);
  ASSERT_EQ(
      inspector->Execute("CREATE TABLE child(p int REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED)"), 1);
  auto gated = std::make_shared<dbtest::GatedConnection::Shared>();
  Ado_Db db([this, gated] { return std::make_unique<dbtest::GatedConnection>(NewConnection(), gated); });
  ASSERT_TRUE(Open(db));
  // The worker is held in a first statement while the lists below queue up, so they form one group.
  gated->gate.Close();
  db.Post(GetParam() == Backend::kSqlite ? "PRAGMA foreign_keys=ON" : "SET client_min_messages = warning");
  ASSERT_TRUE(gated->gate.WaitForWaiter());
  db.Post("INSERT INTO q(seq, v) VALUES (1, 'a')");
  db.PostBatch({"INSERT INTO q(seq, v) VALUES (2, 'b')", "INSERT INTO nowhere VALUES (1)",
                "INSERT INTO q(seq, v) VALUES (3, 'c')"});
  db.Post("INSERT INTO nowhere VALUES (2)");
  db.PostBatch({"INSERT INTO q(seq, v) VALUES (4, 'refused at commit')", "INSERT INTO child(p) VALUES (9)"},
               kPosition);
  db.Post("INSERT INTO q(seq, v) VALUES (5, 'e')", {}, kPosition);
  gated->gate.Open();
  EXPECT_EQ(db.Stop(std::chrono::seconds(10)), 0u);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1:a", "2:b", "3:c", "5:e"}));
  // The first statement, the group of 8, then each list alone.
  EXPECT_EQ(gated->calls, (std::vector<size_t>{1, 8, 1, 3, 1, 2, 1}));
}

TEST_P(AdoDbTest, ConnectionCutByTheServerIsReconnectedAndNothingIsLost) {
  if (GetParam() == Backend::kSqlite) GTEST_SKIP() << "a local file has no connection to cut";
  EventLog log;
  Ado_Db db([this] { return NewConnection(); }, {std::chrono::seconds(5), 100, std::chrono::milliseconds(1)});
  db.SetReporter(log.Reporter());
  ASSERT_TRUE(Open(db));
  const std::string others =
      "FROM pg_stat_activity WHERE datname = current_database() AND pid <> pg_backend_pid()";
  // Both sessions end before anything is posted (the call waits for that), so no statement races it.
  ASSERT_EQ(
      inspector->SelectValue("SELECT count(*) FILTER (WHERE pg_terminate_backend(pid, 10000)) " + others), 2);
  for (int i = 1; i <= 3; ++i) db.Post("INSERT INTO q(seq, v) VALUES ($1, 'n')", {i});
  db.PostBatch({"INSERT INTO q(seq, v) VALUES (4, 'n')", "INSERT INTO q(seq, v) VALUES (5, 'n')"});
  EXPECT_EQ(db.Stop(std::chrono::seconds(10)), 0u);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1:n", "2:n", "3:n", "4:n", "5:n"}));
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"reconnected 1"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, AdoDbTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         dbtest::BackendName);

TEST(AdoDbStubTest, NeitherPostNorQueryWaitsForARunningStatement) {
  auto shared = std::make_shared<StubConnection::Shared>();
  shared->executeGate.Close();
  Ado_Db db([shared] { return std::make_unique<StubConnection>(shared); });
  ASSERT_TRUE(db.Open("stub", "", ""));
  db.Post("one");
  ASSERT_TRUE(shared->executeGate.WaitForWaiter());  // the worker is inside "one"

  auto posting = std::async(std::launch::async, [&] {
    db.Post("two");
    db.PostBatch({"three", "four"});
    std::vector<Ado_Row> rows;
    return db.Select("q", {"v"}, rows) + db.SelectValue("q");
  });
  const bool returned = posting.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  shared->executeGate.Open();
  ASSERT_TRUE(returned);
  EXPECT_EQ(posting.get(), 1 + 7);
  db.Stop();
  EXPECT_EQ(shared->Executed(), (std::vector<std::string>{"one", "two", "three", "four"}));
}

// With room for 4 lists: a position finding the queue full is dropped; a record evicts the oldest
// queued position, or is queued beyond the limit when there is none. Drops are reported at once, then
// at most once per interval, and the rest when the gateway stops.
TEST(AdoDbStubTest, FullQueueDropsPositionsOldestFirstAndNeverRecords) {
  auto shared = std::make_shared<StubConnection::Shared>();
  EventLog log;
  Ado_Db db([shared] { return std::make_unique<StubConnection>(shared); },
            {std::chrono::seconds(5), 4, std::chrono::seconds(5)});
  db.SetReporter(log.Reporter());
  ASSERT_TRUE(db.Open("stub", "", ""));
  const auto post = [&db](const std::string& name) {
    db.Post(name, {}, name[0] == 'p' ? kPosition : Ado_Db::WriteKind::kRecord);
  };
  // Each round: one list held at the gate, then posts against the full queue.
  const std::vector<std::vector<std::string>> rounds = {
      {"r0", "p1", "r2", "p3", "r4", "p5", "r6", "r7", "r8", "p9"},
      {"r10", "p11", "p12", "p13", "p14", "p15", "p16", "r17"},
  };
  const std::vector<uint64_t> droppedAfter = {4, 4 + 3};
  const std::vector<size_t> queuedAfter = {5, 4};
  size_t executed = 0;
  for (size_t round = 0; round < rounds.size(); ++round) {
    shared->executeGate.Close();
    post(rounds[round][0]);
    ASSERT_TRUE(shared->executeGate.WaitForWaiter());
    for (size_t i = 1; i < rounds[round].size(); ++i) post(rounds[round][i]);
    EXPECT_EQ(db.DroppedPositions(), droppedAfter[round]);
    EXPECT_EQ(db.QueueLength(), queuedAfter[round]);
    shared->executeGate.Open();
    executed += 1 + queuedAfter[round];
    ASSERT_TRUE(shared->WaitForExecuted(executed));
  }
  // The drops of the second round came within the interval: held back until the stop.
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"dropped 4"}));
  EXPECT_EQ(db.Stop(), 0u);
  EXPECT_EQ(shared->Executed(), (std::vector<std::string>{"r0", "r2", "r4", "r6", "r7", "r8", "r10", "p12",
                                                          "p13", "p14", "r17"}));
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"dropped 4", "dropped 3"}));
}

// The connection is lost under a list and the server stays away for a while: every list waits in the
// queue, each failed attempt is reported once, and after the reconnection all are written in order.
TEST(AdoDbStubTest, LostConnectionKeepsTheQueueUntilTheReconnection) {
  auto shared = std::make_shared<StubConnection::Shared>();
  EventLog log;
  Ado_Db db([shared] { return std::make_unique<StubConnection>(shared); },
            {std::chrono::seconds(5), 100, std::chrono::milliseconds(5)});
  db.SetReporter(log.Reporter());
  ASSERT_TRUE(db.Open("stub", "", ""));
  shared->executeGate.Close();
  db.Post("a");
  ASSERT_TRUE(shared->executeGate.WaitForWaiter());
  shared->down = true;
  db.Post("b");
  db.PostBatch({"c1", "c2"});
  shared->executeGate.Open();
  ASSERT_TRUE(log.WaitFor("failed 1"));
  db.Post("d", {}, kPosition);
  shared->down = false;
  ASSERT_TRUE(shared->WaitForExecuted(5));
  EXPECT_EQ(db.Stop(), 0u);
  EXPECT_EQ(shared->Executed(), (std::vector<std::string>{"a", "b", "c1", "c2", "d"}));
  // Two opens for Open, then one per attempt: all failed but the last.
  const std::vector<std::string> events = log.Events();
  ASSERT_EQ(events.size(), static_cast<size_t>(shared->opens.load() - 2));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "reconnected 1");
  EXPECT_EQ(std::count(events.begin(), events.end(), "failed 1"), shared->opens.load() - 3);
}

// A stop while the server is gone gives up when its budget ends: one attempt per reconnect interval,
// and the lists still queued are counted as lost. Once with a server that refuses connections, once
// with a real connection to a server that stops answering.
TEST(AdoDbStubTest, StopGivesUpOnAServerThatIsGone) {
  auto shared = std::make_shared<StubConnection::Shared>();
  dbtest::FrozenServer frozen;
  const Ado_Db::Options options{std::chrono::milliseconds(200), 100, std::chrono::hours(1)};
  for (const bool stub : {true, false}) {
    SCOPED_TRACE(stub ? "server gone" : "server frozen");
    EventLog log;
    Ado_Db db(stub ? Ado_Db::ConnectionFactory([shared] { return std::make_unique<StubConnection>(shared); })
                   : Ado_Db::ConnectionFactory(),
              options);
    db.SetReporter(log.Reporter());
    ASSERT_TRUE(db.Open(frozen.ConnectionString(), "u", ""));
    shared->down = true;
    db.Post("INSERT INTO t VALUES (1)");
    db.PostBatch({"INSERT INTO t VALUES (2)", "INSERT INTO t VALUES (3)"});
    db.Post("INSERT INTO t VALUES (4)", {}, kPosition);
    if (stub) {
      ASSERT_TRUE(log.WaitFor("failed 1"));
    }
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(db.Stop(std::chrono::milliseconds(300)), 3u);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(db.IsOpen());
    const std::vector<std::string> events = log.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "lost 3");
    if (stub) {  // the stop tries once more at once, then gives up
      EXPECT_EQ(events, (std::vector<std::string>{"failed 1", "failed 1", "lost 3"}));
    }
  }
  EXPECT_EQ(shared->opens.load(), 4);
  EXPECT_TRUE(shared->Executed().empty());
}

}  // namespace
