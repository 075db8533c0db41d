// Text, time and byte helpers of the msgstore tool: UTF-8 <-> UTF-16,
// FILETIME <-> ISO 8601, hex and base64.
#ifndef MSGSTORE_TOOL_TEXT_H_
#define MSGSTORE_TOOL_TEXT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "msgstore/types.h"

namespace tool {

// Invalid input becomes U+FFFD; never throws.
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);
// A zero-terminated string of the store; null reads as "".
std::string WideToUtf8(const WCHAR* text);

// FILETIME as one 64-bit count of 100-ns ticks since 1601-01-01 UTC.
uint64_t Ticks(FILETIME ft);
FILETIME FromTicks(uint64_t ticks);
FILETIME Now();
// "2026-12-05T15:04:05Z"; with fraction, a fraction of a second is shown
// when there is one ("2026-12-05T15:04:05.25Z").
std::string FormatTime(FILETIME ft, bool fraction = true);
// Accepts "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS[.fraction]]" (or a space for
// the T) with an optional "Z" or "+HH:MM"/"-HH:MM"; no zone means UTC.
// Years 1601 to 9999. False when the text is not such a time.
bool ParseTime(const std::string& text, FILETIME* out);

// The content as text when it is UTF-16LE text: an even, non-zero length,
// valid surrogate pairs, and no control characters but tab, line feed and
// carriage return (one trailing zero code unit is allowed and dropped).
bool ContentAsText(const BYTE* data, size_t size, std::string* text);
// The UTF-16LE bytes of text, without a terminator.
std::vector<BYTE> Utf16LeBytes(const std::u16string& text);

// Hex dump in lines of 16 bytes: offset, bytes, printable ASCII.
std::string HexDump(const BYTE* data, size_t size);
std::string HexBytes(const BYTE* data, size_t size);
std::string Base64Encode(const BYTE* data, size_t size);

// One line for a table cell: control characters become spaces and the text
// is cut to maxChars code points with a trailing "...".
std::string CellText(const std::string& utf8, size_t maxChars);
// Number of code points, the width used to align table columns.
size_t DisplayWidth(const std::string& utf8);

// Unsigned numbers given as decimal or "0x" hex; false when out of range.
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* out);

}  // namespace tool

#endif  // MSGSTORE_TOOL_TEXT_H_
