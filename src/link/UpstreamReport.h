#pragma once
// The upstream report of the one-second tick (every 31 ticks): the fix rate of all rovers and the
// number of bases for the statistics, and status lines for the devices of the upstream network.
class CKavroGyBl;

// Stores the fix rate and base count in statistics (fixRate, basesOnline) and sends each device of the
// upstream network its status line through the send primitive.
void UpstreamReport(CKavroGyBl& gybl);
