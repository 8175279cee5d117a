#pragma once
// Runs the real caster binary on a directory of its own and a free loopback port, and reads its
// standard output line by line.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/Loopback.h"

namespace testsupport {

class CasterProcess {
 public:
  // Writes INI/KavroServer.INI with the given extra lines, "PORT" set to a free port and the web
  // monitor on another.
  explicit CasterProcess(const std::string& extraSettings = {}) {
    directory_ = std::filesystem::temp_directory_path() /
                 ("kavro-it-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_ / "INI");
    port_ = FreeLoopbackPort();
    monitorPort_ = FreeLoopbackPort();
    std::ofstream(directory_ / "INI" / "KavroServer.INI")
        << "[SYSTEMSERVER]\nPORT=" << port_ << "\n"
        << extraSettings << "\n[MONITOR]\nPORT=" << monitorPort_ << "\n";
  }
  ~CasterProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  bool Start() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipeFds[1], STDOUT_FILENO);
      close(pipeFds[0]);
      close(pipeFds[1]);
      execl(KAVRO_BINARY, KAVRO_BINARY, "--dir", directory_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeFds[1]);
    out_ = pipeFds[0];
    const std::string listening = "PORT[" + std::to_string(port_) + "]";
    return WaitForLine([&](const std::string& line) { return line.find(listening) != std::string::npos; });
  }

  // Reads output until a line satisfies the predicate; false at end of output or after the deadline.
  bool WaitForLine(const std::function<bool(const std::string&)>& match,
                   std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      while (scanned_ < lines_.size()) {
        if (match(lines_[scanned_++])) return true;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char block[8192];
      const ssize_t n = read(out_, block, sizeof block);
      if (n <= 0) return false;
      partial_.append(block, static_cast<size_t>(n));
      size_t at;
      while ((at = partial_.find('\n')) != std::string::npos) {
        lines_.push_back(partial_.substr(0, at));
        partial_.erase(0, at + 1);
      }
    }
  }

  // Sends a signal and waits for the exit status; -1 when it did not exit normally.
  int Stop(int signal = SIGTERM) {
    kill(pid_, signal);
    while (WaitForLine([](const std::string&) { return false; }, std::chrono::seconds(20))) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int port() const { return port_; }
  int monitorPort() const { return monitorPort_; }
  pid_t pid() const { return pid_; }
  const std::vector<std::string>& lines() const { return lines_; }
  const std::filesystem::path& directory() const { return directory_; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path directory_;
  int port_ = 0;
  int monitorPort_ = 0;
  pid_t pid_ = -1;
  int out_ = -1;
  std::vector<std::string> lines_;
  size_t scanned_ = 0;
  std::string partial_;
};

}  // namespace testsupport
