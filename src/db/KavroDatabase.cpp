#include "db/KavroDatabase.h"

#include <algorithm>
#include <utility>

#include "app/KavroGyBl.h"
#include "core/Messages.h"
#include "core/StrFormat.h"
#include "db/AdoCom.h"
#include "db/DamagedFile.h"
#include "db/LocalSchema.h"
#include "db/ServerSchema.h"
#include "db/WorkAreas.h"

namespace {

// Local open failed, SQL open failed, SQL open succeeded.
constexpr int kTextDatabaseOpen = 62447;
// Failure of a database operation.
constexpr int kTextDatabaseFailed = 62452;
constexpr const char* kUserDatabaseFile = "Kavro202.db";
constexpr const char* kMapSetFile = "KavroMapSet.db";

}  // namespace

// The two connections of one attempt, handed from the connecting thread to the main thread.
// The queries answered by the same attempt (stored version, work-area names), so that opening needs no
// round trip on the main thread.
struct KavroDatabase::Connections {
  std::unique_ptr<Ado_InterFacce> query;
  std::unique_ptr<Ado_InterFacce> writer;
  bool ok = false;
  std::vector<QueryAnswer> answers;
};

namespace {

constexpr const char* kVersionQuery = "select * from A_DB_SERVER_VERS";

}  // namespace

KavroDatabase::KavroDatabase(CKavroGyBl& gybl, Poster post, Ado_Db::ConnectionFactory factory, SteadyNow now,
                             std::chrono::milliseconds workerReconnect)
    : adoDb(factory, Ado_Db::Options{std::chrono::milliseconds(1000LL * std::max(1, gybl.settings.sqlTimeout)),
                                     static_cast<size_t>(std::max(1, gybl.settings.sqlQueueLimit)),
                                     workerReconnect}),
      gybl_(gybl),
      post_(std::move(post)),
      factory_(std::move(factory)),
      now_(std::move(now)),
      workerReconnect_(workerReconnect),
      queries_([this](std::function<void()> work) { post_(std::move(work)); }, [this] { return factory_(); }) {
  if (!factory_) factory_ = [] { return std::make_unique<Ado_Com>(); };
  if (!now_) now_ = [] { return std::chrono::steady_clock::now(); };
  queries_.SetFailureReport([this] { ReportConnectFailure(); });
  adoDb.SetReporter([this](const Ado_Db::WriteEvent& event) { ReportWriteEvent(event); });
}

KavroDatabase::~KavroDatabase() {
  alive_.reset();
  if (connectThread_.joinable()) connectThread_.join();
  CloseSqlDatabase();
}

std::chrono::milliseconds KavroDatabase::QueryTimeout() const {
  return std::chrono::milliseconds(1000LL * std::max(1, gybl_.settings.sqlTimeout));
}

void KavroDatabase::ReportWriteEvent(const Ado_Db::WriteEvent& event) {
  using Kind = Ado_Db::WriteEvent::Kind;
  // Lost lists are told by the stop itself, on the main thread, which may be ending.
  if (event.kind == Kind::kListsLost) return;
  if (event.kind == Kind::kConnectFailed) {
    ReportConnectFailure();
    return;
  }
  post_([this, alive = std::weak_ptr<int>(alive_), event] {
    if (!alive.lock()) return;
    gybl_.LoadTexts(kTextDatabaseOpen);
    if (event.kind == Kind::kReconnected) {
      gybl_.Log(StrFormat("%s OpenDBSQL", gybl_.textList[2].c_str()), kLogNormal);
    } else {
      gybl_.Log(StrFormat("SER_Position %llu dropped: write queue full",
                          static_cast<unsigned long long>(event.count)),
                kLogRed);
    }
  });
}

void KavroDatabase::ReportConnectFailure() {
  post_([this, alive = std::weak_ptr<int>(alive_)] {
    if (!alive.lock()) return;
    gybl_.LoadTexts(kTextDatabaseOpen);
    gybl_.Log(StrFormat("%s OpenDBSQL", gybl_.textList[1].c_str()), kLogRed);
  });
}

