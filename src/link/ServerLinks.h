#pragma once
// The sixteen server link slots: their connects on the tick's schedule, their received blocks (3029)
// and their ends (3030, with the slot index), and the service stop.
#include <array>
#include <boost/asio/any_io_executor.hpp>
#include <memory>

#include "link/ClientThread.h"

class CKavroGyBl;

class ServerLinks : public NetClientEvents {
 public:
  static constexpr int kSlots = 16;

  ServerLinks(CKavroGyBl& gybl, boost::asio::any_io_executor executor);
  ~ServerLinks() override;

  // Service start: the reconnect counters at 20, so that the next tick tries slot 0 at once.
  void Arm();
  // The tick's reconnect of a slot: 1161 (this object, 3029) then 1160 with the slot's address and port.
  void Connect(int slot);
  // Service stop: 1163 to every slot.
  void StopAll();
  // Whether a slot's connection exists now.
  bool Connected(int slot) const;
  // Forgets the upstream server's mountpoints and name.
  void ResetUpstreamMounts();
  CClientThread& thread(int slot) { return *threads_[static_cast<size_t>(slot)]; }

  void OnNetData(int message, const NDKSCOCK::CNDKMessage& block, std::intptr_t param) override;
  // A link's connection ended: its slot is down; with no other slot connected the upstream
  // mountpoints go and "QVO Link Close" is logged.
  void OnNetClosed(std::intptr_t param, int32_t tag) override;

 private:
  CKavroGyBl& gybl_;
  std::array<std::unique_ptr<CClientThread>, kSlots> threads_;
};
