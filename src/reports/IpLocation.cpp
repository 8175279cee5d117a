#include "reports/IpLocation.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kIndexRecordSize = 7;
constexpr uint8_t kRedirectPlace = 1;   // place data continues at a 24-bit offset
constexpr uint8_t kRedirectString = 2;  // a string lies at a 24-bit offset
constexpr size_t kRedirectReadSize = 50;
constexpr size_t kMaxStringLength = 51;
// How far a string's terminator is looked for; the place texts of this format are far shorter.
constexpr size_t kStringScanSize = 256;
constexpr char kEmptyAddressText[] = "请输入IP地址";

uint32_t Le24(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16); }
uint32_t Le32(const uint8_t* p) { return Le24(p) | (static_cast<uint32_t>(p[3]) << 24); }

}  // namespace

NL_QQwry::~NL_QQwry() { Close(); }

bool NL_QQwry::Open(const std::string& path) {
  Close();
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t header[kHeaderSize];
  if (ReadAt(0, header, kHeaderSize) != kHeaderSize) {
    Close();
    return false;
  }
  firstIndexOffset = Le32(header);
  lastIndexOffset = Le32(header + 4);
  isOpen = true;
  return true;
}

void NL_QQwry::Close() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  isOpen = false;
  firstIndexOffset = lastIndexOffset = 0;
  mode = 0;
}

uint32_t NL_QQwry::RecordCount() const {
  if (!isOpen || lastIndexOffset < firstIndexOffset) return 0;
  return (lastIndexOffset - firstIndexOffset) / kIndexRecordSize + 1;
}

