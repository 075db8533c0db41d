// Processes: the caller's identifier, whether another one still runs, and
// the temporary names that carry a writer's identifier.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "msgstore/platform.h"

namespace {

// The process id, asked once per process: a child made by fork learns its
// own again.
std::atomic<pid_t> g_pid{0};

void ForgetPid() { g_pid.store(0); }

}  // namespace

DWORD GetCurrentProcessId() {
  pid_t pid = g_pid.load();
  if (pid == 0) {
    static const int registered = ::pthread_atfork(nullptr, nullptr, ForgetPid);
    (void)registered;
    pid = ::getpid();
    g_pid.store(pid);
  }
  return static_cast<DWORD>(pid);
}

BOOL IsProcessRunning(DWORD processId) {
  if (processId == 0 || processId > static_cast<DWORD>(INT32_MAX)) return FALSE;
  // A process that exists but belongs to someone else still runs.
  if (::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM) return TRUE;
  return FALSE;
}

namespace msgstore {
namespace {

constexpr char16_t kTempSuffix[] = u".tmp";

bool ParseDecimal(const std::u16string& text, uint64_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + static_cast<uint64_t>(c - u'0');
  }
  *value = v;
  return true;
}

std::u16string Decimal(uint64_t value) {
  std::string narrow = std::to_string(value);
  return std::u16string(narrow.begin(), narrow.end());
}

}  // namespace

std::u16string TempPathFor(const std::u16string& path) {
  static std::atomic<uint32_t> serial{0};
  return path + u"." + Decimal(GetCurrentProcessId()) + u"." + Decimal(serial.fetch_add(1)) +
         kTempSuffix;
}

bool IsTempFileName(const std::u16string& name, DWORD* processId) {
  const size_t suffixLength = sizeof kTempSuffix / sizeof kTempSuffix[0] - 1;
  if (name.size() <= suffixLength ||
      name.compare(name.size() - suffixLength, suffixLength, kTempSuffix) != 0)
    return false;
  // <name>.<pid>.<serial> before the suffix, with a non-empty <name>.
  const std::u16string stem = name.substr(0, name.size() - suffixLength);
  const size_t serialDot = stem.rfind(u'.');
  if (serialDot == std::u16string::npos || serialDot == 0) return false;
  const size_t pidDot = stem.rfind(u'.', serialDot - 1);
  if (pidDot == std::u16string::npos || pidDot == 0) return false;
  uint64_t pid = 0, serial = 0;
  if (!ParseDecimal(stem.substr(pidDot + 1, serialDot - pidDot - 1), &pid) ||
      !ParseDecimal(stem.substr(serialDot + 1), &serial) || pid > 0xFFFFFFFFu)
    return false;
  if (processId != nullptr) *processId = static_cast<DWORD>(pid);
  return true;
}

}  // namespace msgstore
