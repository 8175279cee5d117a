#include "ui/map/MapSymbols.h"

#include "core/ClientEntry.h"

int RoverSymbol(const ClientEntry& entry) {
  if (entry.roveFlagA == 1) return kSymbolOutOfArea;
  return entry.fixQuality + kSymbolRoverFirst;
}

int BaseSymbol(const std::string& agent) {
  if (agent.size() < 8) return kSymbolBase;
  if (agent.starts_with("KavroNet")) return kSymbolNetBase;
  if (agent.starts_with("CORS")) return kSymbolCorsBase;
  return kSymbolBase;
}
