#include "db/UserAccounts.h"

#include <vector>

#include "app/KavroGyBl.h"
#include "core/StrFormat.h"
#include "db/KavroDatabase.h"
#include "db/RecordFormat.h"
#include "db/ServerQueries.h"

namespace {

// Seconds of a connection that are never charged, and the longest charge.
constexpr int64_t kFreeSeconds = 15;
constexpr int64_t kLongestCharge = 86400;
// Bytes of a user name that make the name of an automatic account.
constexpr size_t kAccountNameBytes = 19;
constexpr const char* kTestUnit = "测试机";
constexpr const char* kNoAccountText = "用户或密码错误";

std::string Minutes(int seconds) { return StrFormat("%d分钟", seconds / 60); }

constexpr const char* kServerUserQuery =
    "select UserName, USERPASSWORD, PUSERTIME, USERTIME, PUSEDATA, USERLX, Measure_unit, Contact_person, "
    "Telephone, ScopeName, SN, SN_YES from SER_UserDB where UserName=$1 order by ID";
const std::vector<std::string> kColumns = {"UserName",  "USERPASSWORD", "PUSERTIME",      "USERTIME",
                                           "PUSEDATA",  "USERLX",       "Measure_unit",   "Contact_person",
                                           "Telephone", "ScopeName",    "SN",             "SN_YES"};
constexpr const char* kServerPageQuery =
    "select PUSERTIME, USERTIME, PUSEDATA, USERLX, Measure_unit, Contact_person, Telephone "
    "from SER_UserDB where UserName=$1 and USERPASSWORD=$2 order by ID";
const std::vector<std::string> kPageColumns = {"PUSERTIME",    "USERTIME",       "PUSEDATA", "USERLX",
                                               "Measure_unit", "Contact_person", "Telephone"};

}  // namespace

void UserAccounts::FetchLogin(QueryRecorder& recorder, const std::string& user, const std::string& password,
                              bool accountPage) {
  std::vector<Ado_Row> rows;
  if (accountPage) {
    recorder.Select(kServerPageQuery, {user, password}, kPageColumns, rows);
    return;
  }
  recorder.Select(kServerUserQuery, {user}, kColumns, rows);
}

bool UserAccounts::FlagsAcceptAll() const {
  const OptionFlags& flags = gybl_.settings.flags;
  return flags.passwordProtection == 0 && flags.autoCreateUserOff == 0;
}

bool UserAccounts::CheckUser(const std::string& user, const std::string& password, int& userType, int& code,
                             ClientEntry& entry) {
  entry.serialCheck = 0;
  entry.accountSerial.clear();
  userType = 0;
  const int today = DateNumber(gybl_.clock().Now());
  code = kUserPasswordWrong;
  if (database_.OpenSqlDatabase() == 1) return CheckServerUser(user, password, today, userType, code, entry);
  return CheckLocalUser(user, password, today, userType, code, entry);
}

bool UserAccounts::CheckServerUser(const std::string& user, const std::string& password, int today,
                                   int& userType, int& code, ClientEntry& entry) {
  std::vector<Ado_Row> rows;
  // A failed or timed-out query finds no row, as an unreachable server does.
  if (database_.ServerSelect(kServerUserQuery, {user}, kColumns, rows) == 0) {
    gybl_.Log(StrFormat("SER_UserDB %s %d", database_.FailureText().c_str(), kUserServerUnknown), kLogRed);
  }
  bool ok = false;
  if (rows.empty()) {
    code = kUserServerUnknown;
  } else if (const Ado_Row& row = rows.front(); FieldText(row.Get("USERPASSWORD")) != password) {
    code = kUserServerPassword;
  } else {
    entry.accountUnit = FieldText(row.Get("Measure_unit"));
    entry.accountContact = FieldText(row.Get("Contact_person"));
    entry.accountSerial = FieldText(row.Get("SN"));
    entry.serialCheck = FieldInt(row.Get("SN_YES"));
    const int allowance = FieldInt(row.Get("PUSERTIME"));
    const int lastDay = FieldInt(row.Get("PUSEDATA"));
    if (allowance != 0 && allowance < FieldInt(row.Get("USERTIME"))) {
      code = kUserTimeExceeded;
    } else if (lastDay != 0 && lastDay < today) {
      code = kUserDateExceeded;
    } else {
      userType = FieldInt(row.Get("USERLX"));
      code = kUserAccepted;
      ok = true;
    }
  }
  if (!ok && FlagsAcceptAll()) {
    code = kUserAccepted;
    ok = true;
  }
  return ok;
}

