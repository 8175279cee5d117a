#pragma once
// A mountpoint announced by the upstream server over a server link.
#include <cstdint>
#include <string>

class CMount {
 public:
  virtual ~CMount() = default;

  std::string description;  // format details for the sourcetable row ("_" already turned into ",")
  std::string name = "USE DeFine";
  int32_t formatIndex = 1;  // 0 RTCM 2.3, 1 RTCM 3.2, 2 CMR
  int32_t flagA = 1;
  int32_t flagB = 1;
};
