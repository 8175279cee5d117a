#include "app/MainFrame.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cerrno>
#include <chrono>
#include <fstream>

#include "app/HostInfo.h"
#include "app/TlsContext.h"
#include "app/TlsFront.h"
#include "app/WindowTitle.h"
#include "core/Messages.h"
#include "core/SocketConnection.h"
#include "core/StrFormat.h"

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

constexpr int kTextService = 62450;  // server address, server started, started, listen failed, closed
constexpr int kDefaultPort = 6060;
constexpr auto kAcceptRetry = std::chrono::milliseconds(200);
constexpr auto kTickPeriod = std::chrono::seconds(1);

// The largest listen backlog the system grants (net.core.somaxconn), SOMAXCONN when unreadable.
int ListenBacklog() {
  std::ifstream file("/proc/sys/net/core/somaxconn");
  int backlog = 0;
  if (file >> backlog && backlog > 0) return backlog;
  return SOMAXCONN;
}

}  // namespace

CMainFrame::CMainFrame(asio::io_context& io, CKavroGyBl& gybl, RequestHandlers& handlers)
    : io_(io), gybl_(gybl), classifier_(gybl.clientTable, handlers), acceptRetry_(io), tickTimer_(io) {
  gybl_.SetSocketLayer(this);
  classifier_.SetGridNotify(
      [](void* context, ClientEntry& entry) {
        static_cast<CKavroGyBl*>(context)->monitor().OnGrid(kGridCounters, entry);
      },
      &gybl_);
}

CMainFrame::~CMainFrame() {
  gybl_.SetSocketLayer(nullptr);
  for (auto& [fd, connection] : connections_) {
    connection->closed = true;
    boost::system::error_code ignored;
    connection->socket.close(ignored);
  }
}

void CMainFrame::StartTickTimer() {
  tickRunning_ = true;
  tickTimer_.expires_after(kTickPeriod);
  ArmTickTimer();
}

void CMainFrame::StopTickTimer() {
  tickRunning_ = false;
  tickTimer_.cancel();
}

void CMainFrame::ArmTickTimer() {
  tickTimer_.async_wait([this](const boost::system::error_code& error) {
    if (error || !tickRunning_) return;
    // The next expiry counts from this one, so ticks do not drift by the time a tick takes; after a
    // stall (a stopped process) the missed ticks are skipped rather than run in a burst.
    auto next = tickTimer_.expiry() + kTickPeriod;
    const auto now = std::chrono::steady_clock::now();
    if (next < now) next = now + kTickPeriod;
    tickTimer_.expires_at(next);
    ArmTickTimer();
    OnTick();
  });
}

void CMainFrame::OnTick() {
  if (tickHandler_) tickHandler_();
}

int CMainFrame::ListeningPort(int which) const {
  const auto& acceptor = which == 1 ? m_sockListen1 : which == 2 ? m_sockListen2 : tlsListen_;
  if (!acceptor || !acceptor->is_open()) return 0;
  boost::system::error_code error;
  const auto endpoint = acceptor->local_endpoint(error);
  return error ? 0 : endpoint.port();
}

size_t CMainFrame::QueuedBytes(uint32_t socket) const {
  auto it = connections_.find(socket);
  return it == connections_.end() ? 0 : it->second->queue.Bytes();
}

