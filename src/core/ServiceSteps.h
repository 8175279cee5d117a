#pragma once
// Steps of the service start, stop and connection close that other subsystems supply (database,
// server links, test base, connection records, address location). The defaults do nothing, so the
// connection core runs on its own.
#include <netinet/in.h>

#include <string>

struct ClientEntry;

class ServiceSteps {
 public:
  virtual ~ServiceSteps() = default;
  virtual void OpenSqlDatabase() {}
  virtual void CloseSqlDatabase() {}
  // Sets the reconnect counters of the server links so the next tick tries link 0 at once.
  virtual void ArmLinks() {}
  // Posts the stop message to every server link.
  virtual void StopLinks() {}
  // The last server link was lost: forget the upstream server's mountpoints.
  virtual void ResetUpstreamMounts() {}
  // Server link i: points its data at the main frame and connects it (the tick's reconnect).
  virtual void ConnectLink(int /*slot*/) {}
  // Whether server link i's connection exists now (the tick's check of a link marked connected).
  virtual bool LinkConnected(int /*slot*/) { return false; }
  // Counts the accounts; returns the number of active ones.
  virtual int CountUsers() { return 0; }
  // Writes the connection record of a closing entry.
  virtual void RecordConnection(const ClientEntry& /*entry*/) {}
  // Location text of a peer address; empty when unknown or not looked up.
  virtual std::string LocateAddress(const sockaddr_in& /*peer*/) { return {}; }
};
