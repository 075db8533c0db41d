// Notice windows between processes. A window class of a device root is an
// abstract Unix datagram socket named "msgstore/<root hash>/<class>"; the
// kernel drops the name with the socket, so a dead window never lingers.
// A posted message is one 20-byte datagram: msg (4), wParam (8) and
// lParam (8), little-endian. Class names are compared ignoring ASCII case.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_path.h"

namespace msgstore {
namespace {

constexpr size_t kMessageSize = 20;

uint64_t Fnv1a(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string Hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// The socket address of a window class under the current device root.
bool WindowAddress(const std::u16string& className, sockaddr_un* address, socklen_t* length) {
  if (className.empty() || className.find(u'\0') != std::u16string::npos) return false;
  std::error_code ec;
  std::string root = std::filesystem::weakly_canonical(platform::UsedDeviceRoot(), ec).string();
  if (ec) root = platform::UsedDeviceRoot();
  std::string prefix = "msgstore/" + Hex(Fnv1a(root)) + "/";
  std::string name = platform::AsciiLower(platform::ToUtf8(className));
  std::string full = prefix + name;
  if (full.size() + 1 > sizeof address->sun_path) full = prefix + "#" + Hex(Fnv1a(name));
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path + 1, full.data(), full.size());  // sun_path[0] = 0: abstract
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + full.size());
  return true;
}

// HWND values are addresses of interned class entries that live as long as
// the process.
struct WindowClass {
  std::u16string name;
};

std::mutex g_classMutex;
std::map<std::u16string, std::unique_ptr<WindowClass>>& Classes() {
  static auto* classes = new std::map<std::u16string, std::unique_ptr<WindowClass>>;
  return *classes;
}

// Spellings of one class that differ in ASCII case share one HWND.
HWND InternClass(const std::u16string& name) {
  std::u16string key = name;
  for (char16_t& c : key)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  std::lock_guard<std::mutex> lock(g_classMutex);
  auto& entry = Classes()[key];
  if (!entry) entry.reset(new WindowClass{name});
  return entry.get();
}

bool ClassOf(HWND hwnd, std::u16string* name) {
  std::lock_guard<std::mutex> lock(g_classMutex);
  for (const auto& entry : Classes()) {
    if (entry.second.get() == hwnd) {
      *name = entry.second->name;
      return true;
    }
  }
  return false;
}

void PutLe(unsigned char* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetLe(const unsigned char* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

}  // namespace

HWND DefaultPlatform::FindWindowW(const WCHAR* className, const WCHAR* /*windowName*/) {
  std::u16string name = platform::FromWide(className);
  sockaddr_un address;
  socklen_t length;
  if (!WindowAddress(name, &address, &length)) return nullptr;
  platform::UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!probe.valid()) return nullptr;
  if (::connect(probe.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) return nullptr;
  return InternClass(name);
}

BOOL DefaultPlatform::PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::u16string name;
  if (hwnd == nullptr || !ClassOf(hwnd, &name)) return FALSE;
  sockaddr_un address;
  socklen_t length;
  if (!WindowAddress(name, &address, &length)) return FALSE;
  platform::UniqueFd out(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!out.valid()) return FALSE;
  unsigned char message[kMessageSize];
  PutLe(message, msg, 4);
  PutLe(message + 4, static_cast<uint64_t>(wParam), 8);
  PutLe(message + 12, static_cast<uint64_t>(static_cast<int64_t>(lParam)), 8);
  ssize_t sent = ::sendto(out.get(), message, sizeof message, MSG_DONTWAIT | MSG_NOSIGNAL,
                          reinterpret_cast<sockaddr*>(&address), length);
  return sent == static_cast<ssize_t>(sizeof message) ? TRUE : FALSE;
}

WindowEndpoint::WindowEndpoint(const std::u16string& className) : className_(className) {
  sockaddr_un address;
  socklen_t length;
  if (!WindowAddress(className, &address, &length)) return;
  platform::UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) return;
  fd_ = fd.Release();
}

WindowEndpoint::~WindowEndpoint() {
  if (fd_ >= 0) ::close(fd_);
}

bool WindowEndpoint::valid() const { return fd_ >= 0; }

int WindowEndpoint::fd() const { return fd_; }

bool WindowEndpoint::Receive(WindowMessage* out, int timeoutMs) {
  if (fd_ < 0 || out == nullptr) return false;
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    pollfd ready{fd_, POLLIN, 0};
    int n = ::poll(&ready, 1, wait);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    unsigned char message[64];
    ssize_t got = ::recv(fd_, message, sizeof message, MSG_DONTWAIT);
    if (got == static_cast<ssize_t>(kMessageSize)) {
      out->className = className_;
      out->msg = static_cast<UINT>(GetLe(message, 4));
      out->wParam = static_cast<WPARAM>(GetLe(message + 4, 8));
      out->lParam = static_cast<LPARAM>(static_cast<int64_t>(GetLe(message + 12, 8)));
      return true;
    }
    // A datagram of another shape, or a message taken by another reader.
    if (timeoutMs >= 0 && Clock::now() >= deadline) return false;
  }
}

}  // namespace msgstore
