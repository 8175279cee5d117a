#include "gnss/GgaParser.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/KavroGyBl.h"
#include "core/StrFormat.h"

namespace {

constexpr int kTextQuality = 62455;  // fixed, float, differential, single point, no position
constexpr int kMinBuffered = 10;
constexpr size_t kFeedLineLimit = 8191;  // a feed line is composed in 8192 bytes
constexpr int kMinSatellites = 4;

enum GgaCounter : size_t { kFixed = 0, kFloat, kDifferential, kSinglePoint, kOther, kAll };

// Start of the first occurrence of text in the buffer, or -1.
int FindText(const CBuffer& buffer, std::string_view text) {
  const int end = buffer.Find(text.data(), static_cast<int>(text.size()), 0);
  return end > 0 ? end - static_cast<int>(text.size()) : -1;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// The sentence cut at every comma; fields past the end are empty.
class Fields {
 public:
  explicit Fields(const std::string& sentence) {
    size_t from = 0;
    for (;;) {
      const size_t comma = sentence.find(',', from);
      fields_.push_back(sentence.substr(from, comma - from));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
  }
  const std::string& operator[](size_t i) const { return i < fields_.size() ? fields_[i] : empty_; }
  int Int(size_t i) const { return std::atoi((*this)[i].c_str()); }
  double Number(size_t i) const { return std::atof((*this)[i].c_str()); }

 private:
  std::vector<std::string> fields_;
  std::string empty_;
};

// ddmm.mmmm (or dddmm.mmmm) to degrees.
double Degrees(double value) {
  const double d = std::floor(value / 100.0);
  return d + (value - 100.0 * d) / 60.0;
}

// Sends "name,sentence" to every position monitor.
void FeedPosition(CKavroGyBl& gybl, const std::string& userName, const std::string& sentence) {
  std::string line = StrFormat("%s,%s", userName.c_str(), sentence.c_str());
  if (line.size() > kFeedLineLimit) line.resize(kFeedLineLimit);
  std::vector<uint32_t> monitors;
  for (const auto& [socket, entry] : gybl.clientTable) {
    if (entry.clientType == "GETGGA") monitors.push_back(socket);
  }
  for (uint32_t socket : monitors) gybl.SendText(socket, line);
}

// Status text, quality and counters of an accepted sentence.
void Describe(CKavroGyBl& gybl, ClientEntry& entry, const Fields& fields) {
  gybl.LoadTexts(kTextQuality);
  const TextList& texts = gybl.textList;
  const std::string& quality = fields[6];
  entry.formatState += 1;
  entry.statusText = quality;
  entry.fixQuality = 0;
  GgaCounter counter = kOther;
  if (quality == "4") {
    entry.statusText = texts[0];
    entry.fixQuality = 3;
    counter = kFixed;
  } else if (quality == "5") {
    entry.statusText = texts[1];
    entry.fixQuality = 2;
    counter = kFloat;
  } else if (quality == "2") {
    entry.statusText = texts[2];
    entry.fixQuality = 1;
    counter = kDifferential;
  } else if (quality == "9") {
    entry.statusText = "WAAS";
    entry.fixQuality = 1;
    counter = kDifferential;
  } else if (quality == "3") {
    entry.statusText = "T690" + texts[2];
    entry.fixQuality = 1;
    counter = kDifferential;
  } else if (quality == "1") {
    entry.statusText = texts[3];
    counter = kSinglePoint;
  }
  entry.ggaCounters[counter] += 1;
  entry.ggaCounters[kAll] += 1;

  // An age below one second counts as absent.
  if (fields.Int(13) != 0) {
    entry.ggaTime = (entry.ggaTime * entry.ggaCount + fields.Number(13)) / (entry.ggaCount + 1);
    entry.ggaCount += 1;
    entry.statusText += "(" + fields[7] + "/" + fields[13] + "/" + StrFormat("%.1f", entry.ggaTime) + ")";
  } else {
    entry.statusText += "(" + fields[7] + ")";
  }
}

}  // namespace

bool NmeaChecksumOk(std::string_view sentence) {
  const size_t star = sentence.find('*');
  if (star == std::string_view::npos || sentence.size() - star - 1 < 2) return false;
  uint8_t x = static_cast<uint8_t>(sentence[1]);
  for (size_t i = 2; i < star; ++i) x ^= static_cast<uint8_t>(sentence[i]);
  const int value = HexDigit(sentence[star + 1]) * 16 + HexDigit(sentence[star + 2]);
  return static_cast<uint8_t>(value) == x;
}

int ParseGga(CKavroGyBl& gybl, DecoderContext& context, const uint8_t* data, uint32_t length, uint32_t socket,
             double& latitude, double& longitude, double& height) {
  latitude = 0.0;
  longitude = 0.0;
  height = 0.0;
  ClientEntry* entry = FindClient(gybl.clientTable, socket);
  if (entry == nullptr) return 0;
  StreamBuffer(*entry).Write(data, static_cast<int>(length));
  if (entry->streamBuffer->Length() < kMinBuffered) return 0;

  // Result of the last sentence handled in this call: what remains after it, garbage or a partial
  // sentence, does not take back an accepted position.
  int result = 0;
  for (;;) {
    // Sends to position monitors may change the table: the entry is looked up on every round.
    entry = FindClient(gybl.clientTable, socket);
    if (entry == nullptr) return 0;
    CBuffer& buffer = *entry->streamBuffer;
    int start = FindText(buffer, "$GPGGA");
    if (start < 0) start = FindText(buffer, "$GNGGA");
    if (start < 0) {
      if (buffer.Length() > kGgaBufferLimit) buffer.Clear();
      return result;
    }
    buffer.Delete(start, 0);
    const int end = buffer.Find("\r\n", 2, 0);
    if (end == 0) {
      if (buffer.Length() >= kGgaBufferLimit) buffer.Clear();
      return result;
    }
    if (end >= kGgaBufferLimit) {
      buffer.Clear();
      return result;
    }
    const std::string sentence(reinterpret_cast<const char*>(buffer.Data()), static_cast<size_t>(end));
    buffer.Delete(end, 0);

    const std::string userName = entry->userName;
    if (context.console.WantsDecoderLines(socket))
      context.console.AddDecoderLine(userName + " <-- " + sentence);

    const Fields fields(sentence.substr(0, sentence.size() - 2));  // without its CR LF
    if (fields[1] == "GetCoordinate") {
      latitude = 0.0;
      longitude = 0.0;
      result = 1;
      if (buffer.Length() >= kGgaBufferLimit) continue;
      return 1;
    }
    // A refused sentence ends the call like an accepted one: with 150 bytes or more still buffered
    // the next sentence is handled too, so that a rover sending several per chunk cannot grow the buffer.
    if (!NmeaChecksumOk(sentence)) {
      if (context.console.WatchesSocket(socket))
        context.console.AddDecoderLine("=========GGA Error=========");
      result = 0;
      if (buffer.Length() >= kGgaBufferLimit) continue;
      return 0;
    }
    if (fields.Int(7) < kMinSatellites || fields.Int(6) == 0) {
      gybl.LoadTexts(kTextQuality);
      entry->statusText = gybl.textList[4];
      result = 0;
      if (buffer.Length() >= kGgaBufferLimit) continue;
      return 0;
    }

    latitude = Degrees(fields.Number(2));
    longitude = Degrees(fields.Number(4));
    height = fields.Number(9);
    if (fields[3] == "S") latitude = -latitude;
    if (fields[5] == "W") longitude = -longitude;

    if (context.saveGga != 0)
      context.recorder.RecordPosition(userName, sentence, latitude, longitude, height);
    if (gybl.settings.flags.positionManagement != 0) FeedPosition(gybl, userName, sentence);

    // Out of range on either side of zero, or not a number at all.
    entry = FindClient(gybl.clientTable, socket);
    if (entry == nullptr) return 0;
    if (!(std::fabs(latitude) <= 90.0) || !(std::fabs(longitude) <= 360.0) || !(std::fabs(height) <= 90000.0)) {
      result = 0;
      if (entry->streamBuffer->Length() >= kGgaBufferLimit) continue;
      return 0;
    }
    Describe(gybl, *entry, fields);
    result = 1;
    if (entry->streamBuffer->Length() < kGgaBufferLimit) return 1;
  }
}
