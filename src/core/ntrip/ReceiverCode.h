#pragma once
// The receiver code that a receiver may carry in the fifth "."-separated field of its agent text,
// plain or coded with a permuted Base64 alphabet.
#include <string>
#include <string_view>

struct ClientEntry;

// Kinds of receiver code: none, plain, coded ("-" as fifth character), coded and signed ("*"),
// signed but not matching.
enum ReceiverCodeKind : unsigned char {
  kReceiverCodeNone = 0,
  kReceiverCodePlain = 1,
  kReceiverCodeCoded = 2,
  kReceiverCodeSigned = 3,
  kReceiverCodeBadSignature = 255,
};

// Decodes one field. A field whose fifth character is neither "-" nor "*" is its own text.
// Otherwise the alphabet is rotated left by the field's leading number modulo 63, the symbols from
// the sixth character on are decoded, and for "*" every byte after the first is written as two
// upper-case hexadecimal digits.
std::string DecodeReceiverField(std::string_view field, std::string_view alphabet);

// Takes the receiver code out of the entry's agent text: sets receiverCode and receiverCodeKind,
// and moves the decoded text to the end of agent.
void DecodeReceiverCode(ClientEntry& entry, std::string_view alphabet);
