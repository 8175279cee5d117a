#pragma once
// Reader and writer of profile (INI) files: [Section] lines and Key=Value lines.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One profile file held as its lines. Sections and keys match without regard to ASCII case; the first
// section of a name and the first key of a name in it count. Writing a key touches only that key's
// line (or adds one); every other line, comment and line ending is written back unchanged.
class ProfileFile {
 public:
  static constexpr size_t kDefaultMaxLength = 259;

  // Replaces the contents with the file's lines. A missing or unreadable file leaves the object empty
  // (and usable) and returns false.
  bool Load(const std::string& path);

  // The key's value, trimmed, enclosing quotes removed, cut to at most maxLength bytes without splitting
  // a UTF-8 character. A missing key gives def (also cut); a key with an empty value gives "".
  std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                        size_t maxLength = kDefaultMaxLength) const;
  // The leading decimal number of the value (optional sign); def when the key is missing or the value
  // does not start with a number. Values beyond the int range are clamped.
  int GetInt(std::string_view section, std::string_view key, int def) const;

  // Replaces the key's line, or appends it after the last key of its section, creating the section at
  // the end when missing. A value is cut at its first line break so it cannot inject lines.
  void SetString(std::string_view section, std::string_view key, std::string_view value);

  // Writes through a temporary file in the same directory and a rename, so readers see the old or the
  // new file, never a part. Creates the parent directory when missing; the file gets exactly `mode`.
  bool Save(const std::string& path, unsigned mode = 0644) const;

 private:
  struct Line {
    std::string text;  // without the line ending
    std::string eol;   // "\n", "\r\n", or "" for a last line without ending
  };

  // Rebuilds the section and key index from the lines.
  void Reindex();
  // Inserts a line and moves the indexed line numbers behind it.
  void InsertLine(size_t at, std::string text);
  // The line of the key, or nullptr.
  const Line* FindKey(std::string_view section, std::string_view key) const;

  std::string bom_;  // UTF-8 byte order mark of the file, kept on write
  std::vector<Line> lines_;
  std::string newLine_ = "\n";  // ending for added lines: the style of the file's first line
  // Lower-case section name -> last key line (or the header) of the first section of that name.
  std::unordered_map<std::string, size_t> sections_;
  std::unordered_map<std::string, size_t> keys_;  // lower-case "section\nkey" -> its line
};

// The line grammar of the reader, for tools that look at a file line by line.
// "[Name]" -> Name; a header without ']' names the rest of the line.
bool ProfileSectionLine(std::string_view text, std::string_view& name);
// "Key=Value" -> trimmed Key and raw Value. Comments (';'), headers and lines without '=' or without a key
// are not keys.
bool ProfileKeyLine(std::string_view text, std::string_view& key, std::string_view& value);
// A raw value as the reader sees it: one pair of enclosing quotes removed.
std::string_view ProfileValue(std::string_view raw);

// One-call helpers: load the file, then read, or set and save.
std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view def, size_t maxLength = ProfileFile::kDefaultMaxLength);
int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key, int def);
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, unsigned mode = 0644);
