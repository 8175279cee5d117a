#include "app/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string KeyId(std::string_view lowerSection, std::string_view key) {
  std::string id(lowerSection);
  id += '\n';  // cannot occur in a section name, so the pair is unambiguous
  id += Lower(key);
  return id;
}

}  // namespace

bool ProfileSectionLine(std::string_view text, std::string_view& name) {
  text = Trim(text);
  if (text.empty() || text.front() != '[') return false;
  text.remove_prefix(1);
  name = Trim(text.substr(0, text.find(']')));
  return true;
}

bool ProfileKeyLine(std::string_view text, std::string_view& key, std::string_view& value) {
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return false;
  const size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(trimmed.substr(0, eq));
  value = Trim(trimmed.substr(eq + 1));
  return !key.empty();
}

std::string_view ProfileValue(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

namespace {

// At most maxLength bytes, backing off to the start of a UTF-8 character the cut would split.
std::string CutUtf8(std::string_view text, size_t maxLength) {
  if (text.size() <= maxLength) return std::string(text);
  size_t n = maxLength;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return std::string(text.substr(0, n));
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool ProfileFile::Load(const std::string& path) {
  bom_.clear();
  lines_.clear();
  newLine_ = "\n";
  sections_.clear();
  keys_.clear();

  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;

  std::string_view rest(data);
  if (rest.starts_with(kBom)) {
    bom_ = kBom;
    rest.remove_prefix(kBom.size());
  }
  bool styleSeen = false;
  while (!rest.empty()) {
    const size_t nl = rest.find('\n');
    Line line;
    if (nl == std::string_view::npos) {
      line.text = rest;
      rest = {};
    } else {
      const bool crlf = nl > 0 && rest[nl - 1] == '\r';
      line.text = rest.substr(0, crlf ? nl - 1 : nl);
      line.eol = crlf ? "\r\n" : "\n";
      rest.remove_prefix(nl + 1);
      if (!styleSeen) {
        newLine_ = line.eol;
        styleSeen = true;
      }
    }
    lines_.push_back(std::move(line));
  }
  Reindex();
  return true;
}

void ProfileFile::Reindex() {
  sections_.clear();
  keys_.clear();
  std::string current;
  bool active = false;  // inside the first section of its name
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name, key, value;
    if (ProfileSectionLine(lines_[i].text, name)) {
      current = Lower(name);
      active = sections_.try_emplace(current, i).second;
    } else if (active && ProfileKeyLine(lines_[i].text, key, value)) {
      keys_.try_emplace(KeyId(current, key), i);
      sections_[current] = i;
    }
  }
}

void ProfileFile::InsertLine(size_t at, std::string text) {
  if (at == lines_.size() && !lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = newLine_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), newLine_});
  for (auto& entry : sections_) {
    if (entry.second >= at) ++entry.second;
  }
  for (auto& entry : keys_) {
    if (entry.second >= at) ++entry.second;
  }
}

const ProfileFile::Line* ProfileFile::FindKey(std::string_view section, std::string_view key) const {
  const auto it = keys_.find(KeyId(Lower(Trim(section)), Trim(key)));
  return it == keys_.end() ? nullptr : &lines_[it->second];
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key, std::string_view def,
                                   size_t maxLength) const {
  const Line* line = FindKey(section, key);
  std::string_view name, value;
  if (line == nullptr || !ProfileKeyLine(line->text, name, value)) return CutUtf8(def, maxLength);
  return CutUtf8(ProfileValue(value), maxLength);
}

int ProfileFile::GetInt(std::string_view section, std::string_view key, int def) const {
  const Line* line = FindKey(section, key);
  std::string_view name, value;
  if (line == nullptr || !ProfileKeyLine(line->text, name, value)) return def;
  value = ProfileValue(value);
  bool negative = false;
  if (!value.empty() && (value.front() == '-' || value.front() == '+')) {
    negative = value.front() == '-';
    value.remove_prefix(1);
  }
  if (value.empty() || value.front() < '0' || value.front() > '9') return def;
  long long number = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') break;
    number = number * 10 + (c - '0');
    if (number > static_cast<long long>(INT_MAX) + 1) break;  // clamped below
  }
  if (negative) number = -number;
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}

void ProfileFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
  key = Trim(key);
  if (key.empty()) return;
  value = value.substr(0, value.find_first_of("\r\n"));
  const std::string lowerSection = Lower(Trim(section));
  const std::string id = KeyId(lowerSection, key);

  if (const auto it = keys_.find(id); it != keys_.end()) {
    Line& line = lines_[it->second];
    std::string_view oldKey, oldValue;
    ProfileKeyLine(line.text, oldKey, oldValue);
    if (oldValue == value) return;  // keep the line as it was written
    line.text = std::string(oldKey) + "=" + std::string(value);
    return;
  }

  const std::string text = std::string(key) + "=" + std::string(value);
  if (const auto it = sections_.find(lowerSection); it != sections_.end()) {
    const size_t at = it->second + 1;
    InsertLine(at, text);
    sections_[lowerSection] = at;
    keys_[id] = at;
    return;
  }

  if (!lines_.empty() && !Trim(lines_.back().text).empty()) InsertLine(lines_.size(), "");
  InsertLine(lines_.size(), "[" + std::string(Trim(section)) + "]");
  InsertLine(lines_.size(), text);
  sections_[lowerSection] = lines_.size() - 1;
  keys_[id] = lines_.size() - 1;
}

bool ProfileFile::Save(const std::string& path, unsigned mode) const {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::error_code ec;
  fs::create_directories(dir, ec);  // a failure shows when the temporary file cannot be made

  std::string data = bom_;
  for (const Line& line : lines_) {
    data += line.text;
    data += line.eol;
  }

  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // fsync before the rename: after a crash the name holds the old or the whole new contents.
  bool ok = WriteAll(fd, data) && ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view def, size_t maxLength) {
  ProfileFile file;
  file.Load(path);
  return file.GetString(section, key, def, maxLength);
}

int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key, int def) {
  ProfileFile file;
  file.Load(path);
  return file.GetInt(section, key, def);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, unsigned mode) {
  ProfileFile file;
  file.Load(path);
  file.SetString(section, key, value);
  return file.Save(path, mode);
}
