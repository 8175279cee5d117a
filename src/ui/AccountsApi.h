#pragma once
// The account page's HTTP API over the account administration:
//   GET  /api/accounts/list?search=TEXT   {"accounts":[{...,"online":bool}],"more":bool}
//   GET  /api/accounts/get?name=NAME      {"account":{...}}
//   POST /api/accounts/add                body: an account            {"ok":true}
//   POST /api/accounts/update             body: an account and "original", the name it had
//   POST /api/accounts/delete             body: {"name":...}
//   POST /api/accounts/reset-time         body: {"name":...}
// An account is {"name","password","allowedSeconds","usedSeconds","validUntil","deniedServices",
// "organisation","contact","telephone","area","serialBinding","serial","email"}. Failures answer
// {"error":TEXT} with 400 (invalid), 404 (no such account), 409 (name taken), 500 or 503.
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "core/ClientEntry.h"
#include "db/AccountAdmin.h"
#include "ui/MonitorServer.h"

class AccountAdministration;

// The request a method and target (path with query) and a JSON body ask for; false with the reason in
// error when they ask for nothing this API knows (notFound set when the path is unknown).
bool ParseAccountRequest(std::string_view method, std::string_view target, std::string_view body,
                         AccountRequest& request, std::string& error, bool& notFound);
// The answer to a request: status and JSON, each listed account marked online when its name is in online.
SettingsAnswer AccountAnswer(const AccountRequest& request, const AccountResult& result,
                             const std::set<std::string>& online);

// The user names of the connections open now (the "online" mark of the page).
std::set<std::string> OnlineUserNames(const ClientTable& clients);

// Answers one request of the API through admin; reply comes on the main thread (later for the server
// database). online gives the user names connected now.
void AnswerAccounts(AccountAdministration& admin, const std::function<std::set<std::string>()>& online,
                    std::string_view method, std::string_view target, std::string_view body,
                    std::function<void(SettingsAnswer)> reply);
