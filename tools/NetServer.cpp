#include "tools/NetServer.h"

#include <algorithm>
#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <cstdint>
#include <map>

#include "tools/LoadRecord.h"

namespace netserver {

namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kTick = std::chrono::milliseconds(10);
constexpr uint64_t kMaxUnitsPerWrite = 64;  // records or file chunks
constexpr size_t kMaxInbox = 8192;          // bytes kept while no line end arrives

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

enum class Kind { Unknown, Link, Rover };

struct Connection {
  Connection(tcp::socket s, uint64_t i) : socket(std::move(s)), id(i) {}
  tcp::socket socket;
  uint64_t id;
  Kind kind = Kind::Unknown;
  bool open = true;
  std::string inbox;
  std::array<char, 8192> block{};
  std::string queued;    // waiting for the write in flight
  std::string inFlight;  // being written
  bool writing = false;
  uint64_t received = 0;
  uint64_t sent = 0;
  uint64_t gga = 0;
  Clock::time_point nextStatus;   // links
  Clock::time_point streamStart;  // rovers
  uint32_t source = 0;            // rovers with records
  uint64_t units = 0;             // records or file chunks queued so far
};
using ConnectionPtr = std::shared_ptr<Connection>;

}  // namespace

class NetServer::Impl {
 public:
  Impl(asio::io_context& io, const Options& options, std::string stream, LogSink log)
      : options_(options),
        stream_(std::move(stream)),
        log_(std::move(log)),
        acceptor_(io, tcp::endpoint(asio::ip::make_address(options.host),
                                    static_cast<unsigned short>(options.port))),
        tick_(io),
        end_(Clock::now() + Seconds(options.duration)) {
    for (const auto& mount : options_.mounts) greeting_ += MountRecord(mount).value_or("");
    greeting_ += MountEndRecord(options_.serverName, options_.secondText).value_or("");
    if (options_.range) greeting_ += RangeRecord(*options_.range).value_or("");
    for (const auto& status : options_.statuses) statusRound_ += StatusRecord(status).value_or("");
    log_("LISTENING " + std::to_string(port()));
    Accept();
    ScheduleTick();
  }

  unsigned short port() const { return acceptor_.local_endpoint().port(); }
  bool stopped() const { return stopped_; }

  void Stop(const std::string& reason) {
    if (stopped_) return;
    stopped_ = true;
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    tick_.cancel();
    while (!connections_.empty()) {
      const ConnectionPtr c = connections_.begin()->second;
      Close(*c, "stop");
    }
    log_("STOP " + reason);
  }

 private:
  void Log(const Connection& c, const std::string& text) { log_("#" + std::to_string(c.id) + " " + text); }