std::shared_ptr<CMainFrame::Acceptor> CMainFrame::OpenListener(const char* name, int port, int backlog,
                                                               bool reportCode, bool v6, const char* kind) {
  auto acceptor = std::make_shared<Acceptor>(io_);
  boost::system::error_code error;
  acceptor->open(v6 ? tcp::v6() : tcp::v4(), error);
  if (error) {
    gybl_.Log(*kind == 0 ? gybl_.textList[3] : StrFormat("%s %s", gybl_.textList[3].c_str(), kind), kLogRed);
    return nullptr;
  }
  acceptor->set_option(asio::socket_base::reuse_address(true), error);
  // IPv6 only: IPv4 clients keep coming through the IPv4 listener, with their addresses as before.
  if (v6) acceptor->set_option(asio::ip::v6_only(true), error);
  const asio::ip::address any = v6 ? asio::ip::address(asio::ip::address_v6::any())
                                   : asio::ip::address(asio::ip::address_v4::any());
  acceptor->bind(tcp::endpoint(any, static_cast<unsigned short>(port)), error);
  if (error) {
    gybl_.Log(StrFormat("%s Bind Error", name), kLogRed);
    return nullptr;
  }
  acceptor->listen(backlog, error);
  if (error) {
    if (reportCode) {
      gybl_.Log(StrFormat("%s Error %d", name, error.value()), kLogRed);
    } else {
      gybl_.Log(StrFormat("%s Error", name), kLogRed);
    }
    return acceptor;
  }
  if (*kind == 0) {
    gybl_.Log(StrFormat("%s PORT[%d]  %s", gybl_.textList[1].c_str(), port, gybl_.textList[2].c_str()),
              kLogNormal);
  } else {
    gybl_.Log(StrFormat("%s PORT[%d]  %s %s", gybl_.textList[1].c_str(), port, gybl_.textList[2].c_str(), kind),
              kLogNormal);
  }
  return acceptor;
}

void CMainFrame::OpenIpv6Listeners(int backlog) {
  const Settings& settings = gybl_.settings;
  for (const auto& [name, port] : {std::pair{"m_sockListen1 [::]", settings.port},
                                   std::pair{"m_sockListen2 [::]", settings.port2}}) {
    if (port == 0) continue;
    if (auto listener = OpenListener(name, port, backlog, true, true, "[::]")) {
      ipv6Listeners_.push_back(listener);
      StartAccept(listener);
    }
  }
}

void CMainFrame::StartTls(int backlog) {
  const Settings& settings = gybl_.settings;
  std::string error;
  auto context = LoadTlsContext(TlsFilePath(gybl_.programDirectory, settings.tlsCert),
                                TlsFilePath(gybl_.programDirectory, settings.tlsKey), error);
  if (!context) {
    gybl_.Log(error, kLogRed);
    return;
  }
  tlsFront_ = std::make_unique<TlsFront>(io_, std::move(context), [this](tcp::socket socket, const tcp::endpoint& peer) {
    AcceptPeer(std::move(socket), peer);
  });
  tlsListen_ = OpenListener("TLS", settings.tlsPort, backlog, true, false, "TLS");
  if (tlsListen_) tlsFront_->Listen(tlsListen_);
  if (settings.ipv6 == 0) return;
  if (auto listener = OpenListener("TLS [::]", settings.tlsPort, backlog, true, true, "TLS [::]")) {
    ipv6Listeners_.push_back(listener);
    tlsFront_->Listen(listener);
  }
}

int CMainFrame::StartService() {
  gybl_.LoadTexts(kTextService);
  if (gybl_.localAddresses.empty()) return 0;

  Settings& settings = gybl_.settings;
  const LocalTime startTime = gybl_.clock().Now();
  const uint64_t freeBytes = FreeDiskBytes(gybl_.programDirectory);
  const int freeMb = static_cast<int>(freeBytes / (1024 * 1024));
  gybl_.Log(StrFormat("************************* FeeDisk %dMB %dGB", freeMb, freeMb / 1024),
            freeMb < 1024 ? kLogRed : kLogNormal);
  for (const std::string& address : gybl_.localAddresses) {
    gybl_.Log(StrFormat("%s   %s", gybl_.textList[0].c_str(), address.c_str()), kLogNormal);
  }
  if (settings.port == 0) settings.port = kDefaultPort;
  windowTitle_ = RunningTitle(settings.name, settings.masterSlave, gybl_.textList[1], gybl_.versionText,
                              settings.port, settings.port2);

  // The system's largest backlog: with a short one, a burst of rovers logging in at once (every rover
  // of a network after the caster restarts) waits for SYN retries of a second and more.
  m_sockListen1 = OpenListener("m_sockListen1", settings.port, ListenBacklog(), true);
  if (!m_sockListen1) return 0;
  StartAccept(m_sockListen1);
  if (settings.port2 != 0) {
    m_sockListen2 = OpenListener("m_sockListen2", settings.port2, ListenBacklog(), false);
    if (!m_sockListen2) return 0;
    StartAccept(m_sockListen2);
  }
  if (settings.ipv6 != 0) OpenIpv6Listeners(ListenBacklog());
  if (settings.tlsPort != 0) StartTls(ListenBacklog());

  gybl_.serviceRunning = 1;
  gybl_.steps().OpenSqlDatabase();
  gybl_.monitor().OnTree(kTreeServiceStarted, nullptr, settings.useLinks);
  gybl_.steps().ArmLinks();
  if (settings.flags.testBroadcast != 0) gybl_.InsertTestBase();
  gybl_.steps().CountUsers();
  gybl_.statistics.startTime = startTime;
  gybl_.statistics.stopTime = LocalTime{};
  gybl_.SendStatistics();
  return 1;
}

