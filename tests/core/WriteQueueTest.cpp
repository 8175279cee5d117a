#include "core/WriteQueue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <numeric>
#include <string>
#include <vector>

namespace {

// A connected pair of stream sockets with small kernel buffers, so the queue fills quickly.
class SocketPair {
 public:
  SocketPair() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
    int small = 4096;
    setsockopt(fds_[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(fds_[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    fcntl(fds_[1], F_SETFL, O_NONBLOCK);
  }
  ~SocketPair() {
    if (fds_[0] >= 0) close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  int writer() const { return fds_[0]; }
  void CloseReader() {
    close(fds_[1]);
    fds_[1] = -1;
  }
  std::vector<uint8_t> Drain() {
    std::vector<uint8_t> out;
    uint8_t block[65536];
    for (;;) {
      const ssize_t n = read(fds_[1], block, sizeof block);
      if (n <= 0) break;
      out.insert(out.end(), block, block + n);
    }
    return out;
  }

 private:
  int fds_[2] = {-1, -1};
};

std::vector<uint8_t> Numbered(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

TEST(WriteQueueTest, SmallChunkGoesStraightToTheKernel) {
  SocketPair pair;
  WriteQueue queue;
  const auto chunk = Numbered(100, 1);
  int error = 0;
  EXPECT_EQ(queue.Offer(pair.writer(), chunk.data(), chunk.size(), nullptr, error), WriteQueue::OfferResult::kSent);
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(pair.Drain(), chunk);
}

TEST(WriteQueueTest, ChunksAreQueuedWholeOrDroppedWholeAndArriveInOrderUncut) {
  SocketPair pair;
  WriteQueue queue(16 * 1024);
  std::vector<uint8_t> expected;
  int queued = 0, dropped = 0, error = 0;
  for (int i = 0; i < 200; ++i) {
    const auto chunk = Numbered(1000, static_cast<uint8_t>(i));
    const auto result = queue.Offer(pair.writer(), chunk.data(), chunk.size(), nullptr, error);
    ASSERT_NE(result, WriteQueue::OfferResult::kFailed);
    if (result == WriteQueue::OfferResult::kDropped) {
      ++dropped;
      continue;
    }
    if (result == WriteQueue::OfferResult::kQueued) ++queued;
    expected.insert(expected.end(), chunk.begin(), chunk.end());
    ASSERT_LE(queue.Bytes(), queue.Bound());
  }
  EXPECT_GT(queued, 0);
  EXPECT_GT(dropped, 0);
  // Drain the reader and flush until everything accepted has gone out.
  std::vector<uint8_t> received;
  for (int round = 0; round < 1000 && !(queue.Empty() && received.size() == expected.size()); ++round) {
    const auto part = pair.Drain();
    received.insert(received.end(), part.begin(), part.end());
    ASSERT_NE(queue.Flush(pair.writer(), error), WriteQueue::FlushResult::kFailed);
  }
  const auto rest = pair.Drain();
  received.insert(received.end(), rest.begin(), rest.end());
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);  // every accepted chunk whole, in order, nothing repeated
}

TEST(WriteQueueTest, SharedChunkIsKeptByReference) {
  SocketPair pair;
  WriteQueue queue;
  const auto filler = Numbered(256 * 1024, 3);
  int error = 0;
  // Fill the kernel buffer so that the next chunk has to wait in the queue.
  queue.Offer(pair.writer(), filler.data(), filler.size(), nullptr, error);
  ASSERT_FALSE(queue.Empty());
  queue.Clear();
  SharedChunk shared = MakeChunk(reinterpret_cast<const uint8_t*>("RTCM"), 4);
  EXPECT_EQ(queue.Offer(pair.writer(), shared->data(), shared->size(), shared, error),
            WriteQueue::OfferResult::kQueued);
  EXPECT_EQ(shared.use_count(), 2);
  EXPECT_EQ(queue.Bytes(), 4u);
}

TEST(WriteQueueTest, ClosedPeerIsAHardError) {
  SocketPair pair;
  pair.CloseReader();
  WriteQueue queue;
  const auto chunk = Numbered(10, 0);
  int error = 0;
  EXPECT_EQ(queue.Offer(pair.writer(), chunk.data(), chunk.size(), nullptr, error), WriteQueue::OfferResult::kFailed);
  EXPECT_EQ(error, EPIPE);  // and no SIGPIPE killed the test
}

// Chunk framing: each accepted chunk arrives as one HTTP chunk around the same bytes, frames are
// dropped whole, partial writes continue inside header, data or trailer, and queued data is shared.
TEST(WriteQueueTest, ChunkFramesAreWholeInOrderAndShareTheirData) {
  SocketPair pair;
  WriteQueue queue(16 * 1024);
  std::vector<uint8_t> expected;
  std::vector<SharedChunk> kept;
  int queued = 0, dropped = 0, error = 0;
  for (int i = 0; i < 200; ++i) {
    const SharedChunk chunk = MakeChunk(Numbered(700 + i * 3, static_cast<uint8_t>(i)).data(), 700 + i * 3);
    const auto result = queue.OfferChunk(pair.writer(), chunk->data(), chunk->size(), chunk, error);
    ASSERT_NE(result, WriteQueue::OfferResult::kFailed);
    if (result == WriteQueue::OfferResult::kDropped) {
      ++dropped;
      continue;
    }
    if (result == WriteQueue::OfferResult::kQueued) {
      ++queued;
      kept.push_back(chunk);
    }
    char head[16];
    const int n = std::snprintf(head, sizeof head, "%zX\r\n", chunk->size());
    expected.insert(expected.end(), head, head + n);
    expected.insert(expected.end(), chunk->begin(), chunk->end());
    expected.insert(expected.end(), {'\r', '\n'});
  }
  EXPECT_GT(queued, 1);
  EXPECT_GT(dropped, 0);
  // A queued chunk is held by reference (here and in the queue), not copied.
  EXPECT_EQ(kept.back().use_count(), 2);
  std::vector<uint8_t> received;
  for (int round = 0; round < 1000 && !(queue.Empty() && received.size() == expected.size()); ++round) {
    const auto part = pair.Drain();
    received.insert(received.end(), part.begin(), part.end());
    ASSERT_NE(queue.Flush(pair.writer(), error), WriteQueue::FlushResult::kFailed);
  }
  const auto rest = pair.Drain();
  received.insert(received.end(), rest.begin(), rest.end());
  EXPECT_TRUE(received == expected) << received.size() << " of " << expected.size();
  // Nothing for an empty piece: an empty chunk would end the stream.
  EXPECT_EQ(queue.OfferChunk(pair.writer(), nullptr, 0, nullptr, error), WriteQueue::OfferResult::kSent);
  EXPECT_TRUE(pair.Drain().empty());
}

}  // namespace
