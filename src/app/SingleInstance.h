#pragma once
// Lets one caster run per program directory: an exclusive lock on a file held while the process lives.
#include <string>

class SingleInstance {
 public:
  SingleInstance() = default;
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the lock on path (the file is made when missing). False when another process holds it.
  // A lock file that cannot be opened at all does not stop the start: true, without a lock.
  bool Acquire(const std::string& path);
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
