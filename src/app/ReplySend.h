#pragma once
// Sends a composed reply the way the send primitive expects it: copied into the entry's outBuffer
// when it fits there, otherwise whole as one shared chunk, never cut.
#include <cstdint>
#include <string>

class CKavroGyBl;

// Sends the text to the socket's connection; nothing when the socket has no entry.
void SendComposed(CKavroGyBl& gybl, uint32_t socket, const std::string& text);
