#include "reports/StatusPage.h"

#include <array>
#include <fstream>
#include <string_view>
#include <utility>

#include "app/KavroGyBl.h"
#include "core/StrFormat.h"

namespace {

constexpr const char* kTemplatePath = "ServerWeb/Templet_Ex.htm";
constexpr const char* kNotOnline = "不在线";

}  // namespace

std::string ReadStatusTemplate(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string page;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    page += line;
  }
  return page;
}

UserStatus UserConnectionStatus(const ClientTable& table, const std::string& userName) {
  UserStatus result;
  bool found = false;
  for (const auto& [socket, entry] : table) {
    if (entry.userName != userName) continue;
    found = true;
    result.status += entry.statusText + " ";
    for (const auto& [linked, name] : entry.links) result.online += userName + "[" + name + "] ";
  }
  if (!found) result.status = kNotOnline;
  return result;
}

std::string EscapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string FillStatusPage(const std::string& page, const LocalTime& today, const std::string& userName,
                           const AccountValues& account, const UserStatus& status) {
  const std::array<std::pair<std::string_view, std::string>, 11> values = {{
      {"$NowTime$", StrFormat("%04d-%02d-%02d", today.year, today.month, today.day)},
      {"$GetUserName$", EscapeHtml(userName)},
      {"$GetLimitime$", EscapeHtml(account.validity)},
      {"$GetMonutpoint$", EscapeHtml(account.services)},
      {"$GetTimeRemainint$", EscapeHtml(account.allowance)},
      {"$GetLinkMan$", EscapeHtml(account.contact)},
      {"$GetTelphone$", EscapeHtml(account.telephone)},
      {"$GetCompany$", EscapeHtml(account.company)},
      {"$OnlineTime$", EscapeHtml(account.usedTime)},
      {"$GetStatus$", EscapeHtml(status.status)},
      {"$GetOnlineStatus$", EscapeHtml(status.online)},
  }};
  const std::string_view text(page);
  std::string out;
  out.reserve(page.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t mark = text.find('$', pos);
    if (mark == std::string_view::npos) break;
    out.append(text, pos, mark - pos);
    pos = mark;
    bool replaced = false;
    for (const auto& [placeholder, value] : values) {
      if (text.substr(pos).starts_with(placeholder)) {
        out += value;
        pos += placeholder.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[pos++];
  }
  if (pos < text.size()) out.append(text, pos);
  return out;
}

void SendStatusPage(CKavroGyBl& gybl, uint32_t socket, const std::string& userName,
                    const AccountValues& account) {
  const std::string page = ReadStatusTemplate(gybl.programDirectory + kTemplatePath);
  const UserStatus status = UserConnectionStatus(gybl.clientTable, userName);
  gybl.SendText(socket, FillStatusPage(page, gybl.clock().Now(), userName, account, status));
}
