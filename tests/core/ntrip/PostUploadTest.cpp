// NTRIP 2 uploads (POST) and chunked replies over real loopback sockets, with the caster's own
// handlers; rovers read what the base sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "core/CasterHandlers.h"
#include "core/CasterServices.h"
#include "core/ntrip/Base64.h"
#include "gnss/DecoderContext.h"
#include "support/Loopback.h"
#include "support/NoAccounts.h"

namespace {

using namespace testsupport;
using namespace std::string_literals;

class Lines : public MonitorEvents {
 public:
  void OnLogLine(const LogRecord& record) override { lines.push_back(record.text); }
  bool Has(const std::string& part) const {
    for (const auto& line : lines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }
  std::vector<std::string> lines;
};

// An HTTP chunked body read independently of the caster's decoder: false while incomplete or malformed.
bool Unchunk(const std::string& wire, std::string& body) {
  body.clear();
  for (size_t at = 0; at < wire.size();) {
    const size_t eol = wire.find("\r\n", at);
    if (eol == std::string::npos || eol == at) return false;
    const size_t n = std::stoul(wire.substr(at, eol - at), nullptr, 16);
    if (n == 0 || eol + 2 + n + 2 > wire.size() || wire.compare(eol + 2 + n, 2, "\r\n") != 0) return false;
    body.append(wire, eol + 2, n);
    at = eol + 2 + n + 2;
  }
  return true;
}

std::string Post(const std::string& mountpoint, const std::string& headers, bool chunked) {
  return "POST /" + mountpoint + " HTTP/1.1\r\nHost: caster\r\nNtrip-Version: Ntrip/2.0\r\n" +
         "User-Agent: NTRIP KavroTest/2.0\r\n" + headers + (chunked ? "Transfer-Encoding: chunked\r\n" : "") +
         "\r\n";
}

std::string Credentials(const std::string& text) {
  return "Authorization: Basic " + EncodeBase64(text) + "\r\n";
}

std::string Get(const std::string& mountpoint, const std::string& user, bool version2) {
  return "GET /" + mountpoint + " HTTP/1.1\r\nUser-Agent: NTRIP Rover\r\n" +
         (version2 ? "Ntrip-Version: Ntrip/2.0\r\n" : "") + Credentials(user + ":pw") + "\r\n";
}

class PostUploadTest : public ::testing::Test {
 protected:
  PostUploadTest()
      : gybl(Settings{}, clock, monitor, steps),
        accounts(gybl.settings.flags),
        services(gybl, accounts, io.get_executor()),
        handlers(gybl, accounts, services, decoders),
        frame(io, gybl, handlers) {
    gybl.localAddresses = {"127.0.0.1"};
    gybl.settings.port = FreeLoopbackPort();
    EXPECT_EQ(frame.StartService(), 1);
  }
  ~PostUploadTest() override {
    for (int fd : fds) close(fd);
  }
  int Connect() {
    const int fd = ConnectLoopback(gybl.settings.port);
    fds.push_back(fd);
    const size_t before = gybl.clientTable.size();
    EXPECT_TRUE(RunUntil(io, [&] { return gybl.clientTable.size() == before + 1; }));
    return fd;
  }
  // Sends a request and returns the reply header; bytes behind it stay in `rest`.
  std::string Ask(int fd, const std::string& request, std::string* rest = nullptr) {
    SendAll(fd, request);
    std::string reply;
    RunUntil(io, [&] {
      ReadAvailable(fd, reply);
      return reply.find("\r\n\r\n") != std::string::npos;
    });
    const size_t end = reply.find("\r\n\r\n");
    if (end == std::string::npos) return reply;
    if (rest != nullptr) *rest = reply.substr(end + 4);
    return reply.substr(0, end + 4);
  }
  // Everything the caster sends until it closes the connection.
  std::string ReadToClose(int fd) {
    std::string all;
    RunUntil(
        io, [&] { return !ReadAvailable(fd, all); }, std::chrono::seconds(3));
    return all;
  }
  // Sends bytes in pieces, each read by the caster before the next is sent.
  void SendInPieces(int fd, const std::string& bytes, const std::vector<size_t>& sizes) {
    ClientEntry* base = nullptr;
    for (auto& [key, entry] : gybl.clientTable) {
      if (entry.clientType == "BASE") base = &entry;
    }
    ASSERT_NE(base, nullptr);
    const int64_t start = base->bytesReceived;
    size_t at = 0;
    for (size_t i = 0; at < bytes.size(); ++i) {
      const size_t n = std::min(sizes[i % sizes.size()], bytes.size() - at);
      ASSERT_TRUE(SendAll(fd, bytes.substr(at, n)));
      at += n;
      ASSERT_TRUE(RunUntil(io, [&] { return base->bytesReceived == start + static_cast<int64_t>(at); }));
    }
  }

