#include "app/LanguageTexts.h"

#include <sys/stat.h>

#include <utility>

namespace {

constexpr std::string_view kTextSection = "IDS";
constexpr std::string_view kDialogSection = "String";
constexpr std::string_view kEmptyCaption = "1234";  // stands for an empty caption in the file
constexpr size_t kMaxValueChars = 999;
constexpr int kFirstText = 62446;
constexpr int kTextsEnd = 63000;

struct Builtin {
  int number;
  const char* text;
};

// Parts are separated by line feeds.
constexpr Builtin kBuiltinTexts[] = {
    {62446, "层名\n显示\n选择\n标注\n编辑\n"},
    {62447, "本地数据库打开失败\nSQL数据库打开失败\nSQL数据库打开成功"},
    {62448,
     "Socket\n机号\n机型\n当前连接\n接收机位置\n解类型/基站ID\n固定率\n发记数\n接记数\n在线时长\n接收\n数据\n"
     "发送\n软件版本\n所属管理区\nIP"},
    {62449, "设置\n详细情况\n图形显示\nGoogle Earth地图\n"},
    {62450, "服务器IP\n服务器启动 \n启动\n监听套接字创建失败\n服务关闭"},
    {62451, "QVO-KavroServer"},
    {62452, "数据库打开失败"},
    {62453, "客户端\n连接\n关闭"},
    {62454, "密码或用户验证错误或功能受限"},
    {62455, "固定解\n浮点解\n差分解\n单点解\n没有定位\n"},
    {62456, "用户名密码错\n时间超\n日期超\n功能受限\n用户机号绑定错误\n密码错误\n用户错误\n"},
    {62457, "域名不存在\n用户重复"},
};

std::string TextKey(int number) { return "IDS_" + std::to_string(number); }
std::string TitleKey(int dialog) { return "IDD" + std::to_string(dialog) + "_Title"; }
std::string ControlKey(int dialog, int control) {
  return "IDC" + std::to_string(dialog) + "_" + std::to_string(control);
}

// A value of the file, cut to at most kMaxValueChars UTF-8 characters; "" when missing.
std::string ReadValue(const ProfileFile& file, std::string_view section, const std::string& key) {
  std::string value = file.GetString(section, key, "", std::string::npos);
  size_t chars = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const bool leadByte = (static_cast<unsigned char>(value[i]) & 0xC0) != 0x80;
    if (leadByte && chars++ == kMaxValueChars) {
      value.resize(i);
      break;
    }
  }
  return value;
}

// Control texts that are placeholders, not words worth translating.
bool IsUntranslatable(const std::string& text) { return text.empty() || text == "0" || text == "Static"; }

}  // namespace

std::string LanguageFileValue(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

const char* BuiltinText(int number) {
  for (const Builtin& b : kBuiltinTexts) {
    if (b.number == number) return b.text;
  }
  return nullptr;
}

void SplitText(std::string_view text, std::string_view separator, TextList& slots) {
  for (auto& slot : slots) slot.clear();
  size_t slot = 0;
  while (slot + 1 < slots.size()) {
    const size_t at = text.find(separator);
    if (at == std::string_view::npos) break;
    slots[slot++] = std::string(text.substr(0, at));
    text.remove_prefix(at + separator.size());
  }
  slots[slot] = std::string(text);
}

LanguageTable::LanguageTable(std::string_view language, std::string_view languageSet,
                             std::string_view languageFile) {
  Configure(language, languageSet, languageFile);
}

void LanguageTable::Configure(std::string_view language, std::string_view languageSet,
                              std::string_view languageFile) {
  if (language == language_ && languageSet == languageSet_ && languageFile == languageFile_) return;
  language_ = language;
  languageSet_ = languageSet;
  languageFile_ = languageFile;
  loaded_ = false;
}

LanguageTable::FileStamp LanguageTable::StampOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
          static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
          static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

ProfileFile& LanguageTable::File() {
  // Stamp before loading: a change racing the load only causes one more load later.
  const FileStamp now = StampOf(languageFile_);
  if (!loaded_ || now != stamp_) {
    file_.Load(languageFile_);  // a missing file leaves it empty
    stamp_ = now;
    loaded_ = true;
  }
  return file_;
}

void LanguageTable::Save() {
  if (languageFile_.empty()) return;
  // On failure the cache keeps what was added, so an unwritable file is not retried on every lookup;
  // a change of the file on disk still reloads it.
  if (file_.Save(languageFile_)) stamp_ = StampOf(languageFile_);
}

void LanguageTable::LoadTexts(int number, TextList& textList) {
  const char* builtin = BuiltinText(number);
  if (!IsChinese()) {
    ProfileFile& file = File();
    const std::string key = TextKey(number);
    const std::string value = ReadValue(file, kTextSection, key);
    if (!value.empty()) {
      SplitText(value, "\\n", textList);
      return;
    }
    if (builtin != nullptr) {
      file.SetString(kTextSection, key, LanguageFileValue(builtin));
      Save();
    }
  }
  SplitText(builtin == nullptr ? "" : builtin, "\n", textList);
}

void LanguageTable::ExportTexts() {
  ProfileFile& file = File();
  bool any = false;
  for (int number = kFirstText; number < kTextsEnd; ++number) {
    if (const char* builtin = BuiltinText(number)) {
      file.SetString(kTextSection, TextKey(number), LanguageFileValue(builtin));
      any = true;
    }
  }
  if (any) Save();
}

DialogTexts LanguageTable::ApplyToDialog(int dialogNumber, DialogTexts dialog) {
  const bool exporting = IsExportMode();
  if (IsChinese() && !exporting) return dialog;
  ProfileFile& file = File();
  const std::string titleKey = TitleKey(dialogNumber);
  const std::string_view captionValue = dialog.caption.empty() ? kEmptyCaption : dialog.caption;

  if (exporting) {
    file.SetString(kDialogSection, titleKey, captionValue);
    for (const ControlText& control : dialog.controls) {
      if (!IsUntranslatable(control.text)) {
        file.SetString(kDialogSection, ControlKey(dialogNumber, control.id), control.text);
      }
    }
    Save();
    return dialog;
  }

  bool added = false;
  if (std::string caption = ReadValue(file, kDialogSection, titleKey); !caption.empty()) {
    dialog.caption = std::move(caption);
  } else {
    file.SetString(kDialogSection, titleKey, captionValue);
    added = true;
  }
  for (ControlText& control : dialog.controls) {
    const std::string key = ControlKey(dialogNumber, control.id);
    if (std::string text = ReadValue(file, kDialogSection, key); !text.empty()) {
      control.text = std::move(text);
    } else if (!IsUntranslatable(control.text)) {
      file.SetString(kDialogSection, key, control.text);
      added = true;
    }
  }
  if (added) Save();
  return dialog;
}
