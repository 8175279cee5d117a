#pragma once
// An immutable, reference-counted run of bytes: a base's chunk is stored once and every rover's
// write queue that has to keep it holds a reference.
#include <cstdint>
#include <memory>
#include <vector>

using SharedChunk = std::shared_ptr<const std::vector<uint8_t>>;

inline SharedChunk MakeChunk(const uint8_t* bytes, size_t n) {
  return std::make_shared<const std::vector<uint8_t>>(bytes, bytes + n);
}
