#pragma once
// Appending to the caster's own files (log, GGA, raw records) whole or not at all.
#include <cstddef>

// Appends n bytes to fd, opened with O_APPEND. A write cut short (a full disk) is taken back, so that
// the file keeps only whole lines or chunks and the next append after space returns starts cleanly.
// False when the bytes could not all be written.
bool AppendWhole(int fd, const void* bytes, size_t n);
