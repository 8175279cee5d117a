// User accounts, work areas and activity records, each behaviour on both back ends: the local file in a
// temporary directory, and a scratch database of the test PostgreSQL server.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/StrFormat.h"
#include "db/AccountDatabase.h"
#include "db/DatabaseSteps.h"
#include "db/DbTestSupport.h"
#include "db/KavroDatabase.h"
#include "support/TcpProxy.h"
#include "db/ServerSchema.h"
#include "support/FileSizeLimit.h"
#include "support/Loopback.h"
#include "ui/WorkAreaDialog.h"

namespace {

using dbtest::Backend;

class CapturingMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record); }
  void OnNotice(const std::string& text) override { notices.push_back(text); }
  bool HasLine(const std::string& text, int level) const {
    for (const LogRecord& line : lines) {
      if (line.text == text && line.level == level) return true;
    }
    return false;
  }
  std::vector<LogRecord> lines;
  std::vector<std::string> notices;
};

struct Account {
  std::string name;
  std::string password = "pw";
  int allowance = 0;
  int used = 0;
  int lastDay = 0;
  int denied = 0;
  std::string unit = {};
  std::string contact = {};
  SqlParam area = nullptr;
  std::string serial = {};
  int serialCheck = 0;
};

constexpr LocalTime kToday{2015, 2, 1, 2, 10, 0, 0, 0};  // 2015-02-02 10:00:00
constexpr const char* kAgent = "NTRIP GNSSInternetRadio/1.4.10";

class AccountTest : public ::testing::TestWithParam<Backend> {
 protected:
  AccountTest()
      : clock(kToday),
        gybl(Settings{}, clock, monitor, steps),
        database(
            gybl, [this](std::function<void()> work) { boost::asio::post(io, std::move(work)); }, {}, {},
            std::chrono::milliseconds(50)),
        accounts(gybl, database) {
    steps.Attach(&database);
    steps.AttachAccounts(&accounts);
  }

  void SetUp() override {
    gybl.programDirectory = dir.Directory();
    std::filesystem::create_directories(dir.File("GGA"));
    database.OpenLocalDatabase();
    if (!Server()) return;
    SKIP_WITHOUT_POSTGRES();
    scratch = std::make_unique<dbtest::ScratchDatabase>();
    ASSERT_TRUE(scratch->created());
    server = std::make_unique<Ado_Com>();
    ASSERT_EQ(server->Open(scratch->ConnectionString(), scratch->server().user, ""), 1);
    for (const char* statement : ServerTableStatements()) ASSERT_EQ(server->Execute(statement), 1);
    gybl.settings.useSql = 1;
    gybl.settings.sqlIp = scratch->server().host;
    gybl.settings.sqlPort = scratch->server().port;
    gybl.settings.sqlUser = scratch->server().user;
    gybl.settings.sqlPassword = "";
    gybl.settings.sqlDbName = scratch->name();
    OpenServer();
  }

  bool Server() const { return GetParam() == Backend::kPostgres; }
  void OpenServer() {
    database.StartSqlDatabase();
    ASSERT_TRUE(testsupport::RunUntil(io, [&] { return database.sqlOpen == 1; }));
  }
  // Executes the queued server writes: closing the server database runs them, then it opens again.
  void Flush() {
    if (!Server()) return;
    database.CloseSqlDatabase();
    OpenServer();
  }
  // The database of the back end in use, and the local file (which records connections on both).
  Ado_InterFacce& Db() { return Server() ? *server : Local(); }
  Ado_InterFacce& Local() { return database.userDatabase.connection(); }
  std::string Users() const { return Server() ? "SER_UserDB" : "USERPASSWORD"; }
  std::string NameColumn() const { return Server() ? "UserName" : "UserUser"; }
  std::string Scopes() const { return Server() ? "SER_Scope" : "Scope"; }
  void SetFlags(int protection, int autoCreateOff) {
    gybl.settings.flags.passwordProtection = protection;
    gybl.settings.flags.autoCreateUserOff = autoCreateOff;
  }

