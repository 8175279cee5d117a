#pragma once
// Small text steps shared by the NTRIP request parsers.
#include <string>
#include <string_view>

// The value after a header name up to the next "\r\n", at most limit characters; empty when the
// name is absent.
std::string HeaderValue(std::string_view request, std::string_view name, size_t limit);
// The number after "Ntrip-Version: Ntrip/", or fallback when the request has none.
double NtripVersionOf(std::string_view request, double fallback);
// Every occurrence of what replaced by with.
std::string ReplaceAll(std::string text, std::string_view what, std::string_view with);
// The n-th (from 0) part of text split at each separator character; empty when there are fewer.
std::string FieldAt(std::string_view text, char separator, int n);
// The n-th (from 0) word of text split at single blanks.
inline std::string WordAt(std::string_view text, int n) { return FieldAt(text, ' ', n); }
