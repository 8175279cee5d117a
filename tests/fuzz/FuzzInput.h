#pragma once
// How the fuzz targets read their input: leading option bytes, then the rest cut into pieces whose
// lengths come from the input itself, as a socket would deliver it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // The next byte, 0 once the input is used up.
  uint8_t TakeByte() { return pos_ < size_ ? data_[pos_++] : 0; }
  size_t Left() const { return size_ - pos_; }
  const uint8_t* Rest() const { return data_ + pos_; }
  std::string_view RestText() const { return {reinterpret_cast<const char*>(data_ + pos_), size_ - pos_}; }

  // Feeds the rest in pieces: a count byte (at most maxCuts), that many length bytes, then pieces of
  // 1 + length bytes in turn; without lengths the rest is one piece. piece(bytes, count, lengthByte).
  template <typename Piece>
  void FeedPieces(size_t maxCuts, Piece&& piece) {
    const size_t cuts = TakeByte() % (maxCuts + 1);
    uint8_t lengths[16] = {};
    for (size_t i = 0; i < cuts && i < sizeof lengths; ++i) lengths[i] = TakeByte();
    if (cuts == 0) {
      if (Left() > 0) piece(Rest(), Left(), uint8_t{0});
      pos_ = size_;
      return;
    }
    for (size_t i = 0; pos_ < size_; i = (i + 1) % cuts) {
      const size_t n = std::min<size_t>(size_t{lengths[i]} + 1, Left());
      const uint8_t* at = Rest();
      pos_ += n;
      piece(at, n, lengths[i]);
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Stops the run with a message when a property the code promises does not hold.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz: broken property: %s\n", what);
  std::abort();
}

// A file of this process's scratch folder (removed at exit) holding the given bytes.
inline std::string ScratchFile(const std::string& name, std::string_view bytes) {
  static const std::filesystem::path folder = [] {
    // Memory-backed when the machine has /dev/shm: the file readers run many times a second.
    char pattern[] = "/dev/shm/kavro-fuzz.XXXXXX";
    char fallback[] = "/tmp/kavro-fuzz.XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) made = mkdtemp(fallback);
    Require(made != nullptr, "scratch folder");
    static std::filesystem::path path = made;
    std::atexit([] { std::filesystem::remove_all(path); });
    return path;
  }();
  const std::filesystem::path path = folder / name;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

}  // namespace fuzz
