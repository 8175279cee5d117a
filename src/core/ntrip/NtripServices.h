#pragma once
// What the NTRIP request handlers send or start besides their own replies: the sourcetable, the
// status page, and the connection of a forwarded rover to the upstream caster.
#include <cstdint>
#include <functional>
#include <string>

class NtripServices {
 public:
  virtual ~NtripServices() = default;
  // The sourcetable, its base rows limited to a latitude/longitude window (0: no limit).
  virtual void Sourcetable(uint32_t socket, double minLat, double maxLat, double minLon, double maxLon) = 0;
  // The sourcetable for a "/?filter=" or "/?match=" path.
  virtual void FilteredSourcetable(const std::string& path, uint32_t socket) = 0;
  // The account status page of a user.
  virtual void StatusPage(const std::string& user, const std::string& password, uint32_t socket) = 0;
  // Connects the rover's outgoing connection to the upstream caster and registers it to deliver to
  // the rover; done(true) once connected, done(false) when that failed. done runs on the main thread,
  // later or at once; the rover may have closed in the meantime.
  virtual void ConnectUpstream(uint32_t socket, std::function<void(bool connected)> done) = 0;
  // Connects the rover's outgoing connection to a network server (a link slot's address and port) and
  // registers it to deliver to the rover, as ConnectUpstream does.
  virtual void ConnectNetServer(uint32_t /*socket*/, const std::string& /*address*/, int /*port*/,
                                std::function<void(bool connected)> done) {
    done(false);
  }
  // Sends a text over the rover's outgoing connection.
  virtual void SendUpstream(uint32_t socket, const std::string& text) = 0;
};
