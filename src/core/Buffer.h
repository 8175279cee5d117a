#pragma once
// Growable byte buffer in which input waits to be framed or decoded. Storage is held in whole
// 4096-byte pages, grows on append and is given back when the contents shrink.
#include <cstdint>
#include <string>
#include <string_view>

class CBuffer {
 public:
  static constexpr int kPageSize = 4096;

  CBuffer() = default;
  virtual ~CBuffer();
  CBuffer(const CBuffer&) = delete;
  CBuffer& operator=(const CBuffer&) = delete;

  int Length() const { return static_cast<int>(writePos_ - base_); }
  int Capacity() const { return capacity_; }
  const uint8_t* Data() const { return base_; }

  // Appends n bytes; returns n.
  int Write(const void* bytes, int n);
  int Write(std::string_view text) { return Write(text.data(), static_cast<int>(text.size())); }
  // Puts n bytes in front of the contents; returns n.
  int Insert(const void* bytes, int n);
  int Insert(std::string_view text) { return Insert(text.data(), static_cast<int>(text.size())); }
  // Copies up to n bytes from the front (or from position) to dest and, unless peek, removes them.
  // Returns 0 when n exceeds the capacity, else the number of bytes copied.
  int Read(void* dest, int n, bool peek = false) { return ReadAt(dest, n, 0, peek); }
  int ReadAt(void* dest, int n, int position, bool peek = false);
  // Removes up to n bytes at position; returns the number removed.
  int Delete(int n, int position);
  // Index just after the first match of the n bytes at or after `from`, or 0.
  int Find(const void* bytes, int n, int from) const;
  // As Find for a zero-terminated text; -1 when from lies beyond the contents.
  int Scan(const char* text, int from) const;
  // The byte at position, or 0 outside the contents.
  uint8_t ByteAt(int position) const;
  // Empties the buffer, keeping exactly one page.
  void Clear();
  // Gives all storage back when the buffer is empty; the next write takes a page again.
  void ReleaseIfEmpty();
  // Replaces the contents with those of other.
  void Copy(const CBuffer& other);
  // Appends the contents to a file; false when it cannot be written.
  bool WriteToFile(const std::string& path) const;

 private:
  void Grow(int n);
  void Shrink(int n);
  void Reallocate(int bytes);

  uint8_t* base_ = nullptr;
  uint8_t* writePos_ = nullptr;
  int capacity_ = 0;
};
