#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace tool {

Table::Table(std::vector<std::string> headers, std::vector<bool> numeric)
    : headers_(std::move(headers)), numeric_(std::move(numeric)) {
  numeric_.resize(headers_.size(), false);
}

void Table::AddRow(std::vector<std::string> cells) {
  cells.resize(headers_.size());
  rows_.push_back(std::move(cells));
}

void Table::Print(std::ostream& out) const {
  std::vector<size_t> widths(headers_.size(), 0);
  for (size_t c = 0; c < headers_.size(); ++c) widths[c] = DisplayWidth(headers_[c]);
  for (const auto& row : rows_)
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  auto printRow = [&](const std::vector<std::string>& row) {
    std::string line;  // the last column's padding and separator trimmed below
    for (size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - DisplayWidth(row[c]), ' ');
      line += (numeric_[c] ? pad + row[c] : row[c] + pad) + "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  if (std::any_of(headers_.begin(), headers_.end(), [](const auto& h) { return !h.empty(); }))
    printRow(headers_);
  for (const auto& row : rows_) printRow(row);
}

void PrintJson(const nlohmann::ordered_json& value) {
  std::cout << value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

bool PrintedJson(bool json, const nlohmann::ordered_json& value) {
  if (json) PrintJson(value);
  return json;
}

void PrintFields(const std::vector<std::pair<std::string, std::string>>& fields) {
  Table table({"", ""});
  for (const auto& [name, value] : fields) table.AddRow({name, value});
  table.Print(std::cout);
}

bool PlainJson(std::string_view text) {
  // Eight bytes at a time: is any of them outside 0x20..0x7E, a quote or a
  // backslash? (v - 0x01..01) & ~v & 0x80..80 is nonzero when a byte of v is 0.
  auto any = [](uint64_t v, uint64_t below) {
    return ((v - below * 0x0101010101010101u) & ~v & 0x8080808080808080u) != 0;
  };
  auto special = [&](uint64_t w) {
    return (w & 0x8080808080808080u) != 0 || any(w, 0x20) || any(w ^ 0x2222222222222222u, 1) ||
           any(w ^ 0x5C5C5C5C5C5C5C5Cu, 1) || any(w ^ 0x7F7F7F7F7F7F7F7Fu, 1);
  };
  size_t i = 0;
  bool plain = true;
  for (; plain && i + 8 <= text.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, text.data() + i, 8);
    plain = !special(w);
  }
  for (; plain && i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    plain = c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
  }
  return plain;
}

namespace {

using OrderedJson = nlohmann::ordered_json;

std::string Dumped(const OrderedJson& value) {
  return value.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

// Plain printable ASCII without a quote or a backslash stands in JSON as it
// is; anything else is escaped (or its bad UTF-8 replaced) by the library.
void AppendString(const std::string& text, std::string* out) {
  if (PlainJson(text))
    out->append(1, '"').append(text).push_back('"');
  else
    *out += Dumped(OrderedJson(text));
}

template <typename Number>
void AppendNumber(Number n, std::string* out) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out->append(digits, end);
}

// After what standard output holds, and over a progress line on a terminal.
void Say(const std::string& line) {
  std::cout.flush();
  if (isatty(STDERR_FILENO) == 1) std::cerr << "\r\033[K";
  std::cerr << "msgstore: " << line << std::endl;
}

}  // namespace

void AppendJson(const OrderedJson& value, std::string* out) {
  switch (value.type()) {
    case OrderedJson::value_t::object:
    case OrderedJson::value_t::array:
      out->push_back(value.is_object() ? '{' : '[');
      for (auto item = value.begin(); item != value.end(); ++item) {
        if (item != value.begin()) out->push_back(',');
        if (value.is_object()) {
          AppendString(item.key(), out);
          out->push_back(':');
        }
        AppendJson(item.value(), out);
      }
      out->push_back(value.is_object() ? '}' : ']');
      break;
    case OrderedJson::value_t::string:
      AppendString(value.get_ref<const std::string&>(), out);
      break;
    case OrderedJson::value_t::number_unsigned:
      AppendNumber(value.get<uint64_t>(), out);
      break;
    case OrderedJson::value_t::number_integer:
      AppendNumber(value.get<int64_t>(), out);
      break;
    default:  // null, booleans, floating point, binary
      *out += Dumped(value);
      break;
  }
}

void PrintJsonLine(const OrderedJson& value) {
  static std::string line;  // its room kept from line to line
  line.clear();
  AppendJson(value, &line);
  line.push_back('\n');
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
}

void Error(std::string message) {
  std::replace(message.begin(), message.end(), '\n', ' ');
  std::replace(message.begin(), message.end(), '\r', ' ');
  Say(message);
}

void Warn(const std::string& message) { Say("warning: " + message); }

void Confirm(const std::string& question, bool yes, const std::string& undone) {
  if (yes) return;
  if (isatty(STDIN_FILENO) != 1)
    throw UsageError(question +
                     ": give --yes to go on without a question (standard input is "
                     "not a terminal)");
  std::cout.flush();
  std::cerr << "msgstore: " << question << "? [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
  if (answer != "y" && answer != "Y" && answer != "yes" && answer != "YES" && answer != "Yes")
    throw Failure("not answered yes: nothing " + undone);
}

Progress::Progress(std::string label, size_t total)
    : label_(std::move(label)), total_(total), active_(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() { Done(); }

void Progress::Done() {
  if (shown_) std::fputs("\r\033[K", stderr);
  shown_ = false;
}

void Progress::Step(size_t done) {
  if (!active_) return;
  auto now = std::chrono::steady_clock::now();
  if (shown_ && done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  shown_ = true;
  std::fprintf(stderr, "\r\033[K%s: %zu/%zu", label_.c_str(), done, total_);
  std::fflush(stderr);
}

}  // namespace tool
