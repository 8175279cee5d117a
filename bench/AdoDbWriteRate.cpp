// Rate at which the write gateway gets single-statement position inserts (the GGA rows of the server
// database) into PostgreSQL: each iteration posts kRows inserts at once and stops the gateway, which
// writes them all; rows/s is the figure to read. Needs the server of the tests:
//   KAVRO_TEST_PG_HOST=... KAVRO_TEST_PG_PORT=... KAVRO_TEST_PG_USER=... KAVRO_TEST_PG_DB=...
//     AdoDbWriteRate [benchmark options]
// Without them the benchmark reports that it was skipped.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "db/AdoCom.h"
#include "db/AdoDb.h"
#include "db/ServerSchema.h"

namespace {

constexpr int kRows = 20000;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// A scratch database with the server tables on the test server, dropped at the end.
class Scratch {
 public:
  Scratch()
      : host_(Env("KAVRO_TEST_PG_HOST")),
        port_(std::atoi(Env("KAVRO_TEST_PG_PORT").c_str())),
        user_(Env("KAVRO_TEST_PG_USER")),
        admin_(ServerConnectionString(host_, port_, Env("KAVRO_TEST_PG_DB"))),
        name_("kavro_bench_" + std::to_string(getpid())) {
    if (host_.empty() || port_ <= 0 || user_.empty()) return;
    Admin("DROP DATABASE IF EXISTS " + name_);
    if (Admin("CREATE DATABASE " + name_) != 1) return;
    Ado_Com db;
    ready_ = db.Open(connection(), user_, "") == 1 && db.Execute(ServerTableStatements().front()) == 1;
  }
  ~Scratch() { Admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"); }
  bool ready() const { return ready_; }
  std::string connection() const { return ServerConnectionString(host_, port_, name_); }
  const std::string& user() const { return user_; }

 private:
  int Admin(const std::string& sql) {
    Ado_Com admin;
    return admin.Open(admin_, user_, "") == 1 ? admin.Execute(sql) : 0;
  }

  std::string host_;
  int port_;
  std::string user_;
  std::string admin_;
  std::string name_;
  bool ready_ = false;
};

void BM_PositionInserts(benchmark::State& state) {
  Scratch scratch;
  if (!scratch.ready()) {
    state.SkipWithError("no PostgreSQL: set KAVRO_TEST_PG_HOST/PORT/USER/DB");
    return;
  }
  const std::string gga =
      "$GPGGA,021000.00,3954.1234567,N,11623.1234567,E,4,12,0.8,52.123,M,-8.1,M,1.0,0001*5C";
  int64_t written = 0;
  for (auto _ : state) {
    Ado_Db db;
    if (!db.Open(scratch.connection(), scratch.user(), "")) {
      state.SkipWithError("cannot open the gateway");
      return;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRows; ++i) {
      db.Post("insert into SER_Position  (Time,Name,GGA,B,L,H) Values ($1,$2,$3,$4,$5,$6)",
              {"2015-02-01 02:10:00", "rover" + std::to_string(i % 500), gga, 39.9, 116.3, 52.1},
              Ado_Db::WriteKind::kPosition);
    }
    const size_t lost = db.Stop(std::chrono::minutes(5));
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (lost != 0) state.SkipWithError("rows were lost");
    written += kRows;
  }
  Ado_Com check;
  check.Open(scratch.connection(), scratch.user(), "");
  if (check.SelectValue("SELECT count(*) FROM SER_Position") != written) state.SkipWithError("rows missing");
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(written), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PositionInserts)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