bool UserAccounts::CheckLocalUser(const std::string& user, const std::string& password, int today,
                                  int& userType, int& code, ClientEntry& entry) {
  static const std::vector<std::string> kLocalColumns = {"USERPASSWORD",   "PUSERTIME", "USERTIME",
                                                    "PUSEDATA",       "USERLX",    "Measure_unit",
                                                    "Contact_person", "SN",        "SN_YES"};
  std::vector<Ado_Row> rows;
  {
    LocalStore::Recordset recordset = database_.userDatabase.Take();
    if (!recordset) return false;
    if (recordset.Select(
            "SELECT USERPASSWORD, PUSERTIME, USERTIME, PUSEDATA, USERLX, Measure_unit, "
            "Contact_person, SN, SN_YES FROM USERPASSWORD WHERE UserUser=$1 ORDER BY rowid LIMIT 1",
            {user}, kLocalColumns, rows) == 0) {
      gybl_.Log(StrFormat("USERPASSWORD %s %d", database_.FailureText().c_str(), 7), kLogRed);
      return false;
    }
  }
  bool ok = false;
  if (!rows.empty()) {
    const Ado_Row& row = rows.front();
    entry.accountUnit.clear();
    if (!row.Get("Measure_unit").IsNull()) entry.accountUnit = WholeText(row.Get("Measure_unit"));
    if (!row.Get("Contact_person").IsNull()) entry.accountContact = WholeText(row.Get("Contact_person"));
    if (!row.Get("SN").IsNull()) entry.accountSerial = WholeText(row.Get("SN"));
    if (!row.Get("SN_YES").IsNull()) entry.serialCheck = FieldInt(row.Get("SN_YES"));
    bool passed = true;
    // An account without a password is checked by its last valid day alone.
    if (!row.Get("USERPASSWORD").IsNull()) {
      const int allowance = FieldInt(row.Get("PUSERTIME"));
      if (WholeText(row.Get("USERPASSWORD")) != password && gybl_.settings.flags.passwordProtection == 1) {
        passed = false;
      } else if (allowance != 0 && allowance < FieldInt(row.Get("USERTIME"))) {
        code = kUserTimeExceeded;
        passed = false;
      }
    }
    const int lastDay = FieldInt(row.Get("PUSEDATA"));
    if (passed && lastDay != 0 && lastDay < today) {
      code = kUserDateExceeded;
      passed = false;
    }
    if (passed) {
      userType = FieldInt(row.Get("USERLX"));
      code = kUserAccepted;
      ok = true;
    }
  }
  // The local file accepts a failed check with its code unchanged.
  return ok || FlagsAcceptAll();
}

int UserAccounts::ChargeConnectionTime(const ClientEntry& entry, int& out) {
  out = 0;
  if (entry.userName.empty() || entry.clientType == "BASE") return 0;
  const int64_t seconds = SecondsBetween(entry.connectTime, entry.disconnectTime);
  if (seconds < kFreeSeconds) return 0;
  const int64_t charged =
      entry.idleSeconds > kFreeSeconds ? seconds - kFreeSeconds : seconds - entry.idleSeconds / 2;
  if (charged > kLongestCharge) return 0;
  const std::string accountName = CutText(entry.userName, kAccountNameBytes);
  const int today = DateNumber(gybl_.clock().Now());
  if (database_.OpenSqlDatabase() == 1) {
    return ChargeServer(entry.userName, accountName, static_cast<int>(charged), today, out);
  }
  return ChargeLocal(entry.userName, accountName, static_cast<int>(charged), today, out);
}

int UserAccounts::ChargeServer(const std::string& user, const std::string& accountName, int charged,
                               int today, int& out) {
  const std::string defaultArea = gybl_.workAreaList.empty() ? std::string() : gybl_.workAreaList.front();
  // One queued transaction, no round trip on the close path: the charge is added in the statement (a
  // charge still queued is never overwritten by a later one), and the account is created when there is
  // none. The outcome is known to the write worker only, so out stays 0.
  out = 0;
  database_.adoDb.PostBatch(
      {{"update SER_UserDB set USERTIME=COALESCE(USERTIME,0)+$1 where UserNAME=$2", {charged, user}},
       {"insert into SER_UserDB (UserNAME,GLNAME,USERPASSWORD,PUSERTIME,USERLX,PUSEDATA,USERTIME,ScopeName) "
        "select $1,'',$2,0,0,$3,$4,$5 where not exists (select 1 from SER_UserDB where UserNAME=$6)",
        {accountName, accountName, today, charged, defaultArea, user}}});
  return 1;
}

