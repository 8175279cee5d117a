#pragma once
// The command form of the account administration, for scripts:
//   KavroServer --dir DIR user add NAME PASSWORD [--allowed-seconds N] [--valid-until YYYYMMDD]
//                                                [--area NAME] [--serial SN]
//   KavroServer --dir DIR user list [SEARCH]
//   KavroServer --dir DIR user delete NAME
//   KavroServer --dir DIR user reset-time NAME
//   KavroServer --dir DIR user export accounts|areas FILE|-
//   KavroServer --dir DIR user import accounts|areas FILE|- [--dry-run]
// It works on the back end the settings file selects (the server database when SQL UseSQL is 1, else
// the local file) beside a caster running on the same directory: it takes no single-instance lock and
// starts no service.
#include <cstdio>
#include <string>
#include <vector>

#include "db/AccountAdmin.h"

// The request the words after "user" ask for; false with the reason in error when they are not one.
bool ParseAccountCommand(const std::vector<std::string>& words, AccountRequest& request, std::string& error);
// One account as a line of "user list": every column, tab-separated, name first; tabs and line breaks
// inside values become blanks.
std::string AccountLine(const Account& account);
// Runs the command on programDirectory (ending in "/"); results go to out, failures to err. Exit status:
// 0 done, 1 failed (unknown name, name taken, invalid value, database unreachable), 2 not a command.
int RunAccountCommand(const std::string& programDirectory, const std::vector<std::string>& words, FILE* out,
                      FILE* err);