  void AddAccount(const Account& a) {
    const std::string sql = StrFormat(
        "INSERT INTO %s(%s, %s USERPASSWORD, PUSERTIME, USERTIME, USERTIME_LAST, PUSEDATA, USERLX, "
        "Measure_unit, Contact_person, Telephone, ScopeName, SN, SN_YES) VALUES ($1, %s $2, $3, $4, $4, "
        "$5, $6, $7, $8, '0123', $9, $10, $11)",
        Users().c_str(), NameColumn().c_str(), Server() ? "GLName," : "", Server() ? "''," : "");
    ASSERT_EQ(Db().Execute(sql, {a.name, a.password, a.allowance, a.used, a.lastDay, a.denied, a.unit,
                                 a.contact, a.area, a.serial, a.serialCheck}),
              1);
  }
  void AddArea(const std::string& name, double b1, double b2, double l1, double l2) {
    ASSERT_EQ(Db().Execute("INSERT INTO " + Scopes() + "(Name, B1, B2, L1, L2) VALUES ($1, $2, $3, $4, $5)",
                           {name, b1, b2, l1, l2}),
              1);
  }
  int AccountValue(const std::string& name, const std::string& column) {
    return Db().SelectValue("SELECT " + column + " FROM " + Users() + " WHERE " + NameColumn() + "=$1",
                            {name});
  }
  std::string AccountText(const std::string& name, const std::string& column) {
    std::vector<Ado_Row> rows;
    Db().Select("SELECT " + column + " FROM " + Users() + " WHERE " + NameColumn() + "=$1", {name}, {column},
                rows);
    return rows.empty() ? "(none)" : FieldText(rows[0][column]);
  }
  int Count(Ado_InterFacce& db, const std::string& table) {
    return db.SelectValue("SELECT count(*) FROM " + table);
  }

  UserCheck Check(const std::string& name, const std::string& password) {
    ClientEntry entry;
    return accounts.CheckUser(name, password, entry);
  }

  // A finished connection of a rover: connected at 09:00:00 for the seconds given.
  static ClientEntry Connection(const std::string& user, int seconds, int idle) {
    ClientEntry entry;
    entry.peerAddress.sin_addr.s_addr = htonl(0x0A000007);  // 10.0.0.7
    entry.userName = user;
    entry.clientType = "NTRIP";
    entry.agent = kAgent;
    entry.bytesReceived = 1000;
    entry.bytesSent = 5000000000;
    entry.idleSeconds = idle;
    entry.connectTime = LocalTime{2015, 2, 1, 2, 9, 0, 0, 0};
    entry.disconnectTime = entry.connectTime;
    entry.disconnectTime.minute = static_cast<uint16_t>(seconds / 60);
    entry.disconnectTime.second = static_cast<uint16_t>(seconds % 60);
    return entry;
  }
  int Record(const ClientEntry& entry, int* outValue = nullptr) {
    int out = -1;
    const int result = accounts.records.RecordConnection(entry, 0, out);
    if (outValue != nullptr) *outValue = out;
    return result;
  }

  dbtest::TempDir dir;
  std::unique_ptr<dbtest::ScratchDatabase> scratch;  // outlives the connections to it
  std::unique_ptr<Ado_Com> server;
  boost::asio::io_context io;
  ManualClock clock;
  CapturingMonitor monitor;
  DatabaseSteps steps;
  CKavroGyBl gybl;
  KavroDatabase database;
  AccountDatabase accounts;
};

TEST_P(AccountTest, AllowanceAndLastValidDay) {
  SetFlags(1, 0);
  AddAccount({.name = "full",
              .allowance = 3600,
              .used = 3600,
              .denied = 0x24,
              .unit = "Survey Co",
              .contact = "Li Lei",
              .serial = "SN42",
              .serialCheck = 1});
  AddAccount({.name = "over", .allowance = 3600, .used = 3601});
  AddAccount({.name = "today", .lastDay = 20150202});
  AddAccount({.name = "yesterday", .lastDay = 20150201});

  ClientEntry entry;
  entry.accountSerial = "stale";
  const UserCheck full = accounts.CheckUser("full", "pw", entry);
  EXPECT_TRUE(full.ok);
  EXPECT_EQ(full.errorCode, 0);
  EXPECT_EQ(full.rights, 0x24);
  EXPECT_EQ(entry.accountUnit, "Survey Co");
  EXPECT_EQ(entry.accountContact, "Li Lei");
  EXPECT_EQ(entry.accountSerial, "SN42");
  EXPECT_EQ(entry.serialCheck, 1);

  const UserCheck over = Check("over", "pw");
  EXPECT_FALSE(over.ok);
  EXPECT_EQ(over.errorCode, 2);
  EXPECT_TRUE(Check("today", "pw").ok);
  const UserCheck expired = Check("yesterday", "pw");
  EXPECT_FALSE(expired.ok);
  EXPECT_EQ(expired.errorCode, 3);
  // With both flags off a failed check is accepted: the server clears the code, the file keeps it.
  SetFlags(0, 0);
  const UserCheck accepted = Check("over", "pw");
  EXPECT_TRUE(accepted.ok);
  EXPECT_EQ(accepted.errorCode, Server() ? 0 : 2);
}

