// Account administration on both back ends: every column stored and read back, hostile texts kept as
// values, duplicates and unknown names refused, the search, the used-time snapshot; and, through the
// caster's database, an added account logs in and a deleted one no longer does.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "db/AccountAdmin.h"
#include "db/AccountAdministration.h"
#include "db/AccountDatabase.h"
#include "db/DatabaseSteps.h"
#include "db/DbTestSupport.h"
#include "db/KavroDatabase.h"
#include "db/LocalSchema.h"
#include "db/ServerSchema.h"
#include "support/Loopback.h"

namespace {

using dbtest::Backend;
using Status = AccountResult::Status;

Account Full(const std::string& name) {
  return {.name = name,
          .password = "p'w\" OR '1'='1",
          .allowedSeconds = 3600,
          .usedSeconds = 120,
          .validUntil = 20301231,
          .deniedServices = 0x24,
          .organisation = "Survey 'Co' 测绘",
          .contact = "Li Lei",
          .telephone = "+86 10 1234",
          .area = "North Yard",
          .serialBinding = 1,
          .serial = "SN-42",
          .email = "li@example.com"};
}

class AccountAdminTest : public dbtest::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    db = Connect();
    if (Server()) {
      for (const char* statement : ServerTableStatements()) ASSERT_EQ(db->Execute(statement), 1);
    } else {
      ASSERT_EQ(CreateLocalTables(*db), 1);
    }
  }
  bool Server() const { return GetParam() == Backend::kPostgres; }
  AccountAdmin Admin() {
    return AccountAdmin(
        Server() ? AccountBackend::kServer : AccountBackend::kLocal,
        [this](const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
               std::vector<Ado_Row>& rows) { return db->Select(sql, params, columns, rows); });
  }
  int Value(const std::string& name, const std::string& column) {
    return db->SelectValue(std::string("SELECT ") + column + " FROM " +
                               (Server() ? "SER_UserDB" : "USERPASSWORD") + " WHERE " +
                               (Server() ? "UserName" : "UserUser") + "=$1",
                           {name});
  }
  std::vector<std::string> Names(const std::string& search) {
    std::vector<std::string> names;
    for (const Account& a : Admin().List(search).accounts) names.push_back(a.name);
    return names;
  }

  std::unique_ptr<Ado_InterFacce> db;
};

TEST_P(AccountAdminTest, EveryColumnIsStoredAsGivenAndNamesAreTakenOnce) {
  AccountAdmin admin = Admin();
  const Account hostile = Full("x' OR '1'='1");
  ASSERT_TRUE(admin.Add(hostile).ok());
  ASSERT_TRUE(admin.Add(Full("plain")).ok());
  const AccountResult got = admin.Get(hostile.name);
  ASSERT_TRUE(got.ok()) << got.message;
  EXPECT_EQ(got.accounts.at(0), hostile);
  EXPECT_EQ(Value(hostile.name, "USERTIME_LAST"), 120) << "a new account starts inactive";

  const AccountResult again = admin.Add(Full(hostile.name));
  EXPECT_EQ(again.status, Status::kDuplicate);
  EXPECT_EQ(again.message, "account x' OR '1'='1 exists already");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"plain", "x' OR '1'='1"}));
  EXPECT_EQ(admin.Get("x").status, Status::kNotFound) << "a name is compared whole";
}