void CMainFrame::StopService() {
  gybl_.serviceRunning = 0;
  boost::system::error_code ignored;
  for (auto* listener : {&m_sockListen1, &m_sockListen2}) {
    if (*listener) (*listener)->close(ignored);
    listener->reset();
  }
  for (auto& listener : ipv6Listeners_) listener->close(ignored);
  ipv6Listeners_.clear();
  tlsListen_.reset();
  acceptRetry_.cancel();
  gybl_.CloseAll();
  // The TLS clients handed over end with their connections closed above; those still in their
  // handshake go now.
  if (tlsFront_) tlsFront_->Stop();
  tlsFront_.reset();
  gybl_.steps().CloseSqlDatabase();
  gybl_.steps().StopLinks();
  gybl_.LoadTexts(kTextService);
  windowTitle_ =
      StoppedTitle(gybl_.settings.name, gybl_.settings.masterSlave, gybl_.textList[4], gybl_.versionText);
  gybl_.monitor().OnTree(kTreeServiceStopped, nullptr, 0);
  gybl_.monitor().OnMap(kMapServiceStopped, nullptr);
  gybl_.Log("Stop", kLogNormal);
  // The strip shows the stopped service: nobody online, and the running time at the stop.
  gybl_.statistics.stopTime = gybl_.clock().Now();
  gybl_.statistics.basesOnline = 0;
  gybl_.statistics.fixRate = 0.0;
  gybl_.SendStatistics();
}

void CMainFrame::StartAccept(const std::shared_ptr<Acceptor>& acceptor) {
  acceptor->async_accept([this, acceptor](const boost::system::error_code& error, tcp::socket socket) {
    if (!acceptor->is_open() || error == asio::error::operation_aborted) return;
    if (error) {
      // Out of descriptors or memory: accepting again at once would spin, so wait a moment.
      acceptRetry_.expires_after(kAcceptRetry);
      acceptRetry_.async_wait([this, acceptor](const boost::system::error_code& e) {
        if (!e && acceptor->is_open()) StartAccept(acceptor);
      });
      return;
    }
    OnAccept(std::move(socket));
    StartAccept(acceptor);
  });
}

void CMainFrame::OnAccept(tcp::socket socket) {
  boost::system::error_code error;
  const tcp::endpoint remote = socket.remote_endpoint(error);
  if (error) return;
  AcceptPeer(std::move(socket), remote);
}

