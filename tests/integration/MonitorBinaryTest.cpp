// The web monitor of the real caster binary: page, state and the origin rule.
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "support/CasterProcess.h"
#include "support/HttpClient.h"

namespace {

namespace http = boost::beast::http;

testsupport::HttpResponse Request(int port, http::verb verb, const char* target, const char* origin = "") {
  testsupport::HttpRequestParts parts;
  parts.origin = origin;
  return testsupport::HttpRequest(port, verb, target, parts);
}

TEST(MonitorBinaryTest, ServesPageStateAndGuardsActions) {
  testsupport::CasterProcess caster;
  ASSERT_TRUE(caster.Start());
  const int port = caster.monitorPort();
  const std::string listening = "Monitor http://127.0.0.1:" + std::to_string(port) + "/";
  ASSERT_TRUE(
      caster.WaitForLine([&](const std::string& line) { return line.find(listening) != std::string::npos; }));

  const auto page = Request(port, http::verb::get, "/");
  EXPECT_EQ(page.result(), http::status::ok);
  EXPECT_NE(page.body().find("monitor.js"), std::string::npos);

  const auto state = Request(port, http::verb::get, "/api/state");
  ASSERT_EQ(state.result(), http::status::ok);
  const boost::json::object json = boost::json::parse(state.body()).as_object();
  EXPECT_TRUE(json.at("running").as_bool());
  EXPECT_NE(json.at("title").as_string().find("PORT[" + std::to_string(caster.port()) + "]"),
            std::string::npos);
  EXPECT_EQ(json.at("columns").as_array().size(), 16u);
  EXPECT_FALSE(json.at("log").as_array().empty());

  EXPECT_EQ(Request(port, http::verb::post, "/api/service/stop", "http://evil.example").result(),
            http::status::forbidden);
  EXPECT_EQ(caster.Stop(), 0);
}

}  // namespace
