#include "ui/SettingsForm.h"

#include <charconv>
#include <climits>

#include "app/ProfileFile.h"
#include "core/StrFormat.h"

namespace {

using Kind = SettingsControlKind;

constexpr const char* kNotInteger = "Please enter an integer.";
constexpr const char* kNotAddress = "Please enter an IPv4 address (four numbers 0-255 joined by \".\").";
constexpr const char* kBadText =
    "Please enter at most 259 characters, without line breaks or control characters.";

// The text without the blanks around it, as the field check reads a number.
std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool ParseInteger(std::string_view text, int& value) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  long long number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < INT_MIN || number > INT_MAX)
    return false;
  value = static_cast<int>(number);
  return true;
}

// Four decimal numbers 0 to 255 joined by ".", as an address field holds them.
bool ParseAddress(std::string_view text, std::string& address) {
  text = Trimmed(text);
  std::string_view rest = text;
  for (int part = 0; part < 4; ++part) {
    const size_t dot = part < 3 ? rest.find('.') : rest.size();
    if (dot == std::string_view::npos) return false;
    const std::string_view digits = rest.substr(0, dot);
    int byte = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), byte);
    if (digits.empty() || digits.size() > 3 || error != std::errc() || end != digits.data() + digits.size() ||
        byte > 255)
      return false;
    rest.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  address = std::string(text);
  return true;
}

// A text field's value goes to one line of the settings file, which reads at most 259 bytes back.
bool ParseText(std::string_view text, std::string& value) {
  if (text.size() > ProfileFile::kDefaultMaxLength) return false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  value = std::string(text);
  return true;
}

bool ParseCheck(std::string_view text, bool& value) {
  if (text == "1" || text == "true") {
    value = true;
  } else if (text == "0" || text == "false") {
    value = false;
  } else {
    return false;
  }
  return true;
}

bool* CheckField(int id, SettingsFormValues& v) {
  switch (id) {
    case kCtlUseNet:
      return &v.useNet;
    case kCtlUpdatePush:
      return &v.updatePush;
    case kCtlAutoStart:
      return &v.autoStartService;
    case kCtlRunAtLogon:
      return &v.autoRunAtLogon;
    case kCtlPositionManagement:
      return &v.positionManagement;
    case kCtlMustNeedGga:
      return &v.mustNeedGga;
    case kCtlSaveGga:
      return &v.saveGga;
    case kCtlFixedBase:
      return &v.fixedBase;
    case kCtlMovingBase:
      return &v.movingBase;
    case kCtlPasswordProtection:
      return &v.passwordProtection;
    case kCtlWorkAreas:
      return &v.useWorkAreas;
    case kCtlMultiUser:
      return &v.multiUser;
    case kCtlAutoCreateUser:
      return &v.autoCreateUser;
    case kCtlUseSql:
      return &v.useSql;
    default:
      return nullptr;
  }
}

int* NumberField(int id, SettingsFormValues& v) {
  switch (id) {
    case kCtlPort:
      return &v.port;
    case kCtlPort2:
      return &v.port2;
    case kCtlNetPort:
      return &v.netPort;
    case kCtlDispNum:
      return &v.dispNum;
    case kCtlSqlPort:
      return &v.sqlPort;
    default:
      return nullptr;
  }
}

std::string* TextField(int id, SettingsFormValues& v) {
  switch (id) {
    case kCtlNetIp:
      return &v.netIp;
    case kCtlMountLocal:
      return &v.mountLocal;
    case kCtlSqlIp:
      return &v.sqlIp;
    case kCtlSqlUser:
      return &v.sqlUser;
    case kCtlSqlPassword:
      return &v.sqlPassword;
    case kCtlSqlDbName:
      return &v.sqlDbName;
    default:
      return nullptr;
  }
}

// Takes one entry into its field; false, with the field unchanged, when it fails its check.
bool TakeEntry(const SettingsControlInfo& control, std::string_view text, SettingsFormValues& values,
               std::string& error) {
  switch (control.kind) {
    case Kind::kNumber:
      error = kNotInteger;
      return ParseInteger(text, *NumberField(control.id, values));
    case Kind::kAddress:
      error = kNotAddress;
      return ParseAddress(text, *TextField(control.id, values));
    case Kind::kText:
    case Kind::kPassword:
      error = kBadText;
      return ParseText(text, *TextField(control.id, values));
    case Kind::kCheck:
      error = "Please check or clear the box.";
      return ParseCheck(text, *CheckField(control.id, values));
    case Kind::kShown:
    case Kind::kButton:
      break;
  }
  return true;
}

}  // namespace

