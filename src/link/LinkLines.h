#pragma once
// The line protocol of a server link: lines beginning "VORAN" framed out of the received blocks, and
// cut into comma-separated fields.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Longest line; a line without CR LF within it is cut there.
constexpr size_t kLinkLineLimit = 400;
constexpr size_t kLinkFieldCount = 40;
// Fields cut from one line, and the length from which a field is dropped.
constexpr size_t kLinkLineFields = 20;
constexpr size_t kLinkFieldLimit = 200;

using LinkFields = std::array<std::string, kLinkFieldCount>;

class LinkLineFramer {
 public:
  // Appends a received block and returns the lines it completes (with their CR LF). Bytes before a
  // "VORAN" keyword are dropped; a keyword cut by the block's end waits for the next block.
  std::vector<std::string> Feed(std::string_view block);
  size_t Pending() const { return buffer_.size(); }
  void Clear() { buffer_.clear(); }

 private:
  std::string buffer_;
};

// The fields of a line: at most 20 cut at commas, CR and LF removed, a field of 200 characters or
// more emptied; the cutting stops at the first empty field. Field 0 is the keyword.
LinkFields ParseLinkFields(std::string_view line);

// The announcement sent after each link connect: the build number and the slot index (0 for a caster
// that is a "Slave").
std::string LinkAnnouncement(int buildNumber, int slot, const std::string& masterSlave);
