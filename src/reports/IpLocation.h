#pragma once
// Reader of the QQwry.dat IP-range file: a peer's IPv4 address -> its place text (UTF-8).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class NL_QQwry {
 public:
  NL_QQwry() = default;
  ~NL_QQwry();
  NL_QQwry(const NL_QQwry&) = delete;
  NL_QQwry& operator=(const NL_QQwry&) = delete;

  // Opens the file and reads its header; false (and closed) when it cannot be opened or read.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return isOpen; }

  // Number of index records the header announces; 0 when closed or the offsets are reversed.
  uint32_t RecordCount() const;

  // Place text of a dotted address: "country area"; "" when not found or closed,
  // "请输入IP地址" for an empty argument; "" for an IPv6 address, which the file does not cover.
  std::string Lookup(const std::string& addressText);
  // The same for an address already in host order (a·2^24 + b·2^16 + c·2^8 + d).
  std::string LocationText(uint32_t address);

  // Index of the range holding the address, if any.
  std::optional<uint32_t> FindIndex(uint32_t address);
  // Place text of index record `index`; "" when out of range or unreadable.
  std::string PlaceText(uint32_t index);
  // Layout (1 to 8) of the place last read by PlaceText; 0 when none was decoded.
  int Mode() const { return mode; }

  // "a.b.c.d" -> a·2^24 + b·2^16 + c·2^8 + d; each part taken as one byte, missing parts 0.
  static uint32_t ParseAddress(const std::string& text);

 private:
  size_t ReadAt(uint64_t offset, uint8_t* dst, size_t length) const;
  bool ReadIndex(uint32_t index, uint32_t& start, uint32_t& recordOffset) const;
  bool ReadEndAddress(uint32_t recordOffset, uint32_t& end) const;
  bool DecodePlace();
  std::string ReadString(uint64_t offset, std::optional<uint64_t>* next = nullptr) const;

  bool isOpen = false;
  int fd = -1;
  uint32_t firstIndexOffset = 0;
  uint32_t lastIndexOffset = 0;
  // Last record read and its decoded place layout.
  uint32_t startAddress = 0;
  uint32_t recordOffset = 0;
  uint32_t endAddress = 0;
  uint8_t readArea[64] = {};
  int mode = 0;
  uint64_t countryOffset = 0;
  std::optional<uint64_t> areaOffset;
};

// GBK bytes -> UTF-8; invalid bytes and a cut trailing character are skipped.
std::string GbkToUtf8(std::string_view gbk);
