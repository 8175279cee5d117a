#include "link/KavroNetClient.h"

#include <utility>

namespace {

constexpr int kSendLimit = 8192;  // blocks of this size or more are dropped

}  // namespace

CKavroNetClient::CKavroNetClient(boost::asio::any_io_executor executor) : CNDKClient(std::move(executor)) {}

CKavroNetClient::~CKavroNetClient() {
  SetNotify(nullptr, 0, 0);
  Close();
}

void CKavroNetClient::SetNotify(NetClientEvents* window, int message, std::intptr_t param) {
  notifyWindow = window;
  notifyMessage = message;
  notifyParam = param;
}

void CKavroNetClient::SendBytes(const void* bytes, int count) {
  if (IsConnected() == 0 || count < 0 || count >= kSendLimit) return;
  SendData(static_cast<const uint8_t*>(bytes), static_cast<size_t>(count));
}

void CKavroNetClient::SendText(const std::string& text) {
  if (IsConnected() == 0 || text.size() >= kSendLimit) return;
  SendBytes(text.data(), static_cast<int>(text.size()));
}

void CKavroNetClient::MessageReceived(const NDKSCOCK::CNDKMessage& message) {
  if (notifyWindow == nullptr) return;
  notifyWindow->OnNetData(notifyMessage, message, tag != -1 ? tag : notifyParam);
}

void CKavroNetClient::ConnectionClosed(NDKSCOCK::DisconnectReason /*reason*/) {
  // The target may destroy this client: nothing may follow the call.
  if (notifyWindow != nullptr) notifyWindow->OnNetClosed(notifyParam, tag);
}
