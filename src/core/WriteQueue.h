#pragma once
// Bounded per-connection write queue. A chunk is written to the socket at once as far as the
// kernel takes it; what remains waits here and is written when the socket becomes writable.
// Chunks are queued whole or dropped whole, so a correction stream is never cut in the middle
// of a chunk, and bytes are never repeated.
#include <cstddef>
#include <cstdint>
#include <deque>

#include "core/SharedChunk.h"

class WriteQueue {
 public:
  static constexpr size_t kDefaultBound = 64 * 1024;

  enum class OfferResult {
    kSent,     // all bytes went to the kernel
    kQueued,   // bytes wait in the queue; the owner waits for writability and calls Flush
    kDropped,  // the queue is over its bound: the chunk was dropped whole
    kFailed,   // hard send error (error code in `error`)
  };
  enum class FlushResult { kDone, kPending, kFailed };

  explicit WriteQueue(size_t bound = kDefaultBound) : bound_(bound) {}

  // Offers n bytes for the socket fd. `shared`, when set, holds the same bytes and is kept by
  // reference instead of copied.
  OfferResult Offer(int fd, const uint8_t* data, size_t n, const SharedChunk& shared, int& error);
  // Offers n bytes as one HTTP chunk: hex length, CRLF, the bytes, CRLF. The frame is sent, queued or
  // dropped as one; the bytes are kept by reference as Offer keeps them, only the small header is
  // copied. n = 0 sends nothing (an empty chunk would end the stream).
  OfferResult OfferChunk(int fd, const uint8_t* data, size_t n, const SharedChunk& shared, int& error);
  // Writes queued bytes until the queue is empty or the kernel takes no more.
  FlushResult Flush(int fd, int& error);

  bool Empty() const { return chunks_.empty(); }
  size_t Bytes() const { return bytes_; }
  size_t Bound() const { return bound_; }
  void Clear();

 private:
  struct Pending {
    SharedChunk chunk;
    size_t offset;
  };
  void Push(const uint8_t* data, size_t n, size_t offset, const SharedChunk& shared);

  std::deque<Pending> chunks_;
  size_t bytes_ = 0;
  size_t bound_;
};
