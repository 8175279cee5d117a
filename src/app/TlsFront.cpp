#include "app/TlsFront.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <set>
#include <vector>

namespace asio = boost::asio;
namespace ssl = asio::ssl;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr size_t kPumpBytes = 16 * 1024;  // one TLS record's worth each way
constexpr int kPairBuffer = 64 * 1024;    // kernel buffer of each pair end, like a TCP socket's share
constexpr auto kHandshakeTime = std::chrono::seconds(10);
constexpr auto kShutdownTime = std::chrono::seconds(2);
constexpr auto kAcceptRetry = std::chrono::milliseconds(200);
// Handshakes cost the main thread a key operation each: beyond this many at once, new clients
// are closed at once rather than queued.
constexpr size_t kMaxHandshakes = 256;

class TlsLink;

}  // namespace

struct TlsFrontState {
  TlsFrontState(asio::io_context& context, std::shared_ptr<ssl::context> tls, TlsFront::HandOff h)
      : io(context), tlsContext(std::move(tls)), handOff(std::move(h)) {}
  asio::io_context& io;
  std::shared_ptr<ssl::context> tlsContext;
  TlsFront::HandOff handOff;
  bool running = true;
  std::vector<std::shared_ptr<tcp::acceptor>> acceptors;
  std::set<TlsLink*> links;
  size_t handshaking = 0;
};

namespace {

// One TLS client: its TLS stream and the front's end of the pair whose other end the caster holds.
class TlsLink : public std::enable_shared_from_this<TlsLink> {
 public:
  TlsLink(tcp::socket socket, std::shared_ptr<TlsFrontState> front)
      : tls_(std::move(socket), *front->tlsContext),
        pair_(front->io),
        timer_(front->io),
        front_(std::move(front)) {
    front_->links.insert(this);
  }
  ~TlsLink() {
    if (handshaking_) --front_->handshaking;
    front_->links.erase(this);
  }

  void Start() {
    error_code error;
    peer_ = tls_.lowest_layer().remote_endpoint(error);
    if (error) return Close();
    handshaking_ = true;
    ++front_->handshaking;
    timer_.expires_after(kHandshakeTime);
    timer_.async_wait([self = shared_from_this()](const error_code& e) {
      if (!e) self->Close();  // a client that never finishes its handshake
    });
    tls_.async_handshake(ssl::stream_base::server,
                         [self = shared_from_this()](const error_code& e) { self->OnHandshake(e); });
  }

  bool Handshaking() const { return handshaking_; }

  void Close() {
    if (closed_) return;
    closed_ = true;
    timer_.cancel();
    error_code ignored;
    tls_.lowest_layer().close(ignored);
    pair_.close(ignored);
  }

