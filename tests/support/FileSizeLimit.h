#pragma once
// Lowers the process's file size limit for a test, so that a write beyond it is cut short and the next
// one fails, as on a full disk, without mounting anything. SIGXFSZ is ignored meanwhile.
#include <signal.h>
#include <sys/resource.h>

#include <cstddef>

class FileSizeLimit {
 public:
  explicit FileSizeLimit(size_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    savedSignal_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, savedSignal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t savedSignal_ = SIG_DFL;
};
