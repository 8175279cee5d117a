#include "db/DamagedFile.h"

#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>

#include "core/StrFormat.h"

namespace {

// The quick check's first finding, or "" for a sound file. Only damage counts: a file that is
// locked or cannot be opened gives "" too, and its own failure shows where it is used.
std::string Damage(const std::string& path) {
  sqlite3* db = nullptr;
  std::string problem;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &statement, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
      const std::string result = text != nullptr ? text : "";
      if (result != "ok") problem = result;
      // The check's report may take several lines; the log line takes one.
      for (char& c : problem) {
        if (c == '\n') c = ' ';
      }
    } else if ((rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT) {
      problem = sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return problem;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

DamagedFile SetAsideIfDamaged(const std::string& path, const LocalTime& now) {
  DamagedFile result;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) return result;
  result.problem = Damage(path);
  if (result.problem.empty()) return result;
  result.damaged = true;
  const std::string base = path + StrFormat(".damaged-%04d%02d%02d-%02d%02d%02d", now.year, now.month,
                                            now.day, now.hour, now.minute, now.second);
  std::string kept = base;
  // An earlier damaged copy of the same second is not written over.
  for (int n = 2; Exists(kept) && n < 100; ++n) kept = base + StrFormat("-%d", n);
  if (::rename(path.c_str(), kept.c_str()) != 0) return result;
  result.keptAs = kept;
  // A journal left beside the damaged file belongs to it, not to the new one.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    if (Exists(path + suffix)) ::rename((path + suffix).c_str(), (kept + suffix).c_str());
  }
  return result;
}