TEST_P(AccountTest, WrongPasswordAndUnknownUsers) {
  AddAccount({.name = "rover", .password = "se cret  "});
  const int wrong = Server() ? 6 : 1;
  const int unknown = Server() ? 7 : 1;
  SetFlags(1, 0);
  EXPECT_EQ(Check("rover", "secret").errorCode, wrong);
  EXPECT_FALSE(Check("rover", "secret").ok);
  EXPECT_FALSE(Check("nobody", "pw").ok);
  EXPECT_EQ(Check("nobody", "pw").errorCode, unknown);
  // Trailing blanks of a server field are dropped, inner ones kept; the local file compares whole texts.
  EXPECT_EQ(Check("rover", "se cret").ok, Server());
  EXPECT_FALSE(Check("rover", "se").ok);

  // Without passwordProtection the local file ignores a wrong password; the server still refuses it.
  SetFlags(0, 1);
  const UserCheck check = Check("rover", "secret");
  EXPECT_EQ(check.ok, !Server());
  EXPECT_EQ(check.errorCode, Server() ? 6 : 0);
  EXPECT_FALSE(Check("nobody", "pw").ok);
  EXPECT_EQ(Check("nobody", "pw").errorCode, unknown);

  SetFlags(0, 0);
  const UserCheck stranger = Check("nobody", "pw");
  EXPECT_TRUE(stranger.ok);
  EXPECT_EQ(stranger.errorCode, Server() ? 0 : 1);
}

TEST_P(AccountTest, ChargingRules) {
  AddAccount({.name = "rover", .used = 100});
  int out = 0;
  EXPECT_EQ(Record(Connection("rover", 16, 0), &out), 1);
  Flush();
  EXPECT_EQ(AccountValue("rover", "USERTIME"), 116);
  EXPECT_EQ(out, Server() ? 0 : 116);
  EXPECT_EQ(gybl.statistics.activeAccounts, Server() ? 0 : 1);  // the first charge since the snapshot

  EXPECT_EQ(Record(Connection("rover", 40, 20)), 1);  // more than 15 idle seconds: 40 - 15
  EXPECT_EQ(Record(Connection("rover", 14, 0)), 1);   // recorded, too short to charge
  ClientEntry twoDays = Connection("rover", 40, 0);
  twoDays.disconnectTime.day = 4;  // longer than a day: never charged
  EXPECT_EQ(Record(twoDays), 1);
  Flush();
  EXPECT_EQ(AccountValue("rover", "USERTIME"), 141);
  EXPECT_EQ(gybl.statistics.activeAccounts, Server() ? 0 : 1);
  EXPECT_EQ(Count(Local(), "RECORD"), 4);
}

TEST_P(AccountTest, AutomaticAccounts) {
  gybl.workAreaList = {"North", "South"};
  SetFlags(0, 0);
  int out = 0;
  EXPECT_EQ(Record(Connection("Zrover01", 60, 0), &out), 1);
  EXPECT_EQ(out, Server() ? 0 : 20150202);  // the server's outcome is known to its write worker only
  EXPECT_EQ(Record(Connection("ABCDEFGHIJKLMNOPQRSTUVWXY", 60, 0)), 1);
  Flush();
  EXPECT_EQ(AccountText("Zrover01", "USERPASSWORD"), "Zrover01");
  EXPECT_EQ(AccountValue("Zrover01", "PUSEDATA"), 20150202);
  EXPECT_EQ(AccountValue("Zrover01", "USERTIME"), 60);
  EXPECT_EQ(AccountValue("Zrover01", "PUSERTIME"), 0);
  EXPECT_EQ(AccountText("Zrover01", "ScopeName"), "North");
  if (!Server()) {
    EXPECT_EQ(AccountText("Zrover01", "Measure_unit"), "测试机");
    EXPECT_EQ(AccountValue("Zrover01", "USERTIME_LAST"), 60);
  }
  EXPECT_EQ(AccountText("ABCDEFGHIJKLMNOPQRS", "USERPASSWORD"), "ABCDEFGHIJKLMNOPQRS");
  EXPECT_EQ(AccountText("ABCDEFGHIJKLMNOPQRSTUVWXY", "USERPASSWORD"), "(none)");
  // A name cut at 19 bytes keeps whole characters.
  EXPECT_EQ(Record(Connection("测试测试测试测试", 60, 0)), 1);
  Flush();
  EXPECT_EQ(AccountValue("测试测试测试", "USERTIME"), 60);

  // Either flag stops the local file from creating accounts; the server creates them all the same.
  SetFlags(0, 1);
  EXPECT_EQ(Record(Connection("Yrover", 60, 0)), 1);
  Flush();
  EXPECT_EQ(AccountValue("Yrover", "USERTIME"), Server() ? 60 : 0);
}

