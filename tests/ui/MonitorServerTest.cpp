#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/json.hpp>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "app/OutputLog.h"
#include "app/WorkspaceTree.h"
#include "core/ClientEntry.h"
#include "core/Messages.h"
#include "core/ntrip/Base64.h"
#include "support/HttpClient.h"
#include "support/Loopback.h"
#include "support/TlsTestSupport.h"
#include "ui/MonitorServer.h"
#include "ui/SettingsForm.h"
#include "ui/WebMonitor.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace json = boost::json;
using tcp = asio::ip::tcp;

namespace {

using Response = testsupport::HttpResponse;

MonitorOptions Options(std::string bind, std::string password, size_t queueLimit = 256) {
  MonitorOptions options;
  options.bind = std::move(bind);
  options.port = 0;
  options.password = std::move(password);
  options.queueLimit = queueLimit;
  return options;
}

// The monitor on an io_context run by a thread of the test; clients are blocking sockets with a
// receive time-out, so a fault fails the test instead of hanging it.
class MonitorServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kavro-monitor-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    std::filesystem::create_directory(dir / "web");
    std::ofstream(dir / "web" / "index.html") << "<!doctype html>";
    log = std::make_unique<OutputLog>(clock, dir.string(), nullptr);
    monitor = std::make_unique<WebMonitor>(*log, tree, clock);

    MonitorHandlers handlers;
    handlers.state = [this] { return StateJson(monitor->View()); };
    handlers.snapshot = [this] { return SnapshotMessage(monitor->View()); };
    handlers.metrics = [] { return std::string("kavro_up 1\n"); };
    handlers.gridWindow = [this](GridWindow window) { return monitor->GridWindowMessage(window); };
    handlers.startService = [] { return false; };
    handlers.stopService = [this] { return ++stops, true; };
    handlers.closeConnection = [](uint32_t socket) { return socket == 7; };
    handlers.settingsState = [this] { return monitor->SettingsState(); };
    handlers.settingsAction = [this](std::string_view action, std::string_view body) {
      settingsCalls.push_back(std::string(action) + " " + std::string(body));
      return SettingsAnswer{action == "start" ? 409 : 200, monitor->SettingsState({{kCtlDispNum, "bad"}})};
    };
    server = std::make_unique<MonitorServer>(io, std::move(handlers));
  }

  void TearDown() override {
    if (runner.joinable()) {
      asio::post(io, [this] {
        server->Stop();
        guard.reset();
      });
      runner.join();
    }
    std::filesystem::remove_all(dir);
  }

  void Start(MonitorOptions options) {
    options.port = 0;
    options.webRoot = (dir / "web").string();
    std::string error;
    ASSERT_TRUE(server->Start(options, error)) << error;
    monitor->SetServer(server.get());
    runner = std::thread([this] { io.run(); });
  }

  // Runs work on the server's thread and waits for it.
  void OnServer(std::function<void()> work) {
    std::promise<void> done;
    asio::post(io, [&] {
      work();
      done.set_value();
    });
    done.get_future().wait();
  }

  tcp::socket Connect() { return testsupport::ConnectHttp(client, server->port()); }

  std::string Host() const { return "127.0.0.1:" + std::to_string(server->port()); }

  Response Request(http::verb verb, const std::string& target, const std::string& origin = "",
                   const std::string& authorization = "", const std::string& body = "",
                   const std::string& host = "") {
    return testsupport::HttpRequest(server->port(), verb, target, {origin, authorization, body, host});
  }

  ManualClock clock{LocalTime{2015, 2, 0, 2, 9, 5, 7}};
  std::filesystem::path dir;
  WorkspaceTree tree;
  std::unique_ptr<OutputLog> log;
  std::unique_ptr<WebMonitor> monitor;
  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> guard{io.get_executor()};
  std::unique_ptr<MonitorServer> server;
  std::thread runner;
  asio::io_context client;
  int stops = 0;
  std::vector<std::string> settingsCalls;
  bool running = false;
};

