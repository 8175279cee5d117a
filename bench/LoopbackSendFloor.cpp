// The floor under the relay on this machine: what a sender that does nothing but send pays for the
// same traffic as the 1 source -> 1,000 rovers run, with no caster in the way. A child process reads
// --sockets loopback TCP connections with epoll, as the load tool does; the parent sends a --size
// byte record (holding its burst's start time) to every socket once per --interval-ms for --rounds
// rounds. Prints the sender's CPU time and the records' latency from the start of their burst to
// their reading. Compare with bench/load_1000_rovers.py --rate 1024 --chunk 256 --duration 20.
//   LoopbackSendFloor [--sockets 1000] [--rounds 80] [--size 256] [--interval-ms 250]
// Loopback only; the child ends once it has read every record.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
  int sockets = 1000;
  int rounds = 80;
  int size = 256;
  int intervalMs = 250;
};

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double Seconds(const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; }

bool Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (value <= 0) return false;
    if (name == "--sockets") options.sockets = value;
    else if (name == "--rounds") options.rounds = value;
    else if (name == "--size") options.size = std::max(value, 8);
    else if (name == "--interval-ms") options.intervalMs = value;
    else return false;
  }
  return argc % 2 == 1;
}

// Reads every record and prints the latency percentiles; runs in the child.
[[noreturn]] void Read(const sockaddr_in& address, const Options& options) {
  const int poller = epoll_create1(0);
  for (int i = 0; i < options.sockets; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) _exit(1);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event);
  }
  std::vector<double> latencyMs;
  const size_t wanted = static_cast<size_t>(options.sockets) * options.rounds;
  std::vector<char> record(options.size);
  epoll_event events[256];
  while (latencyMs.size() < wanted) {
    const int ready = epoll_wait(poller, events, 256, 10000);
    if (ready <= 0) break;
    for (int i = 0; i < ready; ++i) {
      if (recv(events[i].data.fd, record.data(), record.size(), MSG_WAITALL) != options.size) _exit(1);
      long long sent = 0;
      std::memcpy(&sent, record.data(), sizeof sent);
      latencyMs.push_back((NowNs() - sent) / 1e6);
    }
  }
  if (latencyMs.size() < wanted) _exit(1);
  std::sort(latencyMs.begin(), latencyMs.end());
  std::printf("latency ms: p50 %.2f, p99 %.2f, max %.2f (%zu records)\n", latencyMs[wanted / 2],
              latencyMs[wanted * 99 / 100], latencyMs.back(), wanted);
  std::fflush(stdout);
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fprintf(stderr, "usage: LoopbackSendFloor [--sockets N] [--rounds N] [--size N] [--interval-ms N]\n");
    return 2;
  }
  // Every socket is a descriptor on each side: raise the soft open-file limit to the hard one.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, SOMAXCONN) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("listen");
    return 1;
  }
  const pid_t reader = fork();
  if (reader == 0) Read(address, options);

  // The caster's rover sockets have Nagle off; so do these.
  std::vector<int> senders;
  const int on = 1;
  // A reader that cannot connect them all ends; the accept time-out keeps this side from waiting on.
  const timeval acceptWait{10, 0};
  setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &acceptWait, sizeof acceptWait);
  for (int i = 0; i < options.sockets; ++i) {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) {
      std::perror("accept");
      kill(reader, SIGKILL);
      waitpid(reader, nullptr, 0);
      return 1;
    }
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    senders.push_back(fd);
  }
  std::vector<char> record(options.size, 'x');
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  for (int round = 0; round < options.rounds; ++round) {
    const long long start = NowNs();
    std::memcpy(record.data(), &start, sizeof start);
    for (const int fd : senders) send(fd, record.data(), record.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
  }
  getrusage(RUSAGE_SELF, &after);
  int status = 0;
  waitpid(reader, &status, 0);
  const double system = Seconds(after.ru_stime) - Seconds(before.ru_stime);
  const double user = Seconds(after.ru_utime) - Seconds(before.ru_utime);
  const int sends = options.sockets * options.rounds;
  std::printf("sender CPU %.3f s (user %.3f s, system %.3f s) for %d sends of %d bytes: %.2f us each\n",
              user + system, user, system, sends, options.size, (user + system) / sends * 1e6);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
