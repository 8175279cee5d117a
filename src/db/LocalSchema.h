#pragma once
// Tables of the local database files: the user database (accounts, work areas, records) and the
// map-set file (map layers), and the columns that newer versions added to the user database.
#include <string>
#include <vector>

#include "db/AdoInterface.h"

// A column added to the user database after its first version; type is a code of AddColumnStatement.
struct AddedColumn {
  const char* table;
  const char* column;
  int type;
};

// The added columns, in the order the upgrade adds them.
const std::vector<AddedColumn>& AddedColumns();

// "ALTER TABLE ... ADD COLUMN" for a type code: 0 integer, 1 text of up to 100, 2 text of up to 200,
// 3 double. Empty for an unknown code.
std::string AddColumnStatement(const std::string& table, const std::string& column, int type);

// Creates the tables (with every column, the added ones included) and the index on UserUser that the
// user database lacks; tables it has are left as they are. 1 when every statement succeeded.
int CreateLocalTables(Ado_InterFacce& db);
// Creates the LayerSet and MapData tables that the map-set file lacks.
int CreateMapSetTables(Ado_InterFacce& db);
