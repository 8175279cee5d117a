#pragma once
// Raw records of client streams: each chunk appended to a file named after the client.
#include <cstdint>
#include <string>

// True when a client's name may serve as a record file name: not empty, no "/" or "\", no leading
// ".", no control characters, and not the name of one of the caster's own files in its directory.
bool RecordFileNameOk(const std::string& name);

// What became of one chunk of a record file.
enum class RecordWrite {
  kWritten,
  kPassedOver,  // the name is refused, or the path is a link or not a regular file
  kFailed,      // the file could not be created, or a write or the close failed
};

// Appends n bytes to directory + name (directory ending in "/"), creating the file.
RecordWrite AppendRecord(const std::string& directory, const std::string& name, const uint8_t* bytes,
                         uint32_t n);