const std::vector<SettingsControlInfo>& SettingsControls() {
  static const std::vector<SettingsControlInfo> controls = {
      {kCtlPort, Kind::kNumber, kGroupNetwork},
      {kCtlPort2, Kind::kNumber, kGroupNetwork},
      {kCtlNetIp, Kind::kAddress, kGroupNetwork},
      {kCtlNetPort, Kind::kNumber, kGroupNetwork},
      {kCtlUseNet, Kind::kCheck, kGroupNetwork},
      {kCtlUpdatePush, Kind::kCheck, kGroupNetwork},
      {kCtlAutoStart, Kind::kCheck, kGroupSystem},
      {kCtlRunAtLogon, Kind::kCheck, kGroupSystem},
      {kCtlPositionManagement, Kind::kCheck, kGroupSystem},
      {kCtlMustNeedGga, Kind::kCheck, kGroupSystem},
      {kCtlSaveGga, Kind::kCheck, kGroupSystem},
      {kCtlFixedBase, Kind::kCheck, kGroupSystem},
      {kCtlMovingBase, Kind::kCheck, kGroupSystem},
      {kCtlPasswordProtection, Kind::kCheck, kGroupSystem},
      {kCtlWorkAreas, Kind::kCheck, kGroupSystem},
      {kCtlMultiUser, Kind::kCheck, kGroupSystem},
      {kCtlAutoCreateUser, Kind::kCheck, kGroupSystem},
      {kCtlDispNum, Kind::kNumber, kGroupSystem},
      {kCtlMountLocal, Kind::kText, kGroupSystem},
      {kCtlUseSql, Kind::kCheck, kGroupSql},
      {kCtlSqlIp, Kind::kText, kGroupSql},
      {kCtlSqlPort, Kind::kNumber, kGroupSql},
      {kCtlSqlUser, Kind::kText, kGroupSql},
      {kCtlSqlPassword, Kind::kPassword, kGroupSql},
      {kCtlSqlDbName, Kind::kText, kGroupSql},
      {kCtlStartTime, Kind::kShown, kGroupRunning},
      {kCtlUpdateNotice, Kind::kShown, kGroupRunning},
      {kCtlSave, Kind::kButton, kGroupRunning},
      {kCtlStart, Kind::kButton, kGroupRunning},
      {kCtlStop, Kind::kButton, kGroupRunning},
  };
  return controls;
}

DialogTexts SettingsFormTexts() {
  return {"设置",
          {{kGroupNetwork, "网络参数"},
           {kCtlPort, "服务PORT"},
           {kCtlPort2, "服务PORT"},
           {kCtlNetIp, "KavroNet IP"},
           {kCtlNetPort, "KavroNet PORT"},
           {kCtlUseNet, "Use KavroNet"},
           {kCtlUpdatePush, "软件更新推送"},
           {kGroupSystem, "系统设置"},
           {kCtlAutoStart, "自动开启服务"},
           {kCtlRunAtLogon, "程序开机自启动"},
           {kCtlPositionManagement, "位置管理系统"},
           {kCtlMustNeedGga, "Must Need GGA"},
           {kCtlSaveGga, "GGA数据保存"},
           {kCtlFixedBase, "固定基站"},
           {kCtlMovingBase, "移动基站"},
           {kCtlPasswordProtection, "密码保护"},
           {kCtlWorkAreas, "作业区域"},
           {kCtlMultiUser, "多用户"},
           {kCtlAutoCreateUser, "自动生成用户"},
           {kCtlDispNum, "显示移动点数"},
           {kCtlMountLocal, "Local"},
           {kGroupSql, "Microsoft SQL"},
           {kCtlUseSql, "使用SQL"},
           {kCtlSqlIp, "Server IP"},
           {kCtlSqlPort, "Server PORT"},
           {kCtlSqlUser, "User Name"},
           {kCtlSqlPassword, "User Password"},
           {kCtlSqlDbName, "SQL DB Name"},
           {kGroupRunning, "运行情况"},
           {kCtlStartTime, "启动时间"},
           {kCtlSave, "保存设置"},
           {kCtlStart, "开启服务"},
           {kCtlStop, "关闭服务"}}};
}