  void Accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
      if (stopped_) return;
      if (ec) {
        // Out of descriptors or the like: try again at the next tick.
        log_("WARN accept: " + ec.message());
        acceptPaused_ = true;
        return;
      }
      auto c = std::make_shared<Connection>(std::move(socket), ++lastId_);
      boost::system::error_code peerError;
      const auto peer = c->socket.remote_endpoint(peerError);
      if (connections_.size() >= static_cast<size_t>(options_.maxConnections)) {
        Log(*c, "REFUSED too many connections (" + std::to_string(connections_.size()) + " open)");
        c->socket.close(peerError);
      } else {
        Log(*c, "OPEN " + (peerError ? std::string("?")
                                     : peer.address().to_string() + ":" + std::to_string(peer.port())));
        c->socket.set_option(tcp::no_delay(true), peerError);
        connections_[c->id] = c;
        Read(c);
      }
      Accept();
    });
  }

  void Close(Connection& c, const std::string& reason) {
    if (!c.open) return;
    c.open = false;
    boost::system::error_code ignored;
    c.socket.close(ignored);
    std::string text = "CLOSE " + reason + "; received " + std::to_string(c.received) + " bytes; sent " +
                       std::to_string(c.sent) + " bytes";
    if (c.kind == Kind::Rover && options_.payload == Payload::Records)
      text += "; records " + std::to_string(c.sent / static_cast<uint64_t>(options_.chunk));
    if (c.kind == Kind::Rover) text += "; GGA " + std::to_string(c.gga);
    Log(c, text);
    const uint64_t id = c.id;
    connections_.erase(id);  // may destroy c
  }

  // --- Reading ---

  void Read(const ConnectionPtr& c) {
    c->socket.async_read_some(asio::buffer(c->block), [this, c](boost::system::error_code ec, size_t n) {
      if (!c->open) return;
      if (ec) {
        Close(*c, ec == asio::error::eof ? "peer closed" : "read failed: " + ec.message());
        return;
      }
      c->received += n;
      c->inbox.append(c->block.data(), n);
      while (c->open) {
        const auto line = TakeLine(c->inbox);
        if (!line) break;
        OnLine(*c, *line);
      }
      if (c->inbox.size() > kMaxInbox) c->inbox.clear();
      if (c->open) Read(c);
    });
  }

  void OnLine(Connection& c, const std::string& line) {
    const LineKind kind = Classify(line);
    if (c.kind == Kind::Rover) {
      if (!IsGga(line)) return;
      ++c.gga;
      if (options_.logGga) Log(c, "GGA " + Printable(line));
      return;
    }
    if (kind == LineKind::Ignored) return;
    if (c.kind == Kind::Link || kind == LineKind::Other) {
      Log(c, "RECV " + Printable(line));
      return;
    }
    std::string problem;
    if (kind == LineKind::Link) {
      Log(c, "LINK " + Printable(line));
      if (!ParseLinkGreeting(line, problem)) Log(c, "WARN link greeting: " + problem);
      c.kind = Kind::Link;
      Send(c, greeting_ + statusRound_);
      c.nextStatus = Clock::now() + Seconds(options_.statusEvery);
      return;
    }
    Log(c, "GETMODE " + Printable(line));
    const auto mode = ParseGetMode(line, problem);
    if (!mode) Log(c, "WARN GETMODE: " + problem);
    // The mountpoint field, even when another field is wrong.
    const size_t from = std::string("VORAN,GETMODE,").size();
    const std::string mount = mode ? mode->mount : line.substr(from, line.find(',', from) - from);
    if (std::none_of(options_.mounts.begin(), options_.mounts.end(),
                     [&](const MountPoint& m) { return m.name == mount; })) {
      Log(c, "WARN unknown mountpoint " + Printable(mount));
    }
    c.kind = Kind::Rover;
    c.source = ntripload::MountSource(mount);
    c.streamStart = Clock::now();
    FillStream(c);
  }

  // --- Writing ---

  void Send(Connection& c, const std::string& bytes) {
    c.queued += bytes;
    Flush(c);
  }

  void Flush(Connection& c) {
    if (c.writing || c.queued.empty() || !c.open) return;
    c.inFlight.swap(c.queued);
    c.queued.clear();
    c.writing = true;
    asio::async_write(c.socket, asio::buffer(c.inFlight),
                      [this, c = connections_.at(c.id)](boost::system::error_code ec, size_t n) {
                        c->writing = false;
                        c->sent += n;
                        if (!c->open) return;
                        if (ec) {
                          Close(*c, "send failed: " + ec.message());
                          return;
                        }
                        if (c->kind == Kind::Rover) FillStream(*c);
                        Flush(*c);
                      });
  }

  // Queues what a rover is owed by now at the rate, unless earlier bytes are still on their way.
  void FillStream(Connection& c) {
    if (c.writing || !c.queued.empty()) return;
    const double elapsed = std::chrono::duration<double>(Clock::now() - c.streamStart).count();
    const auto due = static_cast<uint64_t>(elapsed * options_.rate / options_.chunk) + 1;
    if (due <= c.units) return;
    const uint64_t count = std::min(due - c.units, kMaxUnitsPerWrite);
    const auto size = static_cast<size_t>(options_.chunk);
    const uint64_t now = ntripload::RecordClockNs();
    for (uint64_t i = 0; i < count; ++i, ++c.units) {
      if (options_.payload == Payload::Records) {
        ntripload::AppendRecord(c.queued, {c.source, c.units, now, static_cast<uint32_t>(size)});
        continue;
      }
      // The file as an endless loop: chunk k holds its bytes from k * size on, modulo its length.
      size_t at = static_cast<size_t>((c.units * size) % stream_.size());
      for (size_t left = size; left > 0;) {
        const size_t take = std::min(left, stream_.size() - at);
        c.queued.append(stream_, at, take);
        left -= take;
        at = 0;
      }
    }
    Flush(c);
  }

  // --- The one timer: the end, status rounds, rover pacing, a paused accept ---

  void ScheduleTick() {
    tick_.expires_after(kTick);
    tick_.async_wait([this](boost::system::error_code ec) {
      if (ec || stopped_) return;
      const auto now = Clock::now();
      if (now >= end_) {
        Stop("duration");
        return;
      }
      if (acceptPaused_) {
        acceptPaused_ = false;
        Accept();
      }
      // Closing inside the loop erases from the map: walk a copy of the pointers.
      std::vector<ConnectionPtr> all;
      all.reserve(connections_.size());
      for (const auto& entry : connections_) all.push_back(entry.second);
      for (const auto& c : all) {
        if (c->kind == Kind::Rover) {
          FillStream(*c);
        } else if (c->kind == Kind::Link && options_.statusEvery > 0 && now >= c->nextStatus) {
          c->nextStatus = std::max(c->nextStatus + Seconds(options_.statusEvery), now);
          // A caster that does not read gets no pile of rounds: skip while one still waits.
          if (c->queued.empty()) Send(*c, statusRound_);
        }
      }
      ScheduleTick();
    });
  }

  const Options options_;
  const std::string stream_;
  LogSink log_;
  tcp::acceptor acceptor_;
  asio::steady_timer tick_;
  const Clock::time_point end_;
  std::string greeting_;     // MOUNT lines, MOUNTEND, RANGE
  std::string statusRound_;  // the status lines
  std::map<uint64_t, ConnectionPtr> connections_;
  uint64_t lastId_ = 0;
  bool stopped_ = false;
  bool acceptPaused_ = false;
};

NetServer::NetServer(asio::io_context& io, const Options& options, std::string stream, LogSink log)
    : impl_(std::make_unique<Impl>(io, options, std::move(stream), std::move(log))) {}
NetServer::~NetServer() = default;
unsigned short NetServer::port() const { return impl_->port(); }
void NetServer::Stop(const std::string& reason) { impl_->Stop(reason); }
bool NetServer::stopped() const { return impl_->stopped(); }

}  // namespace netserver
