// The web monitor of the real caster binary: page, state and the origin rule.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/json.hpp>

#include "support/CasterProcess.h"

namespace {

namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

http::response<http::string_body> Request(int port, http::verb verb, const char* target,
                                          const char* origin = "") {
  boost::asio::io_context io;
  tcp::socket socket(io);
  socket.connect({boost::asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
  const timeval timeout{10, 0};
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  http::request<http::empty_body> request{verb, target, 11};
  request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
  if (*origin != '\0') request.set(http::field::origin, origin);
  http::write(socket, request);
  boost::beast::flat_buffer buffer;
  http::response<http::string_body> response;
  http::read(socket, buffer, response);
  return response;
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
