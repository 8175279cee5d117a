#pragma once
// The settings form (dialog 131): its texts, the copy of the settings it edits, the enabling rules
// and the checked taking of the operator's entries. A model only; the monitor draws it.
#include <map>
#include <string>
#include <vector>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "core/LocalTime.h"

constexpr int kSettingsDialog = 131;

// Control identifiers of dialog 131.
enum SettingsControl : int {
  kCtlPort = 1006,
  kCtlPort2 = 1008,
  kCtlNetIp = 1007,
  kCtlNetPort = 1026,
  kCtlUseNet = 1040,
  kCtlUpdatePush = 1043,
  kCtlAutoStart = 1010,
  kCtlRunAtLogon = 1016,
  kCtlPositionManagement = 1027,
  kCtlMustNeedGga = 1034,
  kCtlSaveGga = 1012,
  kCtlFixedBase = 1022,
  kCtlMovingBase = 1023,
  kCtlPasswordProtection = 1025,
  kCtlWorkAreas = 1053,
  kCtlMultiUser = 1035,
  kCtlAutoCreateUser = 1038,
  kCtlDispNum = 1019,
  kCtlMountLocal = 1021,
  kCtlUseSql = 1020,
  kCtlSqlIp = 1028,
  kCtlSqlPort = 1029,
  kCtlSqlUser = 1030,
  kCtlSqlPassword = 1031,
  kCtlSqlDbName = 1032,
  kCtlStartTime = 1015,
  kCtlUpdateNotice = 1064,
  kCtlSave = 1009,
  kCtlStart = 1036,
  kCtlStop = 1037,
  // The four group boxes.
  kGroupNetwork = 2001,
  kGroupSystem = 2002,
  kGroupSql = 2003,
  kGroupRunning = 2004,
};

enum class SettingsControlKind { kNumber, kAddress, kText, kPassword, kCheck, kShown, kButton };

// One control of the form: where it sits and what it holds.
struct SettingsControlInfo {
  int id = 0;
  SettingsControlKind kind = SettingsControlKind::kText;
  int group = 0;
};

// Every control in the order the form takes its entries, grouped by box.
const std::vector<SettingsControlInfo>& SettingsControls();

// The built-in Chinese caption, control texts and group box texts, for the language table.
DialogTexts SettingsFormTexts();

// Every field the form binds, as the controls show it.
struct SettingsFormValues {
  int port = 0;
  int port2 = 0;
  std::string netIp;  // link slot 0 (NET entry 1)
  int netPort = 0;
  bool useNet = false;      // "UseNet" units digit
  bool updatePush = false;  // "UseNet" tens digit
  bool autoStartService = false;
  bool autoRunAtLogon = false;
  bool positionManagement = false;
  bool mustNeedGga = false;
  bool saveGga = false;
  bool fixedBase = false;
  bool movingBase = false;
  bool passwordProtection = false;
  bool useWorkAreas = false;
  bool multiUser = false;
  bool autoCreateUser = false;  // the inverse of autoCreateUserOff
  int dispNum = 0;
  std::string mountLocal;
  bool useSql = false;
  std::string sqlIp;
  int sqlPort = 0;
  std::string sqlUser;
  std::string sqlPassword;
  std::string sqlDbName;
  std::string startTime;     // 1015: when the form was initialised
  std::string updateNotice;  // 1064
  bool operator==(const SettingsFormValues&) const = default;
};

// The bound settings as the form shows them.
SettingsFormValues ReadFormValues(const Settings& settings);
// Copies the form's fields back into the settings; settings the form does not show are kept.
void ApplyFormValues(const SettingsFormValues& values, Settings& settings);

// The enabling rules: for every control, whether it can be used (running = the service runs).
std::map<int, bool> SettingsEnabled(bool running, bool useSql);

// An entry that failed the field check.
struct SettingsFieldError {
  int id = 0;
  std::string text;
  bool operator==(const SettingsFieldError&) const = default;
};

// "Software updates <current> ===> <new>" when a newer version is known (not empty), else empty.
std::string UpdateNotice(const std::string& versionText, const std::string& newVersion);

// The form: a copy of the settings, taken when it is first shown, edited by the operator's entries.
class SettingsForm {
 public:
  bool initialised() const { return initialised_; }
  // Reads the bound settings and stamps the start-time field with now.
  void Initialise(const Settings& settings, const LocalTime& now);
  // Sets the update-notice field (message 1528 code 8).
  void SetUpdateNotice(std::string text) { values_.updateNotice = std::move(text); }

  // Takes the operator's entries (control identifier -> text as typed; check boxes "1"/"0" or
  // "true"/"false") in control order. Entries of controls disabled while running are ignored, and so
  // are missing ones. The first entry that fails its check is reported; it and every later field
  // keep their previous values, as the fields taken before it keep their new ones.
  std::vector<SettingsFieldError> Take(const std::map<int, std::string>& entries, bool running);

  const SettingsFormValues& values() const { return values_; }
  std::map<int, bool> Enabled(bool running) const { return SettingsEnabled(running, values_.useSql); }

 private:
  SettingsFormValues values_;
  bool initialised_ = false;
};