TEST_P(AccountAdminTest, ChangesReachOnlyTheNamedAccount) {
  AccountAdmin admin = Admin();
  ASSERT_TRUE(admin.Add(Full("a")).ok());
  ASSERT_TRUE(admin.Add(Full("b")).ok());
  Account renamed = Full("c");
  renamed.password = "new";
  renamed.serialBinding = 0;
  renamed.serial.clear();
  struct Step {
    const char* what;
    AccountRequest request;
    Status status;
  };
  using Kind = AccountRequest::Kind;
  const Step steps[] = {
      {"update of an unknown name", {Kind::kUpdate, "zz", "", Full("zz")}, Status::kNotFound},
      {"rename onto a taken name", {Kind::kUpdate, "a", "", Full("b")}, Status::kDuplicate},
      {"invalid values", {Kind::kUpdate, "a", "", Account{.name = "a"}}, Status::kInvalid},
      {"rename", {Kind::kUpdate, "a", "", renamed}, Status::kOk},
      {"old name gone", {Kind::kGet, "a", "", {}}, Status::kNotFound},
      {"reset time", {Kind::kResetTime, "c", "", {}}, Status::kOk},
      {"reset unknown", {Kind::kResetTime, "a", "", {}}, Status::kNotFound},
      {"delete", {Kind::kDelete, "b", "", {}}, Status::kOk},
      {"delete again", {Kind::kDelete, "b", "", {}}, Status::kNotFound},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(admin.Run(step.request).status, step.status) << step.what;
  }
  const AccountResult c = admin.Get("c");
  ASSERT_TRUE(c.ok());
  renamed.usedSeconds = 0;
  EXPECT_EQ(c.accounts.at(0), renamed);
  EXPECT_EQ(Value("c", "USERTIME_LAST"), 0);
  EXPECT_EQ(Names(""), std::vector<std::string>{"c"});
}

TEST_P(AccountAdminTest, SearchFindsTextInNameOrganisationOrContactLiterally) {
  AccountAdmin admin = Admin();
  Account a = Full("alpha");
  a.organisation = "Survey Co";
  a.contact = "Wang";
  Account b = Full("beta_100%");
  b.organisation = "Mapping";
  b.contact = "Li";
  Account c = Full("gamma");
  c.organisation = "";
  c.contact = "";
  for (const Account& account : {a, b, c}) ASSERT_TRUE(admin.Add(account).ok());
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {"alpha", "beta_100%", "gamma"}},
      {"ALP", {"alpha"}},
      {"survey", {"alpha"}},
      {"li", {"beta_100%"}},
      {"%", {"beta_100%"}},
      {"_", {"beta_100%"}},
      {"a_", {"beta_100%"}},
      {"' OR '1'='1", {}},
      {"nothing", {}},
  };
  for (const auto& [search, names] : cases) EXPECT_EQ(Names(search), names) << "search " << search;
}

INSTANTIATE_TEST_SUITE_P(Backends, AccountAdminTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         dbtest::BackendName);

TEST(AccountFaultTest, RefusesWhatTheColumnsOrALoginCannotHold) {
  const std::pair<std::function<void(Account&)>, std::string> cases[] = {
      {[](Account&) {}, ""},
      {[](Account& a) { a.name = std::string(50, 'n'); }, ""},
      {[](Account& a) { a.name = std::string(51, 'n'); }, "name is longer than 50 bytes"},
      {[](Account& a) { a.name = ""; }, "name is empty"},
      {[](Account& a) { a.name = "ab\xFF"; }, "name is not UTF-8 text"},
      {[](Account& a) { a.name = "name "; }, "name begins or ends with a blank"},
      {[](Account& a) { a.name = "who?"; }, "name holds \"?\""},
      {[](Account& a) { a.name = "a:b"; }, ""},
      {[](Account& a) { a.password = "a:b"; }, "password holds \":\""},
      {[](Account& a) { a.organisation = std::string(256, 'o'); }, "organisation is longer than 255 bytes"},
      {[](Account& a) { a.email = std::string(201, 'e'); }, "e-mail is longer than 200 bytes"},
      {[](Account& a) { a.allowedSeconds = -1; }, "allowed time is negative"},
      {[](Account& a) { a.validUntil = 20240229; }, ""},
      {[](Account& a) { a.validUntil = 20230229; }, "last valid day is not a date YYYYMMDD"},
      {[](Account& a) { a.deniedServices = 0x400; }, "denied services are not a mask 0 to 1023"},
      {[](Account& a) { a.serial.clear(); }, "serial binding needs a serial"},
  };
  for (const auto& [change, fault] : cases) {
    Account a = Full("name");
    change(a);
    EXPECT_EQ(AccountFault(a), fault) << a.name << " / " << a.password;
  }
}

