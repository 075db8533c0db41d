#include "text.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tool {

std::string HexDump(const BYTE* data, size_t size) {
  std::string out;
  char buf[32];
  for (size_t line = 0; line < size; line += 16) {
    std::snprintf(buf, sizeof buf, "%08zx ", line);
    out += buf;
    std::string ascii;
    for (size_t k = line; k < line + 16; ++k) {
      if (k < size) {
        std::snprintf(buf, sizeof buf, " %02x", data[k]);
        out += buf;
        ascii.push_back(data[k] >= 0x20 && data[k] < 0x7F ? static_cast<char>(data[k]) : '.');
      } else {
        out += "   ";
      }
    }
    out += "  |" + ascii + "|\n";
  }
  return out;
}

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

std::string Base64Encode(const BYTE* data, size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t k = 0; k < size; k += 3) {
    uint32_t v = static_cast<uint32_t>(data[k]) << 16;
    if (k + 1 < size) v |= static_cast<uint32_t>(data[k + 1]) << 8;
    if (k + 2 < size) v |= data[k + 2];
    out.push_back(kAlphabet[(v >> 18) & 0x3F]);
    out.push_back(kAlphabet[(v >> 12) & 0x3F]);
    out.push_back(k + 1 < size ? kAlphabet[(v >> 6) & 0x3F] : '=');
    out.push_back(k + 2 < size ? kAlphabet[v & 0x3F] : '=');
  }
  return out;
}

bool Base64Decode(const std::string& text, std::vector<BYTE>* out) {
  if (text.size() % 4 != 0) return false;
  out->clear();
  out->reserve(text.size() / 4 * 3);
  // Each byte's value in the alphabet, -1 for a byte outside it.
  static const auto kValues = [] {
    std::array<int8_t, 256> values;
    values.fill(-1);
    for (size_t k = 0; k + 1 < sizeof kAlphabet; ++k)
      values[static_cast<unsigned char>(kAlphabet[k])] = static_cast<int8_t>(k);
    return values;
  }();
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t v = 0;
    int pad = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const int8_t value = kValues[static_cast<unsigned char>(c)];
      const bool last = i + 4 == text.size();
      if (c == '=' && last && k >= 2 && (k == 3 || text[i + 3] == '=')) {
        ++pad;
      } else if (value < 0 || pad != 0) {
        return false;
      }
      v = v << 6 | static_cast<uint32_t>(c == '=' ? 0 : value);
    }
    // The bits under the padding must be zero, as an encoder leaves them.
    if ((pad == 1 && (v & 0xFF) != 0) || (pad == 2 && (v & 0xFFFF) != 0)) return false;
    out->push_back(static_cast<BYTE>(v >> 16));
    if (pad < 2) out->push_back(static_cast<BYTE>(v >> 8));
    if (pad < 1) out->push_back(static_cast<BYTE>(v));
  }
  return true;
}

std::string CellText(const std::string& utf8, size_t maxChars) {
  const std::u16string units = Utf8ToUtf16(utf8);  // whole surrogate pairs only
  auto low = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  size_t total = 0;
  for (char16_t u : units) total += low(u) ? 0 : 1;
  const bool cut = total > maxChars;
  const size_t keep = !cut ? total : maxChars > 3 ? maxChars - 3 : 0;
  std::u16string out;
  size_t chars = 0;
  for (char16_t u : units) {
    if (!low(u) && chars++ == keep) break;
    out.push_back(u < 0x20 || u == 0x7F ? u' ' : u);
  }
  return Utf16ToUtf8(out) + (cut ? "..." : "");
}

size_t DisplayWidth(const std::string& utf8) {
  size_t n = 0;
  for (char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty()) return false;
  uint64_t base = 10;
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16, i = 2;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    uint64_t digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<uint64_t>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<uint64_t>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<uint64_t>(c - 'A' + 10);
    else
      return false;
    if (digit > max || v > (max - digit) / base) return false;
    v = v * base + digit;
  }
  *out = v;
  return true;
}

}  // namespace tool
