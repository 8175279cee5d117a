#include "app/HostInfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/statvfs.h>

#include <cstdio>

#include "core/StrFormat.h"

std::vector<std::string> CollectLocalAddresses() {
  constexpr size_t kMaxAddresses = 20;
  std::vector<std::string> addresses;
  std::vector<std::string> loopback;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    const uint32_t a = ntohl(in->sin_addr.s_addr);
    std::string text = StrFormat("%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
    ((it->ifa_flags & IFF_LOOPBACK) != 0 ? loopback : addresses).push_back(std::move(text));
  }
  freeifaddrs(list);
  addresses.insert(addresses.end(), loopback.begin(), loopback.end());
  if (addresses.size() > kMaxAddresses) addresses.resize(kMaxAddresses);
  return addresses;
}

uint64_t FreeDiskBytes(const std::string& path) {
  struct statvfs info {};
  if (statvfs(path.empty() ? "." : path.c_str(), &info) != 0) return 0;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

int BuildNumberFromDate(const std::string& isoDate) {
  int year = 0, month = 0, day = 0;
  if (std::sscanf(isoDate.c_str(), "%d-%d-%d", &year, &month, &day) != 3) return 0;
  return (year % 100) * 10000 + month * 100 + day;
}

std::string VersionText(int buildNumber) { return StrFormat("2.00.%06d", buildNumber); }
