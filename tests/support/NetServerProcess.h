#pragma once
// The built network server stand-in (tools/net_server) as a child process on a free loopback port, its
// standard output collected.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

// The built stand-in, its standard output collected.
class StandIn {
 public:
  static constexpr std::chrono::seconds kDeadline{10};

  explicit StandIn(std::vector<std::string> args) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    if ((pid_ = fork()) == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
      args.insert(args.begin(), KAVRO_NET_SERVER);
      std::vector<char*> argv;
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(KAVRO_NET_SERVER, argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
    if (Has("\n") && output_.rfind("LISTENING ", 0) == 0) port_ = std::stoi(output_.substr(10));
  }
  ~StandIn() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }
  int port() const { return port_; }
  const std::string& output() const { return output_; }

  // Reads output until it holds text; false at its end or the deadline.
  bool Has(const std::string& text) {
    while (output_.find(text) == std::string::npos) {
      pollfd p{out_, POLLIN, 0};
      char block[8192];
      ssize_t n = 0;
      if (poll(&p, 1, std::chrono::milliseconds(kDeadline).count()) <= 0 ||
          (n = read(out_, block, sizeof block)) <= 0)
        return false;
      output_.append(block, static_cast<size_t>(n));
    }
    return true;
  }

  // Sends the signal (0: none, it stops by itself), reads all output and returns the exit status.
  int Finish(int signal) {
    if (signal != 0) kill(pid_, signal);
    Has(std::string(1, '\0'));
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = 0;
  std::string output_;
};

}  // namespace testsupport