TEST_P(AccountTest, WorkAreaRoundTripAndDuplicates) {
  EXPECT_EQ(accounts.areas.AddWorkArea("North"), 1);
  Flush();
  // Six decimals that no single-precision column keeps.
  const AreaParameters saved{1.25, -2.5, 3.75, 0.5, -0.25, 0.125, 1.5, 1, 1};
  EXPECT_EQ(accounts.areas.SaveWorkArea("North", {30.123456, 31.654321, 114.123456, 113.987654}, saved), 1);
  EXPECT_EQ(accounts.areas.SaveWorkArea("Nowhere", {1, 2, 3, 4}, saved), 0);
  Flush();
  AreaBounds bounds{};
  AreaParameters read{};
  ASSERT_EQ(accounts.areas.GetWorkArea("North", bounds, read), 1);
  const double expected[] = {30.123456, 31.654321, 114.123456, 113.987654, 1.25, -2.5,
                             3.75,      0.5,       -0.25,      0.125,      1.5};
  const double got[] = {bounds[0], bounds[1], bounds[2], bounds[3], read.dx, read.dy,
                        read.dz,   read.rx,   read.ry,   read.rz,   read.sf};
  for (int i = 0; i < 11; ++i) EXPECT_NEAR(got[i], expected[i], 1e-6) << i;
  EXPECT_EQ(read.useSeven, 1);
  EXPECT_EQ(read.useUndulation, 1);
  EXPECT_EQ(accounts.areas.GetWorkArea("Nowhere", bounds, read), 0);
  EXPECT_EQ(read.useSeven, 0);  // cleared

  EXPECT_EQ(accounts.areas.AddWorkArea("North"), 0);
  EXPECT_TRUE(monitor.HasLine("Repeat Name", kLogRed));
  EXPECT_EQ(monitor.notices, std::vector<std::string>{"Repeat Name"});
  EXPECT_EQ(gybl.workAreaList, std::vector<std::string>{"North"});
  EXPECT_EQ(accounts.areas.AddWorkArea(""), 0);
  Flush();
  EXPECT_EQ(Count(Db(), Scopes()), 1);
}

TEST_P(AccountTest, ListLoadsAndDeleteIsRefusedWhileInUse) {
  AddArea("North", 30, 31, 114, 115);
  AddArea("", 0, 0, 0, 0);
  AddArea("South", 20, 21, 110, 111);
  AddAccount({.name = "surveyor", .area = "North"});
  if (Server()) {
    Flush();  // the list loads when the server database opens
  } else {
    accounts.areas.LoadWorkAreas();
  }
  EXPECT_EQ(gybl.workAreaList, (std::vector<std::string>{"North", "South"}));

  EXPECT_EQ(accounts.areas.DeleteWorkArea("North"), 0);
  EXPECT_EQ(accounts.areas.DeleteWorkArea("South"), 1);
  EXPECT_EQ(gybl.workAreaList, std::vector<std::string>{"North"});
  Flush();
  EXPECT_EQ(Db().SelectValue("SELECT count(*) FROM " + Scopes() + " WHERE Name='North'"), 1);
  EXPECT_EQ(Db().SelectValue("SELECT count(*) FROM " + Scopes() + " WHERE Name='South'"), 0);
}

TEST_P(AccountTest, LookupUserArea) {
  AddArea("Default", 30, 31, 114, 115);
  AddArea("East", 20, 21, 120, 121);
  AddAccount({.name = "surveyor", .area = "East"});
  AddAccount({.name = "unplaced", .area = ""});
  gybl.workAreaList = {"Default", "East"};

  ClientEntry entry;
  EXPECT_EQ(accounts.LookupUserArea("surveyor", entry), 1);
  EXPECT_EQ(entry.areaName, "East");
  EXPECT_EQ(entry.areaBounds, (std::array<double, 4>{20, 21, 120, 121}));

  // Without an account: the local file loads the default area, the server has none.
  ClientEntry stranger;
  EXPECT_EQ(accounts.LookupUserArea("nobody", stranger), 0);
  if (Server()) {
    EXPECT_EQ(stranger.areaBounds, (std::array<double, 4>{-1, -1, -1, -1}));
    EXPECT_EQ(stranger.areaName, "");
  } else {
    EXPECT_EQ(stranger.areaBounds, (std::array<double, 4>{30, 31, 114, 115}));
    EXPECT_EQ(stranger.areaName, "Default");
  }
  // An account with an empty area name: no rectangle.
  ClientEntry unplaced;
  EXPECT_EQ(accounts.LookupUserArea("unplaced", unplaced), 1);
  EXPECT_EQ(unplaced.areaBounds, (std::array<double, 4>{0, 0, 0, 0}));
}

