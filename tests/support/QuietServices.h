#pragma once
// NTRIP services that do nothing, for tests of handlers that never reach them.
#include <cstdint>
#include <functional>
#include <string>

#include "core/ntrip/NtripServices.h"

namespace testsupport {

class QuietServices : public NtripServices {
 public:
  void Sourcetable(uint32_t, double, double, double, double) override {}
  void FilteredSourcetable(const std::string&, uint32_t) override {}
  void StatusPage(const std::string&, const std::string&, uint32_t) override {}
  void ConnectUpstream(uint32_t, std::function<void(bool)>) override {}
  void SendUpstream(uint32_t, const std::string&) override {}
};

}  // namespace testsupport
