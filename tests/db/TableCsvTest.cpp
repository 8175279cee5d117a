// The account and work-area tables as CSV on both back ends: a round trip through an empty database
// keeps every column and gives the same file, a dry run changes nothing, a partial file changes only
// its columns, and a bad line is reported with its number while nothing is imported.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/DbTestSupport.h"
#include "db/LocalSchema.h"
#include "db/ServerSchema.h"
#include "db/TableCsv.h"

namespace {

using dbtest::Backend;

class TableCsvTest : public dbtest::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    db = Connect();
    CreateTables(*db);
  }
  bool Server() const { return GetParam() == Backend::kPostgres; }
  AccountBackend Kind() const { return Server() ? AccountBackend::kServer : AccountBackend::kLocal; }
  std::string Table() const { return Server() ? "SER_UserDB" : "USERPASSWORD"; }
  std::string Key() const { return Server() ? "UserName" : "UserUser"; }
  void CreateTables(Ado_InterFacce& target) const {
    if (Server()) {
      for (const char* statement : ServerTableStatements()) ASSERT_EQ(target.Execute(statement), 1);
    } else {
      ASSERT_EQ(CreateLocalTables(target), 1);
    }
  }
  // A second database with empty tables.
  std::unique_ptr<Ado_InterFacce> EmptyDatabase() {
    auto target = NewConnection();
    if (Server()) {
      second_ = std::make_unique<dbtest::ScratchDatabase>();
      EXPECT_EQ(target->Open(second_->ConnectionString(), User(), ""), 1);
    } else {
      EXPECT_EQ(target->Open(ConnectionString() + ".empty", "", ""), 1);
    }
    CreateTables(*target);
    return target;
  }
  std::string Export(Ado_InterFacce& from, CsvTable table) const {
    std::string csv, error;
    EXPECT_TRUE(ExportTableCsv(from, Kind(), table, csv, error)) << error;
    return csv;
  }
  AccountAdmin Admin() {
    return AccountAdmin(Kind(), [this](const std::string& sql, const SqlParams& params,
                                       const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
      return db->Select(sql, params, columns, rows);
    });
  }
  // Accounts and work areas with texts that need quoting, Chinese names, a snapshot of its own, a group,
  // exact reals and unset parameters.
  void Fill() {
    AccountAdmin admin = Admin();
    ASSERT_TRUE(admin
                    .Add({"a,b", "p\"w", 3600, 700, 20301231, 0x24, "Survey \"Co\", 测绘", "李雷", "+86 10",
                          "北区, \"A\"", 1, "SN-42", "li@example.com"})
                    .ok());
    ASSERT_TRUE(admin.Add({.name = "测试用户", .password = "密码 1"}).ok());
    ASSERT_TRUE(admin.Add({.name = "say \"hi\"", .password = "x"}).ok());
    ASSERT_EQ(db->Execute("update " + Table() + " set USERTIME_LAST = 500 where " + Key() + " = 'a,b'"), 1);
    if (Server()) {
      ASSERT_EQ(db->Execute("update SER_UserDB set GLName = 'team, east'"), 1);
    }
    const char* areas = Server() ? "SER_Scope" : "Scope";
    ASSERT_EQ(db->Execute(std::string("insert into ") + areas +
                              " (Name, B1, B2, L1, L2, DX, DY, DZ, RX, RY, RZ, SF, UseSeven, UseUndulation) "
                              "values ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14)",
                          {"北区, \"A\"", 30.123456789012, 31.0, 114.5, 113.5, -12.25, 0.1, 3.0, 1e-7, -0.5,
                           2.0, 4.25, 1, 0}),
              1);
    ASSERT_EQ(db->Execute(std::string("insert into ") + areas +
                          " (Name, B1, B2, L1, L2) values ('empty', 0, 0, 0, 0)"),
              1);
  }

  std::unique_ptr<Ado_InterFacce> db;

 private:
  std::unique_ptr<dbtest::ScratchDatabase> second_;
};

