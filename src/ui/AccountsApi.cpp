#include "ui/AccountsApi.h"

#include <boost/json.hpp>
#include <climits>
#include <cmath>
#include <utility>

#include "db/AccountAdministration.h"
#include "ui/MonitorJson.h"
#include "ui/QueryString.h"

namespace json = boost::json;

namespace {

constexpr std::string_view kPrefix = "/api/accounts/";

std::string ErrorJson(std::string_view text) {
  return json::serialize(json::object{{"error", json::string(ValidUtf8(text))}});
}

// Reads one field of an account object; false with the reason when it has the wrong type.
bool ReadText(const json::object& object, const char* key, std::string& out, std::string& error) {
  const json::value* field = object.if_contains(key);
  if (field == nullptr) return true;
  if (!field->is_string()) {
    error = std::string(key) + " is not a text";
    return false;
  }
  out = std::string(field->as_string());
  return true;
}

bool ReadNumber(const json::object& object, const char* key, int& out, std::string& error) {
  const json::value* field = object.if_contains(key);
  if (field == nullptr) return true;
  if (field->is_int64() && field->as_int64() >= INT_MIN && field->as_int64() <= INT_MAX) {
    out = static_cast<int>(field->as_int64());
    return true;
  }
  // A page may send 60.0 for 60; the range is checked before the conversion.
  if (field->is_double()) {
    const double number = field->as_double();
    if (number >= INT_MIN && number <= INT_MAX && number == std::floor(number)) {
      out = static_cast<int>(number);
      return true;
    }
  }
  error = std::string(key) + " is not a whole number";
  return false;
}

bool ReadAccount(const json::object& object, Account& a, std::string& error) {
  return ReadText(object, "name", a.name, error) && ReadText(object, "password", a.password, error) &&
         ReadNumber(object, "allowedSeconds", a.allowedSeconds, error) &&
         ReadNumber(object, "usedSeconds", a.usedSeconds, error) &&
         ReadNumber(object, "validUntil", a.validUntil, error) &&
         ReadNumber(object, "deniedServices", a.deniedServices, error) &&
         ReadText(object, "organisation", a.organisation, error) &&
         ReadText(object, "contact", a.contact, error) && ReadText(object, "telephone", a.telephone, error) &&
         ReadText(object, "area", a.area, error) &&
         ReadNumber(object, "serialBinding", a.serialBinding, error) &&
         ReadText(object, "serial", a.serial, error) && ReadText(object, "email", a.email, error);
}

json::object AccountJson(const Account& a) {
  auto text = [](const std::string& value) { return json::string(ValidUtf8(value)); };
  return {{"name", text(a.name)},
          {"password", text(a.password)},
          {"allowedSeconds", a.allowedSeconds},
          {"usedSeconds", a.usedSeconds},
          {"validUntil", a.validUntil},
          {"deniedServices", a.deniedServices},
          {"organisation", text(a.organisation)},
          {"contact", text(a.contact)},
          {"telephone", text(a.telephone)},
          {"area", text(a.area)},
          {"serialBinding", a.serialBinding},
          {"serial", text(a.serial)},
          {"email", text(a.email)}};
}

int HttpStatus(AccountResult::Status status) {
  switch (status) {
    case AccountResult::Status::kOk:
      return 200;
    case AccountResult::Status::kInvalid:
      return 400;
    case AccountResult::Status::kNotFound:
      return 404;
    case AccountResult::Status::kDuplicate:
      return 409;
    case AccountResult::Status::kFailed:
      return 500;
    case AccountResult::Status::kUnreachable:
      return 503;
  }
  return 500;
}

}  // namespace

bool ParseAccountRequest(std::string_view method, std::string_view target, std::string_view body,
                         AccountRequest& request, std::string& error, bool& notFound) {
  notFound = false;
  const std::string_view path = target.substr(0, target.find('?'));
  const std::string_view action =
      path.starts_with(kPrefix) ? path.substr(kPrefix.size()) : std::string_view();
  using Kind = AccountRequest::Kind;
  if (method == "GET" || method == "HEAD") {
    if (action == "list") {
      request.kind = Kind::kList;
      request.search = QueryParameter(target, "search");
      return true;
    }
    if (action == "get") {
      request.kind = Kind::kGet;
      request.name = QueryParameter(target, "name");
      return true;
    }
    notFound = true;
    error = "not found";
    return false;
  }
  if (method != "POST") {
    error = "method not allowed";
    return false;
  }
  if (action == "add") {
    request.kind = Kind::kAdd;
  } else if (action == "update") {
    request.kind = Kind::kUpdate;
  } else if (action == "delete") {
    request.kind = Kind::kDelete;
  } else if (action == "reset-time") {
    request.kind = Kind::kResetTime;
  } else {
    notFound = true;
    error = "not found";
    return false;
  }
  boost::system::error_code parseError;
  const json::value value = json::parse(body, parseError);
  if (parseError || !value.is_object()) {
    error = "body is not a JSON object";
    return false;
  }
  const json::object& object = value.as_object();
  if (request.kind == Kind::kAdd || request.kind == Kind::kUpdate) {
    if (!ReadAccount(object, request.account, error)) return false;
    if (request.kind == Kind::kUpdate && !ReadText(object, "original", request.name, error)) return false;
    if (request.kind == Kind::kUpdate && request.name.empty()) request.name = request.account.name;
    return true;
  }
  if (!ReadText(object, "name", request.name, error)) return false;
  if (request.name.empty()) {
    error = "body needs name";
    return false;
  }
  return true;
}

SettingsAnswer AccountAnswer(const AccountRequest& request, const AccountResult& result,
                             const std::set<std::string>& online) {
  if (!result.ok()) return {HttpStatus(result.status), ErrorJson(result.message)};
  if (request.kind == AccountRequest::Kind::kList) {
    json::array accounts;
    for (const Account& a : result.accounts) {
      json::object item = AccountJson(a);
      item["online"] = online.contains(a.name);
      accounts.emplace_back(std::move(item));
    }
    return {200, json::serialize(json::object{{"accounts", std::move(accounts)}, {"more", result.more}})};
  }
  if (request.kind == AccountRequest::Kind::kGet && !result.accounts.empty()) {
    json::object item = AccountJson(result.accounts.front());
    item["online"] = online.contains(result.accounts.front().name);
    return {200, json::serialize(json::object{{"account", std::move(item)}})};
  }
  return {200, R"({"ok":true})"};
}

std::set<std::string> OnlineUserNames(const ClientTable& clients) {
  std::set<std::string> names;
  for (const auto& [socket, entry] : clients) {
    if (!entry.userName.empty()) names.insert(entry.userName);
  }
  return names;
}

void AnswerAccounts(AccountAdministration& admin, const std::function<std::set<std::string>()>& online,
                    std::string_view method, std::string_view target, std::string_view body,
                    std::function<void(SettingsAnswer)> reply) {
  AccountRequest request;
  std::string error;
  bool notFound = false;
  if (!ParseAccountRequest(method, target, body, request, error, notFound)) {
    reply({notFound ? 404 : (error == "method not allowed" ? 405 : 400), ErrorJson(error)});
    return;
  }
  admin.Run(request, [request, online, reply = std::move(reply)](AccountResult result) {
    reply(AccountAnswer(request, result, online ? online() : std::set<std::string>()));
  });
}
