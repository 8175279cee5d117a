#pragma once
// Dates, times, texts and labels as the account operations and the activity records write them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/LocalTime.h"
#include "db/AdoRow.h"

// The date as year * 10000 + month * 100 + day (20141216).
int DateNumber(const LocalTime& time);
// Whole seconds from one local time to a later one (negative when it is earlier).
int64_t SecondsBetween(const LocalTime& from, const LocalTime& to);
// "%04d/%02d/%02d_%02d:%02d:%02d": the time of a position or event record.
std::string RecordTime(const LocalTime& time);
// The text cut to at most maxBytes bytes. A cut never splits a UTF-8 character, so that a cut name stays
// valid text for the server database.
std::string CutText(const std::string& text, size_t maxBytes);
// A text field of the local file whole, blanks included; NULL gives the empty text.
std::string WholeText(const Ado_Value& value);
// The BASEMODE name of a data format or service mode; empty outside the table.
const char* BaseModeName(int dataFormat);
// The labels of the services a USERLX mask does not deny, in the order 0x200 down to 0x001; the server
// and the local file name the RTCM 3 services differently.
std::string ServiceLabels(int deniedMask, bool server);
