#include "app/AccountCommand.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>

#include "app/ProgramLayout.h"
#include "app/Settings.h"
#include "db/AdoCom.h"
#include "db/AdoSqlite.h"
#include "db/LocalSchema.h"
#include "db/ServerSchema.h"
#include "db/TableCsv.h"

namespace {

// The caster's user database file in the program directory.
constexpr const char* kUserDatabaseFile = "Kavro202.db";
// How long a write waits for the caster's write lock on the local file.
constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kUsage =
    "usage: KavroServer --dir DIR user add NAME PASSWORD [--allowed-seconds N] [--valid-until YYYYMMDD]\n"
    "                                      [--area NAME] [--serial SN]\n"
    "       KavroServer --dir DIR user list [SEARCH]\n"
    "       KavroServer --dir DIR user delete NAME\n"
    "       KavroServer --dir DIR user reset-time NAME\n"
    "       KavroServer --dir DIR user export accounts|areas FILE|-\n"
    "       KavroServer --dir DIR user import accounts|areas FILE|- [--dry-run]\n";

// The largest file an import reads.
constexpr size_t kMaxImportBytes = 64u << 20;

// "user export" and "user import": which table, which file ("-": standard output or input).
struct CsvCommand {
  bool import = false;
  bool dryRun = false;
  CsvTable table = CsvTable::kAccounts;
  std::string file;
};

// False when the words are no export or import; otherwise true, with error set when they are wrong.
bool ParseCsvCommand(const std::vector<std::string>& words, CsvCommand& command, std::string& error) {
  if (words.empty() || (words[0] != "export" && words[0] != "import")) return false;
  command.import = words[0] == "import";
  const bool dryRun = command.import && words.size() == 4 && words[3] == "--dry-run";
  if ((words.size() != 3 && !dryRun) || (words[1] != "accounts" && words[1] != "areas")) {
    error = words[0] + " needs accounts or areas and a FILE (- for standard " +
            (command.import ? "input)" : "output)");
    return true;
  }
  command.dryRun = dryRun;
  command.table = words[1] == "accounts" ? CsvTable::kAccounts : CsvTable::kAreas;
  command.file = words[2];
  return true;
}

// The whole file, or standard input for "-"; false with the reason in error.
bool ReadInput(const std::string& file, std::string& text, std::string& error) {
  FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
  if (in == nullptr) {
    error = "cannot read " + file + ": " + std::strerror(errno);
    return false;
  }
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0 && text.size() <= kMaxImportBytes) {
    text.append(buffer, got);
  }
  const bool failed = std::ferror(in) != 0;
  if (in != stdin) std::fclose(in);
  if (failed) error = "cannot read " + file;
  if (text.size() > kMaxImportBytes) error = file + " is larger than 64 MiB";
  return error.empty();
}

// Writes the text to the file, readable by its owner only (the accounts hold passwords), or to out.
bool WriteOutput(const std::string& file, const std::string& text, FILE* out, std::string& error) {
  if (file == "-") {
    if (std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0) return true;
    error = "cannot write the standard output";
    return false;
  }
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok = fd >= 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    ok = wrote > 0;
    if (ok) done += static_cast<size_t>(wrote);
  }
  if (!ok) error = "cannot write " + file + ": " + std::strerror(errno);
  if (fd >= 0 && close(fd) != 0 && ok) {
    error = "cannot write " + file + ": " + std::strerror(errno);
    ok = false;
  }
  return ok;
}

void PrintNames(FILE* out, const char* what, const std::vector<std::string>& names) {
  std::fprintf(out, "%s %zu%s\n", what, names.size(), names.empty() ? "" : ":");
  for (const std::string& name : names) std::fprintf(out, "  %s\n", name.c_str());
}

bool ParseNumber(const std::string& text, int& value) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && at == end && !text.empty();
}

