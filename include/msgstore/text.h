// Text and times as the library's callers exchange them: UTF-8 <-> UTF-16,
// FILETIME <-> ISO 8601, and message content that is UTF-16 text.
#ifndef MSGSTORE_TEXT_H_
#define MSGSTORE_TEXT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "msgstore/types.h"

namespace msgstore {

// Invalid input becomes U+FFFD; never throws.
MSGSTORE_API std::u16string Utf8ToUtf16(const std::string& utf8);
MSGSTORE_API std::string Utf16ToUtf8(const std::u16string& utf16);
// A zero-terminated string of the store; null reads as "".
MSGSTORE_API std::string WideToUtf8(const WCHAR* text);

// FILETIME as one 64-bit count of 100-ns ticks since 1601-01-01 UTC.
MSGSTORE_API uint64_t Ticks(FILETIME ft);
MSGSTORE_API FILETIME FromTicks(uint64_t ticks);
MSGSTORE_API FILETIME Now();
// "2026-12-05T15:04:05Z"; with fraction, a fraction of a second is shown
// when there is one ("2026-12-05T15:04:05.25Z").
MSGSTORE_API std::string FormatTime(FILETIME ft, bool fraction = true);
// Accepts "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS[.fraction]]" (or a space for
// the T) with an optional "Z" or "+HH:MM"/"-HH:MM"; no zone means UTC.
// Years 1601 to 9999. False when the text is not such a time.
MSGSTORE_API bool ParseTime(const std::string& text, FILETIME* out);

// The content as text when it is UTF-16LE text: an even, non-zero length,
// valid surrogate pairs, and no control characters but tab, line feed and
// carriage return (one trailing zero code unit is allowed and dropped).
MSGSTORE_API bool ContentAsText(const BYTE* data, size_t size, std::string* text);
// The UTF-16LE bytes of text, without a terminator.
MSGSTORE_API std::vector<BYTE> Utf16LeBytes(const std::u16string& text);

}  // namespace msgstore

#endif  // MSGSTORE_TEXT_H_
