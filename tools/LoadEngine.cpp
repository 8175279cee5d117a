#include "tools/LoadEngine.h"

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <cmath>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <sstream>

#include "tools/LatencyHistogram.h"
#include "tools/Rtcm3Frame.h"

namespace ntripload {

namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kTick = std::chrono::milliseconds(10);
constexpr size_t kReadBlock = 16384;
constexpr size_t kMaxReplyHeader = 8192;
constexpr uint64_t kMaxRecordsPerWrite = 64;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

enum class Role { Source, Rover };
enum class State { Waiting, Answering, Streaming, Ended };

struct Peer {
  Peer(asio::io_context& io, Role r, int i, int m) : role(r), index(i), mount(m), socket(io) {}
  Role role;
  int index;
  int mount;  // source index the peer serves or reads
  tcp::socket socket;
  State state = State::Waiting;
  Clock::time_point deadline;
  std::string request;
  std::string inbox;
  std::vector<char> readBuffer;
  bool writing = false;
  std::string writeBuffer;
  // Sources.
  uint64_t nextSequence = 0;  // next record to build
  uint64_t written = 0;       // records the kernel has taken
  // Rovers.
  Clock::time_point requestWritten;
  std::optional<RecordChecker> checker;
  std::optional<Rtcm3Unwrapper> frames;  // with --rtcm3
};

class Engine {
 public:
  Engine(asio::io_context& io, const Options& options) : io_(io), options_(options), tick_(io) {
    report_.sources.planned = options.sources;
    report_.rovers.planned = options.rovers;
    endpoint_ =
        tcp::endpoint(asio::ip::make_address(options.host), static_cast<unsigned short>(options.port));
    for (int i = 0; i < options.sources; ++i) {
      auto peer = std::make_unique<Peer>(io, Role::Source, i, i);
      peer->request = SourceRequest(options.sourcePassword, Mount(i), options.sourceSlash);
      sources_.push_back(std::move(peer));
    }
    for (int i = 0; i < options.rovers; ++i) {
      const int mounts = upstream() ? static_cast<int>(options.upstreamMounts.size()) : options.sources;
      const int mount = mounts > 0 ? i % mounts : 0;
      auto peer = std::make_unique<Peer>(io, Role::Rover, i, mount);
      peer->request = RoverRequest(options.host, RoverMount(mount), Numbered(options.user, i),
                                   Numbered(options.password, i), options.ntrip2);
      rovers_.push_back(std::move(peer));
    }
  }

  Report Run() {
    if (options_.pid != 0) beforeSetup_ = SampleProcess(options_.pid);
    for (auto& peer : sources_) setupQueue_.push_back(peer.get());
    LaunchSetups();
    ScheduleTick();
    while (!over_) io_.run_one();
    if (options_.pid != 0) windowEnd_ = SampleProcess(options_.pid);
    // Close everything, then let the cancelled operations finish before the peers go away.
    tick_.cancel();
    for (auto* list : {&sources_, &rovers_}) {
      for (auto& peer : *list) Close(*peer);
    }
    while (outstanding_ > 0) io_.run_one();
    return Summarise();
  }

 private:
  std::string Mount(int index) const { return options_.mountPrefix + std::to_string(index); }
  // Rovers read upstream mountpoints, streamed by the network server stand-in, not the tool's sources.
  bool upstream() const { return !options_.upstreamMounts.empty(); }
  std::string RoverMount(int index) const {
    return upstream() ? options_.upstreamMounts[index] : Mount(index);
  }

  // Wraps a completion handler so that the engine knows how many operations are still pending.
  template <class F>
  auto Track(F handler) {
    ++outstanding_;
    return [this, handler = std::move(handler)](auto&&... args) mutable {
      --outstanding_;
      handler(std::forward<decltype(args)>(args)...);
    };
  }

  void Note(const std::string& message) { ++report_.errors[message]; }

  RoleCounts& Counts(const Peer& peer) {
    return peer.role == Role::Source ? report_.sources : report_.rovers;
  }

  void LoginEnded(const Peer& peer, LoginOutcome outcome) {
    if (peer.role == Role::Rover) login_.Ended(outcome);
  }

  void Close(Peer& peer) {
    boost::system::error_code ignored;
    peer.socket.close(ignored);
  }

  // --- Setting up connections, at most `parallel` at once ---

