#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/RequestClassifier.h"
#include "support/GnssFrames.h"

namespace {

constexpr uint32_t kSocket = 7;

struct Call {
  std::string kind;  // "device", "get", "source" or "data"
  std::string text;
  bool operator==(const Call&) const = default;
};

void PrintTo(const Call& call, std::ostream* os) { *os << call.kind << ":\"" << call.text << "\""; }

// Records what the framers hand over; each request handler's result and side effect can be set.
class RecordingHandlers : public RequestHandlers {
 public:
  explicit RecordingHandlers(ClientTable& table) : table_(table) {}

  int HandleDeviceLine(char* request, uint32_t socket) override { return Handle("device", request, socket); }
  int HandleGetRequest(char* request, uint32_t socket) override { return Handle("get", request, socket); }
  int HandleSourceRequest(char* request, uint32_t socket) override {
    return Handle("source", request, socket);
  }
  void DispatchData(uint8_t* data, uint32_t count, uint32_t) override {
    calls.push_back({"data", std::string(reinterpret_cast<char*>(data), count)});
  }

  // The request calls only, without the data calls.
  std::vector<Call> Requests() const {
    std::vector<Call> out;
    for (const Call& c : calls) {
      if (c.kind != "data") out.push_back(c);
    }
    return out;
  }

  std::vector<Call> calls;
  int result = 1;
  // State a request handler narrows the connection to; -1 leaves it.
  int narrowTo = -1;
  std::function<void(uint32_t)> onRequest;

 private:
  int Handle(const char* kind, const char* request, uint32_t socket) {
    calls.push_back({kind, request});
    if (narrowTo >= 0) table_.at(socket).classifyState = narrowTo;
    if (onRequest) onRequest(socket);
    return result;
  }
  ClientTable& table_;
};

class RequestClassifierTest : public ::testing::Test {
 protected:
  RequestClassifierTest() : handlers(table), classifier(table, handlers) {
    ClientEntry entry;
    entry.socket = kSocket;
    entry.deviceBuffer = std::make_unique<CBuffer>();
    entry.sourceBuffer = std::make_unique<CBuffer>();
    entry.getBuffer = std::make_unique<CBuffer>();
    entry.streamBuffer = std::make_unique<CBuffer>();
    table.emplace(kSocket, std::move(entry));
  }

  int Feed(const std::string& chunk) {
    return classifier.Receive(kSocket, static_cast<uint32_t>(chunk.size()),
                              reinterpret_cast<const uint8_t*>(chunk.data()));
  }
  ClientEntry& entry() { return table.at(kSocket); }