int KavroDatabase::OpenLocalDatabase() {
  gybl_.LoadTexts(kTextDatabaseOpen);
  const std::string userPath = gybl_.programDirectory + kUserDatabaseFile;
  const std::string mapSetPath = gybl_.programDirectory + kMapSetFile;
  userDatabase.Close();
  mapSetDatabase.Close();
  SetAsideDamaged(userPath, kUserDatabaseFile);
  SetAsideDamaged(mapSetPath, kMapSetFile);
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

void KavroDatabase::SetAsideDamaged(const std::string& path, const char* name) {
  const DamagedFile found = SetAsideIfDamaged(path, gybl_.clock().Now());
  if (!found.damaged) return;
  if (found.keptAs.empty()) {
    gybl_.Log(StrFormat("%s is damaged (%s) and cannot be moved aside", name, found.problem.c_str()),
              kLogRed);
    return;
  }
  const std::string kept = found.keptAs.substr(found.keptAs.rfind('/') + 1);
  gybl_.Log(StrFormat("%s is damaged (%s): kept as %s, a new %s is used", name, found.problem.c_str(),
                      kept.c_str(), name),
            kLogRed);
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
                                alive = std::weak_ptr<int>(alive_), generation = generation_,
                                timeout = QueryTimeout(), this] {
    auto result = std::make_shared<Connections>();
    result->query = factory();
    result->writer = factory();
    auto open = [&](Ado_InterFacce& c) {
      c.SetDeadline(std::chrono::steady_clock::now() + timeout);
      const bool opened = c.Open(connection, user, password) == 1;
      c.SetDeadline(std::chrono::steady_clock::time_point::max());
      return opened;
    };
    result->ok = result->query && result->writer && open(*result->query) && open(*result->writer);
    if (result->ok) {
      // What opening reads is read here: the stored version and the work-area names.
      QueryRecorder recorder(result->query.get());
      result->query->SetDeadline(std::chrono::steady_clock::now() + timeout);
      std::vector<Ado_Row> rows;
      recorder.Select(kVersionQuery, {}, {"VERS"}, rows);
      recorder.Select(WorkAreas::kServerNamesQuery, {}, {"Name"}, rows);
      result->query->SetDeadline(std::chrono::steady_clock::time_point::max());
      result->answers = std::move(recorder.answers());
    }
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
  const Settings& s = gybl_.settings;
  if (result->ok && adoDb.Open(nullptr, std::move(result->writer),
                               ServerConnectionString(s.sqlIp, s.sqlPort, s.sqlDbName), s.sqlUser,
                               s.sqlPassword)) {
    queries_.Start(std::move(result->query), ServerConnectionString(s.sqlIp, s.sqlPort, s.sqlDbName), s.sqlUser,
                   s.sqlPassword, QueryTimeout(), workerReconnect_);
    sqlOpen = 1;
    failed_ = false;
    gybl_.Log(StrFormat("%s OpenDBSQL", gybl_.textList[2].c_str()), kLogNormal);
    answers_ = &result->answers;
    const bool created = CheckServerVersion() == 0;
    if (created) CreateServerTables();
    if (opened_) opened_(created);
    answers_ = nullptr;
    return;
  }
  failed_ = true;
  lastFailure_ = now_();
  gybl_.Log(StrFormat("%s OpenDBSQL", gybl_.textList[1].c_str()), kLogRed);
}

int KavroDatabase::CheckServerVersion() {
  std::vector<Ado_Row> rows;
  ServerSelect(kVersionQuery, {}, {"VERS"}, rows);
  return ApplyServerVersion(adoDb, rows);
}

int KavroDatabase::CreateServerTables() { return ::CreateServerTables(adoDb); }

int KavroDatabase::ServerSelect(const std::string& sql, const SqlParams& params,
                                const std::vector<std::string>& columns, std::vector<Ado_Row>& rows) {
  if (answers_ != nullptr) {
    const std::vector<std::string> texts = ParamTexts(params);
    for (const QueryAnswer& answer : *answers_) {
      if (answer.sql != sql || answer.params != texts) continue;
      rows.insert(rows.end(), answer.rows.begin(), answer.rows.end());
      return answer.ok ? 1 : 0;
    }
  }
  if (!queries_.Running()) return 0;
  const std::vector<QueryAnswer> answers = queries_.RunAndWait([&](QueryRecorder& recorder) {
    std::vector<Ado_Row> unused;
    recorder.Select(sql, params, columns, unused);
  });
  if (answers.empty()) return 0;
  rows.insert(rows.end(), answers.front().rows.begin(), answers.front().rows.end());
  return answers.front().ok ? 1 : 0;
}

void KavroDatabase::Prefetch(ServerQueries::Work work, std::function<void()> done) {
  queries_.Run(std::move(work), [this, alive = std::weak_ptr<int>(alive_),
                                 done = std::move(done)](std::vector<QueryAnswer> answers) {
    if (!alive.lock()) return;
    const std::vector<QueryAnswer>* outer = answers_;
    answers_ = &answers;
    done();
    answers_ = outer;
  });
}

std::string KavroDatabase::FailureText() {
  gybl_.LoadTexts(kTextDatabaseFailed);
  return gybl_.textList[0];
}

int KavroDatabase::CloseSqlDatabase() {
  ++generation_;
  queries_.Stop();
  if (sqlOpen == 1) {
    const size_t lost = adoDb.Stop(kStopBudget);
    if (lost > 0) {
      gybl_.Log(StrFormat("SQL server unreachable: %llu queued lists lost", static_cast<unsigned long long>(lost)),
                kLogRed);
    }
  }
  sqlOpen = 0;
  return 1;
}
