#pragma once
// Operator settings of the caster: INI/KavroServer.INI and the relay file USER.NAME.
#include <array>
#include <string>
#include <string_view>
#include <vector>

// The twenty "SET" option flags, in the order of their digits.
struct OptionFlags {
  int autoStartService = 1;
  int autoRunAtLogon = 1;
  int pushToSubscribers = 0;
  int multiUser = 0;
  int testBroadcast = 0;
  int autoCreateUserOff = 0;
  int recordToBase = 0;
  int recordToProgramDirectory = 0;
  int fixedBase = 0;
  int movingBase = 0;
  int saveGga = 1;
  int mustNeedGga = 0;
  int writeKml = 0;
  int passwordProtection = 0;
  int useWorkAreas = 0;
  int reserved16 = 0;
  int reserved17 = 0;
  int userInPassword = 0;
  int positionManagement = 0;
  int receiverCodeLogin = 0;
  bool operator==(const OptionFlags&) const = default;
};

// "SET" text -> flags: every flag cleared, then "1" at a position turns it on.
// An empty text keeps the built-in values.
OptionFlags ParseSetFlags(const std::string& text);
// Flags -> exactly 20 digits.
std::string FormatSetFlags(const OptionFlags& flags);

// One server link slot of section "NET".
struct LinkSlot {
  std::string address;
  int port = 0;
  bool operator==(const LinkSlot&) const = default;
};
constexpr int kLinkSlots = 16;

// Upstream NTRIP caster named in USER.NAME.
struct RelaySettings {
  std::string ip = "127.0.0.1";
  int port = 0;                     // 0: relay off, lists not read
  std::vector<std::string> users;   // local user names, at most 20
  std::vector<std::string> users2;  // upstream credentials, matched by position
  bool operator==(const RelaySettings&) const = default;
};

// Built-in symbol order of the coded receiver field; receivers and caster must agree on it.
inline constexpr const char* kDefaultReceiverAlphabet =
    "MrHq+8QTSuN5LJlIOBUEfF4dhnyVACDGogXwea7xmb13WPj906kZYs2KpztRcv/i";

struct Settings {
  // SYSTEM
  std::string name;
  std::string language = "Chinese";
  std::string languageSet;
  std::string masterSlave = "Master";
  int icon = 0;
  // SQL (PostgreSQL on this platform)
  int useSql = 0;
  int sqlPort = 5432;
  std::string sqlIp = "127.0.0.1";
  std::string sqlUser = "Kavro";
  std::string sqlPassword = "Wrelb";
  std::string sqlDbName = "KavroCors";
  std::string sqlHostName = "Kavro";
  int sqlTimeout = 3;           // seconds a server query may take ("Timeout"); below 1 means 1
  int sqlQueueLimit = 100000;   // queued write lists before position rows are dropped ("QueueLimit")
  // NET
  int useLinks = 1;    // units digit of "UseNet"
  int updatePush = 1;  // tens digit of "UseNet"
  std::array<LinkSlot, kLinkSlots> links{};
  // SYSTEMSERVER
  int total = 0;
  int port = 6060;
  int port2 = 0;
  int dispNum = 1000;
  std::string mountLocal = "CHN";
  // Limits per client address against floods; 0 = no limit.
  int maxPerIp = 0;          // "MaxPerIP": connections open at once
  int maxConnectsPerIp = 0;  // "MaxConnectsPerIP": new connections a minute
  // "Ntrip2Chunked": 1 sends NTRIP 2 rovers their stream in HTTP chunks.
  int ntrip2Chunked = 0;
  // NTRIP over TLS and IPv6 listeners; all off by default.
  int tlsPort = 0;      // "TLSPORT": 0 means no TLS listener
  std::string tlsCert;  // "TLSCERT": PEM certificate chain; relative to the program directory
  std::string tlsKey;   // "TLSKEY": PEM private key; relative to the program directory
  int ipv6 = 0;         // "IPV6": 1 adds listeners on [::] for PORT, PORT2 and TLSPORT
  // Symbol order of the coded receiver field in agent texts (a permutation of the Base64 symbols).
  std::string receiverAlphabet = kDefaultReceiverAlphabet;
  OptionFlags flags;
  // MONITOR (web monitor)
  int monitorPort = 6080;
  std::string monitorBind = "127.0.0.1";
  std::string monitorPassword;
  std::string monitorTileUrl;  // "TileURL": the map's tile address template; empty fetches no tiles
  int monitorTls = 0;          // "TLS": 1 serves the monitor over TLS with TLSCERT and TLSKEY
  // USER.NAME
  RelaySettings relay;
  bool operator==(const Settings&) const = default;
};

// Reads the relay file, then SYSTEM, SQL, NET (with duplicate removal and the slot-0 default)
// and SYSTEMSERVER. Missing files, sections or keys give the defaults; never fails.
Settings ReadSettings(const std::string& settingsFile, const std::string& relayFile);

// True for a permutation of the 64 Base64 symbols; any other "ReceiverAlphabet" value is ignored.
bool IsReceiverAlphabet(std::string_view text);

// Writers of the settings form and the peak counter; other lines of the file are kept.
void WriteSqlSettings(const std::string& settingsFile, const Settings& settings);
void WriteNetSettings(const std::string& settingsFile, const Settings& settings);
void WriteSystemServerSettings(const std::string& settingsFile, const Settings& settings);

// Removes the first later duplicate (same address text and port) of each used slot, then gives
// slot 0 the default "127.0.0.1":6800 when its port is 0.
void CleanLinkSlots(std::array<LinkSlot, kLinkSlots>& slots);
