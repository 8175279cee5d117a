#include "link/ClientThread.h"

#include <algorithm>
#include <cstdlib>

#include "app/KavroGyBl.h"
#include "core/StrFormat.h"

namespace {

constexpr double kDegreesPerRadian = 180.0 / 3.141592653589793;
// Data versions up to this one come from servers that round positions differently.
constexpr int kLastOldDataVersion = 140817;
// The mountpoint names of the MOUNTEND line stop being added at this length.
constexpr size_t kMountListText = 800;

double Number(const std::string& field) { return std::atof(field.c_str()); }

}  // namespace

CClientThread::CClientThread(CKavroGyBl& gybl, boost::asio::any_io_executor executor, int slot)
    : gybl_(gybl), linkClient_(std::make_shared<CKavroNetClient>(std::move(executor))), slot_(slot) {
  linkClient_->tag = slot;
}

void CClientThread::SetNotify(NetClientEvents* window, int message) { linkClient_->SetNotify(window, message, 0); }

void CClientThread::Connect(const std::string& address, int port) {
  gybl_.linkSlots[static_cast<size_t>(slot_)].coverage = {};
  lines_.Clear();
  // The client outlives a pending attempt only as long as this slot does.
  std::weak_ptr<CKavroNetClient> client = linkClient_;
  linkClient_->Connect(address, port, [this, client, address, port](int connected) {
    if (client.lock()) Connected(address, port, connected == 1);
  });
}

void CClientThread::Connected(const std::string& address, int port, bool ok) {
  LinkSlotState& state = gybl_.linkSlots[static_cast<size_t>(slot_)];
  if (!ok) {
    gybl_.Log(StrFormat("QVO Link Fail [%s] [%d]", address.c_str(), port), kLogRed);
    state.connected = 0;
    gybl_.monitor().OnMap(kMapLinkFailed, nullptr);
    return;
  }
  gybl_.Log(StrFormat("QVO Link Ok [%s] [%d]", address.c_str(), port), kLogNormal);
  if (slot_ == 0) {
    gybl_.mounts.clear();
    gybl_.monitor().OnTree(kTreeUpstreamCleared, nullptr, 0);
  }
  linkClient_->SendText(LinkAnnouncement(gybl_.buildNumber, slot_, gybl_.settings.masterSlave));
  state.connected = 1;
}

void CClientThread::Stop() {
  gybl_.linkSlots[static_cast<size_t>(slot_)].coverage = {};
  linkClient_->Close();
}

void CClientThread::OnBlock(const uint8_t* data, size_t length) {
  for (const std::string& line : lines_.Feed(std::string_view(reinterpret_cast<const char*>(data), length))) {
    OnLine(line);
  }
}

void CClientThread::OnLine(std::string_view line) {
  fields = ParseLinkFields(line);
  const std::string& record = fields[1];
  UpstreamStatus& status = gybl_.upstreamStatus;
  if (record == "BASE") {
    status.mode = 0;
    status.firstName = fields[2];
    status.firstLatitude = Number(fields[3]) * kDegreesPerRadian;
    status.firstLongitude = Number(fields[4]) * kDegreesPerRadian;
    status.error = fields[5] != "OK";
    gybl_.monitor().OnMap(kMapUpstreamStatus, nullptr);
  } else if (record == "LINE") {
    status.mode = 1;
    status.firstName = fields[2];
    status.firstLatitude = Number(fields[3]) * kDegreesPerRadian;
    status.firstLongitude = Number(fields[4]) * kDegreesPerRadian;
    status.secondName = fields[5];
    status.secondLatitude = Number(fields[6]) * kDegreesPerRadian;
    status.secondLongitude = Number(fields[7]) * kDegreesPerRadian;
    status.error = fields[8] != "OK";
    gybl_.monitor().OnMap(kMapUpstreamStatus, nullptr);
  } else if (record == "MOUNT") {
    if (slot_ != 0) return;
    auto mount = std::make_unique<CMount>();
    mount->name = fields[2];
    mount->formatIndex = std::atoi(fields[3].c_str());
    mount->description = fields[4];
    std::replace(mount->description.begin(), mount->description.end(), '_', ',');
    gybl_.mounts.push_back(std::move(mount));
  } else if (record == "MOUNTEND") {
    if (slot_ != 0) return;
    gybl_.upstreamServerName = fields[2];
    gybl_.upstreamSecondText = fields[3];
    // Composed, not formatted: the names come from the server.
    std::string text = fields[2] + " Mount[";
    for (const auto& mount : gybl_.mounts) {
      if (text.size() >= kMountListText) break;
      text += mount->name + ",";
    }
    text += "]";
    gybl_.Log(text, kLogNormal);
    gybl_.monitor().OnTree(kTreeUpstreamComplete, nullptr, 0);
  } else if (record == "RANGE") {
    gybl_.linkSlots[static_cast<size_t>(slot_)].coverage = {Number(fields[2]), Number(fields[3]),
                                                           Number(fields[4]), Number(fields[5])};
    if (std::atoi(fields[6].c_str()) <= kLastOldDataVersion) {
      gybl_.Log(StrFormat("QVO Net %s Version of the Data not uniform", fields[6].c_str()), kLogRed);
    }
  }
}
