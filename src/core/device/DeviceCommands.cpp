#include "core/device/DeviceCommands.h"

#include <cstdlib>
#include <limits>

#include "app/KavroGyBl.h"
#include "core/AccountServices.h"
#include "core/Relay.h"
#include "core/StrFormat.h"
#include "core/ntrip/NtripReplies.h"
#include "gnss/DataFormat.h"
#include "gnss/DecoderContext.h"
#include "gnss/Geodesy.h"

namespace {

constexpr int kTextConnection = 62453;  // client, connect, close
constexpr int kTextLoginRefused = 62454;
constexpr int kPushIdleAbove = 10;  // a silent holder of the name is pushed towards its time-out
constexpr int kPushSeconds = 150;
constexpr int kDirectLinkRefused = 0x200;  // rights bit: no LINKBASE
constexpr int kRightsError = 4;
constexpr size_t kUserPrefix = 4;  // user name carried at the start of the password
constexpr size_t kListStop = 16000;
constexpr size_t kListLimit = 16100;

enum Field { kCommand = 1, kArg1 = 2, kArg2 = 3, kArg3 = 4, kArg4 = 5 };

// A leading decimal number, as the C library reads one; out-of-range values saturate instead of
// being undefined.
int32_t DecimalParameter(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

double DecimalFloat(const std::string& text) { return std::atof(text.c_str()); }

// The password of a LINKBASE credential: between its first and second ":", or the whole field.
std::string CredentialPassword(const std::string& field) {
  const size_t first = field.find(':');
  if (first == std::string::npos) return field;
  const size_t second = field.find(':', first + 1);
  return field.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

// A login refused for its name: the connection is marked and narrowed, then closed after the reply.
int RefuseLogin(CKavroGyBl& gybl, ClientEntry& entry, const DeviceFields& fields, std::string marker) {
  gybl.SetUserName(entry, std::move(marker));
  gybl.SetClientType(entry, fields[kCommand]);
  entry.agent = fields[kArg2];
  entry.classifyState = kClassifyDevice;
  gybl.SendText(entry.socket, "VORAN,REP_USER,OK\r\n");
  gybl.counters.Login(LoginResult::kAlreadyConnected);
  return 0;
}

// BASE, ROVE and GETGGA: name, agent text, status text, parameter. No password is checked.
int DeviceLogin(CKavroGyBl& gybl, ClientEntry& entry, const DeviceFields& fields) {
  const std::string& command = fields[kCommand];
  const std::string& name = fields[kArg1];
  if (name.empty() || name == "\n") return 0;
  if (name.front() == '[') return RefuseLogin(gybl, entry, fields, "Reserved [-" + name);
  for (const auto& mount : gybl.mounts) {
    if (mount->name == name) return RefuseLogin(gybl, entry, fields, "REP_USER-" + name);
  }
  const int32_t parameter = DecimalParameter(fields[kArg4]);
  const bool roverKind = command == "ROVE" || command == "GETGGA";
  if (!(roverKind && gybl.settings.flags.multiUser != 0)) {
    ClientEntry* other = gybl.FindNamed(
        name, entry.socket, [parameter](const ClientEntry& e) { return e.deviceParam == parameter; });
    if (other != nullptr) {
      if (other->idleSeconds > kPushIdleAbove) other->idleSeconds += kPushSeconds;
      return RefuseLogin(gybl, entry, fields, "REP_USER-" + name);
    }
  }

  if (entry.userName != name) {
    gybl.LoadTexts(kTextConnection);
    gybl.Log(StrFormat("[%4d]%s[%-16s(%4d)][%s][%s] %s %s", static_cast<int>(entry.socket),
                       gybl.textList[0].c_str(), name.c_str(), static_cast<int>(gybl.clientTable.size()),
                       entry.accountUnit.c_str(), entry.accountContact.c_str(),
                       PeerAddressText(entry).c_str(), entry.ipLocation.c_str()),
             kLogNormal, name);
  }
  gybl.SetUserName(entry, name);
  gybl.SetClientType(entry, command);
  entry.agent = fields[kArg2];
  entry.classifyState = kClassifyDevice;
  if (command == "BASE") entry.statusText = fields[kArg3];
  entry.deviceParam = parameter;
  gybl.SendText(entry.socket, "VORAN,SET,OK\r\n");
  gybl.counters.Login(LoginResult::kAccepted);
  return 1;
}

// The refusal of a LINKBASE: 401 with the connection's name as realm, then the attempt in red.
int RefuseLink(CKavroGyBl& gybl, AccountServices& accounts, ClientEntry& entry, const std::string& mountpoint,
               const std::string& password, int errorIndex) {
  const std::string userName = entry.userName;
  SendRefusalReply(gybl, accounts, entry, userName, errorIndex, kReplyFull);
  gybl.Log(StrFormat("%s ->%s[%s]", userName.c_str(), mountpoint.c_str(), password.c_str()), kLogRed,
           userName);
  return 0;
}

// LINKBASE: mountpoint, credentials. Links this logged-in connection to the base of that name.
int LinkBase(CKavroGyBl& gybl, AccountServices& accounts, ClientEntry& entry, const DeviceFields& fields) {
  const std::string& mountpoint = fields[kArg1];
  if (entry.userName.empty() || mountpoint.empty() || mountpoint == "\n" || mountpoint == entry.userName) {
    return 0;
  }
  const OptionFlags& flags = gybl.settings.flags;
  const bool protection = flags.passwordProtection != 0;
  std::string user = entry.userName;
  std::string password = CredentialPassword(fields[kArg2]);
  if (flags.userInPassword != 0 && protection && password.size() > kUserPrefix) {
    user = password.substr(0, kUserPrefix);
    password.erase(0, kUserPrefix);
  }

  // The account steps need the server's answers: fetched first, then this line is handled again.
  if (!accounts.LookupReady(entry, user, password)) return 1;
  accounts.LookupUserArea(user, entry);
  // While the server database is down under password protection, the link is admitted unchecked.
  if (!(gybl.settings.useSql != 0 && protection && accounts.ServerDatabaseDown())) {
    const UserCheck check = accounts.CheckUser(user, password, entry);
    if (!check.ok) {
      gybl.LoadTexts(kTextLoginRefused);
      gybl.Log(StrFormat("[%s]-[%s][%s][%s] %s", entry.userName.c_str(), password.c_str(),
                         entry.accountUnit.c_str(), entry.accountContact.c_str(), gybl.textList[0].c_str()),
               kLogRed, entry.userName);
      return RefuseLink(gybl, accounts, entry, mountpoint, password, check.errorCode);
    }
    if (protection && (check.rights & kDirectLinkRefused) != 0) {
      gybl.LoadTexts(kTextLoginRefused);
      gybl.Log(StrFormat("[%s]-[%s] %s", entry.userName.c_str(), password.c_str(), gybl.textList[0].c_str()),
               kLogRed, entry.userName);
      return RefuseLink(gybl, accounts, entry, mountpoint, password, kRightsError);
    }
  }

  const uint32_t socket = entry.socket;
  if (LinkToBase(gybl.clientTable, gybl.bases, mountpoint, socket) == 1) {
    gybl.SendText(socket, "VORAN,BASE,OK\r\n");
    gybl.counters.Login(LoginResult::kAccepted);
    return 1;
  }
  gybl.SendText(socket, "VORAN,BASE,FAIL\r\n");
  gybl.counters.Login(LoginResult::kUnknownMountpoint);
  if (ClientEntry* still = FindClient(gybl.clientTable, socket)) {
    gybl.Log(StrFormat("[%4d]%-12s-->%-12s[%s][%s][%s]", static_cast<int>(socket), still->userName.c_str(),
                       mountpoint.c_str(), password.c_str(), still->accountUnit.c_str(),
                       still->accountContact.c_str()),
             kLogBlue, still->userName);
  }
  return 1;
}

void InterfaceMode(CKavroGyBl& gybl, ClientEntry& entry, const std::string& name) {
  DecoderConsole console;
  PositionRecorder recorder;
  DecoderContext context{gybl.monitor(), console, recorder, gybl.settings.flags.saveGga};
  SetDataFormatByName(context, entry, name);
}

// FIXPOSITION: earth-centred X, Y, Z. A position whose latitude equals the stored one is not taken.
void FixPosition(CKavroGyBl& gybl, ClientEntry& entry, const DeviceFields& fields) {
  const CoordBLH blh =
      XYZtoBLH_WGS84(DecimalFloat(fields[kArg1]), DecimalFloat(fields[kArg2]), DecimalFloat(fields[kArg3]));
  const double latitude = RadiansToDegrees(blh.B);
  if (latitude == entry.position[0]) return;
  entry.position = {latitude, RadiansToDegrees(blh.L), blh.H};
  gybl.monitor().OnMap(kMapBasePosition, &entry);
}

void FixPositionBlh(CKavroGyBl& gybl, ClientEntry& entry, const DeviceFields& fields) {
  entry.position = {DecimalFloat(fields[kArg1]), DecimalFloat(fields[kArg2]), DecimalFloat(fields[kArg3])};
  gybl.monitor().OnMap(kMapBasePosition, &entry);
}

}  // namespace

DeviceFields SplitDeviceLine(std::string_view line) {
  DeviceFields fields;
  size_t start = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const size_t comma = line.find(',', start);
    const std::string_view raw =
        line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    if (raw.empty()) break;
    std::string& field = fields[i];
    for (char c : raw) {
      if (c != '\r' && c != '\n') field += c;
    }
    if (field.size() > kDeviceFieldLimit) field.clear();
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return fields;
}

std::string DeviceListText(const ClientTable& table, uint32_t requester, bool allKinds) {
  std::string text = "VORAN,LIST,";
  for (const auto& [key, entry] : table) {
    if (text.size() > kListStop) break;
    if (entry.userName.empty() || entry.clientType == "GETGGA" || key == requester) continue;
    if (!allKinds && entry.clientType != "BASE") continue;
    text += StrFormat("%-12s[%8.4f %8.4f]", entry.userName.c_str(), entry.position[0], entry.position[1]);
    if (allKinds) text += "(" + entry.clientType + ")";
    text += ",";
  }
  if (text.size() >= kListLimit) return "\r\n";
  return text + "\r\n";
}

int HandleDeviceLine(CKavroGyBl& gybl, AccountServices& accounts, std::string_view line, uint32_t socket) {
  ClientEntry* found = FindClient(gybl.clientTable, socket);
  if (found == nullptr) return 0;
  ClientEntry& entry = *found;
  const DeviceFields fields = SplitDeviceLine(line);
  const std::string& command = fields[kCommand];

  if (command == "BASE" || command == "ROVE" || command == "GETGGA") return DeviceLogin(gybl, entry, fields);
  if (command == "GETBASE" || command == "GETLINK" || command == "GETALL") {
    gybl.SendText(socket, DeviceListText(gybl.clientTable, socket, command == "GETALL"));
    return 1;
  }
  if (command == "LINKBASE") return LinkBase(gybl, accounts, entry, fields);
  if (command == "CLOSE") return 0;
  if (command == "ECHO") {
    entry.echoMode = 1;
  } else if (command == "INTERFACEMODE") {
    InterfaceMode(gybl, entry, fields[kArg1]);
  } else if (command == "FIXPOSITION") {
    FixPosition(gybl, entry, fields);
  } else if (command == "FIXPOSITIONBLH") {
    FixPositionBlh(gybl, entry, fields);
  } else if (command == "GETVERSION") {
    gybl.SendText(socket, StrFormat("%s %s %s %s\r\n", gybl.versionText.c_str(), gybl.settings.name.c_str(),
                                    gybl.settings.masterSlave.c_str(), gybl.upstreamServerName.c_str()));
  } else {
    gybl.SendText(socket, "VORAN,OK\r\n");
  }
  return 1;
}
