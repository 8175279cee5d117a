#pragma once
// The main frame: the listening sockets, the socket-event handler and the send primitive, the
// request area, and the service start and stop.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <array>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/AddressLimits.h"
#include "core/RequestClassifier.h"
#include "core/WriteQueue.h"

class SocketConnection;
class TlsFront;

class CMainFrame : public SocketLayer {
 public:
  CMainFrame(boost::asio::io_context& io, CKavroGyBl& gybl, RequestHandlers& handlers);
  ~CMainFrame() override;

  // Starts listening on "PORT" (and "PORT2", "TLSPORT", and [::] with "IPV6"); 1 when the service runs.
  int StartService();
  void StopService();

  // Socket-event handler: write (the send primitive) and close; reads arrive from the socket layer.
  void OnSocketEvent(uint32_t socket, uint32_t event) override;
  void CloseSocket(uint32_t socket) override;

  RequestClassifier& classifier() { return classifier_; }
  // A request that waited for the database is handled again with its answers; a refusal closes it.
  void ResumeRequest(uint32_t socket);
  const std::string& windowTitle() const { return windowTitle_; }
  // Port a listener is bound to (0 when it is not listening): 1 "PORT", 2 "PORT2", 3 "TLSPORT".
  int ListeningPort(int which) const;
  // Bytes waiting in a connection's write queue.
  size_t QueuedBytes(uint32_t socket) const;
  void SetQueueBound(size_t bound) { queueBound_ = bound; }
  // The time the per-address limits count with; tests set their own.
  void SetLimitClock(std::function<AddressLimits::TimePoint()> now) { limitClock_ = std::move(now); }

  // Starts the one-second timer (timer 11); each expiry runs OnTick.
  void StartTickTimer();
  void StopTickTimer();
  // One second of housekeeping: runs the tick handler. Tests call it directly instead of waiting.
  void OnTick();
  void SetTickHandler(std::function<void()> handler) { tickHandler_ = std::move(handler); }

 private:
  using Acceptor = boost::asio::ip::tcp::acceptor;
  // A listener on all IPv4 addresses, or with v6 on all IPv6 addresses (IPv6 only); null when it
  // cannot be created or bound. kind names a listener beyond the plain IPv4 ones in its log line.
  std::shared_ptr<Acceptor> OpenListener(const char* name, int port, int backlog, bool reportCode,
                                         bool v6 = false, const char* kind = "");
  // The [::] listeners of "IPV6" for the plain ports; a failure is logged and leaves IPv4 serving.
  void OpenIpv6Listeners(int backlog);
  // The TLS port: a file that cannot be used is logged in red and leaves the plain ports serving.
  void StartTls(int backlog);
  void StartAccept(const std::shared_ptr<Acceptor>& acceptor);
  void OnAccept(boost::asio::ip::tcp::socket socket);
  // A new connection from remote (a TCP client, or the TLS front's end of a TLS client).
  void AcceptPeer(boost::asio::ip::tcp::socket socket, const boost::asio::ip::tcp::endpoint& remote);
  // False when the address is over "MaxPerIP" or "MaxConnectsPerIP"; counts the connection otherwise.
  bool AdmitAddress(const boost::asio::ip::address& address);
  void StartRead(const std::shared_ptr<SocketConnection>& connection);
  // Reads what the readable socket holds into the read area and hands it on.
  void ReadReady(const std::shared_ptr<SocketConnection>& connection);
  // more: the read filled the area, so bytes may still wait in the socket.
  void OnRead(const std::shared_ptr<SocketConnection>& connection, const boost::system::error_code& error,
              size_t count, bool more = false);
  void OnWriteEvent(uint32_t socket);
  void WaitWritable(const std::shared_ptr<SocketConnection>& connection);
  void SendFailed(ClientEntry& entry, int error);
  void ArmTickTimer();

  boost::asio::io_context& io_;
  CKavroGyBl& gybl_;
  RequestClassifier classifier_;
  std::shared_ptr<Acceptor> m_sockListen1;
  std::shared_ptr<Acceptor> m_sockListen2;
  std::vector<std::shared_ptr<Acceptor>> ipv6Listeners_;
  std::shared_ptr<Acceptor> tlsListen_;
  std::unique_ptr<TlsFront> tlsFront_;
  std::unordered_map<uint32_t, std::shared_ptr<SocketConnection>> connections_;
  boost::asio::steady_timer acceptRetry_;
  boost::asio::steady_timer tickTimer_;
  bool tickRunning_ = false;
  std::function<void()> tickHandler_;
  size_t queueBound_ = WriteQueue::kDefaultBound;
  AddressLimits addressLimits_;
  std::function<AddressLimits::TimePoint()> limitClock_ = [] { return std::chrono::steady_clock::now(); };
  std::string windowTitle_;
  // One read area for every connection: a socket is read only once it is readable and its bytes are
  // handled before the next read, so thousands of idle connections hold no receive memory.
  std::array<uint8_t, kReadSize> readArea_;
};