bool ParseAdd(const std::vector<std::string>& words, Account& account, std::string& error) {
  if (words.size() < 3) {
    error = "add needs NAME and PASSWORD";
    return false;
  }
  account.name = words[1];
  account.password = words[2];
  for (size_t i = 3; i < words.size(); i += 2) {
    const std::string& option = words[i];
    if (i + 1 >= words.size()) {
      error = option + " needs a value";
      return false;
    }
    const std::string& value = words[i + 1];
    if (option == "--allowed-seconds" || option == "--valid-until") {
      int& target = option == "--allowed-seconds" ? account.allowedSeconds : account.validUntil;
      if (!ParseNumber(value, target)) {
        error = option + " needs a whole number, not '" + value + "'";
        return false;
      }
    } else if (option == "--area") {
      account.area = value;
    } else if (option == "--serial") {
      // The account is bound to the receiver with this serial.
      account.serial = value;
      account.serialBinding = 1;
    } else {
      error = "unknown option '" + option + "'";
      return false;
    }
  }
  return true;
}

// The local file, created with its tables when missing, as the caster does at start.
std::unique_ptr<Ado_InterFacce> OpenLocal(const std::string& programDirectory) {
  auto local = std::make_unique<Ado_Sqlite>();
  if (local->Open(programDirectory + kUserDatabaseFile, "", "") == 0) return nullptr;
  local->SetBusyTimeout(kBusyTimeoutMs);
  CreateLocalTables(*local);
  for (const AddedColumn& added : AddedColumns()) {
    local->Execute(AddColumnStatement(added.table, added.column, added.type));
  }
  return local;
}

// The server database; a new one gets its version stamp and tables, as the caster gives them.
std::unique_ptr<Ado_InterFacce> OpenServer(const Settings& s, std::chrono::seconds timeout) {
  auto server = std::make_unique<Ado_Com>();
  server->SetDeadline(std::chrono::steady_clock::now() + timeout);
  if (server->Open(ServerConnectionString(s.sqlIp, s.sqlPort, s.sqlDbName), s.sqlUser, s.sqlPassword) == 0) {
    return nullptr;
  }
  std::vector<Ado_Row> rows;
  if (server->Select("select VERS from A_DB_SERVER_VERS", {"VERS"}, rows) == 0 || rows.empty()) {
    server->ExecuteBatch(
        {"Create TABLE A_DB_SERVER_VERS(VERS INT NOT NULL)",
         "insert into A_DB_SERVER_VERS(VERS) VALUES (" + std::to_string(kServerVersion) + ")"});
    for (const char* statement : ServerTableStatements()) server->Execute(statement);
  }
  if (!server->IsOpen()) return nullptr;
  server->SetDeadline(std::chrono::steady_clock::now() + timeout);
  return server;
}

// A connection whose every operation gets the time-out of its own: an import of many rows is many
// statements, none of which may hang on a frozen server.
class StatementDeadline : public Ado_InterFacce {
 public:
  StatementDeadline(Ado_InterFacce& db, std::chrono::seconds timeout) : db_(db), timeout_(timeout) {}

  using Ado_InterFacce::Execute;
  using Ado_InterFacce::Select;
  using Ado_InterFacce::SelectValue;

  int Select(const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
             std::vector<Ado_Row>& rows) override {
    return Renewed().Select(sql, params, columns, rows);
  }
  int SelectValue(const std::string& sql, const SqlParams& params) override {
    return Renewed().SelectValue(sql, params);
  }
  int Execute(const std::string& sql, const SqlParams& params) override {
    return Renewed().Execute(sql, params);
  }
  int ExecuteBatch(const StatementList& statements) override { return Renewed().ExecuteBatch(statements); }
  int Close() override { return db_.Close(); }
  int Open(const std::string& connection, const std::string& user, const std::string& password) override {
    return Renewed().Open(connection, user, password);
  }
  bool IsOpen() const override { return db_.IsOpen(); }

 private:
  Ado_InterFacce& Renewed() {
    db_.SetDeadline(std::chrono::steady_clock::now() + timeout_);
    return db_;
  }

  Ado_InterFacce& db_;
  std::chrono::seconds timeout_;
};

