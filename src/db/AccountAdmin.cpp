#include "db/AccountAdmin.h"

#include <utility>

#include "core/StrFormat.h"
#include "core/Utf8.h"
#include "db/RecordFormat.h"

namespace {

// The longest texts of the other columns (varchar(255) on the server, varchar(200) for the serial and
// the e-mail in the local file), in bytes, so that no back end cuts or refuses them.
constexpr size_t kTextBytes = 255;
constexpr size_t kSerialBytes = 200;
constexpr int kAllServices = 0x3FF;

struct Dialect {
  const char* table;
  const char* name;      // the user-name column
  const char* key;       // the column giving the order rows were added in
  const char* contains;  // a function (haystack, needle) > 0 when the needle is found
  const char* group;     // the insert's group column and value, or empty
};

constexpr Dialect kServer{"SER_UserDB", "UserName", "ID", "strpos", "GLName, "};
constexpr Dialect kLocal{"USERPASSWORD", "UserUser", "rowid", "instr", ""};

const Dialect& DialectOf(AccountBackend backend) {
  return backend == AccountBackend::kServer ? kServer : kLocal;
}

// The columns read, in the order of Account; the name comes under its own column.
const std::vector<std::string> kValueColumns = {
    "USERPASSWORD",   "PUSERTIME", "USERTIME",  "PUSEDATA", "USERLX", "Measure_unit",
    "Contact_person", "Telephone", "ScopeName", "SN_YES",   "SN",     "EMAIL"};

std::string SelectColumns(const Dialect& d) {
  std::string text = d.name;
  for (const std::string& column : kValueColumns) text += ", " + column;
  return text;
}

std::vector<std::string> ReadColumns(const Dialect& d) {
  std::vector<std::string> columns{d.name};
  columns.insert(columns.end(), kValueColumns.begin(), kValueColumns.end());
  return columns;
}

bool ValidDate(int date) {
  const int year = date / 10000, month = date / 100 % 100, day = date % 100;
  if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= (month == 2 && !leap ? 28 : kDays[month - 1]);
}

// A name or password as a login carries it: not empty, no blank at either end (the server's texts lose
// trailing blanks), no "?" (a login's credentials end there), and for the password no ":" (the login
// splits name and password at the last one).
std::string CredentialFault(const char* what, const std::string& text, bool password) {
  if (text.empty()) return StrFormat("%s is empty", what);
  if (std::string fault = TextFault(what, text, kAccountCredentialBytes); !fault.empty()) return fault;
  if (text.front() == ' ' || text.back() == ' ') return StrFormat("%s begins or ends with a blank", what);
  if (text.find('?') != std::string::npos) return StrFormat("%s holds \"?\"", what);
  if (password && text.find(':') != std::string::npos) return StrFormat("%s holds \":\"", what);
  return {};
}

}  // namespace

std::string TextFault(const char* what, const std::string& text, size_t maxBytes) {
  if (text.size() > maxBytes) return StrFormat("%s is longer than %zu bytes", what, maxBytes);
  for (size_t i = 0; i < text.size();) {
    uint32_t code = 0;
    const size_t length = Utf8SequenceLength(text, i, &code);
    if (length == 0) return StrFormat("%s is not UTF-8 text", what);
    if (code < 0x20 || code == 0x7F) return StrFormat("%s holds a control character", what);
    i += length;
  }
  return {};
}

AccountResult AccountResult::Failure(Status status, std::string message) {
  AccountResult result;
  result.status = status;
  result.message = std::move(message);
  return result;
}

std::string AccountFault(const Account& a) {
  std::string fault = CredentialFault("name", a.name, false);
  if (fault.empty()) fault = CredentialFault("password", a.password, true);
  const std::pair<const char*, const std::string*> texts[] = {{"organisation", &a.organisation},
                                                              {"contact", &a.contact},
                                                              {"telephone", &a.telephone},
                                                              {"work area", &a.area},
                                                              {"serial", &a.serial},
                                                              {"e-mail", &a.email}};
  for (const auto& [what, text] : texts) {
    if (!fault.empty()) break;
    fault = TextFault(what, *text, text == &a.serial || text == &a.email ? kSerialBytes : kTextBytes);
  }
  if (!fault.empty()) return fault;
  if (a.allowedSeconds < 0) return "allowed time is negative";
  if (a.usedSeconds < 0) return "used time is negative";
  if (a.validUntil != 0 && !ValidDate(a.validUntil)) return "last valid day is not a date YYYYMMDD";
  if (a.deniedServices < 0 || a.deniedServices > kAllServices)
    return "denied services are not a mask 0 to 1023";
  if (a.serialBinding != 0 && a.serialBinding != 1) return "serial binding is not 0 or 1";
  if (a.serialBinding == 1 && a.serial.empty()) return "serial binding needs a serial";
  return {};
}