void CMainFrame::AcceptPeer(tcp::socket socket, const tcp::endpoint& remote) {
  boost::system::error_code error;
  // Refused before an entry is made: a flood from one address costs an accept and a close.
  addressLimits_.SetLimits(gybl_.settings.maxPerIp, gybl_.settings.maxConnectsPerIp);
  const bool counted = addressLimits_.Enabled();
  if (counted && !AdmitAddress(remote.address())) {
    socket.close(error);
    return;
  }
  socket.non_blocking(true, error);
  socket.set_option(tcp::no_delay(true), error);  // corrections go out as soon as they arrive

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(remote.port());
  std::string peerText;
  if (remote.address().is_v4()) {
    peer.sin_addr.s_addr = htonl(remote.address().to_v4().to_uint());
  } else {
    peer.sin_family = AF_INET6;
    peerText = remote.address().to_string();
  }

  const auto fd = static_cast<uint32_t>(socket.native_handle());
  auto connection = std::make_shared<SocketConnection>(std::move(socket), fd, queueBound_);
  connection->address = LimitKey(remote.address());
  connection->addressCounted = counted;
  if (gybl_.Accept(fd, peer, peerText) == 0) {
    if (counted) addressLimits_.Release(connection->address, limitClock_());
    connection->socket.close(error);
    return;
  }
  connections_[fd] = connection;
  if (ClientEntry* entry = FindClient(gybl_.clientTable, fd)) entry->connection = connection;
  StartRead(connection);
}

bool CMainFrame::AdmitAddress(const asio::ip::address& address) {
  const AddressLimits::Decision decision = addressLimits_.Admit(LimitKey(address), limitClock_());
  if (decision.verdict == AddressLimits::Verdict::kAdmitted) return true;
  if (decision.report) gybl_.Log(AddressRefusalText(address.to_string(), decision), kLogRed);
  return false;
}

void CMainFrame::StartRead(const std::shared_ptr<SocketConnection>& connection) {
  connection->socket.async_wait(tcp::socket::wait_read, [this, connection](const boost::system::error_code& error) {
    if (connection->closed) return;
    if (error) {
      OnRead(connection, error, 0);
      return;
    }
    ReadReady(connection);
  });
}

void CMainFrame::ReadReady(const std::shared_ptr<SocketConnection>& connection) {
  for (;;) {
    const ssize_t r = ::recv(static_cast<int>(connection->fd), readArea_.data(), kReadSize, MSG_DONTWAIT);
    if (r > 0) {
      OnRead(connection, {}, static_cast<size_t>(r), static_cast<size_t>(r) == kReadSize);
      return;
    }
    if (r == 0) {
      OnRead(connection, asio::error::eof, 0);
      return;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      StartRead(connection);  // woken without data: wait again
      return;
    }
    OnRead(connection, boost::system::error_code(errno, boost::system::system_category()), 0);
    return;
  }
}

// Read event: one read of at most 8095 bytes, handed to the request classifier.
void CMainFrame::OnRead(const std::shared_ptr<SocketConnection>& connection,
                        const boost::system::error_code& error, size_t count, bool more) {
  const uint32_t socket = connection->fd;
  ClientEntry* entry = FindClient(gybl_.clientTable, socket);
  if (entry == nullptr) {
    gybl_.Close(socket, CloseReason::kNoEntry);
    return;
  }
  if (error == asio::error::eof) {
    OnSocketEvent(socket, kFdClose);
    return;
  }
  if (error) {
    gybl_.Close(socket, CloseReason::kReadFailed);
    return;
  }
  const ReadScope counted(gybl_.counters, count);
  gybl_.monitor().OnReceived(socket, readArea_.data(), count);
  entry->recvData = readArea_.data();
  entry->recvLength = static_cast<uint32_t>(count);
  if (classifier_.Receive(socket, static_cast<uint32_t>(count), readArea_.data()) == 0) {
    gybl_.Close(socket, CloseReason::kRefused);
  }
  if (connection->closed) return;
  if (more) {
    // A full read may have left bytes behind: read again after the other ready handlers had their
    // turn, rather than waiting for a readiness the socket already has.
    asio::post(io_, [this, connection] {
      if (!connection->closed) ReadReady(connection);
    });
    return;
  }
  StartRead(connection);
}

void CMainFrame::ResumeRequest(uint32_t socket) {
  if (classifier_.Resume(socket) == 0) gybl_.Close(socket, CloseReason::kRefused);
}

