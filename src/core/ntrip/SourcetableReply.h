#pragma once
// The sourcetable answers of the GET and SOURCE handlers, composed from the shared state and sent
// with the send primitive.
#include <cstdint>
#include <string>

class CKavroGyBl;

// Sends the sourcetable to the connection, with the base rows limited to the window (a bound of 0
// is no bound); nothing when the socket has no entry.
void Sourcetable(CKavroGyBl& gybl, uint32_t socket, double minLat, double maxLat, double minLon,
                 double maxLon);
// Sends the sourcetable for a "/?..." path: the window of a "/?filter=" path, none otherwise.
void FilteredSourcetable(CKavroGyBl& gybl, const std::string& path, uint32_t socket);
