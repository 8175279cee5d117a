#pragma once
// Raw records of client streams: each chunk appended to a file named after the client.
#include <cstdint>
#include <string>

// True when a client's name may serve as a record file name: not empty, no "/" or "\", no leading
// ".", no control characters, and not the name of one of the caster's own files in its directory.
bool RecordFileNameOk(const std::string& name);

// Appends n bytes to directory + name (directory ending in "/"), creating the file. A name that
// RecordFileNameOk refuses, a path that is not a regular file, or a file that cannot be opened is
// passed over; false then.
bool AppendRecord(const std::string& directory, const std::string& name, const uint8_t* bytes, uint32_t n);
