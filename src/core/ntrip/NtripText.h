#pragma once
// Small text steps shared by the NTRIP request parsers.
#include <string>
#include <string_view>

// Where name first occurs in text, matched exactly or (anyCase) without regard to ASCII case; npos
// when it does not.
size_t FindText(std::string_view text, std::string_view name, bool anyCase);
// The value after a header name up to the next "\r\n", at most limit characters; empty when the
// name is absent. anyCase: the name is matched without regard to case (NTRIP 2 requests).
std::string HeaderValue(std::string_view request, std::string_view name, size_t limit, bool anyCase = false);
// The number after "Ntrip-Version: Ntrip/", or fallback when the request has none. anyCase: the
// header is matched without regard to case.
double NtripVersionOf(std::string_view request, double fallback, bool anyCase = false);
// Every occurrence of what replaced by with.
std::string ReplaceAll(std::string text, std::string_view what, std::string_view with);
// The n-th (from 0) part of text split at each separator character; empty when there are fewer.
std::string FieldAt(std::string_view text, char separator, int n);
// The n-th (from 0) word of text split at single blanks.
inline std::string WordAt(std::string_view text, int n) { return FieldAt(text, ' ', n); }