TEST_P(AccountTest, ConnectionRecordFilters) {
  AddAccount({.name = "rover"});
  const int before = Count(Local(), "RECORD");
  EXPECT_EQ(Record(Connection("rover", 12, 6)), 0);  // 12 - 3 < 10
  ClientEntry quiet = Connection("rover", 40, 0);
  quiet.bytesReceived = 50;
  EXPECT_EQ(Record(quiet), 0);
  ClientEntry gga = Connection("rover", 40, 0);
  gga.clientType = "GETGGA";
  EXPECT_EQ(Record(gga), 1);
  for (const char* name : {"", "GET_USER", "GET_LIST"}) EXPECT_EQ(Record(Connection(name, 40, 0)), 0);
  ClientEntry pc = Connection("rover", 40, 0);
  pc.agent = "PC";
  EXPECT_EQ(Record(pc), 0);
  EXPECT_EQ(Count(Local(), "RECORD"), before);

  ClientEntry base = Connection("MOUNT1", 100, 0);
  base.clientType = "BASE";
  EXPECT_EQ(Record(base), 1);
  ClientEntry cors = Connection("rover", 40, 0);
  cors.agent = "CORS-Caster/2.0 quoted ' agent that is longer than forty-nine bytes";
  cors.dataFormat = 13;
  cors.links[12] = "MOUNT1";
  cors.position = {30.5, 114.25, 20.125};
  EXPECT_EQ(Record(cors), 1);
  Flush();
  EXPECT_EQ(AccountValue("rover", "USERTIME"), 0);             // a CORS agent is not charged
  EXPECT_EQ(AccountText("MOUNT1", "USERPASSWORD"), "(none)");  // nor a base

  std::vector<Ado_Row> rows;
  const std::vector<std::string> columns = {"IP",   "A1",   "A2",       "A3",  "A4",       "RES",
                                            "Send", "Num1", "position", "ver", "BASEMODE", "BaseLink"};
  ASSERT_EQ(Local().Select("SELECT * FROM RECORD ORDER BY rowid", {}, columns, rows), 1);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(FieldText(rows[0]["A2"]), "BASE");
  std::string row;
  for (const std::string& column : columns) row += FieldText(rows[1][column]) + "|";
  EXPECT_EQ(
      row,
      "10.0.0.7|rover|NTRIP|2015/02/02|09:00:00-00000040|1000|5000000000|0|30.5000000-114.2500000-20.125|"
      "CORS-Caster/2.0 quoted ' agent that is longer tha|RTCM30|MOUNT1|");
  if (Server()) {
    std::vector<Ado_Row> served;
    ASSERT_EQ(server->Select("SELECT IP, UserName, Start, Time, RES, SEND FROM SER_RECORD", {},
                             {"IP", "UserName", "Start", "Time", "RES", "SEND"}, served),
              1);
    ASSERT_EQ(served.size(), 1u);  // the rover only
    EXPECT_EQ(FieldText(served[0]["Start"]), "2015/02/02 09:00:00");
    EXPECT_EQ(FieldInt(served[0]["Time"]), 40);
    EXPECT_EQ(served[0]["SEND"].integer(), 5000000000);
  }
}

TEST_P(AccountTest, NamesHoldingQuotes) {
  const std::string name = "O'Brien\"; --";
  AddAccount({.name = name, .password = "p'w", .area = "Lee's \"Field\""});
  SetFlags(1, 0);
  EXPECT_TRUE(Check(name, "p'w").ok);
  EXPECT_FALSE(Check(name, "x' OR '1'='1").ok);
  EXPECT_FALSE(Check("' OR '1'='1", "' OR '1'='1").ok);
  EXPECT_EQ(accounts.QueryAccount("' OR ''='", "' OR ''='").validity, "用户或密码错误");

  EXPECT_EQ(accounts.areas.AddWorkArea("Lee's \"Field\""), 1);
  Flush();
  EXPECT_EQ(accounts.areas.SaveWorkArea("Lee's \"Field\"", {1, 2, 3, 4}, {}), 1);
  EXPECT_EQ(accounts.areas.DeleteWorkArea("Lee's \"Field\""), 0);  // in use by the account
  Flush();
  ClientEntry entry;
  EXPECT_EQ(accounts.LookupUserArea(name, entry), 1);
  EXPECT_EQ(entry.areaBounds, (std::array<double, 4>{1, 2, 3, 4}));

  EXPECT_EQ(Record(Connection(name, 40, 0)), 1);
  Flush();
  EXPECT_EQ(AccountValue(name, "USERTIME"), 40);
  EXPECT_EQ(Local().SelectValue("SELECT count(*) FROM RECORD WHERE A1=$1", {name}), 1);
}

