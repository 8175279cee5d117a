#pragma once
// Base64 with a chosen symbol order: the standard one for HTTP Basic credentials, a permuted one
// for the coded receiver field of agent texts.
#include <string>
#include <string_view>

inline constexpr std::string_view kBase64Symbols =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decodes text with the 64 symbols of alphabet. Groups of four symbols give three bytes; "=" as the
// third symbol of a group ends the output after its first byte, as the fourth after its second.
// A final group of one to three symbols gives its whole bytes (6 bits per symbol, the low bits that
// do not fill a byte dropped). Characters that are not symbols are passed over.
std::string DecodeBase64(std::string_view text, std::string_view alphabet = kBase64Symbols);

// Standard Base64 with "=" padding.
std::string EncodeBase64(std::string_view bytes);
