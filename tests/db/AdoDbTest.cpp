// The write gateway: queue order, transactions, draining on stop, posts while closed, reopening, and
// that neither a writer nor a query waits for a running statement.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "db/AdoDb.h"
#include "db/DbTestSupport.h"

namespace {

using dbtest::Backend;
using dbtest::StubConnection;

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

}  // namespace