TEST_P(AccountTest, QueryAccountLabels) {
  AddAccount({.name = "rover",
              .allowance = 3600,
              .used = 600,
              .lastDay = 20151231,
              .denied = 0x101,
              .unit = "Survey Co",
              .contact = "Li Lei"});
  AddAccount({.name = "free"});
  const AccountValues values = accounts.QueryAccount("rover", "pw");
  EXPECT_EQ(values.validity, "20151231");
  EXPECT_EQ(values.allowance, "60分钟");
  EXPECT_EQ(values.usedTime, "10分钟");
  EXPECT_EQ(values.company, "Survey Co");
  EXPECT_EQ(values.contact, "Li Lei");
  EXPECT_EQ(values.telephone, "0123");
  EXPECT_EQ(values.services, Server() ? "DIRECT [RTCM23] [CMR] [RTCM30] [RTD] RTCM23 CMR RTCM30 "
                                      : "DIRECT [RTCM23] [CMR] [RTCM3X] [RTD] RTCM23 CMR RTCM3X ");
  EXPECT_EQ(accounts.QueryAccount("free", "pw").allowance, Server() ? "0分钟" : "");
  const AccountValues wrong = accounts.QueryAccount("rover", "PW");
  EXPECT_EQ(wrong.validity, "用户或密码错误");
  EXPECT_EQ(wrong.usedTime, "");
}

TEST_P(AccountTest, CountUsersReadsTheLocalFile) {
  ASSERT_EQ(Local().Execute("INSERT INTO USERPASSWORD(UserUser, USERTIME, USERTIME_LAST) VALUES "
                            "('a', 50, NULL), ('b', 80, 20), ('c', 5, 5)"),
            1);
  EXPECT_EQ(steps.CountUsers(), 1);
  EXPECT_EQ(gybl.statistics.accountCount, 3);
  EXPECT_EQ(gybl.statistics.activeAccounts, 1);
  EXPECT_EQ(Local().SelectValue("SELECT USERTIME_LAST FROM USERPASSWORD WHERE UserUser='a'"), 50);
}

TEST_P(AccountTest, PositionsAndEvents) {
  const std::string gga = "$GPGGA,020000.00,3030.0000,N,11415.0000,E,1,08,1.0,20.1,M,0.0,M,,*4B\r\n";
  EXPECT_EQ(accounts.RecordPosition("MOUNT1", gga, 30.5, 114.2512345, 20.125), 1);
  accounts.LogEvent("it's me", 6, "密码错误");
  Flush();
  const std::string file = dir.File("GGA/GGA20150202.txt");
  if (Server()) {
    EXPECT_FALSE(std::filesystem::exists(file));
    std::vector<Ado_Row> rows;
    ASSERT_EQ(server->Select("SELECT Time, Name, GGA, B, L, H FROM SER_Position", {},
                             {"Time", "Name", "GGA", "B", "L", "H"}, rows),
              1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(FieldText(rows[0]["Time"]), "2015/02/02_10:00:00");
    EXPECT_EQ(FieldText(rows[0]["GGA"]), gga);
    EXPECT_NEAR(FieldDouble(rows[0]["L"]), 114.2512345, 1e-7);
    EXPECT_EQ(server->SelectValue("SELECT ENum FROM SER_LOG WHERE UserName=$1 AND Comment=$2 AND Time=$3",
                                  {"it's me", "密码错误", "2015/02/02_10:00:00"}),
              6);
  } else {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "2015/02/02_10:00:00 MOUNT1           30.50000000 114.25123450   20.125 " + gga);
  }
}