 private:
  void OnHandshake(const error_code& error) {
    handshaking_ = false;
    --front_->handshaking;
    timer_.cancel();
    if (closed_ || error || !front_->running) return Close();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return Close();
    for (int fd : fds) {
      ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kPairBuffer, sizeof kPairBuffer);
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kPairBuffer, sizeof kPairBuffer);
    }
    error_code e;
    pair_.assign(asio::local::stream_protocol(), fds[0], e);
    tcp::socket caster(front_->io);
    if (!e) caster.assign(peer_.protocol(), fds[1], e);
    if (e) {
      if (!pair_.is_open()) ::close(fds[0]);
      if (!caster.is_open()) ::close(fds[1]);
      return Close();
    }
    ReadClient();
    ReadCaster();
    // The caster may refuse the connection at once: its end closes, and ReadCaster ends this link.
    front_->handOff(std::move(caster), peer_);
  }

  // Client to caster: one read in flight, written whole before the next, so a caster that does not
  // read holds the client back through TCP rather than through memory here.
  void ReadClient() {
    tls_.async_read_some(asio::buffer(fromClient_),
                         [self = shared_from_this()](const error_code& e, size_t n) {
                           if (self->closed_) return;
                           if (e) return self->ClientEnded();
                           asio::async_write(self->pair_, asio::buffer(self->fromClient_.data(), n),
                                             [self](const error_code& w, size_t) {
                                               if (self->closed_) return;
                                               if (w) return self->Close();
                                               self->ReadClient();
                                             });
                         });
  }

  // Caster to client, in the same way: the caster's write queue sees the pair fill as it would
  // see a slow TCP client.
  void ReadCaster() {
    pair_.async_read_some(asio::buffer(fromCaster_),
                          [self = shared_from_this()](const error_code& e, size_t n) {
                            if (self->closed_) return;
                            if (e) return self->CasterEnded();
                            asio::async_write(self->tls_, asio::buffer(self->fromCaster_.data(), n),
                                              [self](const error_code& w, size_t) {
                                                if (self->closed_) return;
                                                if (w) return self->Close();
                                                self->ReadCaster();
                                              });
                          });
  }

  // The client closed or failed: the caster reads the end of its connection.
  void ClientEnded() {
    if (casterEnded_) return;
    error_code ignored;
    pair_.shutdown(asio::socket_base::shutdown_send, ignored);
  }

  // The caster closed the connection (everything it wrote is out): a TLS close for the client, given
  // a moment, then the socket closes.
  void CasterEnded() {
    casterEnded_ = true;
    error_code ignored;
    tls_.lowest_layer().cancel(ignored);  // the pending client read; the shutdown reads the reply
    timer_.expires_after(kShutdownTime);
    timer_.async_wait([self = shared_from_this()](const error_code& e) {
      if (!e) self->Close();
    });
    tls_.async_shutdown([self = shared_from_this()](const error_code&) { self->Close(); });
  }

  ssl::stream<tcp::socket> tls_;
  asio::local::stream_protocol::socket pair_;
  asio::steady_timer timer_;
  std::shared_ptr<TlsFrontState> front_;
  tcp::endpoint peer_;
  std::array<uint8_t, kPumpBytes> fromClient_{};
  std::array<uint8_t, kPumpBytes> fromCaster_{};
  bool closed_ = false;
  bool handshaking_ = false;
  bool casterEnded_ = false;
};

void Accept(const std::shared_ptr<TlsFrontState>& state, const std::shared_ptr<tcp::acceptor>& acceptor) {
  acceptor->async_accept([state, acceptor](const error_code& error, tcp::socket socket) {
    if (!state->running || !acceptor->is_open() || error == asio::error::operation_aborted) return;
    if (error) {
      // Out of descriptors or memory: accepting again at once would spin, so wait a moment.
      auto timer = std::make_shared<asio::steady_timer>(state->io, kAcceptRetry);
      timer->async_wait([state, acceptor, timer](const error_code& e) {
        if (!e && state->running && acceptor->is_open()) Accept(state, acceptor);
      });
      return;
    }
    if (state->handshaking < kMaxHandshakes) {
      error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      std::make_shared<TlsLink>(std::move(socket), state)->Start();
    }
    Accept(state, acceptor);
  });
}

}  // namespace

TlsFront::TlsFront(asio::io_context& io, std::shared_ptr<ssl::context> context, HandOff handOff)
    : state_(std::make_shared<TlsFrontState>(io, std::move(context), std::move(handOff))) {}

TlsFront::~TlsFront() { Stop(); }

void TlsFront::Listen(std::shared_ptr<tcp::acceptor> acceptor) {
  state_->acceptors.push_back(acceptor);
  Accept(state_, acceptor);
}

void TlsFront::Stop() {
  state_->running = false;
  error_code ignored;
  for (const auto& acceptor : state_->acceptors) acceptor->close(ignored);
  state_->acceptors.clear();
  for (TlsLink* link : std::set<TlsLink*>(state_->links)) {
    if (link->Handshaking()) link->Close();
  }
}

size_t TlsFront::Connections() const { return state_->links.size(); }
