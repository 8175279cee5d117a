#pragma once
// UTF-8 validity of texts that come from clients.
#include <cstddef>
#include <cstdint>
#include <string_view>

// Length of the valid UTF-8 sequence at text[i] (no overlong forms, surrogates or values past
// U+10FFFF), or 0 when it is not one; the code point goes to *code when asked for.
size_t Utf8SequenceLength(std::string_view text, size_t i, uint32_t* code = nullptr);
