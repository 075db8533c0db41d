#include "output.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace tool {

std::string HexDump(const BYTE* data, size_t size) {
  std::string out;
  char buf[32];
  for (size_t line = 0; line < size; line += 16) {
    const size_t end = std::min(size, line + 16);
    std::snprintf(buf, sizeof buf, "%08zx ", line);
    out += buf;
    std::string ascii;
    for (size_t k = line; k < end; ++k) {
      std::snprintf(buf, sizeof buf, " %02x", data[k]);
      out += buf;
      ascii.push_back(data[k] >= 0x20 && data[k] < 0x7F ? static_cast<char>(data[k]) : '.');
    }
    out += std::string(3 * (line + 16 - end), ' ') + "  |" + ascii + "|\n";
  }
  return out;
}

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Each byte's value in the alphabet, -1 for a byte outside it.
const std::array<int8_t, 256>& AlphabetValues() {
  static const auto values = [] {
    std::array<int8_t, 256> v;
    v.fill(-1);
    for (size_t k = 0; k + 1 < sizeof kAlphabet; ++k)
      v[static_cast<unsigned char>(kAlphabet[k])] = static_cast<int8_t>(k);
    return v;
  }();
  return values;
}

}  // namespace

std::string Base64Encode(const BYTE* data, size_t size) {
  // The two letters of each 12 bits, so that three bytes take two looks.
  static const auto kPairs = [] {
    std::array<std::array<char, 2>, 4096> pairs;
    for (size_t v = 0; v < pairs.size(); ++v) pairs[v] = {kAlphabet[v >> 6], kAlphabet[v & 0x3F]};
    return pairs;
  }();
  std::string out((size + 2) / 3 * 4, '=');
  char* o = &out[0];
  size_t k = 0;
  for (; k + 3 <= size; k += 3, o += 4) {
    const uint32_t v = static_cast<uint32_t>(data[k]) << 16 |
                       static_cast<uint32_t>(data[k + 1]) << 8 | data[k + 2];
    std::memcpy(o, kPairs[v >> 12].data(), 2);
    std::memcpy(o + 2, kPairs[v & 0xFFF].data(), 2);
  }
  if (k < size) {  // one or two bytes left; the padding stays
    uint32_t v = static_cast<uint32_t>(data[k]) << 16;
    if (k + 1 < size) v |= static_cast<uint32_t>(data[k + 1]) << 8;
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 0x3F];
    if (k + 1 < size) o[2] = kAlphabet[(v >> 6) & 0x3F];
  }
  return out;
}

bool Base64Decode(const std::string& text, std::vector<BYTE>* out) {
  if (text.size() % 4 != 0) return false;
  out->clear();
  if (text.empty()) return true;
  const std::array<int8_t, 256>& values = AlphabetValues();
  auto value = [&](size_t i) { return values[static_cast<unsigned char>(text[i])]; };
  // The last group may end in one or two '='.
  const size_t last = text.size() - 4;
  const int pad = text[last + 3] != '=' ? 0 : text[last + 2] != '=' ? 1 : 2;
  out->resize(text.size() / 4 * 3 - static_cast<size_t>(pad));
  BYTE* o = out->data();
  for (size_t i = 0; i < text.size(); i += 4, o += 3) {
    const size_t missing = i == last ? static_cast<size_t>(pad) : 0;  // bytes of the '='
    uint32_t v = 0;
    int bad = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int8_t d = k < 4 - missing ? value(i + k) : 0;
      bad |= d;  // negative for a byte outside the alphabet
      v = v << 6 | static_cast<uint32_t>(d & 0x3F);
    }
    if (bad < 0) return false;
    // The bits under the padding must be zero, as an encoder leaves them.
    if ((v & ((1u << (8 * missing)) - 1)) != 0) return false;
    for (size_t b = 0; b < 3 - missing; ++b) o[b] = static_cast<BYTE>(v >> (16 - 8 * b));
  }
  return true;
}

std::string CellText(const std::string& utf8, size_t maxChars) {
  const std::u16string units = Utf8ToUtf16(utf8);  // whole surrogate pairs only
  auto low = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  const size_t total = units.size() - std::count_if(units.begin(), units.end(), low);
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
  return std::count_if(utf8.begin(), utf8.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* end = text.data() + text.size();
  uint64_t value = 0;
  const auto [stop, error] =
      std::from_chars(text.data() + (hex ? 2 : 0), end, value, hex ? 16 : 10);
  if (error != std::errc() || stop != end || value > max) return false;
  *out = value;
  return true;
}

std::string Counted(size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many.empty() ? one + "s" : many);
}

}  // namespace tool
