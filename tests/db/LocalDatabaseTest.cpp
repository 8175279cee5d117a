// The local files: creation with every column, upgrade of an older file, failures to open, and the
// one-recordset rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "db/DbTestSupport.h"
#include "db/KavroDatabase.h"

namespace {

class CapturingMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record); }
  std::vector<LogRecord> lines;
};

// Column names of a table, in order, separated by commas.
std::string Columns(Ado_InterFacce& db, const std::string& table) {
  std::vector<Ado_Row> rows;
  EXPECT_EQ(db.Select("SELECT name FROM pragma_table_info($1) ORDER BY cid", {table}, {"name"}, rows), 1);
  std::string names;
  for (Ado_Row& row : rows) names += (names.empty() ? "" : ",") + FieldText(row["name"]);
  return names;
}

const char* const kUserColumns =
    "UserUser,USERPASSWORD,PUSERTIME,USERTIME,PUSEDATA,USERLX,Measure_unit,Contact_person,Telephone,"
    "ScopeName,"
    "USERTIME_LAST,SN_YES,SN,EMAIL";
const char* const kScopeColumns =
    "Name,B1,B2,L1,L2,DX,DY,DZ,RX,RY,RZ,SF,UseSeven,UseSevenEncry,UseUndulation";
const char* const kRecordColumns = "IP,A1,A2,A3,A4,RES,Send,Num1,position,ver,BASEMODE,BaseLink";

class LocalDatabaseTest : public ::testing::Test {
 protected:
  LocalDatabaseTest()
      : gybl(Settings{}, clock, monitor, steps), database(gybl, [](std::function<void()>) {}) {
    gybl.programDirectory = dir.Directory();
  }
  std::unique_ptr<Ado_Sqlite> OpenFile(const std::string& name) {
    auto db = std::make_unique<Ado_Sqlite>();
    EXPECT_EQ(db->Open(dir.File(name), "", ""), 1);
    return db;
  }

  dbtest::TempDir dir;
  SystemClock clock;
  CapturingMonitor monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  KavroDatabase database;
};

