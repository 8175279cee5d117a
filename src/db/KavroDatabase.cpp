#include "db/KavroDatabase.h"

#include <utility>

#include "app/KavroGyBl.h"
#include "core/Messages.h"
#include "core/StrFormat.h"
#include "db/AdoCom.h"
#include "db/LocalSchema.h"
#include "db/ServerSchema.h"

namespace {

// Local open failed, SQL open failed, SQL open succeeded.
constexpr int kTextDatabaseOpen = 62447;
// Failure of a database operation.
constexpr int kTextDatabaseFailed = 62452;
constexpr const char* kUserDatabaseFile = "Kavro202.db";
constexpr const char* kMapSetFile = "KavroMapSet.db";

}  // namespace

// The two connections of one attempt, handed from the connecting thread to the main thread.
struct KavroDatabase::Connections {
  std::unique_ptr<Ado_InterFacce> query;
  std::unique_ptr<Ado_InterFacce> writer;
  bool ok = false;
};

KavroDatabase::KavroDatabase(CKavroGyBl& gybl, Poster post, Ado_Db::ConnectionFactory factory, SteadyNow now)
    : gybl_(gybl), post_(std::move(post)), factory_(std::move(factory)), now_(std::move(now)) {
  if (!factory_) factory_ = [] { return std::make_unique<Ado_Com>(); };
  if (!now_) now_ = [] { return std::chrono::steady_clock::now(); };
}

KavroDatabase::~KavroDatabase() {
  alive_.reset();
  if (connectThread_.joinable()) connectThread_.join();
  CloseSqlDatabase();
}

int KavroDatabase::OpenLocalDatabase() {
  gybl_.LoadTexts(kTextDatabaseOpen);
  const std::string userPath = gybl_.programDirectory + kUserDatabaseFile;
  const std::string mapSetPath = gybl_.programDirectory + kMapSetFile;
  userDatabase.Close();
  mapSetDatabase.Close();
  UpgradeLocalDatabase(userPath);
  if (userDatabase.Open(userPath) == 0) {
    gybl_.Log(StrFormat("Kavro202.MDB %s %d", gybl_.textList[0].c_str(), 3), kLogRed);
  }
  if (mapSetDatabase.Open(mapSetPath) == 0 || CreateMapSetTables(mapSetDatabase.connection()) == 0) {
    mapSetDatabase.Close();
    gybl_.Log(StrFormat("%s %d", gybl_.textList[0].c_str(), 4), kLogRed);
  }
  return 1;
}

int KavroDatabase::UpgradeLocalDatabase(const std::string& path) {
  if (userDatabase.Open(path) == 0) return 1;
  CreateLocalTables(userDatabase.connection());
  for (const AddedColumn& added : AddedColumns()) AddColumn(added.table, added.column, added.type);
  userDatabase.Close();
  return 1;
}

int KavroDatabase::AddColumn(const std::string& table, const std::string& column, int type) {
  const std::string statement = AddColumnStatement(table, column, type);
  if (!statement.empty()) userDatabase.connection().Execute(statement);
  return 0;
}

int KavroDatabase::OpenSqlDatabase() {
  if (sqlOpen == 1) return 1;
  gybl_.LoadTexts(kTextDatabaseOpen);
  if (gybl_.settings.useSql != 1) return 0;
  // The red line comes from the attempt when it fails, once per attempt: an operation while the
  // server is down would otherwise write one for every rover's position.
  BeginConnect(false);
  return 1;
}

void KavroDatabase::StartSqlDatabase() {
  if (sqlOpen == 1 || gybl_.settings.useSql != 1) return;
  BeginConnect(true);
}

void KavroDatabase::BeginConnect(bool force) {
  if (connecting_) return;
  if (failed_ && !force && now_() - lastFailure_ < kReconnectInterval) return;
  if (connectThread_.joinable()) connectThread_.join();
  const Settings& s = gybl_.settings;
  connecting_ = true;
  connectThread_ = std::thread([connection = ServerConnectionString(s.sqlIp, s.sqlPort, s.sqlDbName),
                                user = s.sqlUser, password = s.sqlPassword, factory = factory_, post = post_,
                                alive = std::weak_ptr<int>(alive_), generation = generation_, this] {
    auto result = std::make_shared<Connections>();
    result->query = factory();
    result->writer = factory();
    result->ok = result->query && result->writer && result->query->Open(connection, user, password) == 1 &&
                 result->writer->Open(connection, user, password) == 1;
    post([alive, generation, result, this] {
      if (alive.lock()) Connected(generation, result);
    });
  });
}

void KavroDatabase::Connected(uint64_t generation, std::shared_ptr<Connections> result) {
  if (connectThread_.joinable()) connectThread_.join();
  connecting_ = false;
  // Closed since the attempt began (service stopped): the connections close with the result.
  if (generation != generation_ || gybl_.settings.useSql != 1) return;
  gybl_.LoadTexts(kTextDatabaseOpen);
  if (result->ok && adoDb.Open(std::move(result->query), std::move(result->writer))) {
    sqlOpen = 1;
    failed_ = false;
    gybl_.Log(StrFormat("%s OpenDBSQL", gybl_.textList[2].c_str()), kLogNormal);
    const bool created = CheckServerVersion() == 0;
    if (created) CreateServerTables();
    if (opened_) opened_(created);
    return;
  }
  failed_ = true;
  lastFailure_ = now_();
  gybl_.Log(StrFormat("%s OpenDBSQL", gybl_.textList[1].c_str()), kLogRed);
}

int KavroDatabase::CheckServerVersion() { return ::CheckServerVersion(adoDb); }

int KavroDatabase::CreateServerTables() { return ::CreateServerTables(adoDb); }

int KavroDatabase::ServerSelect(const std::string& sql, const SqlParams& params,
                                const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
  if (adoDb.Select(sql, params, columns, rows) == 1) return 1;
  Ado_InterFacce* connection = adoDb.connection();
  if (sqlOpen == 1 && (connection == nullptr || !connection->IsOpen())) CloseSqlDatabase();
  return 0;
}

std::string KavroDatabase::FailureText() {
  gybl_.LoadTexts(kTextDatabaseFailed);
  return gybl_.textList[0];
}

int KavroDatabase::CloseSqlDatabase() {
  ++generation_;
  if (sqlOpen == 1) adoDb.Stop();
  sqlOpen = 0;
  return 1;
}