// The administration of the running caster, on its database: a change is seen by the login check
// and recounts the accounts.
class AdministrationTest : public ::testing::TestWithParam<Backend> {
 protected:
  AdministrationTest()
      : clock(LocalTime{2025, 6, 1, 0, 10, 0, 0, 0}),
        gybl(Settings{}, clock, monitor, steps),
        database(
            gybl, [this](std::function<void()> work) { boost::asio::post(io, std::move(work)); }, {}, {},
            std::chrono::milliseconds(50)),
        accounts(gybl, database),
        admin(gybl, database, accounts.accounts) {
    steps.Attach(&database);
    steps.AttachAccounts(&accounts);
  }

  void SetUp() override {
    gybl.programDirectory = dir.Directory();
    database.OpenLocalDatabase();
    gybl.settings.flags.passwordProtection = 1;
    if (GetParam() != Backend::kPostgres) return;
    SKIP_WITHOUT_POSTGRES();
    scratch = std::make_unique<dbtest::ScratchDatabase>();
    ASSERT_TRUE(scratch->created());
    Ado_Com tables;
    ASSERT_EQ(tables.Open(scratch->ConnectionString(), scratch->server().user, ""), 1);
    for (const char* statement : ServerTableStatements()) ASSERT_EQ(tables.Execute(statement), 1);
    gybl.settings.useSql = 1;
    gybl.settings.sqlIp = scratch->server().host;
    gybl.settings.sqlPort = scratch->server().port;
    gybl.settings.sqlUser = scratch->server().user;
    gybl.settings.sqlPassword = "";
    gybl.settings.sqlDbName = scratch->name();
    database.StartSqlDatabase();
    ASSERT_TRUE(testsupport::RunUntil(io, [&] { return database.sqlOpen == 1; }));
  }

  // Runs a request as the monitor does and waits for its answer on the main loop.
  AccountResult Run(AccountRequest request) {
    std::optional<AccountResult> answer;
    admin.Run(request, [&](AccountResult result) { answer = std::move(result); });
    EXPECT_TRUE(testsupport::RunUntil(io, [&] { return answer.has_value(); }));
    return answer.value_or(AccountResult{});
  }
  bool LogsIn(const std::string& name, const std::string& password) {
    ClientEntry entry;
    return accounts.CheckUser(name, password, entry).ok;
  }

  dbtest::TempDir dir;
  std::unique_ptr<dbtest::ScratchDatabase> scratch;
  boost::asio::io_context io;
  ManualClock clock;
  MonitorEvents monitor;
  DatabaseSteps steps;
  CKavroGyBl gybl;
  KavroDatabase database;
  AccountDatabase accounts;
  AccountAdministration admin;
};

TEST_P(AdministrationTest, AnAddedAccountLogsInAndADeletedOneNoLonger) {
  using Kind = AccountRequest::Kind;
  Account rover = Full("rover1");
  rover.password = "secret";
  rover.serialBinding = 0;
  EXPECT_FALSE(LogsIn("rover1", "secret"));
  ASSERT_TRUE(Run({Kind::kAdd, "", "", rover}).ok());
  EXPECT_TRUE(LogsIn("rover1", "secret"));
  EXPECT_FALSE(LogsIn("rover1", "wrong"));
  EXPECT_EQ(Run({Kind::kAdd, "", "", rover}).status, Status::kDuplicate);
  // The count reads the local file on both back ends.
  EXPECT_EQ(gybl.statistics.accountCount, GetParam() == Backend::kSqlite ? 1 : 0);
  const AccountResult listed = Run({Kind::kList, "", "ROVER", {}});
  ASSERT_EQ(listed.accounts.size(), 1u);
  EXPECT_EQ(listed.accounts[0], rover);

  ASSERT_TRUE(Run({Kind::kDelete, "rover1", "", {}}).ok());
  EXPECT_FALSE(LogsIn("rover1", "secret"));
  EXPECT_EQ(Run({Kind::kDelete, "rover1", "", {}}).status, Status::kNotFound);
}

INSTANTIATE_TEST_SUITE_P(Backends, AdministrationTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres), dbtest::BackendName);

}  // namespace
