#pragma once
// The client of every outgoing connection the caster opens: a rover's connection to an upstream
// caster or network server (the entry's netClient) and a server link's connection (linkClient). It
// turns the notifications of the message socket into calls on a registered target, the main frame.
#include <cstdint>
#include <string>

#include "link/NdkClient.h"

// What the main frame receives from an outgoing connection (messages 3028, 3029 and 3030).
class NetClientEvents {
 public:
  virtual ~NetClientEvents() = default;
  // A block received. `message` is the number registered with SetNotify (kMsgRoverData for a rover,
  // kMsgLinkData for a link); `param` is the client's tag when it is set, else its notifyParam.
  virtual void OnNetData(int message, const NDKSCOCK::CNDKMessage& block, std::intptr_t param) = 0;
  // The connection ended (kMsgOutgoingClosed): the registered parameter and the tag. The target may
  // destroy the client inside this call.
  virtual void OnNetClosed(std::intptr_t param, int32_t tag) = 0;
};

class CKavroNetClient : public NDKSCOCK::CNDKClient {
 public:
  explicit CKavroNetClient(boost::asio::any_io_executor executor);
  // Closes without notifying: whoever destroys the client knows the connection ends with it.
  ~CKavroNetClient() override;

  // Registers the target of the notifications; a null target turns them off.
  void SetNotify(NetClientEvents* window, int message, std::intptr_t param);
  // Sends count bytes as one block when connected and count is below 8192; otherwise drops them.
  void SendBytes(const void* bytes, int count);
  void SendText(const std::string& text);

  NetClientEvents* notifyWindow = nullptr;
  int notifyMessage = 0;
  int32_t tag = -1;  // a server link's slot index; -1 when unset
  // Registered parameter: a rover's client carries the rover's socket, a link's client 0.
  std::intptr_t notifyParam = 0;

 protected:
  void MessageReceived(const NDKSCOCK::CNDKMessage& message) override;
  void ConnectionClosed(NDKSCOCK::DisconnectReason reason) override;
};
