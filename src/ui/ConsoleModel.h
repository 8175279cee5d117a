#pragma once
// The debug console: it watches one connection and shows its bytes (as text or in hexadecimal) or
// the lines the decoders compose for it, and holds the text the operator sends to it.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "gnss/DecoderContext.h"

class ConsoleModel : public DecoderConsole {
 public:
  // Lines shown before a byte display empties the list, and before a decoder line does.
  static constexpr size_t kByteLines = 100;
  static constexpr size_t kDecoderLines = 200;
  // A pending line of this many characters or more is closed by the next piece.
  static constexpr size_t kLineBreakAt = 96;
  static constexpr size_t kSendLimit = 199;

  // Called after every change of the list (for the monitor's event).
  void SetChanged(std::function<void()> changed) { changed_ = std::move(changed); }

  // Opens the console on a connection: list and pending line emptied, console shown.
  void Open(const std::string& userName, uint32_t socket);
  void Hide() { shown_ = false; }
  void Clear();
  void SetBinary(bool on) { binary_ = on; }
  void SetDecoder(bool on) { decoder_ = on; }

  // Received bytes of a connection; shown when they are the watched socket's and "Decoder" is off.
  void OnReceived(uint32_t socket, const uint8_t* bytes, size_t count);
  // The bytes to send for a typed text: line breaks as CR LF, at most 199 characters, nothing
  // appended; empty when there is nothing to send.
  static std::string SendText(std::string_view typed);

  bool WantsDecoderLines(uint32_t socket) const override { return shown_ && decoder_ && socket == socket_; }
  bool WatchesSocket(uint32_t socket) const override { return shown_ && socket == socket_; }
  void AddDecoderLine(std::string_view line) override;

  const std::vector<std::string>& lines() const { return lines_; }
  const std::string& pending() const { return pending_; }
  uint32_t socket() const { return socket_; }
  const std::string& userName() const { return userName_; }
  bool shown() const { return shown_; }
  bool binary() const { return binary_; }
  bool decoder() const { return decoder_; }

 private:
  void Changed() {
    if (changed_) changed_();
  }

  std::vector<std::string> lines_;
  std::string pending_;  // the partial line, also shown as the list's last line
  std::string userName_;
  uint32_t socket_ = 0;
  bool shown_ = false;
  bool binary_ = false;
  bool decoder_ = false;
  std::function<void()> changed_;
};
