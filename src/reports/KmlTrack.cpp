#include "reports/KmlTrack.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/StrFormat.h"
#include "core/Utf8.h"
#include "reports/StatusPage.h"

namespace {

constexpr const char* kClosing = "</Folder>\n</kml>\n";

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not one or no XML character.
size_t Utf8Length(const std::string& text, size_t i) {
  uint32_t code = 0;
  const size_t length = Utf8SequenceLength(text, i, &code);
  return code == 0xFFFE || code == 0xFFFF ? 0 : length;
}

std::string Skeleton(const LocalTime& date) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<kml xmlns=\"http://earth.google.com/kml/2.1\">\n"
         "<Folder>\n" +
         StrFormat("     <name>GPS-GPRS工作区%02d%02d</name>\n", date.month, date.day) +
         "     <open>1</open>\n"
         "</Folder>\n"
         "</kml>\n";
}

std::string Placemark(const LocalTime& now, const std::string& userName, double latitude, double longitude,
                      double height) {
  return "     <Placemark>\n"
         "     <name>" +
         XmlText(userName) + "</name>\n" +
         StrFormat("     <description>%4d%02d%02d-%02d:%02d:%02d</description>\n", now.year, now.month,
                   now.day, now.hour, now.minute, now.second) +
         "     <LookAt>\n" + StrFormat("        <longitude>%.13f</longitude>\n", longitude) +
         StrFormat("        <latitude>%.13f</latitude>\n", latitude) +
         "        <altitude>0</altitude>\n"
         "        <range>500</range>\n"
         "        <tilt>0</tilt>\n"
         "        <heading>0</heading>\n"
         "     </LookAt>\n"
         "     <styleUrl>root://styleMaps#default+nicon=0x307+hicon=0x317</styleUrl>\n"
         "     <Point>\n" +
         StrFormat("     <coordinates>%.13f,%.13f,%.2f</coordinates>\n", longitude, latitude, height) +
         "     </Point>\n"
         "     </Placemark>\n";
}

// Writes all of text at offset; false when a write fails.
bool WriteAt(int fd, const std::string& text, off_t offset) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t wrote =
        ::pwrite(fd, text.data() + done, text.size() - done, offset + static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

// Puts the closing lines of a file of size bytes back in their place, space the file already has, and
// cuts off what a failed point left after them.
void TakeBackPoint(int fd, off_t size) {
  if (!WriteAt(fd, kClosing, size - kKmlClosingBytes)) return;
  const int cut = ::ftruncate(fd, size);
  static_cast<void>(cut);  // a point left in the file is written over by the next one all the same
}

}  // namespace

std::string XmlText(const std::string& text) {
  // Control characters and broken UTF-8 would make the file unreadable: they become "?".
  std::string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8Length(text, i);
    const auto c = static_cast<unsigned char>(text[i]);
    if (length == 0 || c < 0x20 || c == 0x7F) {
      clean += '?';
      i += 1;
      continue;
    }
    clean.append(text, i, length);
    i += length;
  }
  return EscapeHtml(clean);
}

std::string KmlFileName(const LocalTime& date) {
  return StrFormat("%4d%02d%02d.kml", date.year, date.month, date.day);
}

int AddKmlPoint(const std::string& kmlDirectory, const LocalTime& now, const std::string& userName,
                double latitude, double longitude, double height) {
  const std::string path = kmlDirectory + KmlFileName(now);
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return 0;
    const bool written = WriteAt(fd, Skeleton(now), 0);
    if (::close(fd) != 0 || !written) {
      // A cut skeleton would take the next point into its middle: without it the next point starts anew.
      ::unlink(path.c_str());
      return 0;
    }
    // Closed (and the skeleton written) before the file is opened again.
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return 0;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return 0;
  }
  // A file shorter than the closing lines is written from its start.
  const off_t size = info.st_size;
  const off_t at = size > kKmlClosingBytes ? size - kKmlClosingBytes : 0;
  bool ok = WriteAt(fd, Placemark(now, userName, latitude, longitude, height) + kClosing, at);
  if (!ok && size > kKmlClosingBytes) TakeBackPoint(fd, size);
  if (::close(fd) != 0) ok = false;
  return ok ? 1 : 0;
}
