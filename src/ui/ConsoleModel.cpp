#include "ui/ConsoleModel.h"

#include "core/StrFormat.h"

void ConsoleModel::Open(const std::string& userName, uint32_t socket) {
  userName_ = userName;
  socket_ = socket;
  lines_.clear();
  pending_.clear();
  shown_ = true;
  Changed();
}

void ConsoleModel::Clear() {
  lines_.clear();
  pending_.clear();
  Changed();
}

void ConsoleModel::OnReceived(uint32_t socket, const uint8_t* bytes, size_t count) {
  if (count == 0 || !shown_ || decoder_ || socket != socket_) return;
  if (lines_.size() > kByteLines) {
    lines_.clear();
    pending_.clear();
  }
  // The list's last line showed the pending line, which now grows.
  if (!lines_.empty() && !pending_.empty()) lines_.pop_back();
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = bytes[i];
    std::string piece;
    if (binary_) {
      piece = StrFormat("%02X ", byte);
    } else if (byte != '\r' && byte != '\n') {
      piece = byte < 0x20 || byte >= 0x80 ? "*" : std::string(1, static_cast<char>(byte));
    }
    bool close = false;
    if (pending_.size() >= kLineBreakAt) {
      if (!binary_) piece += "<Break>";
      close = true;
    }
    pending_ += piece;
    if ((!binary_ && byte == '\n') || close) {
      lines_.push_back(pending_);
      pending_.clear();
    }
  }
  if (!pending_.empty()) lines_.push_back(pending_);
  Changed();
}

void ConsoleModel::AddDecoderLine(std::string_view line) {
  if (lines_.size() > kDecoderLines) lines_.clear();
  lines_.emplace_back(line);
  Changed();
}

std::string ConsoleModel::SendText(std::string_view typed) {
  std::string text;
  for (size_t i = 0; i < typed.size() && text.size() < kSendLimit; ++i) {
    const char c = typed[i];
    if (c == '\r') continue;  // a typed break is CR LF whatever the browser sent
    if (c == '\n') {
      text += "\r\n";
    } else {
      text += c;
    }
  }
  return text.substr(0, kSendLimit);
}
