// How the tool reports: failures, aligned tables for people, JSON for
// scripts, warnings and progress on standard error.
#ifndef MSGSTORE_TOOL_OUTPUT_H_
#define MSGSTORE_TOOL_OUTPUT_H_

#include <chrono>
#include <cstddef>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

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
void Error(const std::string& message);
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

}  // namespace tool

#endif  // MSGSTORE_TOOL_OUTPUT_H_
