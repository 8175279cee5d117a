#include "core/ntrip/ChunkedDecoder.h"

#include <algorithm>
#include <cstring>

namespace {

int HexValue(uint8_t byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

bool Blank(uint8_t byte) { return byte == ' ' || byte == '\t'; }

}  // namespace

ChunkedDecoder::Result ChunkedDecoder::Decode(uint8_t* piece, size_t n) {
  size_t out = 0;
  size_t at = 0;
  while (at < n && status_ == Status::kMore) {
    if (state_ == State::kData) {
      const size_t take = std::min(static_cast<size_t>(remaining_), n - at);
      if (out != at) std::memmove(piece + out, piece + at, take);
      out += take;
      at += take;
      remaining_ -= static_cast<uint32_t>(take);
      if (remaining_ == 0) state_ = State::kDataCr;
      continue;
    }
    if (!Step(piece[at++])) status_ = Status::kError;
  }
  return {out, status_};
}

bool ChunkedDecoder::Step(uint8_t byte) {
  switch (state_) {
    case State::kSize: {
      const int value = HexValue(byte);
      if (value >= 0) {
        if (remaining_ != 0 || value != 0) ++digits_;
        if (digits_ > kSizeDigits) return false;
        remaining_ = remaining_ * 16 + static_cast<uint32_t>(value);
        anyDigit_ = true;
        break;
      }
      if (!anyDigit_) return false;
      if (byte == ';') {
        state_ = State::kExtension;
      } else if (Blank(byte)) {
        state_ = State::kSizeEnd;
      } else if (byte == '\r') {
        state_ = State::kSizeLf;
        return true;
      } else {
        return false;
      }
      break;
    }
    case State::kSizeEnd:
      if (byte == ';') {
        state_ = State::kExtension;
      } else if (byte == '\r') {
        state_ = State::kSizeLf;
        return true;
      } else if (!Blank(byte)) {
        return false;
      }
      break;
    case State::kExtension:
      if (byte == '\r') {
        state_ = State::kSizeLf;
        return true;
      }
      if (byte == '\n') return false;
      break;
    case State::kSizeLf:
      if (byte != '\n') return false;
      state_ = remaining_ == 0 ? State::kTrailerStart : State::kData;
      lineBytes_ = 0;
      digits_ = 0;
      anyDigit_ = false;
      return true;
    case State::kData:
      return true;  // data is copied by Decode
    case State::kDataCr:
      if (byte != '\r') return false;
      state_ = State::kDataLf;
      return true;
    case State::kDataLf:
      if (byte != '\n') return false;
      state_ = State::kSize;
      return true;
    case State::kTrailerStart:
      if (byte == '\r') {
        state_ = State::kFinalLf;
        return true;
      }
      if (byte == '\n') return false;
      state_ = State::kTrailer;
      break;
    case State::kTrailer:
      if (byte == '\r') {
        state_ = State::kTrailerLf;
        return true;
      }
      break;
    case State::kTrailerLf:
      if (byte != '\n') return false;
      state_ = State::kTrailerStart;
      lineBytes_ = 0;
      return true;
    case State::kFinalLf:
      if (byte != '\n') return false;
      status_ = Status::kEnd;
      return true;
  }
  // A byte of a header or trailer line: lines are bounded.
  return ++lineBytes_ <= kLineLimit;
}