TEST_F(LocalDatabaseTest, MissingFilesAreCreatedWithEveryColumn) {
  EXPECT_EQ(database.OpenLocalDatabase(), 1);
  EXPECT_TRUE(monitor.lines.empty());
  EXPECT_TRUE(database.userDatabase.IsOpen());
  EXPECT_TRUE(database.mapSetDatabase.IsOpen());

  auto user = OpenFile("Kavro202.db");
  EXPECT_EQ(Columns(*user, "USERPASSWORD"), kUserColumns);
  EXPECT_EQ(Columns(*user, "Scope"), kScopeColumns);
  EXPECT_EQ(Columns(*user, "RECORD"), kRecordColumns);
  EXPECT_EQ(
      user->SelectValue("SELECT count(*) FROM pragma_index_info('USERPASSWORD_UserUser') WHERE name = $1",
                        {"UserUser"}),
      1);
  std::vector<Ado_Row> rows;
  ASSERT_EQ(user->Select("PRAGMA journal_mode", {"journal_mode"}, rows), 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(FieldText(rows[0]["journal_mode"]), "wal");

  auto mapSet = OpenFile("KavroMapSet.db");
  EXPECT_EQ(Columns(*mapSet, "LayerSet"), "LayerName,DISP,SETECT,TEXT,EDIT,MAXDISP,MINDISP");
  EXPECT_EQ(Columns(*mapSet, "MapData"), "LayerName,FileNAme,X1,Y1,X2,Y2,DataType");

  // Rows written through the open store are there for the next reader.
  EXPECT_EQ(database.userDatabase.Execute("INSERT INTO USERPASSWORD(UserUser, USERPASSWORD) VALUES ($1, $2)",
                                          {"u1", "' OR '1'='1"}),
            1);
  EXPECT_EQ(user->SelectValue("SELECT count(*) FROM USERPASSWORD WHERE USERPASSWORD = $1", {"' OR '1'='1"}),
            1);
}

TEST_F(LocalDatabaseTest, OlderFileGetsTheAddedColumnsAndKeepsItsRows) {
  {
    auto old = OpenFile("Kavro202.db");
    ASSERT_EQ(old->Execute("CREATE TABLE USERPASSWORD(UserUser TEXT, USERPASSWORD TEXT, PUSERTIME INTEGER, "
                           "USERTIME INTEGER, PUSEDATA INTEGER, USERLX INTEGER, Measure_unit TEXT, "
                           "Contact_person TEXT, Telephone TEXT, ScopeName TEXT)"),
              1);
    ASSERT_EQ(old->Execute("CREATE TABLE Scope(Name TEXT, B1 REAL, B2 REAL, L1 REAL, L2 REAL, DX REAL)"), 1);
    ASSERT_EQ(old->Execute("CREATE TABLE RECORD(IP TEXT, A1 TEXT, A2 TEXT, A3 TEXT, A4 TEXT, RES TEXT, "
                           "Send TEXT, Num1 TEXT, position TEXT, ver TEXT, BASEMODE TEXT)"),
              1);
    ASSERT_EQ(
        old->Execute("INSERT INTO USERPASSWORD(UserUser, USERPASSWORD, USERTIME) VALUES ('old', 'pw', 77)"),
        1);
    ASSERT_EQ(old->Execute("INSERT INTO Scope(Name, B1, DX) VALUES ('North Yard', 30.5, 1.25)"), 1);
  }
  for (int run = 0; run < 2; ++run) {  // the second start finds every column present
    EXPECT_EQ(database.OpenLocalDatabase(), 1);
    EXPECT_TRUE(monitor.lines.empty());
    auto user = OpenFile("Kavro202.db");
    EXPECT_EQ(Columns(*user, "USERPASSWORD"), kUserColumns);
    EXPECT_EQ(Columns(*user, "Scope"), kScopeColumns);
    EXPECT_EQ(Columns(*user, "RECORD"), kRecordColumns);
    std::vector<Ado_Row> rows;
    ASSERT_EQ(user->Select("SELECT UserUser, USERPASSWORD, USERTIME, SN FROM USERPASSWORD",
                           {"UserUser", "USERPASSWORD", "USERTIME", "SN"}, rows),
              1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(FieldText(rows[0]["UserUser"]), "old");
    EXPECT_EQ(FieldText(rows[0]["USERPASSWORD"]), "pw");
    EXPECT_EQ(FieldInt(rows[0]["USERTIME"]), 77);
    EXPECT_TRUE(rows[0]["SN"].IsNull());
    rows.clear();
    ASSERT_EQ(user->Select("SELECT Name, DX, SF FROM Scope", {"Name", "DX", "SF"}, rows), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(FieldText(rows[0]["Name"]), "North Yard");
    EXPECT_EQ(FieldDouble(rows[0]["DX"]), 1.25);
    EXPECT_TRUE(rows[0]["SF"].IsNull());
  }
}

TEST_F(LocalDatabaseTest, FilesThatCannotBeOpenedGiveRedLines) {
  std::filesystem::create_directories(dir.File("Kavro202.db"));
  std::filesystem::create_directories(dir.File("KavroMapSet.db"));
  EXPECT_EQ(database.OpenLocalDatabase(), 1);
  ASSERT_EQ(monitor.lines.size(), 2u);
  EXPECT_EQ(monitor.lines[0].text, "Kavro202.MDB 本地数据库打开失败 3");
  EXPECT_EQ(monitor.lines[0].level, kLogRed);
  EXPECT_EQ(monitor.lines[1].text, "本地数据库打开失败 4");
  EXPECT_EQ(monitor.lines[1].level, kLogRed);
  EXPECT_FALSE(database.userDatabase.IsOpen());
  EXPECT_FALSE(database.mapSetDatabase.IsOpen());
  std::vector<Ado_Row> rows;
  EXPECT_EQ(database.userDatabase.Select("SELECT UserUser FROM USERPASSWORD", {}, {"UserUser"}, rows), 0);
}

// A damaged file is kept aside under a new name with one red line, and the caster goes on with a new
// file that takes records; a sound or empty file is used as it is.
TEST_F(LocalDatabaseTest, DamagedFileIsSetAsideForANewOne) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> damage;
    const char* problem;  // "" for a file that is not damaged
  };
  const auto overwrite = [](const std::string& path, uintmax_t at, const std::string& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(at));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  };
  namespace fs = std::filesystem;
  const Case cases[] = {
      {"sound", [](const std::string&) {}, ""},
      {"empty", [](const std::string& path) { fs::resize_file(path, 0); }, ""},
      {"cut", [](const std::string& path) { fs::resize_file(path, fs::file_size(path) / 2); }, ""},
      {"middle",
       [&](const std::string& path) { overwrite(path, fs::file_size(path) / 2, std::string(8192, '\x5A')); },
       ""},
      {"text", [](const std::string& path) { std::ofstream(path) << "hello, this is not a database\n"; },
       "file is not a database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("Kavro202.db");
    fs::remove(path);
    ASSERT_EQ(database.OpenLocalDatabase(), 1);
    ASSERT_EQ(database.userDatabase.Execute(
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                  "INSERT INTO RECORD(IP, A1) SELECT '10.0.0.1', 'old record ' || i FROM n"),
              1);
    database.userDatabase.Close();
    database.mapSetDatabase.Close();
    c.damage(path);
    monitor.lines.clear();
    for (const auto& entry : fs::directory_iterator(dir.Directory())) {
      if (entry.path().filename().string().find(".damaged-") != std::string::npos) fs::remove(entry.path());
    }

    ASSERT_EQ(database.OpenLocalDatabase(), 1);
    ASSERT_TRUE(database.userDatabase.IsOpen());
    EXPECT_EQ(database.userDatabase.Execute("INSERT INTO RECORD(IP, A1) VALUES ('10.0.0.2', 'new')"), 1);
    EXPECT_EQ(database.userDatabase.connection().SelectValue("SELECT COUNT(*) FROM RECORD WHERE A1 = 'new'"),
              1);
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(dir.Directory())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("Kavro202.db.damaged-")) kept.push_back(name);
    }
    const bool damaged = std::string(c.name) != "sound" && std::string(c.name) != "empty";
    ASSERT_EQ(kept.size(), damaged ? 1u : 0u);
    if (!damaged) {
      EXPECT_TRUE(monitor.lines.empty());
      continue;
    }
    ASSERT_EQ(monitor.lines.size(), 1u);
    EXPECT_EQ(monitor.lines[0].level, kLogRed);
    EXPECT_TRUE(monitor.lines[0].text.starts_with("Kavro202.db is damaged (")) << monitor.lines[0].text;
    EXPECT_NE(monitor.lines[0].text.find(c.problem), std::string::npos) << monitor.lines[0].text;
    EXPECT_TRUE(monitor.lines[0].text.ends_with(": kept as " + kept[0] + ", a new Kavro202.db is used"))
        << monitor.lines[0].text;
  }
}

