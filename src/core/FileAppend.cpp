#include "core/FileAppend.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

bool AppendWhole(int fd, const void* bytes, size_t n) {
  struct stat before {};
  const bool sized = ::fstat(fd, &before) == 0;
  const auto* data = static_cast<const char*>(bytes);
  for (size_t done = 0; done < n;) {
    const ssize_t wrote = ::write(fd, data + done, n - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      // Shrinking needs no space, so it works on a full disk too.
      const int cut = sized && done > 0 ? ::ftruncate(fd, before.st_size) : 0;
      static_cast<void>(cut);
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return true;
}
