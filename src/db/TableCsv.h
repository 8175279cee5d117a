#pragma once
// The account table and the work-area table as CSV: a header row of the table's column names (the
// back end's own, in the table's order, without the server's ID), then one row per account or work
// area in the order they were added. Import adds rows whose key (account name, work-area name) is new
// and updates the columns the file gives of rows whose key exists, all in one transaction that is
// committed only when every line is valid.
#include <string>
#include <string_view>
#include <vector>

#include "db/AccountAdmin.h"
#include "db/AdoInterface.h"

enum class CsvTable { kAccounts, kAreas };

struct CsvImportReport {
  std::vector<std::string> added;    // keys, in the order of the file
  std::vector<std::string> updated;  // keys, in the order of the file
  size_t unchanged = 0;
  std::vector<std::string> errors;  // "line N: ..."; nothing was written when there is one
  bool ok() const { return errors.empty(); }
};

// The whole table as CSV text; false with the reason in error when the database fails.
bool ExportTableCsv(Ado_InterFacce& db, AccountBackend backend, CsvTable table, std::string& csv,
                    std::string& error);

// Imports CSV text. A dry run reads and checks as the import does and writes nothing. Columns are matched
// by name without regard to case, in any order; the key column is required, others may be left out
// (a new row then gets the value a new account or work area gets). The other back end's name of the
// key is taken as the key, and columns only the other back end's table has are passed over, so that a
// file moves between back ends.
CsvImportReport ImportTableCsv(Ado_InterFacce& db, AccountBackend backend, CsvTable table,
                               std::string_view csv, bool dryRun);
