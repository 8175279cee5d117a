#pragma once
// The daily KML file of rover positions: KML/YYYYMMDD.kml under the program directory, one placemark
// per accepted position, inserted in front of the file's two closing lines.
#include <string>

#include "core/LocalTime.h"

// The two closing lines "</Folder>\n" and "</kml>\n".
constexpr long kKmlClosingBytes = 17;

// "%4d%02d%02d.kml" of a date.
std::string KmlFileName(const LocalTime& date);

// Adds one point to the file of now's date in kmlDirectory (ending in "/"), creating the file with
// its skeleton when it cannot be opened. Returns 1 when the point was written, 0 when the file could
// neither be opened nor created or a write or the close failed; a failed point is taken back out
// of the file.
int AddKmlPoint(const std::string& kmlDirectory, const LocalTime& now, const std::string& userName,
                double latitude, double longitude, double height);

// A client's text as XML character data: markup characters escaped, control characters and bytes
// that are not UTF-8 replaced by "?".
std::string XmlText(const std::string& text);