int UserAccounts::ChargeLocal(const std::string& user, const std::string& accountName, int charged, int today,
                              int& out) {
  LocalStore::Recordset recordset = database_.userDatabase.Take();
  if (!recordset) return 0;
  auto failed = [this] { gybl_.Log(StrFormat("%s %d", database_.FailureText().c_str(), 10), kLogRed); };
  std::vector<Ado_Row> rows;
  if (recordset.Select("SELECT rowid AS RowKey, USERTIME, USERTIME_LAST FROM USERPASSWORD WHERE UserUser=$1 "
                       "ORDER BY rowid LIMIT 1",
                       {user}, {"RowKey", "USERTIME", "USERTIME_LAST"}, rows) == 0) {
    failed();
    return 0;
  }
  int ok = 0;
  if (rows.empty()) {
    out = today;
    if (!FlagsAcceptAll()) return 0;
    const SqlParam unit = accountName.starts_with("Z") ? SqlParam(kTestUnit) : SqlParam(nullptr);
    const SqlParam area =
        gybl_.workAreaList.empty() ? SqlParam(nullptr) : SqlParam(gybl_.workAreaList.front());
    ok = recordset.Execute(
        "INSERT INTO USERPASSWORD(UserUser, USERPASSWORD, PUSERTIME, USERLX, Measure_unit, PUSEDATA, "
        "USERTIME, USERTIME_LAST, ScopeName) VALUES ($1, $2, 0, 0, $3, $4, $5, $6, $7)",
        {accountName, accountName, unit, today, charged, charged, area});
  } else {
    const int last = FieldInt(rows.front().Get("USERTIME_LAST"));
    const int old = FieldInt(rows.front().Get("USERTIME"));
    ok = recordset.Execute("UPDATE USERPASSWORD SET USERTIME=$1 WHERE rowid=$2",
                           {old + charged, rows.front().Get("RowKey").integer()});
    if (ok == 1) {
      out = old + charged;
      // The first charge since the last snapshot makes the account active.
      if (last == old) ++gybl_.statistics.activeAccounts;
    }
  }
  if (ok == 0) failed();
  return ok;
}

int UserAccounts::CountUsers() {
  LocalStore::Recordset recordset = database_.userDatabase.Take();
  if (!recordset) return 0;
  // The first count takes a snapshot of every account that has none; such an account is not active.
  if (recordset.Execute(
          "UPDATE USERPASSWORD SET USERTIME_LAST=COALESCE(USERTIME, 0) WHERE USERTIME_LAST IS NULL") == 0) {
    return 0;
  }
  gybl_.statistics.accountCount = recordset.SelectValue("SELECT count(*) FROM USERPASSWORD");
  gybl_.statistics.activeAccounts =
      recordset.SelectValue("SELECT count(*) FROM USERPASSWORD WHERE USERTIME > USERTIME_LAST");
  return gybl_.statistics.activeAccounts;
}

AccountValues UserAccounts::QueryAccount(const std::string& user, const std::string& password) {
  AccountValues values;
  std::vector<Ado_Row> rows;
  const bool server = database_.OpenSqlDatabase() == 1;
  if (server) {
    database_.ServerSelect(kServerPageQuery, {user, password}, kPageColumns, rows);
  } else {
    LocalStore::Recordset recordset = database_.userDatabase.Take();
    if (!recordset) return values;
    recordset.Select(
        "SELECT PUSERTIME, USERTIME, PUSEDATA, USERLX, Measure_unit, Contact_person, Telephone "
        "FROM USERPASSWORD WHERE UserUser=$1 AND USERPASSWORD=$2 ORDER BY rowid LIMIT 1",
        {user, password}, kPageColumns, rows);
  }
  if (rows.empty()) {
    values.validity = kNoAccountText;
    return values;
  }
  const Ado_Row& row = rows.front();
  const int allowance = FieldInt(row.Get("PUSERTIME"));
  values.validity = StrFormat("%08d", FieldInt(row.Get("PUSEDATA")));
  values.allowance = server || allowance != 0 ? Minutes(allowance) : std::string();
  values.usedTime = Minutes(FieldInt(row.Get("USERTIME")));
  auto text = [&](const char* column) {
    return server ? FieldText(row.Get(column)) : WholeText(row.Get(column));
  };
  values.company = text("Measure_unit");
  values.contact = text("Contact_person");
  values.telephone = text("Telephone");
  values.services = ServiceLabels(FieldInt(row.Get("USERLX")), server);
  return values;
}
