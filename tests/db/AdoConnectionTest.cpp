// One connection on each back end: results, rows up to an error, column look-ups, transactions and
// bound parameters; and the deadline of a server connection when the server stops answering.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "db/AdoRow.h"
#include "db/DbTestSupport.h"
#include "support/Loopback.h"

namespace {

using dbtest::Backend;
using dbtest::BackendTest;

TEST(FieldTextTest, DropsTrailingBlanksOnlyAndReadsNumbers) {
  EXPECT_EQ(FieldText(Ado_Value::Text("North Yard   ")), "North Yard");
  EXPECT_EQ(FieldText(Ado_Value::Text(" Zone")), " Zone");
  EXPECT_EQ(FieldText(Ado_Value::Text("pass word\t ")), "pass word\t");
  EXPECT_EQ(FieldText(Ado_Value::Text("   ")), "");
  EXPECT_EQ(FieldText(Ado_Value()), "");
  EXPECT_EQ(FieldText(Ado_Value::Null()), "");
  EXPECT_EQ(FieldText(Ado_Value::Integer(-42)), "-42");
  EXPECT_EQ(FieldText(Ado_Value::Real(0.1)), "0.1");
  EXPECT_EQ(FieldInt(Ado_Value::Integer(20141216)), 20141216);
  EXPECT_EQ(FieldInt(Ado_Value::Text("12")), 0);
  EXPECT_EQ(FieldDouble(Ado_Value::Integer(3)), 3.0);
}

TEST(AdoRowTest, AbsentNameGivesAnEmptyValue) {
  Ado_Row row;
  row["b"] = Ado_Value::Integer(2);
  row["a"] = Ado_Value::Text("x");
  EXPECT_TRUE(row.Get("missing").IsEmpty());
  EXPECT_EQ(row.values.count("missing"), 0u);
  EXPECT_TRUE(row["missing"].IsEmpty());
  EXPECT_EQ(row.values.count("missing"), 1u);
  std::vector<std::string> order;
  for (const auto& [name, value] : row.values) order.push_back(name);
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "missing"}));
}

using AdoConnectionTest = BackendTest;

TEST_P(AdoConnectionTest, ResultsOfEachOperation) {
  auto db = Connect();
  ASSERT_EQ(db->Execute("CREATE TABLE t(" + IdColumn() + ", name varchar(64), n int, x real)"), 1);
  EXPECT_EQ(db->Execute("INSERT INTO nowhere(n) VALUES (1)"), 0);
  EXPECT_EQ(db->Execute("not sql at all"), 0);
  ASSERT_EQ(db->Execute("INSERT INTO t(name, n, x) VALUES ($1, $2, $3)", {"North Yard  ", 5, 1.5}), 1);
  ASSERT_EQ(db->Execute("INSERT INTO t(name, n, x) VALUES ($1, $2, $3)", {nullptr, 6, nullptr}), 1);

  std::vector<Ado_Row> rows;
  ASSERT_EQ(db->Select("SELECT name, n, x FROM t ORDER BY n", {"name", "n", "x"}, rows), 1);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(FieldText(rows[0]["name"]), "North Yard");
  EXPECT_EQ(FieldInt(rows[0]["n"]), 5);
  EXPECT_EQ(FieldDouble(rows[0]["x"]), 1.5);
  EXPECT_TRUE(rows[1]["name"].IsNull());
  EXPECT_EQ(FieldText(rows[1]["name"]), "");
  EXPECT_TRUE(rows[1]["not a column"].IsEmpty());

  // No rows: success, nothing appended. A column the query does not return: failure.
  EXPECT_EQ(db->Select("SELECT name FROM t WHERE n = $1", {99}, {"name"}, rows), 1);
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(db->Select("SELECT name FROM t", {"name", "missing"}, rows), 0);
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(db->Select("SELECT name FROM nowhere", {"name"}, rows), 0);

  EXPECT_EQ(db->SelectValue("SELECT count(*) FROM t"), 2);
  EXPECT_EQ(db->SelectValue("SELECT n FROM t WHERE name = $1", {"North Yard  "}), 5);
  EXPECT_EQ(db->SelectValue("SELECT n FROM nowhere"), 0);
}

