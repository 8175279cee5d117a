#pragma once
// Tables of the server database (PostgreSQL) and its version stamp.
#include <vector>

#include "db/AdoDb.h"

// The version the server tables are stamped with.
constexpr int kServerVersion = 20141216;

// The CREATE TABLE statements of the six server tables, in the order they are created:
// SER_Position, SER_UserDB_GL, SER_UserDB, SER_Scope, SER_RECORD, SER_LOG.
const std::vector<const char*>& ServerTableStatements();

// Reads the stored version. With a version row it queues the re-stamp and returns the stored value;
// without one (the table is missing or empty, or the query failed) it queues the creation of the
// version table with its row as one transaction and returns 0.
int CheckServerVersion(Ado_Db& db);
// The same with the version rows read beforehand.
int ApplyServerVersion(Ado_Db& db, std::vector<Ado_Row>& rows);
// Queues the six CREATE TABLE statements, each on its own; a table that exists makes its statement fail
// harmlessly. Returns 0.
int CreateServerTables(Ado_Db& db);
