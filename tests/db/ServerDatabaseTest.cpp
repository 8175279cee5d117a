// The server database: tables and version stamp, the service start and stop, and a server that is
// down (operations fail at once, the main thread never waits on a connect, reconnection later).
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "app/KavroGyBl.h"
#include "app/MainFrame.h"
#include "db/DatabaseSteps.h"
#include "db/DbTestSupport.h"
#include "db/KavroDatabase.h"
#include "db/ServerSchema.h"
#include "support/Loopback.h"

namespace {

using testsupport::RunUntil;

class CapturingMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record); }
  int Count(const std::string& text, int level) const {
    int n = 0;
    for (const LogRecord& line : lines) n += line.text == text && line.level == level ? 1 : 0;
    return n;
  }
  std::vector<LogRecord> lines;
};

const char* const kOpenedLine = "SQL数据库打开成功 OpenDBSQL";
const char* const kFailedLine = "SQL数据库打开失败 OpenDBSQL";

// Column names of a server table, in order, separated by commas.
std::string ServerColumns(Ado_InterFacce& db, const std::string& table) {
  std::vector<Ado_Row> rows;
  EXPECT_EQ(db.Select("SELECT column_name FROM information_schema.columns WHERE table_name = lower($1) "
                      "ORDER BY ordinal_position",
                      {table}, {"column_name"}, rows),
            1);
  std::string names;
  for (Ado_Row& row : rows) names += (names.empty() ? "" : ",") + FieldText(row["column_name"]);
  return names;
}

int TableCount(Ado_InterFacce& db) {
  return db.SelectValue("SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'");
}

class ServerDatabaseTest : public ::testing::Test {
 protected:
  explicit ServerDatabaseTest(Ado_Db::ConnectionFactory factory = {})
      : gybl(Settings{}, clock, monitor, steps),
        database(
            gybl, [this](std::function<void()> work) { boost::asio::post(io, std::move(work)); },
            std::move(factory), [this] { return now; }) {
    steps.Attach(&database);
    gybl.settings.useSql = 1;
  }
  // Points the SQL settings at a scratch database of the test server.
  void UseScratch(const dbtest::ScratchDatabase& scratch) {
    gybl.settings.sqlIp = scratch.server().host;
    gybl.settings.sqlPort = scratch.server().port;
    gybl.settings.sqlUser = scratch.server().user;
    gybl.settings.sqlPassword = "";
    gybl.settings.sqlDbName = scratch.name();
  }
  std::unique_ptr<Ado_Com> Inspect(const dbtest::ScratchDatabase& scratch) {
    auto db = std::make_unique<Ado_Com>();
    EXPECT_EQ(db->Open(scratch.ConnectionString(), scratch.server().user, ""), 1);
    return db;
  }

  boost::asio::io_context io;
  std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
  SystemClock clock;
  CapturingMonitor monitor;
  DatabaseSteps steps;
  CKavroGyBl gybl;
  KavroDatabase database;
};

