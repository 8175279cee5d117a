#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

bool SingleInstance::Acquire(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool taken = errno == EWOULDBLOCK;
    ::close(fd);
    return !taken;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return true;
}
