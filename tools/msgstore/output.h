// How the tool reports (failures, aligned tables for people, JSON for
// scripts, warnings and progress on standard error) and its text helpers:
// UTF-8 <-> UTF-16 and times (the library's), hex dumps, base64 and numbers.
#ifndef MSGSTORE_TOOL_OUTPUT_H_
#define MSGSTORE_TOOL_OUTPUT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "msgstore/text.h"

namespace tool {

// A failed operation: one line on standard error, exit status 1.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command line the tool cannot act on: exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Columns separated by two spaces, padded to the widest cell; the last
// column is not padded. Columns marked numeric are aligned to the right.
// Empty headers print no header line.
class Table {
 public:
  explicit Table(std::vector<std::string> headers, std::vector<bool> numeric = {});
  void AddRow(std::vector<std::string> cells);
  bool empty() const { return rows_.empty(); }
  void Print(std::ostream& out) const;

 private:
  std::vector<std::string> headers_;
  std::vector<bool> numeric_;
  std::vector<std::vector<std::string>> rows_;
};

// The text, or null when it is empty: a key with no value.
inline nlohmann::ordered_json OrNull(const std::string& text) {
  return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

// Pretty JSON document on standard output.
void PrintJson(const nlohmann::ordered_json& value);
// With --json (json) prints value and is true; otherwise prints nothing and
// is false, for the caller to print its text instead.
bool PrintedJson(bool json, const nlohmann::ordered_json& value);
// A record for people: name and value a line, the values aligned.
void PrintFields(const std::vector<std::pair<std::string, std::string>>& fields);
// One compact JSON object a line, in the bytes of the library's dump (its
// bad UTF-8 replaced), written through the stream's buffer: a caller whose
// reader waits for each line flushes it.
void PrintJsonLine(const nlohmann::ordered_json& value);
// The same without the line end, appended to out.
void AppendJson(const nlohmann::ordered_json& value, std::string* out);
// Whether text stands in JSON as it is, between quotes: printable ASCII
// without a quote or a backslash. The export writes such strings itself;
// the import takes them out of a line before the JSON parser.
bool PlainJson(std::string_view text);

// "msgstore: ..." on standard error, on one line: a failure of one of
// several operations, after which the others go on.
void Error(std::string message);
// "msgstore: warning: ..." on standard error.
void Warn(const std::string& message);

// A destructive command's consent: given by --yes, else asked on standard
// error when standard input is a terminal ("question [y/N] ", "y" or "yes"
// goes on). UsageError naming --yes when standard input is not a terminal;
// Failure "not answered yes: nothing <undone>" when declined.
void Confirm(const std::string& question, bool yes, const std::string& undone);

// "label: done/total" on standard error, rewritten in place, only when
// standard error is a terminal; cleared when done.
class Progress {
 public:
  Progress(std::string label, size_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Step(size_t done);
  void Step(size_t done, size_t total) { total_ = total, Step(done); }
  // Clears the line before what follows is printed.
  void Done();

 private:
  std::string label_;
  size_t total_;
  bool active_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

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

#endif  // MSGSTORE_TOOL_OUTPUT_H_