TEST_F(ServerDatabaseTest, ServiceStartCreatesTablesAndStampsANewDatabase) {
  SKIP_WITHOUT_POSTGRES();
  dbtest::ScratchDatabase scratch;
  ASSERT_TRUE(scratch.created());
  UseScratch(scratch);
  gybl.localAddresses = {"127.0.0.1"};
  gybl.settings.port = testsupport::FreeLoopbackPort();
  RefusingHandlers handlers;
  CMainFrame frame(io, gybl, handlers);

  ASSERT_EQ(frame.StartService(), 1);
  ASSERT_TRUE(RunUntil(io, [&] { return database.sqlOpen == 1; }));
  EXPECT_EQ(monitor.Count(kOpenedLine, kLogNormal), 1);
  EXPECT_EQ(monitor.Count(kFailedLine, kLogRed), 0);
  EXPECT_EQ(database.OpenSqlDatabase(), 1);
  frame.StopService();  // executes the queued creation before closing
  EXPECT_EQ(database.sqlOpen, 0);
  EXPECT_FALSE(database.adoDb.IsOpen());

  auto db = Inspect(scratch);
  std::vector<Ado_Row> rows;
  ASSERT_EQ(db->Select("SELECT VERS FROM A_DB_SERVER_VERS", {"VERS"}, rows), 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(FieldInt(rows[0]["VERS"]), 20141216);
  EXPECT_EQ(TableCount(*db), 7);
  EXPECT_EQ(ServerColumns(*db, "SER_Position"), "id,time,name,gga,b,l,h");
  EXPECT_EQ(ServerColumns(*db, "SER_UserDB_GL"),
            "id,name,md5,password,num,measure_unit,contact_person,telephone,email,permission");
  EXPECT_EQ(ServerColumns(*db, "SER_UserDB"),
            "id,username,glname,userpassword,pusertime,usertime,pusedata,userlx,measure_unit,contact_person,"
            "telephone,scopename,sn,email,sn_yes,usertime_last");
  EXPECT_EQ(ServerColumns(*db, "SER_Scope"),
            "id,name,b1,b2,l1,l2,dx,dy,dz,rx,ry,rz,sf,useseven,useundulation");
  EXPECT_EQ(ServerColumns(*db, "SER_RECORD"), "id,ip,username,start,time,res,send");
  EXPECT_EQ(ServerColumns(*db, "SER_LOG"), "id,time,username,enum,comment");
  // The identity key numbers rows itself; a 64-bit byte count fits.
  ASSERT_EQ(db->Execute("INSERT INTO SER_RECORD(IP, RES, SEND) VALUES ($1, $2, $3)",
                        {"1.2.3.4", int64_t{5000000000}, int64_t{1}}),
            1);
  EXPECT_EQ(db->SelectValue("SELECT ID FROM SER_RECORD"), 1);
}

TEST_F(ServerDatabaseTest, StoredVersionIsOnlyRestamped) {
  SKIP_WITHOUT_POSTGRES();
  dbtest::ScratchDatabase scratch;
  ASSERT_TRUE(scratch.created());
  {
    auto db = Inspect(scratch);
    ASSERT_EQ(db->Execute("Create TABLE A_DB_SERVER_VERS(VERS INT NOT NULL)"), 1);
    ASSERT_EQ(db->Execute("insert into A_DB_SERVER_VERS(VERS) VALUES (20100101)"), 1);
  }
  Ado_Db gateway;
  ASSERT_TRUE(gateway.Open(scratch.ConnectionString(), scratch.server().user, ""));
  EXPECT_EQ(CheckServerVersion(gateway), 20100101);
  gateway.Stop();
  auto db = Inspect(scratch);
  EXPECT_EQ(db->SelectValue("SELECT VERS FROM A_DB_SERVER_VERS"), 20141216);
  EXPECT_EQ(db->SelectValue("SELECT count(*) FROM A_DB_SERVER_VERS"), 1);
  EXPECT_EQ(TableCount(*db), 1);

  // An empty database: no version (0), and the version table is created with its row.
  dbtest::ScratchDatabase empty;
  ASSERT_TRUE(gateway.Open(empty.ConnectionString(), empty.server().user, ""));
  EXPECT_EQ(CheckServerVersion(gateway), 0);
  gateway.Stop();
  EXPECT_EQ(Inspect(empty)->SelectValue("SELECT VERS FROM A_DB_SERVER_VERS"), 20141216);
}

TEST_F(ServerDatabaseTest, ServerDownFailsAtOnceAndReconnectsLater) {
  SKIP_WITHOUT_POSTGRES();
  dbtest::ScratchDatabase scratch;
  ASSERT_TRUE(scratch.created());
  UseScratch(scratch);
  gybl.settings.sqlPort = testsupport::FreeLoopbackPort();  // nobody listens there

  EXPECT_EQ(database.OpenSqlDatabase(), 1);
  EXPECT_EQ(database.sqlOpen, 0);
  std::vector<Ado_Row> rows;
  EXPECT_EQ(database.ServerSelect("SELECT 1 AS v", {}, {"v"}, rows), 0);
  ASSERT_TRUE(RunUntil(io, [&] { return !database.Connecting(); }));
  EXPECT_EQ(monitor.Count(kFailedLine, kLogRed), 1);  // the attempt reports its failure, once

  // Within the reconnect interval no new attempt is made, even with the server back.
  gybl.settings.sqlPort = scratch.server().port;
  EXPECT_EQ(database.OpenSqlDatabase(), 1);
  EXPECT_FALSE(database.Connecting());
  EXPECT_EQ(monitor.Count(kFailedLine, kLogRed), 1);  // operations in between add no line

  now += KavroDatabase::kReconnectInterval;
  EXPECT_EQ(database.OpenSqlDatabase(), 1);
  EXPECT_TRUE(database.Connecting());
  ASSERT_TRUE(RunUntil(io, [&] { return database.sqlOpen == 1; }));
  EXPECT_EQ(monitor.Count(kOpenedLine, kLogNormal), 1);
  rows.clear();
  EXPECT_EQ(database.ServerSelect("SELECT 41 + 1 AS v", {}, {"v"}, rows), 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(FieldInt(rows[0]["v"]), 42);

  // After a close, the next operation opens again at once.
  EXPECT_EQ(database.CloseSqlDatabase(), 1);
  EXPECT_EQ(database.OpenSqlDatabase(), 1);
  ASSERT_TRUE(RunUntil(io, [&] { return database.sqlOpen == 1; }));
  EXPECT_EQ(monitor.Count(kOpenedLine, kLogNormal), 2);
}

struct StubState {
  std::shared_ptr<dbtest::StubConnection::Shared> shared = std::make_shared<dbtest::StubConnection::Shared>();
};

// Connections from stubs whose Open can be held. The state comes first, so the factory can share it.
class StubServerTest : protected StubState, public ServerDatabaseTest {
 protected:
  StubServerTest()
      : ServerDatabaseTest([state = shared] { return std::make_unique<dbtest::StubConnection>(state); }) {}
};

TEST_F(StubServerTest, MainThreadDoesNotWaitForAConnect) {
  shared->openGate.Close();
  // Should the call wait for the connect, the watchdog lets it go after a while and the test fails.
  std::promise<void> checked;
  std::thread watchdog([this, done = checked.get_future()] {
    done.wait_for(std::chrono::seconds(5));
    shared->openGate.Open();
  });
  EXPECT_EQ(database.OpenSqlDatabase(), 1);
  EXPECT_FALSE(shared->openGate.IsOpen());
  EXPECT_EQ(database.sqlOpen, 0);
  EXPECT_TRUE(database.Connecting());
  EXPECT_EQ(database.OpenSqlDatabase(), 1);           // one attempt at a time
  EXPECT_EQ(monitor.Count(kFailedLine, kLogRed), 0);  // nothing has failed yet
  checked.set_value();
  watchdog.join();
  ASSERT_TRUE(RunUntil(io, [&] { return database.sqlOpen == 1; }));
  EXPECT_EQ(shared->opens.load(), 2);  // query and write connection of the one attempt
  // The version query found no row: the version table and the six tables are queued.
  database.CloseSqlDatabase();
  EXPECT_EQ(shared->Executed().size(), 2u + 6u);
}

TEST_F(StubServerTest, AttemptEndingAfterTheServiceStoppedIsDiscarded) {
  shared->openGate.Close();
  steps.OpenSqlDatabase();  // the service start
  EXPECT_TRUE(database.Connecting());
  EXPECT_TRUE(monitor.lines.empty());
  steps.CloseSqlDatabase();  // the service stop
  shared->openGate.Open();
  ASSERT_TRUE(RunUntil(io, [&] { return !database.Connecting(); }));
  EXPECT_EQ(database.sqlOpen, 0);
  EXPECT_FALSE(database.adoDb.IsOpen());
  EXPECT_TRUE(monitor.lines.empty());
}

TEST_F(StubServerTest, UseSqlOffLeavesTheServerAlone) {
  gybl.settings.useSql = 0;
  EXPECT_EQ(database.OpenSqlDatabase(), 0);
  steps.OpenSqlDatabase();
  EXPECT_FALSE(database.Connecting());
  EXPECT_EQ(shared->opens.load(), 0);
  EXPECT_TRUE(monitor.lines.empty());
}

}  // namespace
