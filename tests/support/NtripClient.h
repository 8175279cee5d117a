#pragma once
// Blocking helpers for tests that talk NTRIP to the caster over loopback.
#include <poll.h>

#include <chrono>
#include <functional>
#include <string>

#include "support/Loopback.h"

namespace testsupport {

// Reads into `into` until done(into) holds, the peer closes or the deadline passes; returns done(into).
inline bool ReadUntil(int fd, std::string& into, const std::function<bool(const std::string&)>& done,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done(into)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    if (!ReadAvailable(fd, into)) return done(into);
  }
  return true;
}

// Everything the peer sends until it closes (or the deadline passes).
inline std::string ReadToClose(int fd, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  std::string all;
  bool closed = false;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!closed && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) < 0) break;
    closed = !ReadAvailable(fd, all);
  }
  return all;
}

// A GET request with Basic credentials (none when empty).
inline std::string GetRequest(const std::string& path, const std::string& base64Credentials,
                              bool version2 = false, const std::string& agent = "NTRIP KavroTest/1.0") {
  std::string request = "GET " + path + " HTTP/1.1\r\nUser-Agent: " + agent + "\r\n";
  if (version2) request += "Ntrip-Version: Ntrip/2.0\r\n";
  if (!base64Credentials.empty()) request += "Authorization: Basic " + base64Credentials + "\r\n";
  return request + "\r\n";
}

inline bool HasHeaderEnd(const std::string& text) { return text.find("\r\n\r\n") != std::string::npos; }

}  // namespace testsupport
