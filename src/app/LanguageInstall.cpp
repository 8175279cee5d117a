#include "app/LanguageInstall.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/ProgramLayout.h"

namespace {

// Writes all of data; false with errno set when the file takes less.
bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string InstallLanguageFile(const std::string& programDirectory) {
  const std::string path = LanguageFilePath(programDirectory, "English");
  // Exclusive creation: a file or link of that name, even one made a moment ago, is left alone.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return "";
    return "Language file " + path + " not written: " + std::strerror(errno);
  }
  const bool written = WriteAll(fd, ShippedEnglishLanguageFile());
  const int writeError = errno;
  const bool closed = ::close(fd) == 0;
  if (written && closed) return "";
  // A cut file would pass for the operator's own and never be replaced: remove it.
  const std::string reason = std::strerror(written ? errno : writeError);
  ::unlink(path.c_str());
  return "Language file " + path + " not written: " + reason;
}
