#pragma once
// One server link slot: its connection to an upstream network server, the announcement of this caster,
// and the records the server sends (its status, its mountpoints on slot 0, the rectangle it covers).
// Runs as asynchronous operations on the main io_context: the connect never blocks the main thread,
// and the records are parsed where every other user of the shared state runs.
#include <boost/asio/any_io_executor.hpp>
#include <memory>
#include <string>

#include "link/KavroNetClient.h"
#include "link/LinkLines.h"

class CKavroGyBl;

class CClientThread {
 public:
  CClientThread(CKavroGyBl& gybl, boost::asio::any_io_executor executor, int slot);

  // 1161: where the link's data and its end are delivered (message kMsgLinkData, tag = slot index).
  void SetNotify(NetClientEvents* window, int message);
  // 1160: connects to the server; the outcome is logged and sets the slot's connected flag.
  void Connect(const std::string& address, int port);
  // 1163: clears the coverage and closes the connection.
  void Stop();
  // A received block (3029): framed into lines, each parsed and acted on.
  void OnBlock(const uint8_t* data, size_t length);
  // One line of the server (with or without its CR LF).
  void OnLine(std::string_view line);

  bool IsConnected() const { return linkClient_->IsConnected() != 0; }
  int slot() const { return slot_; }
  LinkFields fields;  // the fields of the line being parsed

 private:
  void Connected(const std::string& address, int port, bool ok);

  CKavroGyBl& gybl_;
  std::shared_ptr<CKavroNetClient> linkClient_;
  LinkLineFramer lines_;
  int slot_;
};