  boost::asio::io_context io;
  SystemClock clock;
  Lines monitor;
  ServiceSteps steps;
  CKavroGyBl gybl;
  NoAccounts accounts;
  CasterServices services;
  DecoderConsole console;
  PositionRecorder recorder;
  DecoderContext decoders{monitor, console, recorder, gybl.settings.flags.saveGga};
  CasterHandlers handlers;
  CMainFrame frame;
  std::vector<int> fds;
};

class ChunkedRelayTest : public PostUploadTest, public ::testing::WithParamInterface<int> {};

// A chunked upload, cut across reads inside chunk headers and data, reaches an NTRIP 1 rover and an
// NTRIP 2 rover byte for byte; with Ntrip2Chunked the NTRIP 2 rover reads it in chunks.
TEST_P(ChunkedRelayTest, ChunkedUploadReachesBothRoversByteForByte) {
  gybl.settings.ntrip2Chunked = GetParam();
  const int base = Connect();
  // The request itself arrives in two reads, the first shorter than "POST " but not than "GET".
  SendAll(base, "POST");
  ASSERT_TRUE(RunUntil(io, [&] { return gybl.clientTable.begin()->second.bytesReceived == 4; }));
  const std::string ok = Ask(base, Post("UP1", Credentials("station:pw"), true).substr(4));
  EXPECT_EQ(ok.rfind("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: KavroGnss-Tavix/", 0), 0u) << ok;
  EXPECT_NE(ok.find("\r\nConnection: close\r\n"), std::string::npos) << ok;

  const int rover1 = Connect();
  const int rover2 = Connect();
  std::string got1;
  std::string wire2;
  EXPECT_EQ(Ask(rover1, Get("UP1", "r1", false), &got1).rfind("ICY 200 OK\r\n", 0), 0u);
  const std::string head2 = Ask(rover2, Get("UP1", "r2", true), &wire2);
  EXPECT_EQ(head2.rfind("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n", 0), 0u) << head2;
  EXPECT_EQ(head2.find("Transfer-Encoding: chunked\r\n") != std::string::npos, GetParam() == 1) << head2;

  std::string stream;
  std::string body;
  for (int chunk = 0; chunk < 60; ++chunk) {
    std::string data(1 + (chunk * 397) % 2500, '\0');
    for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<char>((chunk * 131 + k) & 0xFF);
    stream += data;
    char size[16];
    std::snprintf(size, sizeof size, chunk % 2 ? "%zx" : "%zX", data.size());
    body += size + std::string(chunk % 7 == 0 ? ";seq=1" : "") + "\r\n" + data + "\r\n";
  }
  SendInPieces(base, body, {1, 2, 3, 7, 13, 600, 1500, 4000, 5});

  std::string got2;
  const bool chunked = GetParam() == 1;
  EXPECT_TRUE(RunUntil(io, [&] {
    ReadAvailable(rover1, got1);
    ReadAvailable(rover2, wire2);
    if (chunked && !Unchunk(wire2, got2)) return false;
    if (!chunked) got2 = wire2;
    return got1.size() >= stream.size() && got2.size() >= stream.size();
  }));
  EXPECT_TRUE(got1 == stream) << got1.size() << " of " << stream.size();
  EXPECT_TRUE(got2 == stream) << got2.size() << " of " << stream.size();
}

INSTANTIATE_TEST_SUITE_P(Ntrip2Chunked, ChunkedRelayTest, ::testing::Values(0, 1));

// A plain body with lower-case header names: the stream is relayed as it comes, requests and all.
TEST_F(PostUploadTest, PlainBodyWithLowerCaseHeaders) {
  const int base = Connect();
  const std::string post =
      "POST /UP2 HTTP/1.1\r\nntrip-version: Ntrip/2.0\r\nuser-agent: NTRIP lower/1\r\n"
      "authorization: basic " +
      EncodeBase64("station:pw") + "\r\n\r\n";
  EXPECT_EQ(Ask(base, post).rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  const ClientEntry& entry = gybl.clientTable.begin()->second;
  EXPECT_EQ(entry.userName, "UP2");
  EXPECT_EQ(entry.agent, " NTRIP lower/1");

  const int rover = Connect();
  const std::string get = "GET /UP2 HTTP/1.1\r\nntrip-version: Ntrip/2.0\r\nauthorization: Basic " +
                          EncodeBase64("r1:pw") + "\r\n\r\n";
  std::string got;
  EXPECT_EQ(Ask(rover, get, &got).rfind("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n", 0), 0u);
  const std::string stream = "\xd3\x00\x13 SOURCE pw /X\r\n\r\nGET / HTTP/1.0\r\n\r\n5\r\nhello\r\n"s;
  SendInPieces(base, stream, {4, 9});
  EXPECT_TRUE(RunUntil(io, [&] {
    ReadAvailable(rover, got);
    return got.size() >= stream.size();
  }));
  EXPECT_EQ(got, stream);
}

// Refusals answer as NTRIP 2 clients expect and close the connection.
TEST_F(PostUploadTest, RefusalsAnswerInNtrip2Form) {
  const int holder = Connect();
  ASSERT_EQ(Ask(holder, "SOURCE pw /RTK1\r\n\r\n"), "ICY 200 OK\r\n\r\n");
  struct Case {
    const char* name;
    std::string request;
    int passwordProtection;
    std::string replyStart;
  };
  const std::vector<Case> cases = {
      {"no credentials", Post("M1", "", false), 0,
       "HTTP/1.1 401 Unauthorized \r\nWWW-Authenticate: Basic realm=\"/M1\"\r\nDate: "},
      {"check failed", Post("M2", Credentials("station:bad"), true), 1,
       "HTTP/1.1 401 Unauthorized \r\nWWW-Authenticate: Basic realm=\"/M2\"\r\nDate: "},
      {"mountpoint in use", Post("RTK1", Credentials("station:pw"), false), 0,
       "HTTP/1.1 409 Conflict\r\nNtrip-Version: Ntrip/2.0\r\nServer: KavroGnss-Tavix/"},
      {"no mountpoint", Post("", Credentials("station:pw"), false), 0, "HTTP/1.1 400 Bad Request\r\n"},
  };
  for (const Case& c : cases) {
    gybl.settings.flags.passwordProtection = c.passwordProtection;
    const int fd = Connect();
    SendAll(fd, c.request);
    const std::string reply = ReadToClose(fd);
    EXPECT_EQ(reply.rfind(c.replyStart, 0), 0u) << c.name << ": " << reply;
    EXPECT_EQ(reply.substr(reply.size() - 4), "\r\n\r\n") << c.name;
    EXPECT_EQ(gybl.clientTable.size(), 1u) << c.name;
  }
}

// A malformed chunk header closes the upload with a log line, after the good chunks were relayed; the
// last chunk ends the upload as the peer's close.
TEST_F(PostUploadTest, BadChunkHeaderOrLastChunkEndsTheUpload) {
  struct Case {
    const char* name;
    std::string body;
    std::string relayed;
    std::string closeTail;
  };
  const std::vector<Case> cases = {
      {"bad hex", "5\r\nhello\r\n3\r\nabc\r\nZZ\r\nnever", "helloabc", "{2}"},
      {"data overruns its size", "5\r\nhello!!\r\n", "hello", "{2}"},
      {"last chunk", "5\r\nhello\r\n0\r\n\r\n", "hello", "{5}"},
  };
  for (const Case& c : cases) {
    const int base = Connect();
    ASSERT_EQ(Ask(base, Post("UP3", Credentials("station:pw"), true)).rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    const int rover = Connect();
    std::string got;
    Ask(rover, Get("UP3", "r1", false), &got);
    monitor.lines.clear();
    SendAll(base, c.body);
    ReadToClose(base);
    EXPECT_TRUE(RunUntil(io, [&] {
      ReadAvailable(rover, got);
      return got.size() >= c.relayed.size() && gybl.clientTable.size() == 1;
    })) << c.name;
    EXPECT_EQ(got, c.relayed) << c.name;
    EXPECT_EQ(monitor.Has("bad chunk framing"), c.closeTail == "{2}") << c.name;
    ASSERT_FALSE(monitor.lines.empty());
    const std::string& last = monitor.lines.back();
    EXPECT_EQ(last.substr(last.size() - 3), c.closeTail) << c.name << ": " << last;
    gybl.Close(gybl.clientTable.begin()->first, CloseReason::kServiceStop);
  }
}

}  // namespace
