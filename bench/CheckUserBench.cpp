// Time of one login check (CheckUser) on a local user database of 100,000 accounts, for existing and
// unknown user names. Usage: CheckUserBench [benchmark options]; the median of the repetitions is the
// figure to read.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "app/KavroGyBl.h"
#include "core/ClientEntry.h"
#include "core/StrFormat.h"
#include "db/AccountDatabase.h"
#include "db/KavroDatabase.h"

namespace {

constexpr int kAccounts = 100000;

class QuietMonitor : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord&) override {}
};

// A program directory with a user database of kAccounts accounts, removed at exit.
struct Caster {
  Caster()
      : directory(std::filesystem::temp_directory_path() / ("kavro-bench-" + std::to_string(getpid()))),
        clock(LocalTime{2015, 2, 1, 2, 10, 0, 0, 0}),
        gybl(Settings{}, clock, monitor, steps),
        database(gybl, [](std::function<void()>) {}),
        accounts(gybl, database) {
    std::filesystem::create_directories(directory);
    gybl.programDirectory = directory.string() + "/";
    gybl.settings.flags.passwordProtection = 1;
    database.OpenLocalDatabase();
    Ado_Sqlite& db = database.userDatabase.connection();
    db.Execute("BEGIN");
    for (int i = 0; i < kAccounts; ++i) {
      db.Execute(
          "INSERT INTO USERPASSWORD(UserUser, USERPASSWORD, PUSERTIME, USERTIME, PUSEDATA, USERLX, "
          "Measure_unit, "
          "Contact_person, ScopeName, SN, SN_YES) VALUES ($1, $2, 36000, $3, 20991231, 0, 'Survey Co', 'Li "
          "Lei', "
          "'North', '', 0)",
          {StrFormat("user%06d", i), StrFormat("pw%06d", i), i % 3600});
    }
    db.Execute("COMMIT");
  }
  ~Caster() {
    database.userDatabase.Close();
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
  }

  std::filesystem::path directory;
  ManualClock clock;
  QuietMonitor monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  KavroDatabase database;
  AccountDatabase accounts;
};

Caster& TheCaster() {
  static Caster caster;
  return caster;
}

void BM_CheckUser(benchmark::State& state) {
  Caster& caster = TheCaster();
  const bool known = state.range(0) == 1;
  std::mt19937 random(42);
  std::uniform_int_distribution<int> pick(0, kAccounts - 1);
  ClientEntry entry;
  int accepted = 0;
  for (auto _ : state) {
    const int i = pick(random);
    const std::string name = StrFormat(known ? "user%06d" : "none%06d", i);
    const std::string password = StrFormat("pw%06d", i);
    accepted += caster.accounts.CheckUser(name, password, entry).ok ? 1 : 0;
  }
  // Every known user passes, every unknown one is refused.
  if (accepted != (known ? static_cast<int>(state.iterations()) : 0))
    state.SkipWithError("unexpected result");
}
BENCHMARK(BM_CheckUser)->ArgName("known")->Arg(1)->Arg(0)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