AccountResult AccountAdmin::Run(const AccountRequest& request) {
  switch (request.kind) {
    case AccountRequest::Kind::kList:
      return List(request.search);
    case AccountRequest::Kind::kGet:
      return Get(request.name);
    case AccountRequest::Kind::kAdd:
      return Add(request.account);
    case AccountRequest::Kind::kUpdate:
      return Update(request.name, request.account);
    case AccountRequest::Kind::kDelete:
      return Delete(request.name);
    case AccountRequest::Kind::kResetTime:
      return ResetTime(request.name);
  }
  return AccountResult::Failure(AccountResult::Status::kInvalid, "unknown request");
}

Account AccountAdmin::Read(const Ado_Row& row) const {
  const bool server = backend_ == AccountBackend::kServer;
  auto text = [&](const std::string& column) {
    return server ? FieldText(row.Get(column)) : WholeText(row.Get(column));
  };
  Account a;
  a.name = text(DialectOf(backend_).name);
  a.password = text("USERPASSWORD");
  a.allowedSeconds = FieldInt(row.Get("PUSERTIME"));
  a.usedSeconds = FieldInt(row.Get("USERTIME"));
  a.validUntil = FieldInt(row.Get("PUSEDATA"));
  a.deniedServices = FieldInt(row.Get("USERLX"));
  a.organisation = text("Measure_unit");
  a.contact = text("Contact_person");
  a.telephone = text("Telephone");
  a.area = text("ScopeName");
  a.serialBinding = FieldInt(row.Get("SN_YES"));
  a.serial = text("SN");
  a.email = text("EMAIL");
  return a;
}

AccountResult AccountAdmin::List(const std::string& search) {
  const Dialect& d = DialectOf(backend_);
  if (std::string fault = TextFault("search", search, kTextBytes); !fault.empty()) {
    return AccountResult::Failure(AccountResult::Status::kInvalid, fault);
  }
  // The search text is a bound value, never a pattern: "%" and "_" match themselves.
  const std::string sql = StrFormat(
      "select %s from %s where $1 = '' or %s(lower(COALESCE(%s, '')), lower($1)) > 0 "
      "or %s(lower(COALESCE(Measure_unit, '')), lower($1)) > 0 "
      "or %s(lower(COALESCE(Contact_person, '')), lower($1)) > 0 order by %s, %s limit %zu",
      SelectColumns(d).c_str(), d.table, d.contains, d.name, d.contains, d.contains, d.name, d.key,
      kAccountListLimit + 1);
  std::vector<Ado_Row> rows;
  if (query_(sql, {search}, ReadColumns(d), rows) == 0) {
    return AccountResult::Failure(AccountResult::Status::kFailed, "database error");
  }
  AccountResult result;
  result.more = rows.size() > kAccountListLimit;
  if (result.more) rows.resize(kAccountListLimit);
  for (const Ado_Row& row : rows) result.accounts.push_back(Read(row));
  return result;
}

AccountResult AccountAdmin::Get(const std::string& name) {
  const Dialect& d = DialectOf(backend_);
  // Logins read the first row of a name; so does this.
  const std::string sql = StrFormat("select %s from %s where %s = $1 order by %s limit 1",
                                    SelectColumns(d).c_str(), d.table, d.name, d.key);
  std::vector<Ado_Row> rows;
  if (query_(sql, {name}, ReadColumns(d), rows) == 0) {
    return AccountResult::Failure(AccountResult::Status::kFailed, "database error");
  }
  if (rows.empty()) return AccountResult::Failure(AccountResult::Status::kNotFound, "no account " + name);
  AccountResult result;
  result.accounts.push_back(Read(rows.front()));
  return result;
}

bool AccountAdmin::Exists(const std::string& name, bool& exists) {
  const Dialect& d = DialectOf(backend_);
  std::vector<Ado_Row> rows;
  if (query_(StrFormat("select %s from %s where %s = $1 limit 1", d.name, d.table, d.name), {name}, {d.name},
             rows) == 0) {
    return false;
  }
  exists = !rows.empty();
  return true;
}

AccountResult AccountAdmin::Write(const std::string& sql, const SqlParams& params, const std::string& name) {
  const Dialect& d = DialectOf(backend_);
  std::vector<Ado_Row> rows;
  if (query_(sql, params, {d.name}, rows) == 0) {
    return AccountResult::Failure(AccountResult::Status::kFailed, "database error");
  }
  if (rows.empty()) return AccountResult::Failure(AccountResult::Status::kNotFound, "no account " + name);
  return {};
}

