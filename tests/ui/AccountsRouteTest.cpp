// The monitor server's route to the account page: requests reach the handler with their query and
// body and are answered when the handler replies later; the access rules hold before the handler runs.
#include <gtest/gtest.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/http.hpp>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/ntrip/Base64.h"
#include "support/HttpClient.h"
#include "ui/MonitorServer.h"

namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;

class AccountsRouteTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    MonitorHandlers handlers;
    handlers.state = [] { return std::string("{}"); };
    handlers.snapshot = [] { return std::string("{}"); };
    handlers.accountAdministration = [this] { Called("admin"); };
    // The answer comes from a later turn of the loop, as a database answer does.
    handlers.accounts = [this](std::string_view method, std::string_view target, std::string_view body,
                               std::function<void(SettingsAnswer)> reply) {
      Called(std::string(method) + " " + std::string(target) + " " + std::string(body));
      asio::post(io, [reply = std::move(reply)] { reply({409, R"({"error":"taken"})"}); });
    };
    server = std::make_unique<MonitorServer>(io, std::move(handlers));
    MonitorOptions options;
    options.port = 0;
    options.password = GetParam();
    std::string error;
    ASSERT_TRUE(server->Start(options, error)) << error;
    runner = std::thread([this] { io.run(); });
  }
  void TearDown() override {
    asio::post(io, [this] {
      server->Stop();
      guard.reset();
    });
    runner.join();
  }
  void Called(std::string what) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(std::move(what));
  }
  testsupport::HttpResponse Request(http::verb verb, const std::string& target, const std::string& origin,
                                    const std::string& body = "") {
    const std::string credentials = GetParam().empty() ? "" : "Basic " + EncodeBase64("admin:" + GetParam());
    return testsupport::HttpRequest(server->port(), verb, target, {origin, credentials, body, ""});
  }
  std::string Own() const { return "http://127.0.0.1:" + std::to_string(server->port()); }

  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> guard{io.get_executor()};
  std::unique_ptr<MonitorServer> server;
  std::thread runner;
  std::mutex mutex;
  std::vector<std::string> calls;
};

TEST_P(AccountsRouteTest, AnswersComeLaterAndTheAccessRulesHoldFirst) {
  const testsupport::HttpResponse listed = Request(http::verb::get, "/api/accounts/list?search=a%20b", "");
  EXPECT_EQ(listed.result(), http::status::conflict);
  EXPECT_EQ(listed.body(), R"({"error":"taken"})");
  EXPECT_EQ(Request(http::verb::post, "/api/accounts/add", Own(), R"({"name":"n"})").result(),
            http::status::conflict);
  EXPECT_EQ(
      Request(http::verb::post, "/api/accounts/delete", "http://evil.example", R"({"name":"n"})").result(),
      http::status::forbidden);
  EXPECT_EQ(Request(http::verb::post, "/api/accounts/admin", Own()).result(), http::status::ok);
  if (!GetParam().empty()) {
    EXPECT_EQ(testsupport::HttpRequest(server->port(), http::verb::get, "/api/accounts/list", {}).result(),
              http::status::unauthorized);
  }
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(calls, (std::vector<std::string>{"GET /api/accounts/list?search=a%20b ",
                                             R"(POST /api/accounts/add {"name":"n"})", "admin"}));
}

INSTANTIATE_TEST_SUITE_P(Access, AccountsRouteTest, ::testing::Values("", "pw"),
                         [](const auto& info) { return info.param.empty() ? "Loopback" : "Password"; });

}  // namespace