TEST_F(MonitorServerTest, StateHoldsTheGridLogAndStatistics) {
  ClientEntry entry;
  entry.socket = 7;
  entry.userName = "base\xFF";
  entry.clientType = "BASE";
  monitor->OnGrid(kGridAdded, entry);
  monitor->OnLogLine({"base", "refused", kLogRed});
  Start(Options("127.0.0.1", ""));

  const Response response = Request(http::verb::get, "/api/state");
  ASSERT_EQ(response.result(), http::status::ok);
  EXPECT_EQ(response[http::field::content_type], "application/json");
  const json::object state = json::parse(response.body()).as_object();
  for (const char* key : {"title", "running", "columns", "grid", "stats", "log", "tree"}) {
    EXPECT_TRUE(state.contains(key)) << key;
  }
  const json::object& row = state.at("grid").as_array().at(0).as_object();
  EXPECT_EQ(row.at("socket").as_int64(), 7);
  EXPECT_EQ(row.at("icon").as_int64(), 0);
  ASSERT_EQ(row.at("cells").as_array().size(), 16u);
  EXPECT_EQ(row.at("cells").as_array().at(1).as_string(), "base\xEF\xBF\xBD");
  const json::object& line = state.at("log").as_array().at(0).as_object();
  EXPECT_EQ(line.at("text").as_string(), "refused");
  EXPECT_EQ(line.at("colour").as_int64(), kLogRed);
  EXPECT_EQ(line.at("time").as_string(), "2015/02/02  9: 5: 7 ");
  EXPECT_EQ(state.at("stats").as_array().size(), 8u);

  const Response page = Request(http::verb::get, "/");
  EXPECT_EQ(page.result(), http::status::ok);
  EXPECT_EQ(page[http::field::content_type], "text/html; charset=utf-8");
  EXPECT_EQ(Request(http::verb::get, "/../index.html").result(), http::status::not_found);
}

TEST_F(MonitorServerTest, PasswordGuardsPagesApiAndSocket) {
  Start(Options("127.0.0.1", "s3cret"));
  const std::string good = "Basic " + EncodeBase64("admin:s3cret");
  for (const char* target : {"/", "/api/state", "/metrics"}) {
    const Response refused = Request(http::verb::get, target);
    EXPECT_EQ(refused.result(), http::status::unauthorized) << target;
    EXPECT_NE(refused[http::field::www_authenticate].find("Basic"), std::string::npos);
    EXPECT_EQ(Request(http::verb::get, target, "", "Basic " + EncodeBase64("admin:wrong")).result(),
              http::status::unauthorized);
    EXPECT_EQ(Request(http::verb::get, target, "", good).result(), http::status::ok) << target;
  }
  EXPECT_EQ(Request(http::verb::post, "/api/service/stop").result(), http::status::unauthorized);
  EXPECT_EQ(stops, 0);

  websocket::stream<tcp::socket> ws(Connect());
  websocket::response_type answer;
  beast::error_code error;
  ws.handshake(answer, Host(), "/api/events", error);
  EXPECT_TRUE(error);
  EXPECT_EQ(answer.result(), http::status::unauthorized);
}

