#pragma once
// A local database file that is damaged (no database at all, cut short, pages overwritten) is moved
// aside at start, so that the caster begins on a new file instead of failing every login and record;
// the damaged file is kept beside it for the operator to recover from.
#include <string>

#include "core/LocalTime.h"

struct DamagedFile {
  bool damaged = false;
  std::string problem;  // what SQLite found
  std::string keptAs;   // the path it was moved to; empty when it could not be moved
};

// Checks the database file at path (a missing or empty file is a new database, not a damaged one);
// a damaged one is renamed, with its journal files, to path + ".damaged-YYYYMMDD-HHMMSS".
// A file that is only busy or unreadable is left where it is.
DamagedFile SetAsideIfDamaged(const std::string& path, const LocalTime& now);
