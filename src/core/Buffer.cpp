#include "core/Buffer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

int RoundToPages(int n) { return (n + CBuffer::kPageSize - 1) / CBuffer::kPageSize * CBuffer::kPageSize; }

}  // namespace

CBuffer::~CBuffer() { std::free(base_); }

void CBuffer::Reallocate(int bytes) {
  const int length = Length();
  uint8_t* storage = nullptr;
  if (bytes > 0) {
    // Sizes are whole pages, but the storage need not be page-aligned: an aligned block costs up to
    // another page of padding, and a caster holds thousands of these.
    storage = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes)));
    if (storage == nullptr) throw std::bad_alloc();
    if (length > 0) std::memcpy(storage, base_, static_cast<size_t>(length));
  }
  std::free(base_);
  base_ = storage;
  writePos_ = storage == nullptr ? nullptr : storage + length;
  capacity_ = bytes;
}

void CBuffer::Grow(int n) {
  if (n <= capacity_) return;
  Reallocate(RoundToPages(n));
}

// Gives whole pages back once the contents fit in fewer of them.
void CBuffer::Shrink(int n) {
  if (n < Length()) return;
  const int bytes = RoundToPages(n);
  if (bytes >= capacity_) return;
  Reallocate(bytes);
}

int CBuffer::Write(const void* bytes, int n) {
  if (n <= 0) return 0;
  Grow(Length() + n);
  std::memcpy(writePos_, bytes, static_cast<size_t>(n));
  writePos_ += n;
  return n;
}

int CBuffer::Insert(const void* bytes, int n) {
  if (n <= 0) return 0;
  const int length = Length();
  Grow(length + n);
  std::memmove(base_ + n, base_, static_cast<size_t>(length));
  std::memcpy(base_, bytes, static_cast<size_t>(n));
  writePos_ += n;
  return n;
}

int CBuffer::ReadAt(void* dest, int n, int position, bool peek) {
  if (n > capacity_ || n <= 0 || position < 0) return 0;
  const int length = Length();
  if (position >= length) return 0;
  n = std::min(n, length - position);
  std::memcpy(dest, base_ + position, static_cast<size_t>(n));
  if (!peek) {
    std::memmove(base_ + position, base_ + position + n, static_cast<size_t>(length - position - n));
    writePos_ -= n;
    Shrink(Length());
  }
  return n;
}

int CBuffer::Delete(int n, int position) {
  const int length = Length();
  if (n <= 0 || position < 0 || position >= length) return 0;
  n = std::min(n, length - position);
  std::memmove(base_ + position, base_ + position + n, static_cast<size_t>(length - position - n));
  writePos_ -= n;
  Shrink(Length());
  return n;
}

int CBuffer::Find(const void* bytes, int n, int from) const {
  const int length = Length();
  if (n <= 0 || from < 0 || length < n || length < from + n) return 0;
  const auto* pattern = static_cast<const uint8_t*>(bytes);
  const uint8_t* begin = base_ + from;
  const uint8_t* end = base_ + length;
  const uint8_t* hit = std::search(begin, end, pattern, pattern + n);
  if (hit == end) return 0;
  return static_cast<int>(hit - base_) + n;
}

int CBuffer::Scan(const char* text, int from) const {
  if (from > Length()) return -1;
  return Find(text, static_cast<int>(std::strlen(text)), from);
}

uint8_t CBuffer::ByteAt(int position) const {
  if (position < 0 || position >= Length()) return 0;
  return base_[position];
}

void CBuffer::Clear() {
  writePos_ = base_;
  if (capacity_ != kPageSize) Reallocate(kPageSize);
}

void CBuffer::ReleaseIfEmpty() {
  if (Length() == 0 && base_ != nullptr) Reallocate(0);
}

void CBuffer::Copy(const CBuffer& other) {
  if (&other == this) return;
  writePos_ = base_;
  Write(other.Data(), other.Length());
  Shrink(Length());
}

bool CBuffer::WriteToFile(const std::string& path) const {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return false;
  const size_t length = static_cast<size_t>(Length());
  const bool ok = length == 0 || std::fwrite(base_, 1, length, file) == length;
  return std::fclose(file) == 0 && ok;
}