// pread keeps the file open and read on demand, and a read at or past the end comes back short,
// so no offset taken from the file can reach beyond it; callers check the count they got.
size_t NL_QQwry::ReadAt(uint64_t offset, uint8_t* dst, size_t length) const {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, dst + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool NL_QQwry::ReadIndex(uint32_t index, uint32_t& start, uint32_t& offset) const {
  uint8_t record[kIndexRecordSize];
  if (ReadAt(firstIndexOffset + uint64_t{kIndexRecordSize} * index, record, kIndexRecordSize) !=
      kIndexRecordSize)
    return false;
  start = Le32(record);
  offset = Le24(record + 4);
  return true;
}

bool NL_QQwry::ReadEndAddress(uint32_t offset, uint32_t& end) const {
  uint8_t bytes[4];
  if (ReadAt(offset, bytes, 4) != 4) return false;
  end = Le32(bytes);
  return true;
}

std::optional<uint32_t> NL_QQwry::FindIndex(uint32_t address) {
  const uint32_t count = RecordCount();
  if (count == 0) return std::nullopt;
  uint32_t lo = 0;
  uint32_t hi = count - 1;
  uint32_t mid = hi / 2;
  // Runs at least once, so that a file of one record is tested too.
  for (;;) {
    uint32_t start = 0;
    uint32_t offset = 0;
    if (!ReadIndex(mid, start, offset)) return std::nullopt;
    if (start == address) return mid;
    if (hi - lo <= 1) {
      for (uint32_t i = lo; i <= hi; ++i) {
        uint32_t end = 0;
        if (ReadIndex(i, start, offset) && ReadEndAddress(offset, end) && start <= address && address <= end)
          return i;
      }
      return std::nullopt;
    }
    if (address > start)
      lo = mid;
    else
      hi = mid;
    mid = lo + (hi - lo) / 2;
  }
}

// Reads the zero-terminated string at `offset`, cut at kMaxStringLength bytes. `next`, when given,
// receives the offset after its terminator (none when no terminator was found).
std::string NL_QQwry::ReadString(uint64_t offset, std::optional<uint64_t>* next) const {
  if (next) next->reset();
  // The header is never a string, and strings lie before the index.
  if (offset < kHeaderSize || offset > lastIndexOffset) return {};
  uint8_t bytes[kStringScanSize];
  const size_t got = ReadAt(offset, bytes, kStringScanSize);
  const auto* zero = static_cast<const uint8_t*>(std::memchr(bytes, 0, got));
  const size_t length = zero ? static_cast<size_t>(zero - bytes) : got;
  if (next && zero) *next = offset + length + 1;
  return std::string(reinterpret_cast<const char*>(bytes), std::min(length, kMaxStringLength));
}

// Decodes the range record at recordOffset into its end address, layout and string offsets.
bool NL_QQwry::DecodePlace() {
  size_t got = ReadAt(recordOffset, readArea, sizeof readArea);
  if (got < 5) return false;
  endAddress = Le32(readArea);
  const uint8_t* place = readArea + 4;
  size_t placeLength = got - 4;
  uint64_t placeOffset = recordOffset + 4;
  int layoutBase = 0;
  if (place[0] == kRedirectPlace) {
    if (placeLength < 4) return false;
    placeOffset = Le24(place + 1);
    got = ReadAt(placeOffset, readArea, kRedirectReadSize);
    // Followed once only: a second redirect (a chain or a loop) ends the read.
    if (got < 1 || readArea[0] == kRedirectPlace) return false;
    place = readArea;
    placeLength = got;
    layoutBase = 4;
  }
  if (place[0] == kRedirectString) {
    if (placeLength < 5) return false;
    countryOffset = Le24(place + 1);
    if (place[4] == kRedirectString) {
      if (placeLength < 8) return false;
      areaOffset = Le24(place + 5);
      mode = layoutBase + 4;
    } else {
      areaOffset = placeOffset + 4;
      mode = layoutBase + 3;
    }
    return true;
  }
  countryOffset = placeOffset;
  std::optional<uint64_t> areaData;
  ReadString(countryOffset, &areaData);
  uint8_t head[4];
  const size_t headLength = areaData ? ReadAt(*areaData, head, sizeof head) : 0;
  if (headLength > 0 && head[0] == kRedirectString) {
    if (headLength < 4) return false;
    areaOffset = Le24(head + 1);
    mode = layoutBase + 2;
  } else {
    areaOffset = areaData;
    mode = layoutBase + 1;
  }
  return true;
}

std::string NL_QQwry::PlaceText(uint32_t index) {
  mode = 0;
  if (index >= RecordCount()) return {};
  if (!ReadIndex(index, startAddress, recordOffset) || !DecodePlace()) {
    mode = 0;
    return {};
  }
  std::string text = GbkToUtf8(ReadString(countryOffset));
  text += ' ';
  if (areaOffset) text += GbkToUtf8(ReadString(*areaOffset));
  return text;
}

std::string NL_QQwry::LocationText(uint32_t address) {
  const auto index = FindIndex(address);
  return index ? PlaceText(*index) : std::string();
}

std::string NL_QQwry::Lookup(const std::string& addressText) {
  if (addressText.empty()) return kEmptyAddressText;
  if (addressText.find(':') != std::string::npos) return {};  // IPv6: the file holds IPv4 ranges only
  return LocationText(ParseAddress(addressText));
}

uint32_t NL_QQwry::ParseAddress(const std::string& text) {
  uint32_t address = 0;
  int part = 0;
  uint32_t value = 0;
  bool inNumber = true;  // a part's number is its leading digits
  for (char c : text + ".") {
    if (c == '.') {
      address |= (value & 0xFF) << (8 * (3 - part));
      value = 0;
      inNumber = true;
      if (++part == 4) break;
    } else if (inNumber && c >= '0' && c <= '9') {
      value = value * 10 + static_cast<uint32_t>(c - '0');  // wraps, but keeps the value mod 256
    } else {
      inNumber = false;
    }
  }
  return address;
}

std::string GbkToUtf8(std::string_view gbk) {
  iconv_t converter = iconv_open("UTF-8", "GBK");
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    // No GBK converter installed: keep what is plain ASCII.
    std::string ascii;
    for (char c : gbk)
      if (static_cast<unsigned char>(c) < 0x80) ascii += c;
    return ascii;
  }
  // A GBK character of one or two bytes becomes at most three UTF-8 bytes.
  std::string out(gbk.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(converter, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ) break;  // EINVAL: a character cut at the end of the text
    ++in;                        // skip the invalid byte
    --inLeft;
  }
  iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}
