#pragma once
// Symbol kinds of the clients drawn on the map and the colours they are drawn in.
#include <string>

struct ClientEntry;

enum MapSymbol : int {
  kSymbolBase = 0,
  kSymbolBaseGone = 1,
  kSymbolRoverFirst = 2,  // a rover's kind is its fixQuality + 2
  kSymbolCorsBase = 8,
  kSymbolNetBase = 9,
  kSymbolLinkedBase = 10,       // the linked server's base
  kSymbolLinkedBaseError = 11,  // ... while it reports an error
  kSymbolOutOfArea = 12,
  kSymbolTrail = 13,  // a past rover position
};

inline constexpr int kRoverColour = 255;  // 0x00BBGGRR: red

// fixQuality + 2, or 12 for a rover outside its work area.
int RoverSymbol(const ClientEntry& entry);
// 0; 8 when the agent begins "CORS"; 9 when it begins "KavroNet". Agents shorter than 8 characters
// are not compared.
int BaseSymbol(const std::string& agent);
