#include "reports/KmlTrack.h"

#include <cstdio>
#include <memory>

#include "core/StrFormat.h"
#include "reports/StatusPage.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr const char* kClosing = "</Folder>\n</kml>\n";

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not one.
size_t Utf8Length(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  unsigned minimum = 0;
  unsigned code = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code == 0xFFFE || code == 0xFFFF) return 0;  // not XML characters
  return length;
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
  File file(std::fopen(path.c_str(), "r+b"));
  if (!file) {
    file.reset(std::fopen(path.c_str(), "wb"));
    if (!file) return 0;
    const std::string skeleton = Skeleton(now);
    std::fwrite(skeleton.data(), 1, skeleton.size(), file.get());
  }
  file.reset();  // closed (and the skeleton written) before the file is opened again
  file.reset(std::fopen(path.c_str(), "r+b"));
  if (!file) return 0;
  // A file shorter than the closing lines is written from its start.
  std::fseek(file.get(), 0, SEEK_END);
  const long size = std::ftell(file.get());
  std::fseek(file.get(), size > kKmlClosingBytes ? size - kKmlClosingBytes : 0, SEEK_SET);
  const std::string point = Placemark(now, userName, latitude, longitude, height) + kClosing;
  std::fwrite(point.data(), 1, point.size(), file.get());
  return 1;
}
