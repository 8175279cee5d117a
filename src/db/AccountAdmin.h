#pragma once
// Account administration: list, read, add, change, delete and reset the used time of the accounts of
// either back end (the server's SER_UserDB or the local file's USERPASSWORD). Every statement is a
// query with bound parameters (writes return the rows they touched), so that one function that runs
// queries drives it on any thread: a local recordset, the server's query worker, a plain connection.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "db/AdoRow.h"

// One account with every column the administration edits.
struct Account {
  std::string name = {};
  std::string password = {};
  int allowedSeconds = 0;         // PUSERTIME; 0 = unlimited
  int usedSeconds = 0;            // USERTIME
  int validUntil = 0;             // PUSEDATA, yyyymmdd; 0 = no end
  int deniedServices = 0;         // USERLX
  std::string organisation = {};  // Measure_unit
  std::string contact = {};       // Contact_person
  std::string telephone = {};
  std::string area = {};    // ScopeName
  int serialBinding = 0;    // SN_YES
  std::string serial = {};  // SN
  std::string email = {};

  bool operator==(const Account&) const = default;
};

enum class AccountBackend { kLocal, kServer };

// What an administration request asks for.
struct AccountRequest {
  enum class Kind { kList, kGet, kAdd, kUpdate, kDelete, kResetTime };
  Kind kind = Kind::kList;
  std::string name = {};    // the account acted on (kGet, kUpdate, kDelete, kResetTime)
  std::string search = {};  // kList: a text found in name, organisation or contact; empty lists all
  Account account = {};     // kAdd, kUpdate: the new values (kUpdate may rename)

  // Whether the request changes accounts.
  bool Changes() const { return kind != Kind::kList && kind != Kind::kGet; }
};

struct AccountResult {
  enum class Status { kOk, kInvalid, kNotFound, kDuplicate, kFailed, kUnreachable };
  Status status = Status::kOk;
  std::string message;            // why it failed; empty on success
  std::vector<Account> accounts;  // kList, kGet
  bool more = false;              // kList: more accounts matched than were listed

  bool ok() const { return status == Status::kOk; }
  static AccountResult Failure(Status status, std::string message);
};

// Runs one query; 1 when it ran to its end (the Select of Ado_InterFacce).
using AccountQuery = std::function<int(const std::string& sql, const SqlParams& params,
                                       const std::vector<std::string>& columns, std::vector<Ado_Row>& rows)>;

// The longest name and password: what a login may carry.
inline constexpr size_t kAccountCredentialBytes = 50;
// The most accounts a list returns.
inline constexpr size_t kAccountListLimit = 1000;

// Why the account cannot be stored (the first fault found), or the empty text when it can: lengths
// within the columns and the login's limits, no control characters, a name and a password that can
// log in, numbers within their ranges, the last valid day a real date.
std::string AccountFault(const Account& account);
// Why a text cannot be stored in a column of maxBytes, or the empty text: too long, not UTF-8, or
// holding control characters. what names the value in the reason.
std::string TextFault(const char* what, const std::string& text, size_t maxBytes);

class AccountAdmin {
 public:
  AccountAdmin(AccountBackend backend, AccountQuery query) : backend_(backend), query_(std::move(query)) {}

  AccountResult Run(const AccountRequest& request);

  AccountResult List(const std::string& search);
  AccountResult Get(const std::string& name);
  // Refuses a name that exists already.
  AccountResult Add(const Account& account);
  // Changes every column of the account called name; a new name must not exist already. The used time
  // keeps its snapshot unless the new used time is below it.
  AccountResult Update(const std::string& name, const Account& account);
  AccountResult Delete(const std::string& name);
  // Used time and its snapshot back to 0.
  AccountResult ResetTime(const std::string& name);

 private:
  Account Read(const Ado_Row& row) const;
  // The rows a write touched (returned names), or a failure.
  AccountResult Write(const std::string& sql, const SqlParams& params, const std::string& name);
  bool Exists(const std::string& name, bool& exists);

  AccountBackend backend_;
  AccountQuery query_;
};
