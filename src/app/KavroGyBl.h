#pragma once
// The caster's shared state: settings, the table of connections, texts, the log record and the
// statistics, with the accept and close paths of connections.
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <string_view>
#include <vector>

#include "app/LanguageTexts.h"
#include "app/MonitorEvents.h"
#include "app/Settings.h"
#include "core/ClientEntry.h"
#include "core/Counters.h"
#include "core/LocalTime.h"
#include "core/Messages.h"
#include "core/Mount.h"
#include "core/ServiceSteps.h"

// What the shared state needs from the socket layer.
class SocketLayer {
 public:
  virtual ~SocketLayer() = default;
  // Closes a connected socket; unknown sockets are ignored.
  virtual void CloseSocket(uint32_t socket) = 0;
  // The socket-event handler (read, write, close), called synchronously.
  virtual void OnSocketEvent(uint32_t socket, uint32_t event) = 0;
};

// Run-time state of one server link slot; address and port are in the settings.
struct LinkSlotState {
  int retryTicks = 20;
  int connected = 0;
  // The rectangle the slot's server covers, from its "RANGE" record: latitude from, latitude to,
  // longitude from, longitude to in degrees; all 0 when none.
  std::array<double, 4> coverage{};
};

// What the upstream network server provides now: one base ("BASE", mode 0) or a line of two ("LINE",
// mode 1), positions in degrees; error when the server's status was not "OK".
struct UpstreamStatus {
  int mode = 0;
  std::string firstName;
  double firstLatitude = 0.0;
  double firstLongitude = 0.0;
  std::string secondName;
  double secondLatitude = 0.0;
  double secondLongitude = 0.0;
  bool error = false;
};

class CKavroGyBl {
 public:
  CKavroGyBl(Settings settings, const Clock& clock, MonitorEvents& monitor, ServiceSteps& steps);

  void SetSocketLayer(SocketLayer* sockets) { sockets_ = sockets; }
  const Clock& clock() const { return clock_; }
  MonitorEvents& monitor() { return monitor_; }
  ServiceSteps& steps() { return steps_; }

  // Creates the entry of an accepted socket. 0 when the socket already has one.
  // peerText: an IPv6 peer's address text (peer then has family AF_INET6); empty for IPv4.
  int Accept(uint32_t socket, const sockaddr_in& peer, const std::string& peerText = {});
  // Closes a connection with a reason: closes the socket, records and logs the entry, removes it.
  // Returns 1 when an entry was removed.
  int Close(uint32_t socket, CloseReason reason);
  // Closes every connection at service stop.
  void CloseAll();
  // Closes a connection through the close event, as when its peer closed (reason 5 in the log).
  void CloseEvent(uint32_t socket);
  // Adds the test base "T128888" under key 0 (no socket), built like an accepted entry.
  void InsertTestBase();

  // Fills textList with the parts of a numbered text, from the language file unless the language is
  // Chinese; always 1.
  int LoadTexts(int number);
  // Writes every built-in text to the language file (export mode, at start).
  void exportTexts();
  // The caption and control texts of a dialog or monitor page, translated by the language file (which
  // gets what it lacks), or exported to it in export mode.
  DialogTexts applyLanguageToDialog(int dialogNumber, DialogTexts dialog);
  // Fills the log record and sends it to the output log.
  void Log(const std::string& text, int level, const std::string& name = {});
  void SendStatistics();

  // Send primitive: queues n bytes for the socket through the write event.
  void Send(uint32_t socket, const void* bytes, uint32_t n, const SharedChunk& shared = {});
  // Sends a composed text: copied into the entry's reply area when it fits there, otherwise whole
  // as one shared chunk, never cut. 0 when the socket has no entry.
  int SendText(uint32_t socket, std::string_view text);
  // Sets an entry's client type, keeping the base index.
  void SetClientType(ClientEntry& entry, const std::string& type);
  // Sets an entry's user name, keeping the name index.
  void SetUserName(ClientEntry& entry, std::string name);
  // The connection other than `except`, in socket order the first, whose user name is `name` and that
  // `accept` takes; null when there is none.
  ClientEntry* FindNamed(const std::string& name, uint32_t except,
                         const std::function<bool(const ClientEntry&)>& accept = nullptr);

  Settings settings;
  ClientTable clientTable;
  BaseIndex bases;  // every entry whose client type became "BASE"
  // Entries by user name (set through SetUserName), so a login finds a namesake without walking the table.
  std::unordered_multimap<std::string, uint32_t> names;
  int clientCount = 0;
  int serviceRunning = 0;
  TextList textList;
  LogRecord logRecord;
  Statistics statistics;
  Counters counters;             // traffic totals for the metrics page
  std::string programDirectory;  // with the trailing "/"
  std::string settingsFile;      // INI/KavroServer.INI
  std::string relayFile;         // USER.NAME
  std::string languageFile;      // INI/Server_<Language>.INI
  std::array<LinkSlotState, kLinkSlots> linkSlots{};
  // The upstream server's mountpoints and the name from its "MOUNTEND" record (server link 0).
  MountList mounts;
  std::string upstreamServerName;
  std::string upstreamSecondText;
  UpstreamStatus upstreamStatus;
  std::string versionText;
  int buildNumber = 0;
  std::vector<std::string> localAddresses;
  // The names of the work areas, as the work-area dialog lists them; the first is the default area.
  std::vector<std::string> workAreaList;

 private:
  // The language table, following the current language settings and languageFile.
  LanguageTable& Language();

  const Clock& clock_;
  MonitorEvents& monitor_;
  ServiceSteps& steps_;
  SocketLayer* sockets_ = nullptr;
  LanguageTable languageTable_;
};

// Dotted notation of an IPv4 socket address.
std::string AddressText(const sockaddr_in& address);
// The entry's peer address as shown and recorded: dotted IPv4, or the IPv6 text form.
std::string PeerAddressText(const ClientEntry& entry);
