// Text and times as the library's callers exchange them: UTF-8 and UTF-16,
// FILETIME and ISO 8601, message content that is text.
#include "msgstore/text.h"

#include <chrono>
#include <cstdio>

namespace msgstore {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr uint64_t kTicksPerSecond = 10000000;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDays1601 = 134774;

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one code point at text[*i] and advances *i; malformed sequences
// give U+FFFD and advance by one byte.
char32_t NextUtf8(const std::string& text, size_t* i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b0 = byte(*i);
  if (b0 < 0x80) {
    ++*i;
    return b0;
  }
  size_t len;
  char32_t c;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, c = b0 & 0x07, min = 0x10000;
  } else {
    ++*i;
    return kReplacement;
  }
  if (*i + len > text.size()) {
    ++*i;
    return kReplacement;
  }
  for (size_t k = 1; k < len; ++k) {
    unsigned char b = byte(*i + k);
    if ((b & 0xC0) != 0x80) {
      ++*i;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++*i;
    return kReplacement;
  }
  *i += len;
  return c;
}

// Decodes one code point of UTF-16 at text[*i]; a lone surrogate gives
// U+FFFD and sets *valid to false.
char32_t NextUtf16(const char16_t* text, size_t size, size_t* i, bool* valid) {
  char16_t u = text[(*i)++];
  if (u < 0xD800 || u > 0xDFFF) return u;
  if (u <= 0xDBFF && *i < size && text[*i] >= 0xDC00 && text[*i] <= 0xDFFF) {
    char16_t low = text[(*i)++];
    return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00);
  }
  *valid = false;
  return kReplacement;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(int64_t y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Reads exactly n digits at text[*i].
bool Digits(const std::string& text, size_t* i, size_t n, unsigned* out) {
  if (*i + n > text.size()) return false;
  unsigned v = 0;
  for (size_t k = 0; k < n; ++k) {
    char c = text[*i + k];
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  *i += n;
  *out = v;
  return true;
}

bool Expect(const std::string& text, size_t* i, char c) {
  if (*i >= text.size() || text[*i] != c) return false;
  ++*i;
  return true;
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& utf8) {
  std::u16string out;
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t c = NextUtf8(utf8, &i);
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& utf16) {
  std::string out;
  bool valid = true;
  size_t i = 0;
  while (i < utf16.size()) AppendUtf8(NextUtf16(utf16.data(), utf16.size(), &i, &valid), &out);
  return out;
}

std::string WideToUtf8(const WCHAR* text) {
  return text == nullptr ? std::string() : Utf16ToUtf8(std::u16string(text));
}

uint64_t Ticks(FILETIME ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME FromTicks(uint64_t ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

FILETIME Now() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  int64_t hundredNs = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
  int64_t ticks = hundredNs + kEpochDays1601 * 86400 * static_cast<int64_t>(kTicksPerSecond);
  return FromTicks(ticks < 0 ? 0 : static_cast<uint64_t>(ticks));
}

std::string FormatTime(FILETIME ft, bool withFraction) {
  uint64_t ticks = Ticks(ft);
  uint64_t seconds = ticks / kTicksPerSecond;
  unsigned fraction = static_cast<unsigned>(ticks % kTicksPerSecond);
  int64_t days = static_cast<int64_t>(seconds / 86400) - kEpochDays1601;
  unsigned secOfDay = static_cast<unsigned>(seconds % 86400);
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, &y, &m, &d);
  // By hand: this runs for every time of every exported message.
  char buf[48];
  char* p = buf;
  auto put = [&p](uint64_t value, int width, char after) {  // zero-padded, never cut
    char digits[20];
    int n = 0;
    do digits[n++] = static_cast<char>('0' + value % 10);
    while ((value /= 10) != 0);
    for (int k = n; k < width; ++k) *p++ = '0';
    while (n > 0) *p++ = digits[--n];
    if (after != 0) *p++ = after;
  };
  put(static_cast<uint64_t>(y), 4, '-');
  put(m, 2, '-');
  put(d, 2, 'T');
  put(secOfDay / 3600, 2, ':');
  put(secOfDay / 60 % 60, 2, ':');
  put(secOfDay % 60, 2, 0);
  if (withFraction && fraction != 0) {
    *p++ = '.';
    put(fraction, 7, 0);
    while (p[-1] == '0') --p;
  }
  *p++ = 'Z';
  return std::string(buf, p);
}

bool ParseTime(const std::string& text, FILETIME* out) {
  size_t i = 0;
  unsigned year, month, day, hour = 0, minute = 0, second = 0;
  uint64_t fraction = 0;
  if (!Digits(text, &i, 4, &year) || !Expect(text, &i, '-') || !Digits(text, &i, 2, &month) ||
      !Expect(text, &i, '-') || !Digits(text, &i, 2, &day))
    return false;
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  int64_t offsetMinutes = 0;
  if (i < text.size()) {
    if (text[i] != 'T' && text[i] != 't' && text[i] != ' ') return false;
    ++i;
    if (!Digits(text, &i, 2, &hour) || !Expect(text, &i, ':') || !Digits(text, &i, 2, &minute))
      return false;
    if (i < text.size() && text[i] == ':') {
      ++i;
      if (!Digits(text, &i, 2, &second)) return false;
      if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        ++i;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
          if (digits < 7) fraction = fraction * 10 + static_cast<uint64_t>(text[i] - '0');
          ++digits, ++i;
        }
        if (digits == 0) return false;
        for (size_t k = digits; k < 7; ++k) fraction *= 10;
      }
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    if (i < text.size()) {
      char zone = text[i++];
      if (zone == 'Z' || zone == 'z') {
        // UTC
      } else if (zone == '+' || zone == '-') {
        unsigned oh, om = 0;
        if (!Digits(text, &i, 2, &oh)) return false;
        if (i < text.size()) {
          if (text[i] == ':') ++i;
          if (!Digits(text, &i, 2, &om)) return false;
        }
        if (oh > 23 || om > 59) return false;
        offsetMinutes = (zone == '+' ? 1 : -1) * static_cast<int64_t>(oh * 60 + om);
      } else {
        return false;
      }
    }
  }
  if (i != text.size()) return false;
  int64_t days = DaysFromCivil(year, month, day) + kEpochDays1601;
  int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second - offsetMinutes * 60;
  if (seconds < 0) return false;
  *out = FromTicks(static_cast<uint64_t>(seconds) * kTicksPerSecond + fraction);
  return true;
}

bool ContentAsText(const BYTE* data, size_t size, std::string* text) {
  if (data == nullptr || size == 0 || size % 2 != 0) return false;
  std::u16string units(size / 2, u'\0');
  for (size_t k = 0; k < units.size(); ++k)
    units[k] = static_cast<char16_t>(data[2 * k] | (data[2 * k + 1] << 8));
  if (units.back() == 0) units.pop_back();
  if (units.empty()) return false;
  std::string out;
  bool valid = true;
  size_t i = 0;
  while (i < units.size()) {
    char32_t c = NextUtf16(units.data(), units.size(), &i, &valid);
    if (!valid) return false;
    bool control = (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c >= 0x7F && c < 0xA0) ||
                   c == 0xFFFE || c == 0xFFFF;
    if (control) return false;
    AppendUtf8(c, &out);
  }
  *text = out;
  return true;
}

std::vector<BYTE> Utf16LeBytes(const std::u16string& text) {
  std::vector<BYTE> out;
  out.reserve(text.size() * 2);
  for (char16_t u : text) {
    out.push_back(static_cast<BYTE>(u & 0xFF));
    out.push_back(static_cast<BYTE>(u >> 8));
  }
  return out;
}

}  // namespace msgstore