TEST_F(MonitorServerTest, TlsServesThePageAndRefusesUnusableFiles) {
  testsupport::TestCertificate certificate;
  if (!certificate.made()) GTEST_SKIP() << "the openssl tool could not make a certificate";
  MonitorOptions options = Options("127.0.0.1", "");
  options.tls = true;
  options.tlsCert = (dir / "missing.crt").string();
  options.tlsKey = certificate.key().string();
  std::string error;
  EXPECT_FALSE(server->Start(options, error));
  EXPECT_NE(error.find("TLSCERT"), std::string::npos) << error;
  EXPECT_EQ(server->port(), 0);

  options.tlsCert = certificate.cert().string();
  Start(options);
  testsupport::TlsClient page(client);
  page.Connect(server->port());
  page.Send("GET /api/state HTTP/1.1\r\nHost: " + Host() + "\r\nConnection: close\r\n\r\n");
  ASSERT_TRUE(testsupport::RunUntil(client, [&] { return page.ended(); }));
  EXPECT_EQ(page.received().rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << page.received();
  EXPECT_NE(page.received().find("\"title\""), std::string::npos);
}

TEST_F(MonitorServerTest, WithoutPasswordOnlyLoopbackIsBound) {
  std::string error;
  EXPECT_FALSE(server->Start(Options("0.0.0.0", ""), error));
  EXPECT_NE(error.find("PASSWORD"), std::string::npos);
  EXPECT_EQ(server->port(), 0);
  EXPECT_FALSE(server->Start(Options("not an address", "x"), error));
  EXPECT_TRUE(server->Start(Options("0.0.0.0", "x"), error)) << error;
  EXPECT_NE(server->port(), 0);
  server->Stop();
}

TEST_F(MonitorServerTest, ActionsAcceptOnlyTheMonitorsOwnOrigin) {
  Start(Options("127.0.0.1", ""));
  EXPECT_EQ(Request(http::verb::post, "/api/service/stop", "http://evil.example").result(),
            http::status::forbidden);
  EXPECT_EQ(Request(http::verb::post, "/api/connection/close", "http://evil.example", "", R"({"socket":7})")
                .result(),
            http::status::forbidden);
  // A foreign name pointed at 127.0.0.1: its pages are same-origin in the browser, but not loopback.
  const std::string rebound = "evil.example:" + std::to_string(server->port());
  EXPECT_EQ(Request(http::verb::post, "/api/service/stop", "http://" + rebound, "", "", rebound).result(),
            http::status::forbidden);
  EXPECT_EQ(Request(http::verb::get, "/api/state", "", "", "", rebound).result(), http::status::forbidden);
  EXPECT_EQ(Request(http::verb::get, "/metrics", "", "", "", rebound).result(), http::status::forbidden);
  const Response metrics = Request(http::verb::get, "/metrics");
  EXPECT_EQ(metrics[http::field::content_type], "text/plain; version=0.0.4");
  EXPECT_EQ(metrics.body(), "kavro_up 1\n");
  EXPECT_EQ(stops, 0);
  EXPECT_EQ(Request(http::verb::post, "/api/service/stop", "http://" + Host()).result(), http::status::ok);
  EXPECT_EQ(Request(http::verb::post, "/api/service/stop").result(),
            http::status::ok);  // no Origin: not a browser
  EXPECT_EQ(stops, 2);
  EXPECT_EQ(Request(http::verb::post, "/api/service/start").result(), http::status::conflict);
  EXPECT_EQ(Request(http::verb::post, "/api/connection/close", "", "", R"({"socket":7})").result(),
            http::status::ok);
  EXPECT_EQ(Request(http::verb::post, "/api/connection/close", "", "", R"({"socket":8})").result(),
            http::status::not_found);
  EXPECT_EQ(Request(http::verb::post, "/api/connection/close", "", "", "socket=7").result(),
            http::status::bad_request);

  websocket::stream<tcp::socket> ws(Connect());
  ws.set_option(websocket::stream_base::decorator(
      [](websocket::request_type& request) { request.set(http::field::origin, "http://evil.example"); }));
  websocket::response_type answer;
  beast::error_code error;
  ws.handshake(answer, Host(), "/api/events", error);
  EXPECT_EQ(answer.result(), http::status::forbidden);
}

TEST_F(MonitorServerTest, SettingsFormIsServedAndItsActionsKeepTheAccessRules) {
  monitor->SetSources({[] { return std::string("T"); }, [this] { return running; }, [] { return 0; }, {}, {}});
  Settings settings;
  settings.sqlPassword = "<b>pw";
  monitor->settingsForm().Initialise(settings, clock.Now());
  Start(Options("127.0.0.1", ""));

  const json::value form = json::parse(Request(http::verb::get, "/api/settings").body());
  EXPECT_EQ(form.at("texts").at("controls").at(1).at("id").as_int64(), kCtlPort);
  EXPECT_EQ(form.at("texts").at("controls").at(1).at("text").as_string(), "服务PORT");
  EXPECT_EQ(form.at("layout").as_array().size(), 4u);
  EXPECT_EQ(form.at("values").at("1006").as_int64(), 6060);
  EXPECT_EQ(form.at("values").at("1031").as_string(), "<b>pw");
  EXPECT_EQ(form.at("values").at("1015").as_string(), "2015/ 2/ 2  9: 5: 7");
  EXPECT_TRUE(form.at("enabled").at("1006").as_bool());
  EXPECT_FALSE(form.at("enabled").at("1037").as_bool());

  EXPECT_EQ(Request(http::verb::post, "/api/settings/save", "http://evil.example", "", "{}").result(),
            http::status::forbidden);
  EXPECT_TRUE(settingsCalls.empty());
  const Response saved =
      Request(http::verb::post, "/api/settings/save", "http://" + Host(), "", R"({"values":{}})");
  EXPECT_EQ(saved.result(), http::status::ok);
  EXPECT_EQ(json::parse(saved.body()).at("errors").at(0).at("id").as_int64(), kCtlDispNum);
  EXPECT_EQ(Request(http::verb::post, "/api/settings/start").result(), http::status::conflict);
  EXPECT_EQ(settingsCalls, (std::vector<std::string>{R"(save {"values":{}})", "start "}));

  // A change of the service state sends the enabling rules to the event sockets.
  websocket::stream<tcp::socket> ws(Connect());
  ws.handshake(Host(), "/api/events");
  beast::flat_buffer buffer;
  ws.read(buffer);
  OnServer([this] {
    running = true;
    monitor->PublishTitle();
  });
  std::string message;
  do {
    buffer.clear();
    ws.read(buffer);
    message = beast::buffers_to_string(buffer.data());
  } while (json::parse(message).at("type").as_string() != "settings");
  const json::value event = json::parse(message);
  EXPECT_TRUE(event.at("running").as_bool());
  EXPECT_FALSE(event.at("enabled").at("1006").as_bool());
  EXPECT_TRUE(event.at("enabled").at("1037").as_bool());
}

std::string Type(const std::string& message) {
  return json::value_to<std::string>(json::parse(message).at("type"));
}

TEST_F(MonitorServerTest, EventSocketSendsSnapshotThenEvents) {
  Start(Options("127.0.0.1", ""));
  websocket::stream<tcp::socket> ws(Connect());
  ws.set_option(websocket::stream_base::decorator(
      [this](websocket::request_type& request) { request.set(http::field::origin, "http://" + Host()); }));
  ws.handshake(Host(), "/api/events");
  beast::flat_buffer buffer;
  const auto next = [&] {
    buffer.clear();
    ws.read(buffer);
    return json::parse(beast::buffers_to_string(buffer.data()));
  };
  EXPECT_EQ(next().at("type").as_string(), "snapshot");
  EXPECT_EQ(next().at("type").as_string(), "grid");  // the rows of the page's window follow it

  OnServer([this] { monitor->OnLogLine({"", "hello", kLogBlue}); });
  buffer.clear();
  ws.read(buffer);
  const json::value event = json::parse(beast::buffers_to_string(buffer.data()));
  EXPECT_EQ(event.at("type").as_string(), "log");
  EXPECT_EQ(event.at("row").at("text").as_string(), "hello");
  EXPECT_EQ(event.at("row").at("colour").as_int64(), kLogBlue);

  // Grid changes wait for the tick; then the page gets the rows of its window, each once. Every
  // row's refresh falls due at each tick, as the housekeeping tick makes it.
  std::map<uint32_t, ClientEntry> table;
  OnServer([&] {
    monitor->SetSources({{}, {}, {}, {}, [&table](uint32_t socket) -> ClientEntry* {
                           const auto it = table.find(socket);
                           return it == table.end() ? nullptr : &it->second;
                         }});
  });
  const auto tick = [&](std::vector<uint32_t> sockets) {
    OnServer([&, sockets] {
      for (uint32_t socket : sockets) {
        table[socket].socket = socket;
        monitor->OnGrid(kGridAdded, table[socket]);
      }
      for (auto& [socket, entry] : table) {
        entry.gridRefreshDue = 1;
        monitor->OnGrid(kGridCounters, entry);
        monitor->OnGrid(kGridCounters, entry);  // dropped: no tick between
      }
      monitor->OnTick();
    });
  };
  // The sockets whose rows were composed since their refresh fell due.
  const auto composed = [&] {
    std::vector<uint32_t> sockets;
    OnServer([&] {
      for (const auto& [socket, entry] : table)
        if (entry.gridRefreshDue == 0) sockets.push_back(socket);
    });
    return sockets;
  };
  const auto rows = [](const json::value& message) {
    EXPECT_EQ(message.at("type").as_string(), "grid");
    std::vector<int64_t> sockets;
    for (const auto& row : message.at("rows").as_array()) sockets.push_back(row.at("socket").as_int64());
    return sockets;
  };
  // The next grid message; the tick's other messages (statistics, title) are passed over.
  const auto nextGrid = [&] {
    json::value message = next();
    while (message.at("type").as_string() != "grid") message = next();
    return message;
  };
  tick({9, 11, 13});
  EXPECT_EQ(rows(next()), (std::vector<int64_t>{9, 11, 13}));
  EXPECT_EQ(next().at("type").as_string(), "stats");

  // The page scrolls: the window it names comes at once, and later changes keep to it.
  ws.write(asio::buffer(std::string(R"({"type":"view","first":1,"count":1})")));
  const json::value answer = nextGrid();
  EXPECT_EQ(rows(answer), (std::vector<int64_t>{11}));
  EXPECT_EQ(answer.at("total").as_int64(), 3);
  EXPECT_EQ(answer.at("first").as_int64(), 1);
  tick({5});
  EXPECT_EQ(rows(nextGrid()), (std::vector<int64_t>{9}));  // row 1 is now socket 9
  // Only the shown row was composed; the others wait until a page shows them.
  EXPECT_EQ(composed(), (std::vector<uint32_t>{9}));
  ws.write(asio::buffer(std::string(R"({"type":"view","first":2,"count":2})")));
  EXPECT_EQ(rows(nextGrid()), (std::vector<int64_t>{11, 13}));
  EXPECT_EQ(composed(), (std::vector<uint32_t>{9, 11, 13}));
  OnServer([&] { monitor->SetSources({}); });  // the table goes before the monitor
}

TEST_F(MonitorServerTest, ClientBehindGetsASnapshotInsteadOfTheBacklog) {
  Start(Options("127.0.0.1", "", 2));
  websocket::stream<tcp::socket> ws(Connect());
  ws.handshake(Host(), "/api/events");
  beast::flat_buffer buffer;
  ws.read(buffer);
  ASSERT_EQ(Type(beast::buffers_to_string(buffer.data())), "snapshot");
  buffer.clear();
  ws.read(buffer);
  ASSERT_EQ(Type(beast::buffers_to_string(buffer.data())), "grid");

  // Ten events at once: more than the queue holds while a write is in flight.
  OnServer([this] {
    for (int i = 0; i < 10; ++i) server->Broadcast(R"({"type":"event)" + std::to_string(i) + "\"}");
  });
  std::vector<std::string> types;
  do {
    buffer.clear();
    ws.read(buffer);
    types.push_back(Type(beast::buffers_to_string(buffer.data())));
  } while (types.back() != "snapshot");
  EXPECT_LE(types.size(), 3u);
  for (const auto& type : types)
    EXPECT_TRUE(type == "snapshot" || type == "event0" || type == "event1") << type;
}

}  // namespace