TEST_P(TableCsvTest, RoundTripThroughAnEmptyDatabaseGivesTheSameFile) {
  Fill();
  const std::string accounts = Export(*db, CsvTable::kAccounts), areas = Export(*db, CsvTable::kAreas);
  const std::string accountHeader =
      Server()
          ? "UserName,GLName,USERPASSWORD,PUSERTIME,USERTIME,PUSEDATA,USERLX,Measure_unit,Contact_person,"
            "Telephone,ScopeName,SN,EMAIL,SN_YES,USERTIME_LAST\r\n"
          : "UserUser,USERPASSWORD,PUSERTIME,USERTIME,PUSEDATA,USERLX,Measure_unit,Contact_person,Telephone,"
            "ScopeName,USERTIME_LAST,SN_YES,SN,EMAIL\r\n";
  EXPECT_EQ(accounts.substr(0, accountHeader.size()), accountHeader);
  const std::string first =
      Server()
          ? "\"a,b\",\"team, east\",\"p\"\"w\",3600,700,20301231,36,\"Survey \"\"Co\"\", 测绘\",李雷,+86 10,"
            "\"北区, \"\"A\"\"\",SN-42,li@example.com,1,500\r\n"
          : "\"a,b\",\"p\"\"w\",3600,700,20301231,36,\"Survey \"\"Co\"\", 测绘\",李雷,+86 10,"
            "\"北区, \"\"A\"\"\",500,1,SN-42,li@example.com\r\n";
  EXPECT_EQ(accounts.substr(accountHeader.size(), first.size()), first);
  const std::string area =
      Server() ? "\"北区, \"\"A\"\"\",30.123456789012,31,114.5,113.5,-12.25,0.1,3,1e-07,-0.5,2,4.25,1,0\r\n"
               : "\"北区, \"\"A\"\"\",30.123456789012,31,114.5,113.5,-12.25,0.1,3,1e-07,-0.5,2,4.25,1,,0\r\n";
  EXPECT_NE(areas.find(area), std::string::npos) << areas;
  EXPECT_NE(areas.find(Server() ? "\r\nempty,0,0,0,0,,,,,,,,,\r\n" : "\r\nempty,0,0,0,0,,,,,,,,,,\r\n"),
            std::string::npos)
      << "unset parameters stay unset: " << areas;

  auto target = EmptyDatabase();
  for (const auto& [table, csv, count] :
       {std::tuple{CsvTable::kAccounts, accounts, 3u}, std::tuple{CsvTable::kAreas, areas, 2u}}) {
    const CsvImportReport report = ImportTableCsv(*target, Kind(), table, csv, false);
    ASSERT_TRUE(report.ok()) << report.errors.front();
    EXPECT_EQ(report.added.size(), count);
    EXPECT_EQ(Export(*target, table), csv);
    const CsvImportReport again = ImportTableCsv(*target, Kind(), table, csv, false);
    EXPECT_TRUE(again.added.empty() && again.updated.empty() && again.ok());
    EXPECT_EQ(again.unchanged, count);
  }
}

