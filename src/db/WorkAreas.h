#pragma once
// Work areas: named latitude/longitude rectangles with a seven-parameter set, listed, read, added,
// changed and deleted on the server database or the local file, and the lookup of a user's work area
// at login. The names are listed in CKavroGyBl::workAreaList, whose first entry is the default area.
#include <array>
#include <string>

#include "core/ClientEntry.h"

class CKavroGyBl;
class KavroDatabase;
class QueryRecorder;

// The four corners in the order B1, B2, L1, L2 (the order of ClientEntry::areaBounds).
using AreaBounds = std::array<double, 4>;

class WorkAreas {
 public:
  // Longest work-area name, in bytes.
  static constexpr size_t kNameBytes = 250;
  // The query of the server's work-area names, read ahead when the server database opens.
  static constexpr const char* kServerNamesQuery = "select Name from SER_Scope order by ID";
  // The server queries of a user's work area, run on the query worker ahead of LookupUserArea.
  static void FetchUserArea(QueryRecorder& recorder, const std::string& user);

  WorkAreas(CKavroGyBl& gybl, KavroDatabase& database) : gybl_(gybl), database_(database) {}

  // The name at a position of the table (callers start with index 0); 1 and the index advanced past it,
  // 0 at the end. The local file passes over rows without a name.
  int NextWorkAreaName(std::string& text, int& index);
  // Reads a work area. The parameters are cleared first; 1 found, 0 not.
  int GetWorkArea(const std::string& name, AreaBounds& bounds, AreaParameters& parameters);
  // Adds a work area with a zero rectangle and appends it to the list; a name that exists gives the red
  // line and notice "Repeat Name". 1 added, 0 not.
  int AddWorkArea(const std::string& name);
  // Changes an existing work area; 1 saved, 0 not (it never creates one).
  int SaveWorkArea(const std::string& name, const AreaBounds& bounds, const AreaParameters& parameters);
  // Deletes a work area that no account uses and takes it off the list; 1 deleted, 0 refused or failed.
  int DeleteWorkArea(const std::string& name);
  // Fills the work area of a user's account: bounds -1.0 when there is no account, 0.0 before the area
  // is read. The local file falls back on the default area. 1 when the account was found (and, locally,
  // names a work area).
  int LookupUserArea(const std::string& user, AreaBounds& bounds, AreaParameters& parameters,
                     std::string& areaName);
  // Fills workAreaList from the database in use. While the server database is in use but not yet open,
  // the list is left as it is: it is loaded when the server opens.
  void LoadWorkAreas();

 private:
  int RepeatName();

  CKavroGyBl& gybl_;
  KavroDatabase& database_;
};
