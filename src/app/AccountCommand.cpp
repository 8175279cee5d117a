#include "app/AccountCommand.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <memory>

#include "app/ProgramLayout.h"
#include "app/Settings.h"
#include "db/AdoCom.h"
#include "db/AdoSqlite.h"
#include "db/LocalSchema.h"
#include "db/ServerSchema.h"

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
    "       KavroServer --dir DIR user reset-time NAME\n";

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

}  // namespace

bool ParseAccountCommand(const std::vector<std::string>& words, AccountRequest& request, std::string& error) {
  using Kind = AccountRequest::Kind;
  if (words.empty()) {
    error = "user needs a command: add, list, delete or reset-time";
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
  if (!ParseAccountCommand(words, request, error)) {
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
  AccountAdmin admin(
      server ? AccountBackend::kServer : AccountBackend::kLocal,
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
