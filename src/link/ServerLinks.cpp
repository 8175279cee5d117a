#include "link/ServerLinks.h"

#include "app/KavroGyBl.h"
#include "core/Relay.h"

namespace {

constexpr int kArmedRetryTicks = 20;

}  // namespace

ServerLinks::ServerLinks(CKavroGyBl& gybl, boost::asio::any_io_executor executor) : gybl_(gybl) {
  for (int i = 0; i < kSlots; ++i) threads_[static_cast<size_t>(i)] = std::make_unique<CClientThread>(gybl, executor, i);
}

ServerLinks::~ServerLinks() {
  // Closing while the shared state still exists, without notifications into a half-destroyed owner.
  for (auto& thread : threads_) thread->SetNotify(nullptr, 0);
}

void ServerLinks::Arm() {
  for (LinkSlotState& slot : gybl_.linkSlots) slot.retryTicks = kArmedRetryTicks;
}

void ServerLinks::Connect(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  const LinkSlot& settings = gybl_.settings.links[static_cast<size_t>(slot)];
  CClientThread& link = thread(slot);
  link.SetNotify(this, kMsgLinkData);
  link.Connect(settings.address, settings.port);
}

void ServerLinks::StopAll() {
  for (auto& thread : threads_) thread->Stop();
}

bool ServerLinks::Connected(int slot) const {
  return slot >= 0 && slot < kSlots && threads_[static_cast<size_t>(slot)]->IsConnected();
}

void ServerLinks::ResetUpstreamMounts() {
  gybl_.mounts.clear();
  gybl_.upstreamServerName.clear();
  gybl_.upstreamSecondText.clear();
  gybl_.monitor().OnTree(kTreeUpstreamCleared, nullptr, 0);
}

void ServerLinks::OnNetData(int message, const NDKSCOCK::CNDKMessage& block, std::intptr_t param) {
  if (message != kMsgLinkData || param < 0 || param >= kSlots) return;
  thread(static_cast<int>(param)).OnBlock(block.Data(), static_cast<size_t>(block.Length()));
}

void ServerLinks::OnNetClosed(std::intptr_t /*param*/, int32_t tag) {
  if (tag < 0 || tag >= kSlots) return;
  LinkSlotState& slot = gybl_.linkSlots[static_cast<size_t>(tag)];
  slot.connected = 0;
  OutgoingClosed(gybl_, 0);
}