  void LaunchSetups() {
    while (inSetup_ < options_.parallel && !setupQueue_.empty()) {
      Peer& peer = *setupQueue_.front();
      setupQueue_.pop_front();
      ++inSetup_;
      peer.state = State::Answering;
      peer.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(options_.connectTimeout));
      peer.socket.async_connect(endpoint_, Track([this, &peer](boost::system::error_code ec) {
                                  if (peer.state != State::Answering) return;
                                  if (ec) {
                                    ++Counts(peer).connectFailed;
                                    LoginEnded(peer, LoginOutcome::ConnectFailed);
                                    Note("connect: " + ec.message());
                                    EndSetup(peer, false);
                                    return;
                                  }
                                  peer.socket.set_option(tcp::no_delay(true));
                                  peer.readBuffer.resize(kReadBlock);
                                  StartRead(peer);
                                  peer.requestWritten = Clock::now();
                                  if (peer.role == Role::Rover) login_.RequestWritten(peer.requestWritten);
                                  asio::async_write(
                                      peer.socket, asio::buffer(peer.request),
                                      Track([this, &peer](boost::system::error_code ec, size_t) {
                                        if (ec && peer.state == State::Answering) {
                                          ++Counts(peer).refused;
                                          LoginEnded(peer, LoginOutcome::NoAnswer);
                                          Note("request write: " + ec.message());
                                          EndSetup(peer, false);
                                        }
                                      }));
                                }));
    }
    if (inSetup_ == 0 && setupQueue_.empty()) NextPhase();
  }

  void EndSetup(Peer& peer, bool accepted) {
    --inSetup_;
    if (accepted) {
      ++Counts(peer).connected;
      peer.state = State::Streaming;
    } else {
      peer.state = State::Ended;
      Close(peer);
    }
    LaunchSetups();
  }

