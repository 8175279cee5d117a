#pragma once
// Numbered user-visible texts: the built-in Chinese texts and their splitting into parts.
#include <array>
#include <string>
#include <string_view>

constexpr int kTextSlots = 40;
using TextList = std::array<std::string, kTextSlots>;

// The built-in text of a resource number, or null when there is none.
const char* BuiltinText(int number);

// Splits text at each separator into slots 0, 1, ...; after 39 separators the rest of the text,
// separators included, goes into slot 39.
void SplitText(std::string_view text, std::string_view separator, TextList& slots);
