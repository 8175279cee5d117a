#pragma once
// TLS in tests: a self-signed certificate made at run time with the openssl tool, and an Asio TLS
// client driven by running its io_context until a condition holds.
#include <unistd.h>

#include <array>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>

namespace testsupport {

// A certificate and key for CN localhost in a temporary folder, removed with the object; made() is
// false when the openssl tool is missing or failed.
class TestCertificate {
 public:
  TestCertificate() {
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("kavro-tls-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
        " -subj /CN=localhost -keyout '" +
        key().string() + "' -out '" + cert().string() + "' > /dev/null 2>&1";
    made_ = std::system(command.c_str()) == 0 && std::filesystem::exists(cert());
  }
  ~TestCertificate() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  bool made() const { return made_; }
  std::filesystem::path cert() const { return dir_ / "caster.crt"; }
  std::filesystem::path key() const { return dir_ / "caster.key"; }

 private:
  std::filesystem::path dir_;
  bool made_ = false;
};

// A TLS client that accepts any certificate (the tests make their own). After the handshake it
// reads until the connection ends, collecting what arrives.
class TlsClient {
 public:
  explicit TlsClient(boost::asio::io_context& io)
      : context_(boost::asio::ssl::context::tls_client), stream_(io, context_) {}

  void Connect(int port, const char* address = "127.0.0.1") {
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address(address),
                                                  static_cast<unsigned short>(port));
    stream_.lowest_layer().async_connect(endpoint, [this](const boost::system::error_code& error) {
      if (error) {
        ended_ = true;
        return;
      }
      stream_.async_handshake(boost::asio::ssl::stream_base::client,
                              [this](const boost::system::error_code& e) {
                                if (e) {
                                  ended_ = true;
                                  return;
                                }
                                ready_ = true;
                                Read();
                                Write();
                              });
    });
  }
  void Send(std::string bytes) {
    pending_.push_back(std::move(bytes));
    if (ready_ && pending_.size() == 1) Write();
  }
  // Ends the connection without a TLS close, as a client that goes away does.
  void Drop() {
    boost::system::error_code ignored;
    stream_.lowest_layer().close(ignored);
  }
  bool ready() const { return ready_; }
  bool ended() const { return ended_; }
  const std::string& received() const { return received_; }

 private:
  void Read() {
    stream_.async_read_some(boost::asio::buffer(block_),
                            [this](const boost::system::error_code& e, size_t n) {
                              received_.append(block_.data(), n);
                              if (e) {
                                ended_ = true;
                                return;
                              }
                              Read();
                            });
  }
  void Write() {
    if (pending_.empty()) return;
    boost::asio::async_write(stream_, boost::asio::buffer(pending_.front()),
                             [this](const boost::system::error_code& e, size_t) {
                               if (e) return;
                               pending_.pop_front();
                               Write();
                             });
  }

  boost::asio::ssl::context context_;
  boost::asio::ssl::stream<boost::asio::ip::tcp::socket> stream_;
  std::deque<std::string> pending_;
  std::array<char, 16384> block_{};
  std::string received_;
  bool ready_ = false;
  bool ended_ = false;
};

// True when this machine can bind [::1] (some containers have no IPv6).
inline bool HasIpv6Loopback() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor(io);
  boost::system::error_code error;
  acceptor.open(boost::asio::ip::tcp::v6(), error);
  if (!error) acceptor.bind({boost::asio::ip::address_v6::loopback(), 0}, error);
  return !error;
}

}  // namespace testsupport