  // Sources first; once every source has its answer the rovers follow; then the stream starts.
  void NextPhase() {
    if (phase_ == 0) {
      phase_ = 1;
      for (auto& peer : rovers_) setupQueue_.push_back(peer.get());
      if (!setupQueue_.empty()) {
        LaunchSetups();
        return;
      }
    }
    if (phase_ == 1) {
      phase_ = 2;
      if (options_.pid != 0) windowStart_ = SampleProcess(options_.pid);
      streamStart_ = Clock::now();
      streamEnd_ = streamStart_ + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(options_.duration));
      nextGga_ = streamStart_;
      // Without a connected source (upstream: rover) there is nothing to stream.
      const auto& feeders = upstream() ? rovers_ : sources_;
      over_ = std::none_of(feeders.begin(), feeders.end(),
                           [](const auto& peer) { return peer->state == State::Streaming; });
    }
  }

  // --- Reading ---

  void StartRead(Peer& peer) {
    peer.socket.async_read_some(
        asio::buffer(peer.readBuffer),
        Track([this, &peer](boost::system::error_code ec, size_t n) { OnRead(peer, ec, n); }));
  }

  void OnRead(Peer& peer, boost::system::error_code ec, size_t n) {
    if (peer.state == State::Ended || over_) return;
    if (ec) {
      const std::string what = ec == asio::error::eof ? "closed by the caster" : ec.message();
      if (peer.state == State::Answering) {
        ++Counts(peer).refused;
        LoginEnded(peer, LoginOutcome::NoAnswer);
        Note(std::string(peer.role == Role::Source ? "source" : "rover") + " without answer: " + what);
        EndSetup(peer, false);
      } else {
        ++Counts(peer).closedEarly;
        Note(std::string(peer.role == Role::Source ? "source" : "rover") + " stream: " + what);
        peer.state = State::Ended;
        Close(peer);
      }
      return;
    }
    const std::string_view data(peer.readBuffer.data(), n);
    if (peer.state == State::Answering) {
      peer.inbox.append(data);
      const ReplyHeader reply = ReadReplyHeader(peer.inbox, peer.role == Role::Source);
      const bool refused =
          reply.state == ReplyHeader::State::Refused ||
          (reply.state == ReplyHeader::State::Incomplete && peer.inbox.size() > kMaxReplyHeader);
      if (peer.role == Role::Rover && (refused || reply.state == ReplyHeader::State::Accepted))
        login_.Answered(peer.requestWritten, Clock::now(), !refused);
      if (refused) {
        ++Counts(peer).refused;
        Note(std::string(peer.role == Role::Source ? "source" : "rover") +
             " refused: " + reply.firstLine.substr(0, 80));
        EndSetup(peer, false);
        return;
      }
      if (reply.state == ReplyHeader::State::Accepted) {
        const std::string rest = peer.inbox.substr(reply.length);
        peer.inbox.clear();
        if (peer.role == Role::Rover && upstream()) {
          peer.checker.emplace(MountSource(RoverMount(peer.mount)), options_.chunk, 0);
        } else if (peer.role == Role::Rover) {
          peer.checker.emplace(static_cast<uint32_t>(peer.mount), options_.chunk, 0);
          if (options_.rtcm3) peer.frames.emplace();
        }
        EndSetup(peer, true);
        // The caster connects a rover upstream when its first GGA arrives: send one at once.
        if (peer.role == Role::Rover && upstream() && options_.gga)
          SendGga(peer, MakeGga(options_.position, std::chrono::system_clock::now()));
        if (peer.role == Role::Rover && !rest.empty()) Consume(peer, rest);
      }
    } else if (peer.role == Role::Rover) {
      Consume(peer, data);
    }
    StartRead(peer);
  }

  void Consume(Peer& rover, std::string_view data) {
    const uint64_t now = RecordClockNs();
    report_.bytesDelivered += data.size();
    if (!rover.frames) {
      AddLatencies(rover.checker->Feed(data), now);
      return;
    }
    for (const Rtcm3Unwrapper::Frame& frame : rover.frames->Feed(data)) {
      if (frame.intact) {
        AddLatencies(rover.checker->Feed(frame.record), now);
      } else {
        rover.checker->CountCorrupt();
      }
    }
  }

  void AddLatencies(const std::vector<RecordHeader>& records, uint64_t now) {
    for (const RecordHeader& header : records) {
      latency_.Add(now > header.sendTimeNs ? (now - header.sendTimeNs) / 1000 : 0);
    }
  }

  // --- The one timer: set-up deadlines, source pacing, GGA, the end ---

  void ScheduleTick() {
    tick_.expires_after(kTick);
    tick_.async_wait(Track([this](boost::system::error_code ec) {
      if (ec || over_) return;
      OnTick();
      if (!over_) ScheduleTick();
    }));
  }

  void OnTick() {
    const auto now = Clock::now();
    for (auto* list : {&sources_, &rovers_}) {
      for (auto& peer : *list) {
        if (peer->state == State::Answering && now >= peer->deadline) {
          ++Counts(*peer).timedOut;
          LoginEnded(*peer, LoginOutcome::TimedOut);
          Note(std::string(peer->role == Role::Source ? "source" : "rover") + " timed out");
          EndSetup(*peer, false);
        }
      }
    }
    if (phase_ < 2) return;
    const bool sending = now < streamEnd_;
    if (sending) {
      for (auto& source : sources_) WriteDue(*source);
    }
    if (options_.gga && now >= nextGga_ && sending) {
      nextGga_ += std::chrono::seconds(1);
      SendGga();
    }
    if (!sending && upstream()) {
      // The stand-in streams on as long as the rovers stay: the run ends with the duration.
      streamSeconds_ = Seconds(now - streamStart_);
      over_ = true;
    } else if (!sending) {
      if (drainEnd_ == Clock::time_point{}) {
        drainEnd_ =
            now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.drain));
      }
      if (now >= drainEnd_ || Drained()) {
        streamSeconds_ = Seconds(now - streamStart_);
        over_ = true;
      }
    }
  }

  // Writes the records a source owes by now at its rate, unless a write is still on its way.
  void WriteDue(Peer& source) {
    if (source.state != State::Streaming || source.writing) return;
    const double unitBytes = options_.chunk + (options_.rtcm3 ? static_cast<double>(kRtcm3Overhead) : 0.0);
    const double lateBy = options_.stagger && !sources_.empty()
                              ? unitBytes / options_.rate * source.index / static_cast<double>(sources_.size())
                              : 0.0;
    const double elapsed = Seconds(Clock::now() - streamStart_) - lateBy;
    if (elapsed < 0) return;
    const auto due = static_cast<uint64_t>(elapsed * options_.rate / unitBytes) + 1;
    if (due <= source.nextSequence) return;
    const uint64_t count = std::min(due - source.nextSequence, kMaxRecordsPerWrite);
    source.writeBuffer.clear();
    const uint64_t sendTime = RecordClockNs();
    std::string record;
    for (uint64_t i = 0; i < count; ++i) {
      const RecordHeader header{static_cast<uint32_t>(source.index), source.nextSequence++, sendTime,
                                static_cast<uint32_t>(options_.chunk)};
      if (!options_.rtcm3) {
        AppendRecord(source.writeBuffer, header);
        continue;
      }
      record.clear();
      AppendRecord(record, header);
      AppendRtcm3Frame(source.writeBuffer, record);
    }
    source.writing = true;
    asio::async_write(source.socket, asio::buffer(source.writeBuffer),
                      Track([this, &source, count](boost::system::error_code ec, size_t n) {
                        source.writing = false;
                        report_.bytesSent += n;
                        if (ec) {
                          if (source.state == State::Streaming && !over_) {
                            ++report_.sources.closedEarly;
                            Note("source write: " + ec.message());
                            source.state = State::Ended;
                            Close(source);
                          }
                          return;
                        }
                        report_.recordsSent += count;
                        source.written += count;
                        if (!over_ && Clock::now() < streamEnd_) WriteDue(source);
                      }));
  }

  void SendGga() {
    const std::string sentence = MakeGga(options_.position, std::chrono::system_clock::now());
    for (auto& rover : rovers_) SendGga(*rover, sentence);
  }

  void SendGga(Peer& rover, const std::string& sentence) {
    if (rover.state != State::Streaming || rover.writing) return;
    rover.writing = true;
    rover.writeBuffer = sentence;
    asio::async_write(rover.socket, asio::buffer(rover.writeBuffer),
                      Track([this, peer = &rover](boost::system::error_code ec, size_t) {
                        peer->writing = false;
                        if (!ec) ++report_.ggaSent;
                      }));
  }

  // True when no source write is pending and every streaming rover has its source's last record.
  bool Drained() const {
    for (const auto& source : sources_) {
      if (source->writing) return false;
    }
    for (const auto& rover : rovers_) {
      if (rover->state != State::Streaming) continue;
      const Peer& source = *sources_[rover->mount];
      if (source.written > 0 && rover->checker->expected().value_or(0) < source.written) return false;
    }
    return true;
  }

  Report Summarise() {
    for (const auto& rover : rovers_) {
      if (!rover->checker) continue;
      if (upstream()) {
        report_.recordsExpected += rover->checker->expected().value_or(0);
        if (rover->checker->counts().records == 0) {
          ++report_.roversWithoutData;
          Note("rover received no records");
        }
      } else {
        const Peer& source = *sources_[rover->mount];
        std::optional<uint64_t> lastSent;
        if (source.written > 0) lastSent = source.written - 1;
        rover->checker->Finish(lastSent);
        report_.recordsExpected += source.written;
      }
      if (rover->frames) {
        report_.stream.cuts += rover->frames->counts().cuts;
        report_.stream.skippedBytes += rover->frames->counts().skippedBytes;
      }
      const StreamCounts& c = rover->checker->counts();
      report_.stream.records += c.records;
      report_.stream.missing += c.missing;
      report_.stream.outOfOrder += c.outOfOrder;
      report_.stream.corrupt += c.corrupt;
      report_.stream.cuts += c.cuts;
      report_.stream.skippedBytes += c.skippedBytes;
      report_.stream.bytes += c.bytes;
    }
    report_.deliveredRatio = report_.recordsExpected == 0 ? std::nan("")
                                                          : static_cast<double>(report_.stream.records) /
                                                                static_cast<double>(report_.recordsExpected);
    report_.latencySamples = latency_.count();
    report_.latencyP50Ms = static_cast<double>(latency_.Percentile(0.50)) / 1000.0;
    report_.latencyP99Ms = static_cast<double>(latency_.Percentile(0.99)) / 1000.0;
    report_.latencyMaxMs = static_cast<double>(latency_.max()) / 1000.0;
    report_.streamSeconds = streamSeconds_;
    report_.login = login_.Summary();
    if (options_.pid != 0)
      report_.process = Usage(options_.pid, beforeSetup_, windowStart_, windowEnd_, streamSeconds_);
    return report_;
  }

  asio::io_context& io_;
  const Options& options_;
  tcp::endpoint endpoint_;
  asio::steady_timer tick_;
  std::vector<std::unique_ptr<Peer>> sources_;
  std::vector<std::unique_ptr<Peer>> rovers_;
  std::deque<Peer*> setupQueue_;
  int inSetup_ = 0;
  int phase_ = 0;  // 0 sources set up, 1 rovers set up, 2 streaming and draining
  Clock::time_point streamStart_, streamEnd_, nextGga_, drainEnd_;
  double streamSeconds_ = 0;
  bool over_ = false;
  int outstanding_ = 0;
  LatencyHistogram latency_;
  LoginPhase login_;
  ProcessSample beforeSetup_, windowStart_, windowEnd_;
  Report report_;
};

}  // namespace

Report RunLoad(asio::io_context& io, const Options& options) { return Engine(io, options).Run(); }

bool Passed(const Report& report, const Options& options) {
  return report.sources.connected == report.sources.planned &&
         report.rovers.connected == report.rovers.planned &&
         (report.recordsExpected == 0 || report.deliveredRatio >= options.minRatio) &&
         report.stream.corrupt == 0 && report.stream.outOfOrder == 0 && report.roversWithoutData == 0;
}

}  // namespace ntripload
