#include "core/WriteQueue.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr int kMaxIov = 16;

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// The CRLF behind every chunk, shared by every queue that keeps one.
const SharedChunk& ChunkEnd() {
  static const SharedChunk end = MakeChunk(reinterpret_cast<const uint8_t*>("\r\n"), 2);
  return end;
}

}  // namespace

void WriteQueue::Push(const uint8_t* data, size_t n, size_t offset, const SharedChunk& shared) {
  if (shared && shared->size() == n && shared->data() == data) {
    chunks_.push_back({shared, offset});
  } else {
    chunks_.push_back({MakeChunk(data + offset, n - offset), 0});
  }
  bytes_ += n - offset;
}

WriteQueue::OfferResult WriteQueue::Offer(int fd, const uint8_t* data, size_t n, const SharedChunk& shared,
                                          int& error) {
  error = 0;
  if (n == 0) return OfferResult::kSent;
  if (!chunks_.empty()) {
    // Writing is already waiting for the socket; keep the order by queueing behind it.
    if (bytes_ + n > bound_) return OfferResult::kDropped;
    Push(data, n, 0, shared);
    return OfferResult::kQueued;
  }
  size_t sent = 0;
  while (sent < n) {
    const ssize_t r = ::send(fd, data + sent, n - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r >= 0) {
      sent += static_cast<size_t>(r);
      continue;
    }
    if (errno == EINTR) continue;
    if (WouldBlock(errno)) break;
    error = errno;
    return OfferResult::kFailed;
  }
  if (sent == n) return OfferResult::kSent;
  Push(data, n, sent, shared);
  return OfferResult::kQueued;
}

WriteQueue::OfferResult WriteQueue::OfferChunk(int fd, const uint8_t* data, size_t n,
                                               const SharedChunk& shared, int& error) {
  error = 0;
  if (n == 0) return OfferResult::kSent;
  char head[24];
  const auto headLength = static_cast<size_t>(std::snprintf(head, sizeof head, "%zX\r\n", n));
  const SharedChunk& end = ChunkEnd();
  struct Part {
    const uint8_t* data;
    size_t n;
    const SharedChunk* shared;
  };
  const Part parts[3] = {{reinterpret_cast<const uint8_t*>(head), headLength, nullptr},
                         {data, n, &shared},
                         {end->data(), end->size(), &end}};
  const size_t total = headLength + n + end->size();
  // Queues what of the frame is left after `sent` bytes.
  auto pushFrom = [&](size_t sent) {
    for (const Part& part : parts) {
      if (sent < part.n) Push(part.data, part.n, sent, part.shared != nullptr ? *part.shared : SharedChunk());
      sent = sent > part.n ? sent - part.n : 0;
    }
  };
  if (!chunks_.empty()) {
    if (bytes_ + total > bound_) return OfferResult::kDropped;
    pushFrom(0);
    return OfferResult::kQueued;
  }
  size_t sent = 0;
  while (sent < total) {
    iovec iov[3];
    int count = 0;
    size_t skip = sent;
    for (const Part& part : parts) {
      if (skip >= part.n) {
        skip -= part.n;
        continue;
      }
      iov[count].iov_base = const_cast<uint8_t*>(part.data + skip);
      iov[count].iov_len = part.n - skip;
      ++count;
      skip = 0;
    }
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = static_cast<size_t>(count);
    const ssize_t r = ::sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r >= 0) {
      sent += static_cast<size_t>(r);
      continue;
    }
    if (errno == EINTR) continue;
    if (WouldBlock(errno)) break;
    error = errno;
    return OfferResult::kFailed;
  }
  if (sent == total) return OfferResult::kSent;
  pushFrom(sent);
  return OfferResult::kQueued;
}

WriteQueue::FlushResult WriteQueue::Flush(int fd, int& error) {
  error = 0;
  while (!chunks_.empty()) {
    iovec iov[kMaxIov];
    int count = 0;
    for (auto it = chunks_.begin(); it != chunks_.end() && count < kMaxIov; ++it, ++count) {
      iov[count].iov_base = const_cast<uint8_t*>(it->chunk->data() + it->offset);
      iov[count].iov_len = it->chunk->size() - it->offset;
    }
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = static_cast<size_t>(count);
    const ssize_t r = ::sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (WouldBlock(errno)) return FlushResult::kPending;
      error = errno;
      return FlushResult::kFailed;
    }
    size_t written = static_cast<size_t>(r);
    bytes_ -= written;
    while (written > 0) {
      Pending& front = chunks_.front();
      const size_t left = front.chunk->size() - front.offset;
      if (written < left) {
        front.offset += written;
        written = 0;
      } else {
        written -= left;
        chunks_.pop_front();
      }
    }
  }
  return FlushResult::kDone;
}

void WriteQueue::Clear() {
  chunks_.clear();
  bytes_ = 0;
}