// The day's GGA file that cannot be written (its directory a regular file, then the file a full
// disk): the position fails with one red line per file and day; a written line a minute later clears
// the note.
TEST_P(AccountTest, UnwritableGgaFileFailsWithOneRedLine) {
  if (Server()) GTEST_SKIP() << "positions go to the server database, not the file";
  const std::string gga = "$GPGGA\r\n";
  const std::string redLine = "GGA write failed GGA/GGA20150202.txt";
  const auto count = [&] {
    return std::count_if(monitor.lines.begin(), monitor.lines.end(),
                         [&](const LogRecord& l) { return l.text == redLine && l.level == kLogRed; });
  };
  namespace fs = std::filesystem;
  fs::remove_all(dir.File("GGA"));
  std::ofstream(dir.File("GGA")) << "x";
  EXPECT_EQ(accounts.RecordPosition("M", gga, 1, 2, 3), 0);
  EXPECT_EQ(accounts.RecordPosition("M", gga, 1, 2, 3), 0);
  EXPECT_EQ(count(), 1);

  // A success within a minute of the report does not renew it (a nearly full disk takes a short line
  // between failures); one a minute later does.
  for (const uint16_t minute : {uint16_t{0}, uint16_t{1}}) {
    clock.Set(LocalTime{2015, 2, 1, 2, 10, minute, 0, 0});
    fs::remove_all(dir.File("GGA"));
    fs::create_directories(dir.File("GGA"));
    EXPECT_EQ(accounts.RecordPosition("M", gga, 1, 2, 3), 1);
    fs::remove(dir.File("GGA/GGA20150202.txt"));
    fs::create_symlink("/dev/full", dir.File("GGA/GGA20150202.txt"));
    EXPECT_EQ(accounts.RecordPosition("M", gga, 1, 2, 3), 0);
    EXPECT_EQ(accounts.RecordPosition("M", gga, 1, 2, 3), 0);
    EXPECT_EQ(count(), 1 + minute);
  }

  // A line cut short by the full disk is taken back; the next one starts on a line of its own.
  fs::remove(dir.File("GGA/GGA20150202.txt"));
  EXPECT_EQ(accounts.RecordPosition("M", gga, 1, 2, 3), 1);
  const auto size = fs::file_size(dir.File("GGA/GGA20150202.txt"));
  {
    FileSizeLimit full(size + 10);
    EXPECT_EQ(accounts.RecordPosition("M", gga, 1, 2, 3), 0);
  }
  EXPECT_EQ(fs::file_size(dir.File("GGA/GGA20150202.txt")), size);
  EXPECT_EQ(accounts.RecordPosition("M", gga, 1, 2, 3), 1);
  EXPECT_EQ(fs::file_size(dir.File("GGA/GGA20150202.txt")), 2 * size);
}

TEST_P(AccountTest, CloseAndCloseAllRecordConnections) {
  sockaddr_in peer{};
  peer.sin_addr.s_addr = htonl(0x0A000007);
  for (uint32_t socket : {7u, 8u, 9u}) {
    ASSERT_EQ(gybl.Accept(socket, peer), 1);
    ClientEntry& entry = gybl.clientTable.at(socket);
    entry.userName = "rover" + std::to_string(socket);
    entry.clientType = "NTRIP";
    entry.agent = kAgent;
    entry.bytesReceived = 100;
  }
  clock.Set(LocalTime{2015, 2, 1, 2, 10, 1, 0, 0});
  EXPECT_EQ(gybl.Close(7, CloseReason::kPeerClosed), 1);
  EXPECT_EQ(Count(Local(), "RECORD"), 1);
  gybl.CloseAll();
  EXPECT_EQ(Count(Local(), "RECORD"), 3);
  Flush();
  EXPECT_EQ(AccountValue("rover8", "USERTIME"), 60);
}

TEST_P(AccountTest, BusyRecordsetAndMissingTable) {
  AddAccount({.name = "rover"});
  SetFlags(0, 0);
  {
    LocalStore::Recordset held = database.userDatabase.Take();
    // The local file gives up at once, whatever the flags; the server does not use the recordset.
    EXPECT_EQ(Check("rover", "wrong").ok, Server());
    EXPECT_EQ(Record(Connection("rover", 40, 0)), 0);
    EXPECT_EQ(steps.CountUsers(), 0);
  }
  if (Server()) return;
  ASSERT_EQ(Local().Execute("DROP TABLE USERPASSWORD"), 1);
  EXPECT_FALSE(Check("rover", "pw").ok);
  EXPECT_TRUE(monitor.HasLine("USERPASSWORD 数据库打开失败 7", kLogRed));
}

