#include "app/KavroGyBl.h"

#include <arpa/inet.h>

#include <algorithm>
#include <utility>

#include "core/Messages.h"
#include "core/StrFormat.h"
#include "link/KavroNetClient.h"

namespace {

constexpr int kTextConnection = 62453;  // client, connect, close

// The entry's outgoing connection ends with the entry. It is closed without the closed notification,
// which would only ask to close this same entry again.
void EndNetClient(std::shared_ptr<CKavroNetClient>& client) {
  if (!client) return;
  client->SetNotify(nullptr, 0, 0);
  client->Close();
  client.reset();
}

}  // namespace

std::string AddressText(const sockaddr_in& address) {
  const uint32_t a = ntohl(address.sin_addr.s_addr);
  return StrFormat("%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

std::string PeerAddressText(const ClientEntry& entry) {
  return entry.peerText.empty() ? AddressText(entry.peerAddress) : entry.peerText;
}

CKavroGyBl::CKavroGyBl(Settings s, const Clock& clock, MonitorEvents& monitor, ServiceSteps& steps)
    : settings(std::move(s)), clock_(clock), monitor_(monitor), steps_(steps) {}

LanguageTable& CKavroGyBl::Language() {
  languageTable_.Configure(settings.language, settings.languageSet, languageFile);
  return languageTable_;
}

int CKavroGyBl::LoadTexts(int number) {
  Language().LoadTexts(number, textList);
  return 1;
}

void CKavroGyBl::exportTexts() { Language().ExportTexts(); }

DialogTexts CKavroGyBl::applyLanguageToDialog(int dialogNumber, DialogTexts dialog) {
  return Language().ApplyToDialog(dialogNumber, std::move(dialog));
}

void CKavroGyBl::Log(const std::string& text, int level, const std::string& name) {
  logRecord.name = name;
  logRecord.text = text;
  logRecord.level = level;
  monitor_.OnLogLine(logRecord);
}

void CKavroGyBl::SendStatistics() {
  statistics.usersOnline = clientCount;
  monitor_.OnStatistics(statistics);
}

void CKavroGyBl::Send(uint32_t socket, const void* bytes, uint32_t n, const SharedChunk& shared) {
  ClientEntry* entry = FindClient(clientTable, socket);
  if (entry == nullptr || sockets_ == nullptr) return;
  entry->sendData = static_cast<const uint8_t*>(bytes);
  entry->sendLength = n;
  entry->sendChunk = shared;
  sockets_->OnSocketEvent(socket, kFdWrite);
}

int CKavroGyBl::SendText(uint32_t socket, std::string_view text) {
  ClientEntry* entry = FindClient(clientTable, socket);
  if (entry == nullptr) return 0;
  const auto length = static_cast<uint32_t>(text.size());
  // The send primitive copies what the kernel does not take at once, so the text is handed over as
  // it is; a long one goes whole as one shared chunk, never cut.
  if (text.size() < kOutBufferSize) {
    Send(socket, text.data(), length);
    return 1;
  }
  const SharedChunk chunk = MakeChunk(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  Send(socket, chunk->data(), length, chunk);
  return 1;
}

void CKavroGyBl::SetClientType(ClientEntry& entry, const std::string& type) {
  entry.clientType = type;
  if (type == "BASE") bases.insert(entry.socket);
}

void CKavroGyBl::SetUserName(ClientEntry& entry, std::string name) {
  if (name == entry.userName) return;
  if (!entry.userName.empty()) {
    auto [first, last] = names.equal_range(entry.userName);
    for (auto it = first; it != last; ++it) {
      if (it->second == entry.socket) {
        names.erase(it);
        break;
      }
    }
  }
  entry.userName = std::move(name);
  if (!entry.userName.empty()) names.emplace(entry.userName, entry.socket);
}

ClientEntry* CKavroGyBl::FindNamed(const std::string& name, uint32_t except,
                                   const std::function<bool(const ClientEntry&)>& accept) {
  ClientEntry* found = nullptr;
  auto [first, last] = names.equal_range(name);
  for (auto it = first; it != last; ++it) {
    if (it->second == except || (found != nullptr && found->socket < it->second)) continue;
    ClientEntry* entry = FindClient(clientTable, it->second);
    if (entry == nullptr || entry->userName != name || (accept && !accept(*entry))) continue;
    found = entry;
  }
  return found;
}

int CKavroGyBl::Accept(uint32_t socket, const sockaddr_in& peer, const std::string& peerText) {
  if (clientTable.count(socket) == 1) return 0;
  ClientEntry entry;
  entry.socket = socket;
  entry.peerAddress = peer;
  entry.peerText = peerText;
  entry.connectTime = clock_.Now();
  // The buffers take storage only when input arrives, and give it back when they empty.
  entry.deviceBuffer = std::make_unique<CBuffer>();
  entry.sourceBuffer = std::make_unique<CBuffer>();
  entry.getBuffer = std::make_unique<CBuffer>();
  entry.streamBuffer = std::make_unique<CBuffer>();
  entry.classifyState = kClassifyUndecided;
  entry.ipLocation = steps_.LocateAddress(peer);
  ClientEntry& added = clientTable.emplace(socket, std::move(entry)).first->second;
  clientCount = static_cast<int>(clientTable.size());
  monitor_.OnGrid(kGridAdded, added);
  SendStatistics();
  return 1;
}

void CKavroGyBl::CloseEvent(uint32_t socket) { Close(socket, CloseReason::kPeerClosed); }

void CKavroGyBl::InsertTestBase() {
  sockaddr_in nowhere{};
  nowhere.sin_family = AF_INET;
  if (Accept(kTestBaseSocket, nowhere) == 0) return;
  ClientEntry& entry = clientTable.at(kTestBaseSocket);
  SetUserName(entry, kTestBaseName);
  SetClientType(entry, "BASE");
  monitor_.OnGrid(kGridCounters, entry);
}

int CKavroGyBl::Close(uint32_t socket, CloseReason reason) {
  if (socket != 0 && sockets_ != nullptr) sockets_->CloseSocket(socket);
  auto it = clientTable.find(socket);
  if (it != clientTable.end()) {
    it->second.disconnectTime = clock_.Now();
    steps_.RecordConnection(it->second);
    EndNetClient(it->second.netClient);
  }
  if (it == clientTable.end()) {
    for (auto& [key, other] : clientTable) other.links.erase(socket);
    return 0;
  }
  // Links are kept on both sides: only the entries this one names can name it.
  for (const auto& [key, name] : it->second.links) {
    if (ClientEntry* other = FindClient(clientTable, key)) other->links.erase(socket);
  }

  ClientEntry& entry = it->second;
  const int code = static_cast<int>(reason);
  monitor_.OnGrid(kGridRemoved, entry);
  monitor_.OnTree(kTreeEntryClosing, &entry, 0);
  if (reason != CloseReason::kLinkRequest) monitor_.OnMap(kMapEntryClosed, &entry);

  LoadTexts(kTextConnection);
  const int entries = static_cast<int>(clientTable.size());
  const std::string address = PeerAddressText(entry);
  if (reason == CloseReason::kRefused) {
    Log(StrFormat("[%4d]%s[%-16s(%4d)][%s][%s][%s][%s] %s %s %s {%d}", static_cast<int>(socket),
                  textList[0].c_str(), entry.userName.c_str(), entries, entry.clientType.c_str(),
                  entry.agent.c_str(), entry.accountUnit.c_str(), entry.accountContact.c_str(),
                  textList[2].c_str(), address.c_str(), entry.ipLocation.c_str(), code),
        kLogRed, entry.userName);
  } else {
    const int level = (code >= 5 && !entry.userName.empty()) ? kLogNormal : kLogRed;
    Log(StrFormat("[%4d]%s[%-16s(%4d)][%s][%s] %s %s %s {%d}", static_cast<int>(socket), textList[0].c_str(),
                  entry.userName.c_str(), entries, entry.accountUnit.c_str(), entry.accountContact.c_str(),
                  textList[2].c_str(), address.c_str(), entry.ipLocation.c_str(), code),
        level, entry.userName);
  }

  entry.links.clear();
  bases.erase(socket);
  SetUserName(entry, std::string());
  clientTable.erase(it);
  clientCount = static_cast<int>(clientTable.size());
  SendStatistics();
  return 1;
}

void CKavroGyBl::CloseAll() {
  if (sockets_ != nullptr) {
    for (const auto& [key, entry] : clientTable) {
      if (key != 0) sockets_->CloseSocket(key);
    }
  }
  for (auto& [key, entry] : clientTable) {
    monitor_.OnGrid(kGridRemoved, entry);
    monitor_.OnTree(kTreeEntryClosing, &entry, 0);
    monitor_.OnMap(kMapEntryClosed, &entry);
    if (!entry.userName.empty()) {
      LoadTexts(kTextConnection);
      Log(StrFormat("%s %s %s {%d}", textList[0].c_str(), entry.userName.c_str(), textList[2].c_str(),
                    static_cast<int>(CloseReason::kServiceStop)),
          kLogNormal, entry.userName);
    }
    entry.disconnectTime = clock_.Now();
    steps_.RecordConnection(entry);
    EndNetClient(entry.netClient);
  }
  clientTable.clear();
  bases.clear();
  names.clear();
  clientCount = 0;
}
