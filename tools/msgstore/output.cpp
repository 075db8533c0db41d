#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <utility>

#include "text.h"

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
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      bool last = c + 1 == row.size();
      std::string pad(widths[c] - DisplayWidth(row[c]), ' ');
      if (numeric_[c])
        line += pad + row[c];
      else
        line += last ? row[c] : row[c] + pad;
      if (!last) line += "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  bool headed = false;
  for (const auto& h : headers_) headed = headed || !h.empty();
  if (headed) printRow(headers_);
  for (const auto& row : rows_) printRow(row);
}

void PrintJson(const nlohmann::ordered_json& value) {
  std::cout << value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

void PrintJsonLine(const nlohmann::ordered_json& value) {
  std::cout << value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
            << std::endl;
}

void Error(const std::string& message) {
  std::string line = message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::cout.flush();
  if (isatty(STDERR_FILENO) == 1) std::cerr << "\r\033[K";
  std::cerr << "msgstore: " << line << std::endl;
}

void Warn(const std::string& message) {
  std::cout.flush();
  if (isatty(STDERR_FILENO) == 1) std::cerr << "\r\033[K";
  std::cerr << "msgstore: warning: " << message << std::endl;
}

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
