#include "core/RecordFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string_view>

#include "core/FileAppend.h"

namespace {

// Files of the caster itself in the program directory; a client of that name must not write into
// them. Names given as prefixes also cover the database journals ("-wal", "-shm", "-journal").
constexpr std::array<std::string_view, 3> kOwnFiles = {"USER.NAME", "QQwry.dat", "KavroServer"};
constexpr std::array<std::string_view, 2> kOwnFilePrefixes = {"Kavro202.db", "KavroMapSet.db"};

}  // namespace

bool RecordFileNameOk(const std::string& name) {
  if (name.empty() || name.front() == '.') return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) return false;
  }
  for (std::string_view own : kOwnFiles) {
    if (name == own) return false;
  }
  for (std::string_view own : kOwnFilePrefixes) {
    if (name.starts_with(own)) return false;
  }
  return true;
}

RecordWrite AppendRecord(const std::string& directory, const std::string& name, const uint8_t* bytes,
                         uint32_t n) {
  if (!RecordFileNameOk(name)) return RecordWrite::kPassedOver;
  const std::string path = directory + name;
  // No symbolic link is followed and nothing but a regular file is written.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    return errno == ELOOP || errno == EISDIR || errno == ENXIO ? RecordWrite::kPassedOver
                                                               : RecordWrite::kFailed;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return RecordWrite::kFailed;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return RecordWrite::kPassedOver;
  }
  // A chunk cut by a full disk would put a broken frame into the recorded stream: it is taken back.
  bool ok = AppendWhole(fd, bytes, n);
  // The close reports errors of a network file system that a write did not.
  if (::close(fd) != 0) ok = false;
  return ok ? RecordWrite::kWritten : RecordWrite::kFailed;
}
