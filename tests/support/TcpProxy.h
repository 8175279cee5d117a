#pragma once
// A TCP proxy on loopback in front of a server, for fault tests: it passes bytes both ways, can freeze
// (reads nothing, so the server looks stopped with its connections open) and can go down (drops every
// connection and refuses new ones at once), then come back.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <tuple>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "support/Loopback.h"

namespace testsupport {

class TcpProxy {
 public:
  enum class Mode { kPass, kFrozen, kDown };

  explicit TcpProxy(int targetPort) : target_(targetPort) {
    listener_ = ListenLoopback(port_);
    thread_ = std::thread([this] { Run(); });
  }
  ~TcpProxy() {
    stop_ = true;
    thread_.join();
    for (auto& [a, b] : pairs_) {
      close(a);
      close(b);
    }
    close(listener_);
  }
  TcpProxy(const TcpProxy&) = delete;
  TcpProxy& operator=(const TcpProxy&) = delete;

  int port() const { return port_; }
  void Set(Mode mode) { mode_ = mode; }

 private:
  void Run() {
    char block[16384];
    while (!stop_) {
      const Mode mode = mode_;
      if (mode == Mode::kDown) {
        for (auto& [a, b] : pairs_) {
          close(a);
          close(b);
        }
        pairs_.clear();
      }
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      if (mode == Mode::kPass) {
        for (auto& [a, b] : pairs_) {
          fds.push_back({a, POLLIN, 0});
          fds.push_back({b, POLLIN, 0});
        }
      }
      if (poll(fds.data(), fds.size(), 20) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        const int client = accept(listener_, nullptr, nullptr);
        const int server = mode == Mode::kDown ? -1 : ConnectLoopback(target_);
        if (client >= 0 && server >= 0) {
          pairs_.emplace_back(client, server);
        } else {
          if (client >= 0) close(client);
          if (server >= 0) close(server);
        }
      }
      std::vector<std::pair<int, int>> kept;
      for (size_t i = 0; i < pairs_.size(); ++i) {
        auto [a, b] = pairs_[i];
        bool open = true;
        if (mode == Mode::kPass) {
          for (auto [from, to, index] : {std::tuple{a, b, 2 * i + 1}, std::tuple{b, a, 2 * i + 2}}) {
            if (!open || index >= fds.size() || !(fds[index].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = recv(from, block, sizeof block, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN)) open = false;
            if (n > 0 && !SendBlocking(to, block, static_cast<size_t>(n))) open = false;
          }
        }
        if (open) {
          kept.emplace_back(a, b);
        } else {
          close(a);
          close(b);
        }
      }
      pairs_ = std::move(kept);
    }
  }
  static bool SendBlocking(int fd, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EAGAIN) {
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, 100);
        continue;
      }
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  int target_;
  int port_ = 0;
  int listener_ = -1;
  std::atomic<Mode> mode_{Mode::kPass};
  std::atomic<bool> stop_{false};
  std::vector<std::pair<int, int>> pairs_;  // client, server; the proxy thread's
  std::thread thread_;
};

}  // namespace testsupport
