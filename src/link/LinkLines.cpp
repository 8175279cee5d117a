#include "link/LinkLines.h"

#include <algorithm>

#include "core/StrFormat.h"

namespace {

constexpr std::string_view kKeyword = "VORAN";

// Where a keyword, or a tail of the buffer that could begin one, starts; npos when neither.
size_t KeywordStart(const std::string& buffer, bool& whole) {
  whole = true;
  const size_t at = buffer.find(kKeyword);
  if (at != std::string::npos) return at;
  whole = false;
  for (size_t tail = kKeyword.size() - 1; tail >= 1; --tail) {
    if (buffer.size() >= tail && buffer.compare(buffer.size() - tail, tail, kKeyword.substr(0, tail)) == 0) {
      return buffer.size() - tail;
    }
  }
  return std::string::npos;
}

}  // namespace

std::vector<std::string> LinkLineFramer::Feed(std::string_view block) {
  buffer_.append(block);
  std::vector<std::string> lines;
  while (buffer_.size() >= kKeyword.size()) {
    bool whole = false;
    const size_t start = KeywordStart(buffer_, whole);
    if (start == std::string::npos) {
      buffer_.clear();
      break;
    }
    if (start > 0) {
      buffer_.erase(0, start);
      continue;
    }
    if (!whole) break;  // only a cut keyword: wait for the rest
    const size_t end = buffer_.find("\r\n");
    size_t take = 0;
    if (end != std::string::npos && end + 2 <= kLinkLineLimit) {
      take = end + 2;
    } else if (buffer_.size() > kLinkLineLimit) {
      take = kLinkLineLimit;
    } else {
      break;  // the line's end has not come yet
    }
    lines.push_back(buffer_.substr(0, take));
    buffer_.erase(0, take);
  }
  return lines;
}

LinkFields ParseLinkFields(std::string_view line) {
  LinkFields fields;
  size_t from = 0;
  for (size_t i = 0; i < kLinkLineFields && from <= line.size(); ++i) {
    const size_t comma = std::min(line.find(',', from), line.size());
    std::string field(line.substr(from, comma - from));
    std::erase_if(field, [](char c) { return c == '\r' || c == '\n'; });
    if (field.size() >= kLinkFieldLimit) field.clear();
    if (field.empty()) break;
    fields[i] = std::move(field);
    from = comma + 1;
  }
  return fields;
}

std::string LinkAnnouncement(int buildNumber, int slot, const std::string& masterSlave) {
  return StrFormat("VORAN,KAVOROSERVER,%s,%d\r\n", std::to_string(buildNumber).c_str(),
                   masterSlave == "Slave" ? 0 : slot);
}
