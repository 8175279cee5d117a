#pragma once
// Numbered user-visible texts and dialog texts: the built-in Chinese texts, their splitting into parts,
// and the language file that overrides them.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/ProfileFile.h"

constexpr int kTextSlots = 40;
using TextList = std::array<std::string, kTextSlots>;

// The built-in text of a resource number, or null when there is none.
const char* BuiltinText(int number);

// Splits text at each separator into slots 0, 1, ...; after 39 separators the rest of the text,
// separators included, goes into slot 39.
void SplitText(std::string_view text, std::string_view separator, TextList& slots);

// A text as the language file holds it on one line: line feeds as backslash-n, carriage returns removed.
std::string LanguageFileValue(std::string_view text);

// One control of a dialog or monitor page: its identifier and its text.
struct ControlText {
  int id = 0;
  std::string text;
  bool operator==(const ControlText&) const = default;
};

// The caption and the control texts (in z-order) of one dialog or monitor page.
struct DialogTexts {
  std::string caption;
  std::vector<ControlText> controls;
  bool operator==(const DialogTexts&) const = default;
};

// The texts of one language. "Chinese" uses the built-in texts and never touches the file; any other
// language reads INI/Server_<Language>.INI and adds to it every text it lacks. LanguageSET "SET" is
// export mode. The file is cached and reloaded only when it changes on disk. Not thread-safe: used from
// the main thread, like textList.
class LanguageTable {
 public:
  LanguageTable() = default;
  LanguageTable(std::string_view language, std::string_view languageSet, std::string_view languageFile);

  // Takes new settings; the cached file is dropped only when something changed.
  void Configure(std::string_view language, std::string_view languageSet, std::string_view languageFile);

  // Fills textList with the parts of text `number`; all slots empty when the text does not exist.
  void LoadTexts(int number, TextList& textList);
  // Writes every built-in text from 62446 up to 63000 (excluded) to the language file.
  void ExportTexts();
  // Translates a dialog's caption and control texts, or exports them in export mode, adding what the
  // language file lacks. Returns the texts to show.
  DialogTexts ApplyToDialog(int dialogNumber, DialogTexts dialog);

 private:
  // Identity and change marks of the file on disk; size -1 when it does not exist.
  struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = -1;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
  };
  static FileStamp StampOf(const std::string& path);

  bool IsChinese() const { return language_ == "Chinese"; }
  bool IsExportMode() const { return languageSet_ == "SET"; }
  // The language file, loaded again when it changed on disk since the last load or save.
  ProfileFile& File();
  // Writes the cached file back; failures are ignored.
  void Save();

  std::string language_ = "Chinese";
  std::string languageSet_;
  std::string languageFile_;
  ProfileFile file_;
  FileStamp stamp_;
  bool loaded_ = false;
};
