#pragma once
// One mountpoint announced by the upstream network server (a "MOUNT" record of server link 0).
// Its name is reserved for sources and it is offered in the sourcetable.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CMount {
 public:
  virtual ~CMount() = default;

  std::string description;  // format details of the sourcetable row ("_" already turned into ",")
  std::string name = "USE DeFine";
  int32_t formatIndex = 1;  // 0 RTCM 2.3, 1 RTCM 3.2, 2 CMR
  int32_t mountFlagA = 1;
  int32_t mountFlagB = 1;
};

// The upstream mountpoint list, in the order the server announced it.
using MountList = std::vector<std::unique_ptr<CMount>>;
