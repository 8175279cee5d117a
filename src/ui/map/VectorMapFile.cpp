#include "ui/map/VectorMapFile.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

static_assert(std::endian::native == std::endian::little, "the archive is read as little-endian");

constexpr int32_t kEndType = -1;

// Reads the archive's values; any read past the end or failure of the stream sets failed and gives 0.
class ArchiveReader {
 public:
  ArchiveReader(std::istream& in, uint64_t size) : in_(in), size_(size) {}

  bool failed() const { return failed_; }
  uint64_t position() const { return position_; }
  uint64_t left() const { return size_ - position_; }

  template <typename T>
  T Value() {
    T value{};
    Bytes(&value, sizeof value);
    return value;
  }

  // A text as the object archive stores it: a byte length, widened by the markers 0xff (16-bit) and
  // 0xffff (32-bit); 16-bit length 0xfffe announces UTF-16 characters, converted to UTF-8.
  std::string Text() {
    bool wide = false;
    uint64_t length = Length();
    if (length == 0xfffe && !failed_) {
      wide = true;
      length = Length();
    }
    const uint64_t bytes = wide ? length * 2 : length;
    if (failed_ || bytes > left()) {
      failed_ = true;
      return {};
    }
    std::string raw(bytes, '\0');
    Bytes(raw.data(), raw.size());
    return wide ? Utf16ToUtf8(raw) : raw;
  }

 private:
  uint64_t Length() {
    const uint8_t small = Value<uint8_t>();
    if (small < 0xff) return small;
    const uint16_t medium = Value<uint16_t>();
    if (medium == 0xfffe) return medium;  // the UTF-16 marker; the caller reads the length next
    if (medium < 0xffff) return medium;
    return Value<uint32_t>();
  }

  void Bytes(void* to, size_t count) {
    if (failed_ || count > left() || !in_.read(static_cast<char*>(to), static_cast<std::streamsize>(count))) {
      failed_ = true;
      std::memset(to, 0, count);
      return;
    }
    position_ += count;
  }

  static std::string Utf16ToUtf8(const std::string& raw) {
    std::string text;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
      uint32_t code = static_cast<uint8_t>(raw[i]) | (static_cast<uint8_t>(raw[i + 1]) << 8);
      if (code >= 0xd800 && code < 0xdc00 && i + 3 < raw.size()) {
        const uint32_t low = static_cast<uint8_t>(raw[i + 2]) | (static_cast<uint8_t>(raw[i + 3]) << 8);
        if (low >= 0xdc00 && low < 0xe000) {
          code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
          i += 2;
        }
      }
      if (code >= 0xd800 && code < 0xe000) code = 0xfffd;  // a lone surrogate
      if (code < 0x80) {
        text += static_cast<char>(code);
      } else if (code < 0x800) {
        text += static_cast<char>(0xc0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3f));
      } else if (code < 0x10000) {
        text += static_cast<char>(0xe0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (code & 0x3f));
      } else {
        text += static_cast<char>(0xf0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (code & 0x3f));
      }
    }
    return text;
  }

  std::istream& in_;
  uint64_t size_;
  uint64_t position_ = 0;
  bool failed_ = false;
};

// The record header that precedes every object.
struct RecordHeader {
  std::string text;
  int32_t type = 0;
  int32_t a = 0, b = 0, c = 0, d = 0;
  double e = 0.0, f = 0.0, g = 0.0;
  int32_t h = 0;
  int32_t count = 0;
};

RecordHeader ReadRecordHeader(ArchiveReader& reader) {
  RecordHeader header;
  header.text = reader.Text();
  header.type = reader.Value<int32_t>();
  header.a = reader.Value<int32_t>();
  header.b = reader.Value<int32_t>();
  header.c = reader.Value<int32_t>();
  header.d = reader.Value<int32_t>();
  header.e = reader.Value<double>();
  header.f = reader.Value<double>();
  header.g = reader.Value<double>();
  header.h = reader.Value<int32_t>();
  header.count = reader.Value<int32_t>();
  return header;
}

CMapObject Shape(MapKind kind, const RecordHeader& header) {
  CMapObject object;
  object.kind = kind;
  object.attributes = {header.b, header.a};
  return object;
}

CMapObject Label(const RecordHeader& header, MapPoint at) {
  CMapObject label;
  label.kind = MapKind::kText;
  label.text = header.text;
  label.attributes = {header.c, header.d};
  label.size = header.g;
  label.points = {at};
  return label;
}

MapPoint Point(ArchiveReader& reader) {
  const double x = reader.Value<double>();
  const double y = reader.Value<double>();
  return {x, y};
}

}  // namespace

VectorMapResult ReadVectorMap(std::istream& in, uint64_t size, bool layerExists, std::vector<CMapObject>& out,
                              const std::function<void(uint64_t read)>& progress) {
  VectorMapResult result;
  ArchiveReader reader(in, size);
  const std::string header = reader.Text();
  if (reader.failed() || header.compare(0, kVectorMapHeader.size(), kVectorMapHeader) != 0) return result;
  result.headerOk = true;
  while (true) {
    const RecordHeader record = ReadRecordHeader(reader);
    if (reader.failed()) break;
    if (record.type == kEndType) {
      result.complete = true;
      break;
    }
    std::vector<CMapObject> made;
    if (record.type == 1) {
      CMapObject rect = Shape(MapKind::kRect, record);
      rect.points = {Point(reader), Point(reader)};
      made.push_back(std::move(rect));
    } else if (record.type == 2) {
      CMapObject icon = Shape(MapKind::kIcon, record);
      icon.points = {Point(reader)};
      icon.value = reader.Value<int32_t>();
      made.push_back(Label(record, icon.points.front()));
      made.insert(made.begin(), std::move(icon));
    } else if (record.type == 7 || record.type == 8) {
      // Each point takes 16 bytes; a count beyond what is left is a damaged file.
      if (record.count < 0 || static_cast<uint64_t>(record.count) > reader.left() / 16) break;
      CMapObject line = Shape(record.type == 7 ? MapKind::kPline : MapKind::kPolygon, record);
      line.points.reserve(static_cast<size_t>(record.count));
      for (int32_t i = 0; i < record.count; ++i) line.points.push_back(Point(reader));
      made.push_back(std::move(line));
      if (record.e != 0.0 && record.f != 0.0) made.push_back(Label(record, {record.e, record.f}));
    }
    if (reader.failed()) break;
    if (layerExists) {
      result.objects += made.size();
      for (CMapObject& object : made) out.push_back(std::move(object));
    }
    if (progress) progress(reader.position());
  }
  return result;
}