TEST_P(TableCsvTest, DryRunChangesNothingAndAPartialFileChangesOnlyItsColumns) {
  Fill();
  const std::string before = Export(*db, CsvTable::kAccounts);
  // The key under the other back end's name, a BOM, LF line ends: a file from elsewhere.
  const std::string csv = std::string("\xEF\xBB\xBF") + (Server() ? "UserUser" : "UserName") +
                          ",USERPASSWORD,USERTIME\n\"a,b\",new,700\n测试用户,密码 1,0\nfresh,pw,50\n";
  const CsvImportReport dry = ImportTableCsv(*db, Kind(), CsvTable::kAccounts, csv, true);
  ASSERT_TRUE(dry.ok()) << dry.errors.front();
  EXPECT_EQ(dry.added, std::vector<std::string>{"fresh"});
  EXPECT_EQ(dry.updated, std::vector<std::string>{"a,b"});
  EXPECT_EQ(dry.unchanged, 1u);
  EXPECT_EQ(Export(*db, CsvTable::kAccounts), before);

  const CsvImportReport done = ImportTableCsv(*db, Kind(), CsvTable::kAccounts, csv, false);
  ASSERT_TRUE(done.ok()) << done.errors.front();
  EXPECT_EQ(done.added, dry.added);
  EXPECT_EQ(done.updated, dry.updated);
  const AccountResult changed = Admin().Get("a,b");
  ASSERT_TRUE(changed.ok());
  EXPECT_EQ(changed.accounts[0].password, "new");
  EXPECT_EQ(changed.accounts[0].contact, "李雷") << "columns the file leaves out are kept";
  const AccountResult fresh = Admin().Get("fresh");
  ASSERT_TRUE(fresh.ok());
  EXPECT_EQ(fresh.accounts[0], (Account{.name = "fresh", .password = "pw", .usedSeconds = 50}));
  EXPECT_EQ(db->SelectValue("select USERTIME_LAST from " + Table() + " where " + Key() + " = 'fresh'"), 50)
      << "a new account starts inactive";
}

TEST_P(TableCsvTest, ABadLineIsReportedWithItsNumberAndNothingIsImported) {
  Fill();
  const std::string key = Key();
  struct Case {
    CsvTable table;
    std::string csv;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {CsvTable::kAccounts, "UserUser,USERPASSWORD\nnew1,pw\nnew2,\n", {"line 3: password is empty"}},
      {CsvTable::kAccounts,
       "UserUser,USERPASSWORD\r\nx,pw\r\n\"two\nlines\",pw\r\nx,pw2\r\n",
       {"line 3: name holds a control character", "line 5: " + key + " 'x' repeats line 2"}},
      {CsvTable::kAccounts,
       "UserUser,USERPASSWORD,PUSEDATA\nx,pw,20230230\n",
       {"line 2: last valid day is not a date YYYYMMDD"}},
      {CsvTable::kAccounts,
       "UserUser,USERPASSWORD,PUSERTIME\nx,pw,12a\ny,pw,99999999999\n",
       {"line 2: PUSERTIME: '12a' is not a whole number",
        "line 3: PUSERTIME: '99999999999' is not a whole number"}},
      {CsvTable::kAccounts, "UserUser,USERPASSWORD\nx\n", {"line 2: 1 fields where the header has 2"}},
      {CsvTable::kAccounts,
       "UserUser,Colour,userpassword,USERPASSWORD\n",
       {"line 1: unknown column 'Colour'", "line 1: column 'USERPASSWORD' appears twice"}},
      {CsvTable::kAccounts, "USERPASSWORD\npw\n", {"line 1: no column " + key}},
      {CsvTable::kAccounts,
       "UserUser,USERPASSWORD\n\"a,b\",\"pw\n",
       {"line 2: a quoted field is not closed"}},
      {CsvTable::kAreas, "Name,UseSeven\nn1,1\nn2,2\n", {"line 3: UseSeven is not 0 or 1"}},
      {CsvTable::kAreas,
       "Name,B1,L1\nn1,nan,1\n,1,2\n",
       {"line 2: B1: 'nan' is not a number", "line 3: name is empty"}},
  };
  const std::string accounts = Export(*db, CsvTable::kAccounts), areas = Export(*db, CsvTable::kAreas);
  for (const Case& c : cases) {
    const CsvImportReport report = ImportTableCsv(*db, Kind(), c.table, c.csv, false);
    EXPECT_EQ(report.errors, c.errors) << c.csv;
  }
  EXPECT_EQ(Export(*db, CsvTable::kAccounts), accounts);
  EXPECT_EQ(Export(*db, CsvTable::kAreas), areas);
}

INSTANTIATE_TEST_SUITE_P(Backends, TableCsvTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         dbtest::BackendName);

}  // namespace