SettingsFormValues ReadFormValues(const Settings& s) {
  SettingsFormValues v;
  v.port = s.port;
  v.port2 = s.port2;
  v.netIp = s.links[0].address;
  v.netPort = s.links[0].port;
  v.useNet = s.useLinks != 0;
  v.updatePush = s.updatePush != 0;
  const OptionFlags& f = s.flags;
  v.autoStartService = f.autoStartService != 0;
  v.autoRunAtLogon = f.autoRunAtLogon != 0;
  v.positionManagement = f.positionManagement != 0;
  v.mustNeedGga = f.mustNeedGga != 0;
  v.saveGga = f.saveGga != 0;
  v.fixedBase = f.fixedBase != 0;
  v.movingBase = f.movingBase != 0;
  v.passwordProtection = f.passwordProtection != 0;
  v.useWorkAreas = f.useWorkAreas != 0;
  v.multiUser = f.multiUser != 0;
  v.autoCreateUser = f.autoCreateUserOff == 0;
  v.dispNum = s.dispNum;
  v.mountLocal = s.mountLocal;
  v.useSql = s.useSql != 0;
  v.sqlIp = s.sqlIp;
  v.sqlPort = s.sqlPort;
  v.sqlUser = s.sqlUser;
  v.sqlPassword = s.sqlPassword;
  v.sqlDbName = s.sqlDbName;
  return v;
}

void ApplyFormValues(const SettingsFormValues& v, Settings& s) {
  s.port = v.port;
  s.port2 = v.port2;
  s.links[0].address = v.netIp;
  s.links[0].port = v.netPort;
  s.useLinks = v.useNet ? 1 : 0;
  s.updatePush = v.updatePush ? 1 : 0;
  OptionFlags& f = s.flags;
  f.autoStartService = v.autoStartService ? 1 : 0;
  f.autoRunAtLogon = v.autoRunAtLogon ? 1 : 0;
  f.positionManagement = v.positionManagement ? 1 : 0;
  f.mustNeedGga = v.mustNeedGga ? 1 : 0;
  f.saveGga = v.saveGga ? 1 : 0;
  f.fixedBase = v.fixedBase ? 1 : 0;
  f.movingBase = v.movingBase ? 1 : 0;
  f.passwordProtection = v.passwordProtection ? 1 : 0;
  f.useWorkAreas = v.useWorkAreas ? 1 : 0;
  f.multiUser = v.multiUser ? 1 : 0;
  f.autoCreateUserOff = v.autoCreateUser ? 0 : 1;
  s.dispNum = v.dispNum;
  s.mountLocal = v.mountLocal;
  s.useSql = v.useSql ? 1 : 0;
  s.sqlIp = v.sqlIp;
  s.sqlPort = v.sqlPort;
  s.sqlUser = v.sqlUser;
  s.sqlPassword = v.sqlPassword;
  s.sqlDbName = v.sqlDbName;
}

std::map<int, bool> SettingsEnabled(bool running, bool useSql) {
  std::map<int, bool> enabled;
  for (const auto& control : SettingsControls()) {
    switch (control.id) {
      case kCtlStart:
      case kCtlPort:
      case kCtlPort2:
      case kCtlNetIp:
      case kCtlNetPort:
      case kCtlUseNet:
      case kCtlUpdatePush:
      case kCtlUseSql:
        enabled[control.id] = !running;
        break;
      case kCtlStop:
        enabled[control.id] = running;
        break;
      case kCtlSqlIp:
      case kCtlSqlPort:
      case kCtlSqlUser:
      case kCtlSqlPassword:
      case kCtlSqlDbName:
        enabled[control.id] = useSql && !running;
        break;
      default:
        enabled[control.id] = true;
    }
  }
  return enabled;
}

std::string UpdateNotice(const std::string& versionText, const std::string& newVersion) {
  if (newVersion.empty()) return {};
  return StrFormat("Software updates %s ===> %s", versionText.c_str(), newVersion.c_str());
}

void SettingsForm::Initialise(const Settings& settings, const LocalTime& now) {
  std::string notice = std::move(values_.updateNotice);
  values_ = ReadFormValues(settings);
  values_.updateNotice = std::move(notice);
  values_.startTime =
      StrFormat("%4d/%2d/%2d %2d:%2d:%2d", now.year, now.month, now.day, now.hour, now.minute, now.second);
  initialised_ = true;
}

std::vector<SettingsFieldError> SettingsForm::Take(const std::map<int, std::string>& entries, bool running) {
  for (const auto& control : SettingsControls()) {
    const auto entry = entries.find(control.id);
    if (entry == entries.end()) continue;
    // Checked against the state as taken so far: "使用SQL" comes before the fields it unlocks.
    if (!SettingsEnabled(running, values_.useSql).at(control.id)) continue;
    std::string error;
    if (!TakeEntry(control, entry->second, values_, error)) return {{control.id, error}};
  }
  return {};
}