TEST_F(LocalDatabaseTest, OperationFindingTheRecordsetInUseGivesUpAndTouchesNothing) {
  ASSERT_EQ(database.OpenLocalDatabase(), 1);
  LocalStore& store = database.userDatabase;
  {
    LocalStore::Recordset held = store.Take();
    ASSERT_TRUE(held);
    EXPECT_TRUE(store.Busy());
    EXPECT_FALSE(store.Take());
    EXPECT_EQ(store.Execute("INSERT INTO USERPASSWORD(UserUser) VALUES ($1)", {"intruder"}), 0);
    std::vector<Ado_Row> rows;
    EXPECT_EQ(store.Select("SELECT UserUser FROM USERPASSWORD", {}, {"UserUser"}, rows), 0);
    EXPECT_TRUE(rows.empty());
    // The holder itself works through it.
    EXPECT_EQ(held.Execute("INSERT INTO USERPASSWORD(UserUser) VALUES ($1)", {"holder"}), 1);
    LocalStore::Recordset moved = std::move(held);
    EXPECT_TRUE(store.Busy());
  }
  EXPECT_FALSE(store.Busy());
  std::vector<Ado_Row> rows;
  ASSERT_EQ(store.Select("SELECT UserUser FROM USERPASSWORD", {}, {"UserUser"}, rows), 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(FieldText(rows[0]["UserUser"]), "holder");
  // The map-set file has a recordset of its own.
  LocalStore::Recordset held = store.Take();
  EXPECT_EQ(database.mapSetDatabase.Execute("INSERT INTO LayerSet(LayerName) VALUES ($1)", {"roads"}), 1);
}

}  // namespace