int RunCsvCommand(Ado_InterFacce& db, AccountBackend backend, const CsvCommand& command,
                  const std::string& input, FILE* out, FILE* err) {
  std::string error;
  if (!command.import) {
    std::string text;
    if (!ExportTableCsv(db, backend, command.table, text, error) ||
        !WriteOutput(command.file, text, out, error)) {
      std::fprintf(err, "KavroServer: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  const CsvImportReport report = ImportTableCsv(db, backend, command.table, input, command.dryRun);
  if (report.ok() || command.dryRun) {
    PrintNames(out, "added", report.added);
    PrintNames(out, "updated", report.updated);
    std::fprintf(out, "unchanged %zu\n", report.unchanged);
  }
  for (const std::string& line : report.errors) std::fprintf(err, "KavroServer: %s\n", line.c_str());
  if (command.dryRun) {
    std::fprintf(out, "dry run: nothing changed\n");
  } else if (!report.ok()) {
    std::fprintf(err, "KavroServer: nothing imported\n");
  }
  return report.ok() ? 0 : 1;
}

}  // namespace

bool ParseAccountCommand(const std::vector<std::string>& words, AccountRequest& request, std::string& error) {
  using Kind = AccountRequest::Kind;
  if (words.empty()) {
    error = "user needs a command: add, list, delete, reset-time, export or import";
    return false;
  }
  const std::string& command = words[0];
  if (command == "add") {
    request.kind = Kind::kAdd;
    return ParseAdd(words, request.account, error);
  }
  if (command == "list") {
    request.kind = Kind::kList;
    if (words.size() > 2) {
      error = "list takes at most one search text";
      return false;
    }
    if (words.size() == 2) request.search = words[1];
    return true;
  }
  if (command == "delete" || command == "reset-time") {
    request.kind = command == "delete" ? Kind::kDelete : Kind::kResetTime;
    if (words.size() != 2) {
      error = command + " needs exactly one NAME";
      return false;
    }
    request.name = words[1];
    return true;
  }
  error = "unknown user command '" + command + "'";
  return false;
}

std::string AccountLine(const Account& a) {
  auto field = [](std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
  };
  const std::string fields[] = {field(a.name),
                                field(a.password),
                                std::to_string(a.allowedSeconds),
                                std::to_string(a.usedSeconds),
                                std::to_string(a.validUntil),
                                std::to_string(a.deniedServices),
                                field(a.organisation),
                                field(a.contact),
                                field(a.telephone),
                                field(a.area),
                                std::to_string(a.serialBinding),
                                field(a.serial),
                                field(a.email)};
  std::string line = fields[0];
  for (size_t i = 1; i < std::size(fields); ++i) line += "\t" + fields[i];
  return line;
}

int RunAccountCommand(const std::string& programDirectory, const std::vector<std::string>& words, FILE* out,
                      FILE* err) {
  AccountRequest request;
  std::string error;
  CsvCommand csv;
  const bool csvCommand = ParseCsvCommand(words, csv, error);
  if (csvCommand && !error.empty()) {
    std::fprintf(err, "KavroServer: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  std::string input;
  if (csvCommand && csv.import && !ReadInput(csv.file, input, error)) {
    std::fprintf(err, "KavroServer: %s\n", error.c_str());
    return 1;
  }
  if (!csvCommand && !ParseAccountCommand(words, request, error)) {
    std::fprintf(err, "KavroServer: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  const Settings settings = ReadSettings(SettingsFilePath(programDirectory), RelayFilePath(programDirectory));
  const bool server = settings.useSql == 1;
  const std::chrono::seconds timeout(std::max(1, settings.sqlTimeout));
  std::unique_ptr<Ado_InterFacce> connection =
      server ? OpenServer(settings, timeout) : OpenLocal(programDirectory);
  if (!connection) {
    std::fprintf(err, "KavroServer: database unreachable (%s)\n",
                 server ? "SQL server" : (programDirectory + kUserDatabaseFile).c_str());
    return 1;
  }
  const AccountBackend backend = server ? AccountBackend::kServer : AccountBackend::kLocal;
  if (csvCommand) {
    StatementDeadline limited(*connection, timeout);
    return RunCsvCommand(limited, backend, csv, input, out, err);
  }
  AccountAdmin admin(
      backend,
      [&connection](const std::string& sql, const SqlParams& params, const std::vector<std::string>& columns,
                    std::vector<Ado_Row>& rows) { return connection->Select(sql, params, columns, rows); });
  const AccountResult result = admin.Run(request);
  if (!result.ok()) {
    std::fprintf(err, "KavroServer: %s\n", result.message.c_str());
    return 1;
  }
  for (const Account& account : result.accounts) std::fprintf(out, "%s\n", AccountLine(account).c_str());
  if (result.more)
    std::fprintf(err, "KavroServer: more than %zu accounts match; narrow the search\n", kAccountListLimit);
  return 0;
}