TEST_P(AdoConnectionTest, RowsBeforeAnErrorAreKept) {
  auto db = Connect();
  std::vector<Ado_Row> rows(1);  // the caller's earlier rows stay as well
  EXPECT_EQ(db->Select(FailsAtThirdRow(), {"v"}, rows), 0);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[0]["v"].IsEmpty());
  EXPECT_EQ(FieldInt(rows[1]["v"]), GetParam() == Backend::kPostgres ? 5 : 1);
  EXPECT_EQ(FieldInt(rows[2]["v"]), GetParam() == Backend::kPostgres ? 10 : 2);
}

TEST_P(AdoConnectionTest, FailingStatementOfABatchDoesNotStopTheOthers) {
  auto db = Connect();
  ASSERT_EQ(db->Execute("CREATE TABLE t(n int NOT NULL)"), 1);
  EXPECT_EQ(db->ExecuteBatch({{"INSERT INTO t(n) VALUES ($1)", {1}},
                              {"INSERT INTO t(n) VALUES ($1)", {nullptr}},
                              "INSERT INTO nowhere VALUES (2)",
                              {"INSERT INTO t(n) VALUES ($1)", {3}}}),
            1);
  std::vector<Ado_Row> rows;
  ASSERT_EQ(db->Select("SELECT n FROM t ORDER BY n", {"n"}, rows), 1);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(FieldInt(rows[0]["n"]), 1);
  EXPECT_EQ(FieldInt(rows[1]["n"]), 3);
  // The connection is usable afterwards, outside any transaction.
  EXPECT_EQ(db->Execute("INSERT INTO t(n) VALUES (4)"), 1);
  auto other = Connect();
  EXPECT_EQ(other->SelectValue("SELECT count(*) FROM t"), 3);
}

TEST_P(AdoConnectionTest, ParametersHoldHostileTextUnchanged) {
  auto db = Connect();
  ASSERT_EQ(db->Execute("CREATE TABLE users(name varchar(255), password varchar(255))"), 1);
  const std::vector<std::string> texts = {"O'Brien", "' OR '1'='1", "x'); DROP TABLE users; --",
                                          "back\\slash \"quoted\" $1 ?", "北京 站"};
  for (const std::string& text : texts) {
    ASSERT_EQ(db->Execute("INSERT INTO users(name, password) VALUES ($1, $2)", {text, text + "'"}), 1);
  }
  ASSERT_EQ(db->ExecuteBatch({{"INSERT INTO users(name, password) VALUES ($1, $2)", {"a' OR 'x'='x", "b"}},
                              {"UPDATE users SET password = $1 WHERE name = $2", {"'; --", "O'Brien"}}}),
            1);
  for (const std::string& text : texts) {
    std::vector<Ado_Row> rows;
    ASSERT_EQ(
        db->Select("SELECT name, password FROM users WHERE name = $1", {text}, {"name", "password"}, rows),
        1);
    ASSERT_EQ(rows.size(), 1u) << text;
    EXPECT_EQ(FieldText(rows[0]["name"]), text);
    EXPECT_EQ(FieldText(rows[0]["password"]), text == "O'Brien" ? "'; --" : text + "'");
  }
  std::vector<Ado_Row> rows;
  EXPECT_EQ(db->Select("SELECT name FROM users WHERE name = $1 AND password = $2", {"nobody", "' OR '1'='1"},
                       {"name"}, rows),
            1);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(db->SelectValue("SELECT count(*) FROM users"), 6);
}

