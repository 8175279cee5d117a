#pragma once
// The load tool's stream payload: fixed-size records that a source writes and a rover checks.
//
// Layout (little-endian): magic "KvLd" | source index u32 | sequence u64 | send time u64 (CLOCK_MONOTONIC
// ns) | record size u32 | header check u32 (FNV-1a of the 28 bytes before it) | padding, byte i of the
// record being (sequence * 31 + i) mod 256, so every byte of the record is checked.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ntripload {

inline constexpr size_t kRecordHeaderSize = 32;
inline constexpr size_t kMaxRecordSize = 65536;

struct RecordHeader {
  uint32_t source = 0;
  uint64_t sequence = 0;
  uint64_t sendTimeNs = 0;
  uint32_t size = 0;
};

// The clock of the send times: CLOCK_MONOTONIC in nanoseconds.
uint64_t RecordClockNs();

// Appends one record of header.size bytes (at least kRecordHeaderSize) to out.
void AppendRecord(std::string& out, const RecordHeader& header);

// The header at the start of bytes when its magic and check are right and its size is `size`.
std::optional<RecordHeader> ReadRecordHeader(std::string_view bytes, size_t size);

// The source index of the records an upstream mountpoint streams: FNV-1a of its name, so a rover
// that gets another mountpoint's records counts them as corrupt.
uint32_t MountSource(std::string_view mount);

// True when the padding of a record (all `size` bytes present) matches its sequence number.
bool PaddingIntact(std::string_view record, uint64_t sequence);

// What a rover found in its stream so far.
struct StreamCounts {
  uint64_t records = 0;       // intact records in sequence order (each counts once)
  uint64_t missing = 0;       // sequence numbers skipped over
  uint64_t outOfOrder = 0;    // intact records with a sequence number at or below one already seen
  uint64_t corrupt = 0;       // records that arrived whole but with altered bytes or another source's index
  uint64_t cuts = 0;          // places where the stream continued inside another record (whole chunks lost)
  uint64_t skippedBytes = 0;  // bytes passed over to find the next record, including the leading part
  uint64_t bytes = 0;         // every stream byte fed
};

// Checks one rover's stream from one source: fed bytes in any split, it finds the records, checks
// each byte and the sequence, and reports each intact in-order record's header to a callback.
// A stream may start inside a record (the rover joined mid-stream); those leading bytes are skipped.
class RecordChecker {
 public:
  // firstExpected: the first sequence number the rover should see, when known (records before the
  // first one seen then count as missing).
  RecordChecker(uint32_t source, size_t recordSize, std::optional<uint64_t> firstExpected = std::nullopt)
      : source_(source), size_(recordSize), expected_(firstExpected) {}

  // Feeds stream bytes; returns the headers of the intact in-order records completed by them.
  std::vector<RecordHeader> Feed(std::string_view bytes);

  // Counts records that should have followed the last one seen, up to `lastSent` (the last sequence
  // number the source sent; nothing when it sent none).
  void Finish(std::optional<uint64_t> lastSent);

  // A record lost to damage found outside the checker (a frame that failed its check): one corrupt
  // record in the next sequence slot.
  void CountCorrupt();

  const StreamCounts& counts() const { return counts_; }
  // The next sequence number expected, or nothing before the first record.
  std::optional<uint64_t> expected() const { return expected_; }

 private:
  // Handles the record at the front of pending_; false when more bytes are needed.
  bool Step(std::vector<RecordHeader>& found);
  // First offset after `from` where a valid header starts, or npos.
  size_t FindHeader(size_t from) const;
  void Accept(const RecordHeader& header, std::vector<RecordHeader>& found);

  uint32_t source_;
  size_t size_;
  std::string pending_;
  std::optional<uint64_t> expected_;
  bool synced_ = false;
  StreamCounts counts_;
};

}  // namespace ntripload
