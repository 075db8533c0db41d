// Wide string helpers, path building and the folder event posted to the
// messaging application.
#include "common/msg_str.h"

#include <cstdlib>
#include <cstring>

#include "msgstore/platform.h"

namespace msgstore {
namespace {

bool IsBlank(WCHAR c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

UINT FolderEventMessage(DWORD folder) {
  switch (folder) {
    case 1:
      return 0x19A0;  // INBOX
    case 2:
      return 0x19A1;  // DRAFT
    case 3:
      return 0x19A2;  // SENT
    case 5:
      return 0x19A4;  // REPORT
    case 6:
      return 0x19A5;  // SPAM
    default:
      return 0;  // UNSENT and everything else: no event
  }
}

size_t WStrLen(const WCHAR* s) {
  if (s == nullptr) return 0;
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

WCHAR* MsgStr_Duplicate(const WCHAR* source) {
  size_t length = WStrLen(source);
  if (length == 0) return nullptr;
  WCHAR* copy = static_cast<WCHAR*>(std::calloc(length + 1, sizeof(WCHAR)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, source, (length + 1) * sizeof(WCHAR));
  return copy;
}

void CopyPath(WCHAR* out, const std::u16string& s) {
  if (out == nullptr) return;
  std::memset(out, 0, MAX_PATH * sizeof(WCHAR));
  size_t n = s.size() < MAX_PATH - 1 ? s.size() : MAX_PATH - 1;
  if (n > 0) std::memcpy(out, s.data(), n * sizeof(WCHAR));
}

std::u16string DecimalU16(DWORD value) {
  // "%d" of the value read as signed: the magnitude of a negative value is
  // its two's complement, computed without signed overflow.
  bool negative = (value & 0x80000000u) != 0;
  DWORD magnitude = negative ? (~value + 1u) : value;
  WCHAR digits[11];  // "-2147483648"
  size_t at = sizeof digits / sizeof digits[0];
  do {
    digits[--at] = static_cast<WCHAR>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) digits[--at] = u'-';
  return std::u16string(digits + at, digits + sizeof digits / sizeof digits[0]);
}

std::u16string JoinPath(const std::u16string& dir, const std::u16string& name) {
  std::u16string path;
  path.reserve(dir.size() + 1 + name.size());
  path += dir;
  path += u'\\';
  path += name;
  return path;
}

DWORD LeadingNumber(const WCHAR* name) {
  if (name == nullptr) return 0;
  const WCHAR* p = name;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == u'-' || *p == u'+') {
    negative = *p == u'-';
    ++p;
  }
  // Unsigned arithmetic wraps like the 32-bit accumulator of the run-time.
  DWORD value = 0;
  while (*p >= u'0' && *p <= u'9') {
    value = value * 10u + static_cast<DWORD>(*p - u'0');
    ++p;
  }
  return negative ? (~value + 1u) : value;
}

int NotifyMessageApp(DWORD folder, DWORD messageId, DWORD storage, DWORD eventCode) {
  Platform& platform = GetPlatform();
  HWND window = platform.FindWindowW(kMessageAppWindow, nullptr);
  UINT msg = FolderEventMessage(folder);
  if (msg == 0) return 0;
  if (window == nullptr) return 0;
  DWORD lParam = (storage & 0xFFFFu) | ((eventCode & 0xFFu) << 16) | (3u << 24);
  return platform.PostMessageW(window, msg, static_cast<WPARAM>(messageId),
                               static_cast<LPARAM>(lParam));
}

}  // namespace msgstore
