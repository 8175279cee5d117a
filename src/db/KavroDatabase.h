#pragma once
// The caster's databases: the local files (user database and map set) and the server database with its
// write gateway and query worker, opened, upgraded and closed as the service starts and stops. Runs on
// the main thread; the server is connected, written and queried in the background, so that the main
// thread never waits on a round trip: the login handlers fetch their answers ahead (Prefetch) and run
// again when they came.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "db/AdoDb.h"
#include "db/LocalStore.h"
#include "db/ServerQueries.h"

class CKavroGyBl;

class KavroDatabase {
 public:
  // Runs a function on the main thread (posts it to the main io_context); callable from any thread.
  using Poster = std::function<void(std::function<void()>)>;
  using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

  // Shortest time between two failed connection attempts to the server.
  static constexpr std::chrono::seconds kReconnectInterval{5};
  // Longest time the close gives the write worker for what is queued.
  static constexpr std::chrono::seconds kStopBudget{8};

  // The default factory makes PostgreSQL connections; the clock only paces reconnection.
  // workerReconnect: shortest time between two connection attempts of the query and write workers.
  KavroDatabase(CKavroGyBl& gybl, Poster post, Ado_Db::ConnectionFactory factory = {}, SteadyNow now = {},
                std::chrono::milliseconds workerReconnect = kReconnectInterval);
  ~KavroDatabase();
  KavroDatabase(const KavroDatabase&) = delete;
  KavroDatabase& operator=(const KavroDatabase&) = delete;

  // Upgrades (creating when missing) and opens Kavro202.db and KavroMapSet.db in programDirectory;
  // a file that cannot be opened gets a red line. Always 1.
  int OpenLocalDatabase();
  // Creates the missing tables of the user database file and adds the missing added columns. Always 1.
  int UpgradeLocalDatabase(const std::string& path);
  // Adds one column to the user database; failure (the column exists) is ignored. Always 0.
  int AddColumn(const std::string& table, const std::string& column, int type);

  // 1 when "UseSQL" is 1, whether or not the server is open, 0 otherwise. While the server is not open
  // it starts a connection attempt in the background (at most one at a time, and not sooner than
  // kReconnectInterval after a failed one) and reports the failure at once with the red line.
  int OpenSqlDatabase();
  // Service start: starts connecting to the server when "UseSQL" is 1; the attempt reports its result.
  void StartSqlDatabase();
  // Stored version, 0 when there was none (the version table is then created and stamped).
  int CheckServerVersion();
  // Queues the creation of the server tables. Always 0.
  int CreateServerTables();
  // Executes what is queued and closes the server database; the next OpenSqlDatabase opens it again.
  // Always 1.
  int CloseSqlDatabase();

  // Runs queries on the query worker and hands their answers to done on the main thread; while done
  // runs, ServerSelect answers those queries from them. Without an open server, done comes at once
  // with every query failed.
  void Prefetch(ServerQueries::Work work, std::function<void()> done);
  // True while the server database is open, so that its queries are worth fetching ahead.
  bool ServerQueriesRunning() const { return sqlOpen == 1 && queries_.Running(); }
  // Milliseconds a server query may take ("Timeout" of section SQL).
  std::chrono::milliseconds QueryTimeout() const;

  // The query worker, for its figures.
  const ServerQueries& queries() const { return queries_; }
  // True while a background connection attempt runs.
  bool Connecting() const { return connecting_; }

  // A query on the server database for the operations on accounts, work areas and records. 1 when it
  // ran; 0 when it failed or timed out. Answered from the fetched answers when they hold it; otherwise
  // the query worker runs it and the caller waits for it, at most for the time-out.
  int ServerSelect(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
                   std::vector<Ado_Row>& rows);
  // The text of a failed operation's red line: item [0] of text 62452, loaded when the line is written
  // (choosing the back end loads the texts of the open lines).
  std::string FailureText();
  // Called on the main thread each time the server database has opened; created: its tables were only
  // just queued for creation (a new database), so they hold nothing yet.
  void SetOpenedHandler(std::function<void(bool created)> handler) { opened_ = std::move(handler); }

  Ado_Db adoDb;
  int sqlOpen = 0;  // 1 while the server database is open
  LocalStore userDatabase;
  LocalStore mapSetDatabase;

 private:
  // Moves a damaged local file aside (DamagedFile.h) with one red line, so that a new one is created.
  void SetAsideDamaged(const std::string& path, const char* name);

  struct Connections;
  void BeginConnect(bool force);
  void Connected(uint64_t generation, std::shared_ptr<Connections> result);
  // Posts one red "OpenDBSQL" line from a worker thread (one per failed connection attempt).
  void ReportConnectFailure();
  // Posts the write worker's reconnections and dropped positions to the log.
  void ReportWriteEvent(const Ado_Db::WriteEvent& event);

  CKavroGyBl& gybl_;
  Poster post_;
  Ado_Db::ConnectionFactory factory_;
  SteadyNow now_;
  bool connecting_ = false;
  bool failed_ = false;  // the last attempt failed, at lastFailure_
  std::chrono::steady_clock::time_point lastFailure_;
  uint64_t generation_ = 0;  // advanced by every close, so that older attempts are discarded
  std::thread connectThread_;
  std::function<void(bool)> opened_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::chrono::milliseconds workerReconnect_;
  ServerQueries queries_;
  const std::vector<QueryAnswer>* answers_ = nullptr;  // the fetched answers while they are used
};