AccountResult AccountAdmin::Add(const Account& a) {
  if (std::string fault = AccountFault(a); !fault.empty()) {
    return AccountResult::Failure(AccountResult::Status::kInvalid, fault);
  }
  const Dialect& d = DialectOf(backend_);
  // One statement: the name is taken only when no account holds it. Every value is cast, so that the
  // server gives each parameter one type wherever it is used.
  const std::string sql = StrFormat(
      "insert into %s (%s%s, USERPASSWORD, PUSERTIME, USERTIME, USERTIME_LAST, PUSEDATA, USERLX, "
      "Measure_unit, "
      "Contact_person, Telephone, ScopeName, SN_YES, SN, EMAIL) "
      "select %sCAST($1 AS varchar(255)), CAST($2 AS varchar(255)), CAST($3 AS integer), CAST($4 AS "
      "integer), "
      "CAST($4 AS integer), CAST($5 AS integer), CAST($6 AS integer), CAST($7 AS varchar(255)), "
      "CAST($8 AS varchar(255)), CAST($9 AS varchar(255)), CAST($10 AS varchar(255)), CAST($11 AS integer), "
      "CAST($12 AS varchar(255)), CAST($13 AS varchar(255)) "
      "where not exists (select 1 from %s where %s = CAST($1 AS varchar(255))) returning %s",
      d.table, d.group, d.name, *d.group != '\0' ? "'', " : "", d.table, d.name, d.name);
  AccountResult result =
      Write(sql,
            {a.name, a.password, a.allowedSeconds, a.usedSeconds, a.validUntil, a.deniedServices,
             a.organisation, a.contact, a.telephone, a.area, a.serialBinding, a.serial, a.email},
            a.name);
  if (result.status == AccountResult::Status::kNotFound) {
    return AccountResult::Failure(AccountResult::Status::kDuplicate, "account " + a.name + " exists already");
  }
  return result;
}

AccountResult AccountAdmin::Update(const std::string& name, const Account& a) {
  if (std::string fault = AccountFault(a); !fault.empty()) {
    return AccountResult::Failure(AccountResult::Status::kInvalid, fault);
  }
  const Dialect& d = DialectOf(backend_);
  // A rename is refused in the same statement when the new name is taken.
  const std::string sql = StrFormat(
      "update %s set %s = $2, USERPASSWORD = $3, PUSERTIME = CAST($4 AS integer), USERTIME = CAST($5 AS "
      "integer), "
      "USERTIME_LAST = CASE WHEN USERTIME_LAST IS NULL OR USERTIME_LAST > CAST($5 AS integer) "
      "THEN CAST($5 AS integer) ELSE USERTIME_LAST END, "
      "PUSEDATA = CAST($6 AS integer), USERLX = CAST($7 AS integer), Measure_unit = $8, Contact_person = $9, "
      "Telephone = $10, ScopeName = $11, SN_YES = CAST($12 AS integer), SN = $13, EMAIL = $14 "
      "where %s = $1 and ($2 = $1 or not exists (select 1 from %s where %s = $2)) returning %s",
      d.table, d.name, d.name, d.table, d.name, d.name);
  AccountResult result =
      Write(sql,
            {name, a.name, a.password, a.allowedSeconds, a.usedSeconds, a.validUntil, a.deniedServices,
             a.organisation, a.contact, a.telephone, a.area, a.serialBinding, a.serial, a.email},
            name);
  if (result.status != AccountResult::Status::kNotFound || name == a.name) return result;
  // Nothing changed: the account is missing, or the new name is taken.
  bool exists = false;
  if (!Exists(name, exists)) return AccountResult::Failure(AccountResult::Status::kFailed, "database error");
  if (!exists) return result;
  return AccountResult::Failure(AccountResult::Status::kDuplicate, "account " + a.name + " exists already");
}

AccountResult AccountAdmin::Delete(const std::string& name) {
  const Dialect& d = DialectOf(backend_);
  return Write(StrFormat("delete from %s where %s = $1 returning %s", d.table, d.name, d.name), {name}, name);
}

AccountResult AccountAdmin::ResetTime(const std::string& name) {
  const Dialect& d = DialectOf(backend_);
  return Write(StrFormat("update %s set USERTIME = 0, USERTIME_LAST = 0 where %s = $1 returning %s", d.table,
                         d.name, d.name),
               {name}, name);
}
