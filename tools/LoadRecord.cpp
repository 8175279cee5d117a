#include "tools/LoadRecord.h"

#include <time.h>

#include <cstring>

namespace ntripload {
namespace {

constexpr std::string_view kMagic = "KvLd";
constexpr size_t kCheckOffset = 28;

void PutLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint64_t GetLe(std::string_view bytes, size_t at, int count) {
  uint64_t value = 0;
  for (int i = 0; i < count; ++i) value |= uint64_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
  return value;
}

uint32_t Fnv1a(std::string_view bytes) {
  uint32_t hash = 2166136261u;
  for (const char c : bytes) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 16777619u;
  }
  return hash;
}

uint8_t PaddingByte(uint64_t sequence, size_t offset) { return static_cast<uint8_t>(sequence * 31 + offset); }

}  // namespace

uint64_t RecordClockNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void AppendRecord(std::string& out, const RecordHeader& header) {
  const size_t start = out.size();
  out.append(kMagic);
  PutLe(out, header.source, 4);
  PutLe(out, header.sequence, 8);
  PutLe(out, header.sendTimeNs, 8);
  PutLe(out, header.size, 4);
  PutLe(out, Fnv1a(std::string_view(out).substr(start, kCheckOffset)), 4);
  for (size_t i = kRecordHeaderSize; i < header.size; ++i)
    out.push_back(static_cast<char>(PaddingByte(header.sequence, i)));
}

std::optional<RecordHeader> ReadRecordHeader(std::string_view bytes, size_t size) {
  if (bytes.size() < kRecordHeaderSize || bytes.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  if (GetLe(bytes, kCheckOffset, 4) != Fnv1a(bytes.substr(0, kCheckOffset))) return std::nullopt;
  RecordHeader header;
  header.source = static_cast<uint32_t>(GetLe(bytes, 4, 4));
  header.sequence = GetLe(bytes, 8, 8);
  header.sendTimeNs = GetLe(bytes, 16, 8);
  header.size = static_cast<uint32_t>(GetLe(bytes, 24, 4));
  if (header.size != size) return std::nullopt;
  return header;
}

uint32_t MountSource(std::string_view mount) { return Fnv1a(mount); }

bool PaddingIntact(std::string_view record, uint64_t sequence) {
  for (size_t i = kRecordHeaderSize; i < record.size(); ++i) {
    if (static_cast<uint8_t>(record[i]) != PaddingByte(sequence, i)) return false;
  }
  return true;
}

std::vector<RecordHeader> RecordChecker::Feed(std::string_view bytes) {
  counts_.bytes += bytes.size();
  pending_.append(bytes);
  std::vector<RecordHeader> found;
  while (Step(found)) {
  }
  return found;
}

void RecordChecker::Finish(std::optional<uint64_t> lastSent) {
  if (!lastSent) return;
  const uint64_t next = expected_.value_or(0);
  if (next <= *lastSent) counts_.missing += *lastSent + 1 - next;
}

void RecordChecker::CountCorrupt() {
  ++counts_.corrupt;
  if (expected_) ++*expected_;
}

size_t RecordChecker::FindHeader(size_t from) const {
  for (size_t at = pending_.find(kMagic, from); at != std::string::npos; at = pending_.find(kMagic, at + 1)) {
    if (pending_.size() - at < kRecordHeaderSize) return std::string::npos;
    if (ReadRecordHeader(std::string_view(pending_).substr(at), size_)) return at;
  }
  return std::string::npos;
}

void RecordChecker::Accept(const RecordHeader& header, std::vector<RecordHeader>& found) {
  const uint64_t next = expected_.value_or(header.sequence);
  if (header.sequence < next) {
    ++counts_.outOfOrder;
    return;
  }
  counts_.missing += header.sequence - next;
  ++counts_.records;
  expected_ = header.sequence + 1;
  found.push_back(header);
}

bool RecordChecker::Step(std::vector<RecordHeader>& found) {
  if (!synced_) {
    const size_t at = FindHeader(0);
    if (at == std::string::npos) {
      // Keep a tail that may hold the start of a header.
      const size_t keep = std::min(pending_.size(), kRecordHeaderSize - 1);
      counts_.skippedBytes += pending_.size() - keep;
      pending_.erase(0, pending_.size() - keep);
      return false;
    }
    counts_.skippedBytes += at;
    pending_.erase(0, at);
    synced_ = true;
  }
  if (pending_.size() < size_) return false;
  const std::string_view record = std::string_view(pending_).substr(0, size_);
  const auto header = ReadRecordHeader(record, size_);
  if (header && PaddingIntact(record, header->sequence)) {
    if (header->source == source_) {
      Accept(*header, found);
    } else {
      ++counts_.corrupt;
    }
    pending_.erase(0, size_);
    return true;
  }
  // A damaged record: either its bytes were altered in place (the next record follows exactly one
  // record later with the next sequence number) or the stream was cut and continues elsewhere.
  const size_t next = FindHeader(1);
  if (next == std::string::npos) {
    if (pending_.size() < 3 * size_) return false;
    // Nothing recognisable for three records: drop all but a tail that may start a header.
    ++counts_.cuts;
    const size_t drop = pending_.size() - (kRecordHeaderSize - 1);
    counts_.skippedBytes += drop;
    pending_.erase(0, drop);
    synced_ = false;
    return false;
  }
  // The sequence number this record should have had.
  const bool slotKnown = expected_.has_value() || header.has_value();
  const uint64_t slot = expected_ ? *expected_ : (header ? header->sequence : 0);
  const auto following = ReadRecordHeader(std::string_view(pending_).substr(next), size_);
  if (next == size_ && slotKnown && following->sequence == slot + 1) {
    ++counts_.corrupt;
    expected_ = slot + 1;
    pending_.erase(0, size_);
    return true;
  }
  ++counts_.cuts;
  counts_.skippedBytes += next;
  pending_.erase(0, next);
  return true;
}

}  // namespace ntripload