  ClientTable table;
  RecordingHandlers handlers;
  RequestClassifier classifier;
};

TEST_F(RequestClassifierTest, GetBlockSplitAcrossChunksIsOneRequest) {
  handlers.narrowTo = kClassifyGet;
  EXPECT_EQ(Feed("GET /MOUNT HTTP/1.0\r\n"), 1);
  EXPECT_TRUE(handlers.Requests().empty());
  EXPECT_EQ(Feed("\r\n"), 1);
  EXPECT_EQ(handlers.Requests(), (std::vector<Call>{{"get", "GET /MOUNT HTTP/1.0\r\n\r\n"}}));
  EXPECT_EQ(entry().classifyState, kClassifyGet);
  EXPECT_EQ(entry().bytesReceived, 23);
  // Nothing waits, and the device and SOURCE framers no longer read: no buffer keeps storage.
  for (const CBuffer* buffer : {entry().deviceBuffer.get(), entry().getBuffer.get(), entry().sourceBuffer.get()})
    EXPECT_EQ(buffer->Capacity(), 0);
  Feed("$GPGGA,1*00\r\n$GPG");  // a line's start waits in the GET framer only
  EXPECT_GT(entry().getBuffer->Capacity(), 0);
  EXPECT_EQ(entry().deviceBuffer->Capacity() + entry().sourceBuffer->Capacity(), 0);
}

TEST_F(RequestClassifierTest, KeywordTailWaitsForTheRestAndEarlierDataIsPassedOn) {
  handlers.narrowTo = kClassifySource;
  EXPECT_EQ(Feed(std::string("\xD3\x00\x13zzSOUR", 9)), 1);
  // The GET copy passes everything on; the SOURCE copy keeps the possible start of its keyword.
  ASSERT_EQ(handlers.calls.size(), 2u);
  EXPECT_EQ(handlers.calls[0], (Call{"data", std::string("\xD3\x00\x13zzSOUR", 9)}));
  EXPECT_EQ(handlers.calls[1], (Call{"data", std::string("\xD3\x00\x13zz", 5)}));
  EXPECT_EQ(entry().sourceBuffer->Length(), 4);  // "SOUR" waits
  handlers.calls.clear();
  EXPECT_EQ(Feed("CE secret /BASE1\r\nSource-Agent: NTRIP x\r\n\r\n"), 1);
  ASSERT_FALSE(handlers.calls.empty());
  EXPECT_EQ(handlers.calls.back(), (Call{"source", "SOURCE secret /BASE1\r\nSource-Agent: NTRIP x\r\n\r\n"}));
  EXPECT_EQ(entry().classifyState, kClassifySource);
}

TEST_F(RequestClassifierTest, GetTailAcrossChunks) {
  handlers.narrowTo = kClassifyGet;
  Feed("xxGE");
  EXPECT_EQ(entry().getBuffer->Length(), 2);
  Feed("T / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(handlers.calls.back(), (Call{"get", "GET / HTTP/1.0\r\n\r\n"}));
}

TEST_F(RequestClassifierTest, UndecidedDataGoesToDataHandlerFromGetAndSourceCopiesOnly) {
  Feed("$GPGGA,1*00\r\n");
  EXPECT_EQ(handlers.calls, (std::vector<Call>{{"data", "$GPGGA,1*00\r\n"}, {"data", "$GPGGA,1*00\r\n"}}));
  EXPECT_EQ(entry().deviceBuffer->Length(), 0);  // the device copy was dropped
}

TEST_F(RequestClassifierTest, GetStateNmeaReachesDataHandlerOnce) {
  entry().classifyState = kClassifyGet;
  Feed("$GPGGA,123519,4807.038,N*47\r\n");
  EXPECT_EQ(handlers.calls, (std::vector<Call>{{"data", "$GPGGA,123519,4807.038,N*47\r\n"}}));
  EXPECT_EQ(entry().deviceBuffer->Length(), 0);
  EXPECT_EQ(entry().sourceBuffer->Length(), 0);
}

TEST_F(RequestClassifierTest, DeviceLinesInOneChunkAreHandledInOrder) {
  handlers.narrowTo = kClassifyDevice;
  Feed("VORAN,BASE,a\r\nVORAN,ECHO\r\nRAWDATA");
  ASSERT_GE(handlers.calls.size(), 3u);
  EXPECT_EQ(handlers.calls[0], (Call{"device", "VORAN,BASE,a\r\n"}));
  EXPECT_EQ(handlers.calls[1], (Call{"device", "VORAN,ECHO\r\n"}));
  // Once narrowed to the device protocol, other bytes are the stream.
  EXPECT_EQ(handlers.calls[2], (Call{"data", "RAWDATA"}));
  EXPECT_EQ(handlers.calls.size(), 3u);
}

TEST_F(RequestClassifierTest, DeviceLineIsCutAt200Bytes) {
  entry().classifyState = kClassifyDevice;
  const std::string line = "VORAN," + std::string(194, 'a');  // exactly 200 bytes, no terminator
  Feed(line);
  EXPECT_TRUE(handlers.calls.empty());  // waits for more
  Feed(std::string(60, 'b'));
  ASSERT_FALSE(handlers.calls.empty());
  EXPECT_EQ(handlers.calls[0], (Call{"device", line}));
  // A terminated line longer than 200 bytes is cut as well.
  handlers.calls.clear();
  entry().deviceBuffer->Clear();
  Feed("VORAN," + std::string(300, 'c') + "\r\n");
  ASSERT_FALSE(handlers.calls.empty());
  EXPECT_EQ(handlers.calls[0].kind, "device");
  EXPECT_EQ(handlers.calls[0].text.size(), 200u);
}

TEST_F(RequestClassifierTest, TwoGetRequestsInOneChunkAreHandledOnePerChunk) {
  handlers.narrowTo = kClassifyGet;
  Feed("GET /A HTTP/1.0\r\n\r\nGET /B HTTP/1.0\r\n\r\n");
  EXPECT_EQ(handlers.calls, (std::vector<Call>{{"get", "GET /A HTTP/1.0\r\n\r\n"}}));
  Feed("x");
  EXPECT_EQ(handlers.calls.back(), (Call{"get", "GET /B HTTP/1.0\r\n\r\n"}));
}

TEST_F(RequestClassifierTest, RefusalPropagatesAndLaterFramersDoNotRun) {
  handlers.result = 0;
  EXPECT_EQ(Feed("VORAN,X\r\n"), 0);
  EXPECT_EQ(handlers.calls, (std::vector<Call>{{"device", "VORAN,X\r\n"}}));
  handlers.calls.clear();
  EXPECT_EQ(Feed("GET / HTTP/1.0\r\n\r\n"), 0);
  EXPECT_EQ(handlers.calls.back().kind, "get");
}

TEST_F(RequestClassifierTest, BuffersAreTrimmed) {
  entry().classifyState = kClassifySource;
  // A header that never ends is dropped once more than 4000 bytes wait after a pass.
  Feed("SOURCE pw /M\r\n" + std::string(4100, 'h'));
  EXPECT_EQ(entry().sourceBuffer->Length(), 0);
  // More than 5000 bytes left waiting after framing are cleared.
  entry().classifyState = kClassifyGet;
  Feed("GET /" + std::string(3000, 'g'));
  EXPECT_EQ(entry().getBuffer->Length(), 3005);
  Feed(std::string(2100, 'g'));
  EXPECT_EQ(entry().getBuffer->Length(), 0);
  entry().streamBuffer->Write(std::string(5001, 's'));
  Feed("x");
  EXPECT_EQ(entry().streamBuffer->Length(), 0);
}

TEST_F(RequestClassifierTest, LargeReadsOfABaseAreNotLost) {
  entry().classifyState = kClassifySource;
  entry().userName = "BASE1";
  std::string stream;
  for (int i = 0; i < 3 * 8095; ++i) stream += static_cast<char>(i * 7 % 251);
  for (size_t at = 0; at < stream.size(); at += 8095) Feed(stream.substr(at, 8095));
  std::string passed;
  for (const auto& call : handlers.calls) {
    if (call.kind == "data") passed += call.text;
  }
  EXPECT_TRUE(passed == stream) << passed.size() << " of " << stream.size();
}

TEST_F(RequestClassifierTest, IdleResetOnlyForKeptAliveKinds) {
  auto fedIdle = [&](const std::string& user, const std::string& type, bool linked, int format) {
    entry().userName = user;
    entry().clientType = type;
    entry().links.clear();
    if (linked) entry().links[9] = "BASE";
    entry().dataFormat = format;
    entry().idleSeconds = 12;
    entry().classifyState = kClassifyGet;
    Feed("$");
    return entry().idleSeconds;
  };
  EXPECT_EQ(fedIdle("", "BASE", false, 0), 12);
  EXPECT_EQ(fedIdle("base1", "BASE", false, 0), 0);
  EXPECT_EQ(fedIdle("user", "NTRIP", false, 0), 12);
  EXPECT_EQ(fedIdle("user", "ROVE", true, 0), 0);
  EXPECT_EQ(fedIdle("user", "NTRIP", false, 9), 0);  // forwarded to the upstream caster
  EXPECT_EQ(fedIdle("user", "NTRIP", false, 11), 0);
  EXPECT_EQ(fedIdle("user", "GETGGA", false, 0), 0);
}

TEST_F(RequestClassifierTest, HandlerThatRemovesTheConnectionEndsFramingSafely) {
  handlers.onRequest = [&](uint32_t socket) { table.erase(socket); };
  EXPECT_EQ(Feed("VORAN,A\r\nVORAN,B\r\nGET / HTTP/1.0\r\n\r\n"), 1);
  EXPECT_EQ(handlers.calls, (std::vector<Call>{{"device", "VORAN,A\r\n"}}));
}

TEST_F(RequestClassifierTest, DataBehindAnAcceptedGetIsHandledInTheSameRead) {
  handlers.narrowTo = kClassifyGet;
  Feed("GET /[RTCM30] HTTP/1.0\r\n\r\n$GPGGA,1*00\r\n");
  EXPECT_EQ(handlers.calls,
            (std::vector<Call>{{"get", "GET /[RTCM30] HTTP/1.0\r\n\r\n"}, {"data", "$GPGGA,1*00\r\n"}}));
  handlers.calls.clear();
  handlers.result = 0;  // a refused request passes nothing on
  entry().classifyState = kClassifyUndecided;
  EXPECT_EQ(Feed("GET /X HTTP/1.0\r\n\r\n$GPGGA,2*00\r\n"), 0);
  EXPECT_EQ(handlers.calls, (std::vector<Call>{{"get", "GET /X HTTP/1.0\r\n\r\n"}}));
}

// A request whose handler waits for the database keeps the connection's input; Resume handles the same
// request again, then what followed it and what arrived meanwhile, in order. A refusal then closes.
TEST_F(RequestClassifierTest, RequestWaitingForTheDatabaseIsHandledAgainOnResume) {
  for (const char* framed : {"GET /M HTTP/1.0\r\n\r\n", "VORAN,LINKBASE,B,pw\r\n"}) {
    SCOPED_TRACE(framed);
    handlers.calls.clear();
    handlers.result = 1;
    entry().classifyState = kClassifyUndecided;
    for (CBuffer* b : {entry().deviceBuffer.get(), entry().getBuffer.get(), entry().sourceBuffer.get()}) b->Clear();
    const bool get = std::string(framed).starts_with("GET");
    handlers.narrowTo = get ? kClassifyGet : kClassifyDevice;
    handlers.onRequest = [&](uint32_t socket) { table.at(socket).awaitingDatabase = handlers.calls.size() == 1; };
    EXPECT_EQ(Feed(std::string(framed) + "$GPGGA,1*00\r\n"), 1);
    EXPECT_EQ(Feed("$GPGGA,2*00\r\n"), 1);
    const Call request{get ? "get" : "device", framed};
    EXPECT_EQ(handlers.calls, std::vector<Call>{request});
    EXPECT_EQ(classifier.Resume(kSocket), 1);
    EXPECT_FALSE(entry().awaitingDatabase);
    if (get) {
      EXPECT_EQ(handlers.calls,
                (std::vector<Call>{request, request, {"data", "$GPGGA,1*00\r\n$GPGGA,2*00\r\n"}}));
    } else {  // a device connection passes on no lines that are not its own
      EXPECT_EQ(handlers.Requests(), (std::vector<Call>{request, request}));
    }
    EXPECT_EQ(classifier.Resume(kSocket), 1);  // nothing waits any more: nothing happens
    EXPECT_EQ(handlers.Requests().size(), 2u);
  }
  handlers.calls.clear();
  entry().classifyState = kClassifyGet;
  entry().getBuffer->Clear();
  Feed("GET /M HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(entry().awaitingDatabase);
  handlers.result = 0;
  EXPECT_EQ(classifier.Resume(kSocket), 0);
}

// An accepted base, by SOURCE or by device login: every chunk of a recorded stream reaches the data
// handler in the read that brought it, also chunks that end in the start of a keyword or are shorter
// than one.
class AcceptedBaseTest : public RequestClassifierTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(AcceptedBaseTest, EveryChunkIsPassedOnInItsOwnRead) {
  SKIP_WITHOUT_SHARED_DATA();
  const testsupport::Bytes recorded =
      testsupport::ReadFile(testsupport::SharedDataDir() + "/rtcm3/rtklib/testglo.rtcm3");
  ASSERT_GT(recorded.size(), 2000u);
  entry().classifyState = GetParam();
  entry().clientType = "BASE";
  entry().userName = "BASE1";

  std::vector<std::string> chunks;
  size_t at = 0;
  for (const char* tail : {"S", "SOUR", "V", "VORA", "SOURC"}) {
    chunks.push_back(std::string(recorded.begin() + at, recorded.begin() + at + 200) + tail);
    at += 200;
  }
  for (size_t n = 1; at + n <= 1800; n = n % 5 + 1, at += n) {
    chunks.push_back(std::string(recorded.begin() + at, recorded.begin() + at + n));
  }
  std::string sent;
  for (const std::string& chunk : chunks) {
    sent += chunk;
    ASSERT_EQ(Feed(chunk), 1);
    std::string passed;
    for (const Call& call : handlers.calls) passed += call.text;
    ASSERT_EQ(passed.size(), sent.size()) << "held back after chunk " << &chunk - chunks.data();
  }
  std::string passed;
  for (const Call& call : handlers.calls) passed += call.text;
  EXPECT_TRUE(passed == sent);
  EXPECT_TRUE(handlers.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(SourceAndDevice, AcceptedBaseTest,
                         ::testing::Values(kClassifySource, kClassifyDevice));

}  // namespace
