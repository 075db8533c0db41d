// Text, time and byte helpers of the msgstore tool: UTF-8 <-> UTF-16,
// FILETIME <-> ISO 8601 (the library's), hex dumps, base64 and numbers.
#ifndef MSGSTORE_TOOL_TEXT_H_
#define MSGSTORE_TOOL_TEXT_H_

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "msgstore/text.h"

namespace tool {

using msgstore::ContentAsText;
using msgstore::FormatTime;
using msgstore::FromTicks;
using msgstore::Now;
using msgstore::ParseTime;
using msgstore::Ticks;
using msgstore::Utf16LeBytes;
using msgstore::Utf16ToUtf8;
using msgstore::Utf8ToUtf16;
using msgstore::WideToUtf8;

// Hex dump in lines of 16 bytes: offset, bytes, printable ASCII.
std::string HexDump(const BYTE* data, size_t size);
// Base64 of the standard alphabet, padded; decoding is strict: padded to a
// multiple of 4, the bits under the padding zero. False for anything else.
std::string Base64Encode(const BYTE* data, size_t size);
bool Base64Decode(const std::string& text, std::vector<BYTE>* out);

// One line for a table cell: control characters become spaces and the text
// is cut to maxChars code points with a trailing "...".
std::string CellText(const std::string& utf8, size_t maxChars);
// Number of code points, the width used to align table columns.
size_t DisplayWidth(const std::string& utf8);

// Unsigned numbers given as decimal or "0x" hex; false when out of range.
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* out);

// The items (UTF-8 or UTF-16 text, or numbers) with separator between them
// and last, when given, before the last one: "a, b and c".
template <class Items>
std::string JoinList(const Items& items, const std::string& separator = ", ",
                     const std::string& last = "") {
  std::string out;
  size_t i = 0;
  for (const auto& item : items) {
    if (i++ != 0) out += i == items.size() && !last.empty() ? last : separator;
    if constexpr (std::is_arithmetic_v<std::decay_t<decltype(item)>>)
      out += std::to_string(item);
    else if constexpr (std::is_same_v<std::decay_t<decltype(item)>, std::u16string>)
      out += Utf16ToUtf8(item);
    else
      out += item;
  }
  return out;
}

// "1 account", "3 accounts"; many is one with an "s" unless given.
std::string Counted(size_t n, const std::string& one, const std::string& many = "");

}  // namespace tool

#endif  // MSGSTORE_TOOL_TEXT_H_
