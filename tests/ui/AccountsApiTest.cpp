// The account page's API: what a request asks for, the query text as typed, and the answers' statuses
// and marks.
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <string>

#include "ui/AccountsApi.h"

namespace {

using Kind = AccountRequest::Kind;

TEST(AccountsApiTest, RequestsAreReadFromMethodPathAndBody) {
  struct Case {
    const char* method;
    const char* target;
    const char* body;
    bool ok;
    Kind kind;
    const char* name;    // request.name, or the error when not ok
    const char* search;  // request.search, or "404" when the path is unknown
  };
  const Case cases[] = {
      {"GET", "/api/accounts/list", "", true, Kind::kList, "", ""},
      {"GET", "/api/accounts/list?search=a%27b+c%20%E6%B5%8B", "", true, Kind::kList, "", "a'b c 测"},
      {"GET", "/api/accounts/get?name=x%3Fy&other=1", "", true, Kind::kGet, "x?y", ""},
      {"POST", "/api/accounts/delete", R"({"name":"r1"})", true, Kind::kDelete, "r1", ""},
      {"POST", "/api/accounts/reset-time", R"({"name":"r1"})", true, Kind::kResetTime, "r1", ""},
      {"POST", "/api/accounts/update", R"({"name":"new","original":"old"})", true, Kind::kUpdate, "old", ""},
      {"POST", "/api/accounts/update", R"({"name":"same"})", true, Kind::kUpdate, "same", ""},
      {"POST", "/api/accounts/delete", R"({})", false, Kind::kList, "body needs name", ""},
      {"POST", "/api/accounts/delete", "not json", false, Kind::kList, "body is not a JSON object", ""},
      {"POST", "/api/accounts/add", R"({"name":"a","allowedSeconds":"10"})", false, Kind::kList,
       "allowedSeconds is not a whole number", ""},
      {"POST", "/api/accounts/add", R"({"name":5})", false, Kind::kList, "name is not a text", ""},
      {"POST", "/api/accounts/add", R"({"usedSeconds":4294967296})", false, Kind::kList,
       "usedSeconds is not a whole number", ""},
      {"POST", "/api/accounts/add", R"({"usedSeconds":1e300})", false, Kind::kList,
       "usedSeconds is not a whole number", ""},
      {"POST", "/api/accounts/add", R"({"usedSeconds":6.5})", false, Kind::kList,
       "usedSeconds is not a whole number", ""},
      {"POST", "/api/accounts/drop", "{}", false, Kind::kList, "not found", "404"},
      {"GET", "/api/accounts/add", "", false, Kind::kList, "not found", "404"},
      {"DELETE", "/api/accounts/delete", "", false, Kind::kList, "method not allowed", ""},
  };
  for (const Case& c : cases) {
    AccountRequest request;
    std::string error;
    bool notFound = false;
    const bool ok = ParseAccountRequest(c.method, c.target, c.body, request, error, notFound);
    EXPECT_EQ(ok, c.ok) << c.method << " " << c.target << " " << c.body;
    if (ok) {
      EXPECT_EQ(request.kind, c.kind) << c.target;
      EXPECT_EQ(request.name, c.name) << c.target;
      EXPECT_EQ(request.search, c.search) << c.target;
    } else {
      EXPECT_EQ(error, c.name) << c.target;
      EXPECT_EQ(notFound, std::string(c.search) == "404") << c.target;
    }
  }
}

TEST(AccountsApiTest, AnswersCarryStatusesAndOnlineMarks) {
  using Status = AccountResult::Status;
  const std::pair<Status, int> statuses[] = {{Status::kInvalid, 400},
                                             {Status::kNotFound, 404},
                                             {Status::kDuplicate, 409},
                                             {Status::kFailed, 500},
                                             {Status::kUnreachable, 503}};
  for (const auto& [status, http] : statuses) {
    const SettingsAnswer answer = AccountAnswer({}, AccountResult::Failure(status, "why <b>"), {});
    EXPECT_EQ(answer.status, http);
    EXPECT_EQ(boost::json::parse(answer.body).at("error").as_string(), "why <b>");
  }
  AccountResult listed;
  listed.accounts = {Account{.name = "on"}, Account{.name = "off"}};
  listed.more = true;
  const SettingsAnswer answer = AccountAnswer({Kind::kList}, listed, {"on", "other"});
  ASSERT_EQ(answer.status, 200);
  const boost::json::value body = boost::json::parse(answer.body);
  EXPECT_EQ(body.at("accounts").at(0).at("online").as_bool(), true);
  EXPECT_EQ(body.at("accounts").at(1).at("online").as_bool(), false);
  EXPECT_EQ(body.at("more").as_bool(), true);
  EXPECT_EQ(AccountAnswer({Kind::kDelete}, {}, {}).body, R"({"ok":true})");
}

}  // namespace
