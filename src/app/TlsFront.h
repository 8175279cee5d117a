#pragma once
// The TLS port's front: accepts TLS clients, does the handshake, and hands each connection to the
// caster's ordinary accept path as one end of a local socket pair, pumping bytes between the pair's
// other end and the TLS stream. The caster's plain-socket read and write paths serve TLS clients
// unchanged: its write queue, bounds and close reasons apply as on a TCP socket.
#include <boost/asio/ip/tcp.hpp>
#include <cstddef>
#include <functional>
#include <memory>

namespace boost::asio::ssl {
class context;
}
struct TlsFrontState;

class TlsFront {
 public:
  // The caster's end of a new connection and the TLS client's own address.
  using HandOff =
      std::function<void(boost::asio::ip::tcp::socket socket, const boost::asio::ip::tcp::endpoint& peer)>;

  TlsFront(boost::asio::io_context& io, std::shared_ptr<boost::asio::ssl::context> context, HandOff handOff);
  ~TlsFront();
  TlsFront(const TlsFront&) = delete;
  TlsFront& operator=(const TlsFront&) = delete;

  // Accepts TLS clients on a listening acceptor until Stop.
  void Listen(std::shared_ptr<boost::asio::ip::tcp::acceptor> acceptor);
  // Closes the acceptors and the connections still in their handshake; a connection handed over
  // ends when the caster closes its end (its last bytes and a TLS close still reach the client).
  void Stop();
  // TLS connections open now (in their handshake or pumping).
  size_t Connections() const;

 private:
  std::shared_ptr<TlsFrontState> state_;
};