TEST_P(AdoConnectionTest, ClosedOrUnopenedConnectionFailsEverything) {
  auto db = Connect();
  EXPECT_EQ(db->Close(), 1);
  EXPECT_EQ(db->Close(), 1);
  std::vector<Ado_Row> rows;
  EXPECT_EQ(db->Select("SELECT 1 AS v", {"v"}, rows), 0);
  EXPECT_EQ(db->SelectValue("SELECT 1"), 0);
  EXPECT_EQ(db->Execute("SELECT 1"), 0);
  EXPECT_EQ(db->ExecuteBatch({"SELECT 1", "SELECT 2"}), 0);
  EXPECT_TRUE(rows.empty());

  auto unreachable = NewConnection();
  const std::string nowhere = GetParam() == Backend::kPostgres
                                  ? ServerConnectionString("127.0.0.1", testsupport::FreeLoopbackPort(), "x")
                                  : "/nonexistent-dir/sub/x.db";
  EXPECT_EQ(unreachable->Open(nowhere, "u", "p"), 0);
  EXPECT_FALSE(unreachable->IsOpen());
  EXPECT_EQ(unreachable->Execute("SELECT 1"), 0);
}

TEST_P(AdoConnectionTest, CommitRefusedAtTheEndCommitsNothing) {
  auto db = Connect();
  ASSERT_EQ(db->Execute("CREATE TABLE parent(id int PRIMARY KEY)"), 1);
  ASSERT_EQ(db->Execute("CREATE TABLE child(p int REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED)"), 1);
  if (GetParam() == Backend::kSqlite) {
    ASSERT_EQ(db->Execute("PRAGMA foreign_keys=ON"), 1);
  }
  // The deferred check fails only at the commit: the whole transaction goes, and the connection stays.
  EXPECT_EQ(db->ExecuteBatch({"INSERT INTO parent(id) VALUES (1)", "INSERT INTO child(p) VALUES (2)"}), 0);
  EXPECT_TRUE(db->IsOpen());
  EXPECT_EQ(db->SelectValue("SELECT count(*) FROM parent"), 0);
  EXPECT_EQ(db->ExecuteBatch({"INSERT INTO parent(id) VALUES (1)", "INSERT INTO child(p) VALUES (1)"}), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, AdoConnectionTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         dbtest::BackendName);

// Each operation against a server that stops answering gives up at its deadline and leaves the
// connection closed; a connect to a peer that never answers gives up at the deadline too.
TEST(AdoComDeadlineTest, FrozenServerCostsTheDeadlineAndClosesTheConnection) {
  using Clock = std::chrono::steady_clock;
  dbtest::FrozenServer frozen;
  int silentPort = 0;
  const int silent = testsupport::ListenLoopback(silentPort);  // accepts in the kernel, never answers
  std::vector<Ado_Row> rows;
  const std::vector<std::pair<const char*, std::function<int(Ado_Com&)>>> operations = {
      {"Open",
       [&](Ado_Com& db) { return db.Open(ServerConnectionString("127.0.0.1", silentPort, "x"), "u", ""); }},
      {"Execute", [](Ado_Com& db) { return db.Execute("INSERT INTO t VALUES (1)"); }},
      {"Select", [&](Ado_Com& db) { return db.Select("SELECT 1 AS v", {"v"}, rows); }},
      {"SelectValue", [](Ado_Com& db) { return db.SelectValue("SELECT 1"); }},
      {"ExecuteBatch",
       [](Ado_Com& db) {
         return db.ExecuteBatch({"INSERT INTO t VALUES (1)", "SELECT 2"});
       }},
  };
  for (const auto& [name, operation] : operations) {
    SCOPED_TRACE(name);
    Ado_Com db;
    ASSERT_EQ(db.Open(frozen.ConnectionString(), "u", ""), 1);
    const Clock::time_point start = Clock::now();
    db.SetDeadline(start + std::chrono::milliseconds(200));
    EXPECT_EQ(operation(db), 0);
    const Clock::duration took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(200));
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(db.Execute("SELECT 1"), 0);
  }
  EXPECT_TRUE(rows.empty());
  close(silent);
}

}  // namespace