void CMainFrame::OnSocketEvent(uint32_t socket, uint32_t event) {
  switch (event) {
    case kFdWrite:
      OnWriteEvent(socket);
      break;
    case kFdClose:
      gybl_.Close(socket, CloseReason::kPeerClosed);
      break;
    default:
      break;  // reads and accepts arrive from the socket layer itself
  }
}

// The send primitive: the pending bytes go to the kernel or, when it takes no more, into the
// connection's bounded write queue; over the bound the chunk is dropped whole.
void CMainFrame::OnWriteEvent(uint32_t socket) {
  ClientEntry* entry = FindClient(gybl_.clientTable, socket);
  if (entry == nullptr) {
    CloseSocket(socket);
    return;
  }
  const uint8_t* data = entry->sendData;
  const uint32_t length = entry->sendLength;
  const SharedChunk shared = std::move(entry->sendChunk);
  entry->sendChunk.reset();
  entry->bytesSent += length;
  gybl_.monitor().OnGrid(kGridCounters, *entry);

  const std::shared_ptr<SocketConnection> connection = entry->connection;
  if (!connection || connection->closed) return;
  int error = 0;
  // An NTRIP 2 rover served in chunks gets each piece framed as one HTTP chunk around the same bytes.
  const WriteQueue::OfferResult offered =
      entry->chunkedReplies
          ? connection->queue.OfferChunk(static_cast<int>(socket), data, length, shared, error)
          : connection->queue.Offer(static_cast<int>(socket), data, length, shared, error);
  switch (offered) {
    case WriteQueue::OfferResult::kSent:
      gybl_.counters.bytesSent += length;
      entry->sendErrors = 0;
      break;
    case WriteQueue::OfferResult::kQueued:
      gybl_.counters.bytesSent += length;
      entry->sendErrors = 0;
      WaitWritable(connection);
      break;
    case WriteQueue::OfferResult::kDropped:
      ++gybl_.counters.chunksDropped;
      if (++entry->sendErrors > 5) entry->statusText = "Error";
      break;
    case WriteQueue::OfferResult::kFailed:
      ++entry->sendErrors;
      SendFailed(*entry, error);
      break;
  }
}

void CMainFrame::SendFailed(ClientEntry& entry, int error) {
  ++gybl_.counters.sendErrors;
  gybl_.Log(StrFormat("[%d -%s] %d", static_cast<int>(entry.socket), entry.userName.c_str(), error),
            kLogNormal, entry.userName);
  entry.closeReason = static_cast<int>(CloseReason::kSendFailed);
}

void CMainFrame::WaitWritable(const std::shared_ptr<SocketConnection>& connection) {
  if (connection->writeWaiting) return;
  connection->writeWaiting = true;
  connection->socket.async_wait(tcp::socket::wait_write,
                                [this, connection](const boost::system::error_code& e) {
                                  connection->writeWaiting = false;
                                  if (connection->closed || e) return;
                                  int error = 0;
                                  switch (connection->queue.Flush(static_cast<int>(connection->fd), error)) {
                                    case WriteQueue::FlushResult::kDone:
                                      break;
                                    case WriteQueue::FlushResult::kPending:
                                      WaitWritable(connection);
                                      break;
                                    case WriteQueue::FlushResult::kFailed:
                                      connection->queue.Clear();
                                      if (ClientEntry* entry = FindClient(gybl_.clientTable, connection->fd))
                                        SendFailed(*entry, error);
                                      break;
                                  }
                                });
}

void CMainFrame::CloseSocket(uint32_t socket) {
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  const std::shared_ptr<SocketConnection> connection = it->second;
  connections_.erase(it);
  connection->closed = true;
  if (connection->addressCounted) addressLimits_.Release(connection->address, limitClock_());
  // A last attempt for what still waits (a refusal reply, say); whatever the kernel does not take
  // now is dropped with the connection.
  int error = 0;
  if (!connection->queue.Empty()) connection->queue.Flush(static_cast<int>(socket), error);
  connection->queue.Clear();
  boost::system::error_code ignored;
  connection->socket.close(ignored);
}