TEST_P(AccountTest, LostServerConnectionIsOpenedAgain) {
  if (!Server()) GTEST_SKIP() << "the server back end only";
  AddAccount({.name = "rover"});
  SetFlags(1, 0);
  ASSERT_EQ(server->Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname=$1 AND "
                            "pid<>pg_backend_pid()",
                            {scratch->name()}),
            1);
  EXPECT_EQ(Check("rover", "pw").errorCode, 7);  // the query on the lost connection failed
  EXPECT_EQ(std::count_if(monitor.lines.begin(), monitor.lines.end(),
                          [](const LogRecord& l) { return l.level == kLogRed; }),
            1);
  EXPECT_EQ(database.sqlOpen, 1);  // the query worker connects again by itself
  EXPECT_TRUE(Check("rover", "pw").ok);
}

// The server lost, then back: the login check in between fails with one red line, and the record, the
// charge and the position queued meanwhile reach the server once the write worker has connected again.
TEST_P(AccountTest, WritesQueuedWhileTheServerIsLostReachItAfterTheRestart) {
  if (!Server()) GTEST_SKIP() << "the server back end only";
  AddAccount({.name = "rover"});
  testsupport::TcpProxy proxy(scratch->server().port);
  database.CloseSqlDatabase();
  gybl.settings.sqlPort = proxy.port();
  OpenServer();
  proxy.Set(testsupport::TcpProxy::Mode::kDown);
  EXPECT_EQ(Record(Connection("rover", 60, 0)), 1);
  EXPECT_EQ(accounts.RecordPosition("rover", "$GPGGA\r\n", 1, 2, 3), 1);
  SetFlags(1, 0);
  EXPECT_EQ(Check("rover", "pw").errorCode, 7);
  EXPECT_TRUE(monitor.HasLine("SER_UserDB 数据库打开失败 7", kLogRed));
  proxy.Set(testsupport::TcpProxy::Mode::kPass);
  EXPECT_TRUE(testsupport::RunUntil(io, [&] {
    return Count(*server, "SER_RECORD") == 1 && Count(*server, "SER_Position") == 1 &&
           AccountValue("rover", "USERTIME") == 60;
  }));
  // The query worker connects again at its next attempt, at most one reconnect interval later.
  EXPECT_TRUE(testsupport::RunUntil(io, [&] { return Check("rover", "pw").ok; }));
}

// The work-area dialog over each back end: add (a duplicate refused), pick and save the corners, read
// them back, and a delete refused while an account uses the area.
TEST_P(AccountTest, WorkAreaDialogAddPickSaveAndRefusedDelete) {
  AddArea("North", 30, 31, 114, 115);
  AddAccount({.name = "surveyor", .area = "North"});
  if (Server()) {
    Flush();
  } else {
    accounts.areas.LoadWorkAreas();
  }
  WorkAreaDialog dialog(accounts.areas, gybl.workAreaList);
  dialog.Open();
  EXPECT_EQ(dialog.form().selected, "North");
  std::string error;
  EXPECT_FALSE(dialog.Add("North", error));
  EXPECT_EQ(error, "Repeat Name");
  EXPECT_FALSE(dialog.Add(std::string(251, 'x'), error));
  ASSERT_TRUE(dialog.Add("Zone1", error));
  AreaBounds shown{};
  EXPECT_FALSE(dialog.ShownRectangle(shown)) << "a new area has no rectangle yet";
  Flush();  // the server's insert is queued
  dialog.Pick(39.9123456789, 116.5, 39.8, 116.3000004);
  EXPECT_TRUE(dialog.Save(dialog.form().bounds, {1, 2, 3, 4, 5, 6, 7, 1, 0}));
  Flush();
  ASSERT_TRUE(dialog.Select("Zone1"));
  EXPECT_EQ(dialog.form().bounds, (AreaBounds{39.8, 39.912345, 116.3, 116.5}));
  EXPECT_EQ(dialog.form().parameters.useSeven, 1);
  EXPECT_TRUE(dialog.ShownRectangle(shown));
  dialog.Close();
  EXPECT_FALSE(dialog.ShownRectangle(shown));

  ASSERT_TRUE(dialog.Select("North"));
  EXPECT_FALSE(dialog.Delete()) << "in use by surveyor";
  ASSERT_TRUE(dialog.Select("Zone1"));
  EXPECT_TRUE(dialog.Delete());
  EXPECT_EQ(dialog.form().selected, "North") << "the entry before it is loaded";
  EXPECT_EQ(gybl.workAreaList, std::vector<std::string>{"North"});
}

INSTANTIATE_TEST_SUITE_P(Backends, AccountTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         dbtest::BackendName);

}  // namespace
