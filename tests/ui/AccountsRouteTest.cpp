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

#include "support/HttpClient.h"
#include "ui/MonitorServer.h"

namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;

class AccountsRouteTest : public ::testing::Test {
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
                                    const std::string& body = "", const std::string& host = "") {
    return testsupport::HttpRequest(server->port(), verb, target, {origin, "", body, host});
  }
  std::string Own() const { return "http://127.0.0.1:" + std::to_string(server->port()); }

  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> guard{io.get_executor()};
  std::unique_ptr<MonitorServer> server;
  std::thread runner;
  std::mutex mutex;
  std::vector<std::string> calls;
};

TEST_F(AccountsRouteTest, AnswersComeLaterAndTheAccessRulesHoldFirst) {
  const testsupport::HttpResponse listed = Request(http::verb::get, "/api/accounts/list?search=a%20b", "");
  EXPECT_EQ(listed.result(), http::status::conflict);
  EXPECT_EQ(listed.body(), R"({"error":"taken"})");
  EXPECT_EQ(Request(http::verb::post, "/api/accounts/add", Own(), R"({"name":"n"})").result(),
            http::status::conflict);
  EXPECT_EQ(
      Request(http::verb::post, "/api/accounts/delete", "http://evil.example", R"({"name":"n"})").result(),
      http::status::forbidden);
  EXPECT_EQ(Request(http::verb::post, "/api/accounts/admin", Own()).result(), http::status::ok);
  EXPECT_EQ(Request(http::verb::get, "/api/accounts/list", "", "", "evil.example").result(),
            http::status::forbidden)
      << "a foreign Host (rebinding) is refused";
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(calls, (std::vector<std::string>{"GET /api/accounts/list?search=a%20b ",
                                             R"(POST /api/accounts/add {"name":"n"})", "admin"}));
}

}  // namespace
