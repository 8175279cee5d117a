#pragma once
// Message numbers, socket events, log colours and close reasons shared by every subsystem.
#include <cstdint>

// Window-message numbers of the main frame, kept so the code reads beside the protocol tables.
enum MessageId : int {
  kMsgSocketEvent = 1124,
  kMsgDebugConsole = 1225,
  kMsgSendText = 1226,
  kMsgTree = 1525,
  kMsgLog = 1526,
  kMsgGrid = 1527,
  kMsgSettingsForm = 1528,
  kMsgMap = 1529,
  kMsgStatistics = 1531,
  kMsgStation = 1532,
  kMsgRoverData = 3028,
  kMsgLinkData = 3029,
  kMsgOutgoingClosed = 3030,
};

// Socket events of the socket-event handler.
enum SocketEvent : uint32_t {
  kFdRead = 1,
  kFdWrite = 2,
  kFdAccept = 8,
  kFdClose = 32,
};

// Colour of an output-log line; kLogFileOnly writes the daily file only.
enum LogLevel : int {
  kLogNormal = 0,
  kLogFileOnly = 1,
  kLogRed = 255,
  kLogBlue = 16711680,
};

// Why a connection was closed; printed in braces in the close log line.
enum class CloseReason : int {
  kReadFailed = 1,
  kRefused = 2,
  kLinkRequest = 3,
  kSendFailed = 4,
  kPeerClosed = 5,
  kNoEntry = 6,
  kServiceStop = 7,
  kIdle = 8,
  kNoGga = 9,
  kBaseSilent = 10,
  kSendErrors = 11,
};

// Codes of the grid (1527), tree (1525) and map (1529) notifications used by the connection core.
enum GridCode : int { kGridAdded = 0, kGridRemoved = 4, kGridCounters = 5 };
enum TreeCode : int {
  kTreeEntryClosing = 4,
  kTreeServiceStopped = 9,
  kTreeServiceStarted = 10,
  kTreeUpstreamCleared = 14,   // the upstream mountpoint list was emptied
  kTreeUpstreamComplete = 15,  // the upstream mountpoint list is complete (MOUNTEND)
};
enum MapCode : int {
  kMapRoverPosition = 0,
  kMapEntryClosed = 7,
  kMapUpstreamStatus = 11,  // the upstream server's status (BASE or LINE) changed
  kMapServiceStopped = 12,  // also: a server link failed to connect
  kMapLocate = 13,          // select and show a client on the map
};
constexpr int kMapLinkFailed = kMapServiceStopped;
