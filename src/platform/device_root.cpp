// The device root: the host directory that stands for the handset's "\".
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "msgstore/platform.h"
#include "platform/host_files.h"
#include "platform/host_path.h"
#include "platform/sys_calls.h"

namespace msgstore {

namespace {

std::mutex g_rootMutex;
bool g_rootReady = false;  // the root and its phone volume have been made
// Changes with every SetDeviceRoot, so that what was derived from the root in
// use can tell whether it still holds.
std::atomic<unsigned> g_rootVersion{0};

// Empty until first asked for. Made on first use, so that library start-up,
// which may run before this file's own objects are made, finds it ready.
std::string& Root() {
  static std::string root;
  return root;
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  struct passwd* entry = ::getpwuid(::getuid());
  if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') return entry->pw_dir;
  return "/tmp";
}

std::string Canonical(const std::string& directory) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(directory, ec);
  if (ec) path = directory;
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string InitialRoot() {
  const char* root = std::getenv("MSGSTORE_ROOT");
  if (root != nullptr && root[0] != '\0') return Canonical(root);
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base =
      (data != nullptr && data[0] == '/') ? std::string(data) : HomeDirectory() + "/.local/share";
  return Canonical(base + "/msgstore/device");
}

// Caller holds g_rootMutex.
const std::string& RootLocked() {
  if (Root().empty()) Root() = InitialRoot();
  return Root();
}

}  // namespace

void SetDeviceRoot(const std::string& hostDirectory) {
  std::string root = hostDirectory.empty() ? InitialRoot() : Canonical(hostDirectory);
  std::lock_guard<std::mutex> lock(g_rootMutex);
  Root() = root;
  g_rootReady = false;
  if (g_rootVersion.fetch_add(1, std::memory_order_release) + 1 == platform::kRootNotReady)
    g_rootVersion.fetch_add(1, std::memory_order_release);
}

std::string GetDeviceRoot() {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  return RootLocked();
}

namespace platform {

std::string UsedDeviceRoot() { return UsedDeviceRoot(nullptr); }

std::string UsedDeviceRoot(unsigned* readyVersion) {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  const std::string& root = RootLocked();
  if (!g_rootReady) {
    const bool made = MakeHostDirs(root);
    std::string phone = root + "/DiskOnChip";
    if (Sys().mkdir(phone.c_str(), 0777) == 0 || errno == EEXIST) g_rootReady = made;
  }
  if (readyVersion != nullptr)
    *readyVersion = g_rootReady ? g_rootVersion.load(std::memory_order_relaxed) : kRootNotReady;
  return root;
}

unsigned DeviceRootVersion() { return g_rootVersion.load(std::memory_order_acquire); }

const std::string& ThisThreadsDeviceRoot(unsigned* readyVersion) {
  thread_local unsigned version = kRootNotReady;
  thread_local std::string root;
  if (version == kRootNotReady || version != DeviceRootVersion()) root = UsedDeviceRoot(&version);
  if (readyVersion != nullptr) *readyVersion = version;
  return root;
}

namespace {

// The registry's and the handset state's temporary files left by processes
// that died are removed when a process first opens that state under a root.
void RemoveStalePlatformTemps(const std::string& root) {
  static std::mutex mutex;
  static std::string cleaned;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (cleaned == root) return;
    cleaned = root;
  }
  for (const std::u16string& path : FindStaleTempFiles(u"\\.platform")) DeleteFileW(path.c_str());
}

}  // namespace

std::string PlatformPath(const std::string& sub) {
  return UsedDeviceRoot() + "/.platform" + (sub.empty() ? "" : "/" + sub);
}

std::string PlatformDir(const std::string& sub) {
  const std::string root = UsedDeviceRoot();
  const std::string dir = PlatformPath(sub);
  if (!MakeHostDirs(dir)) return std::string();
  RemoveStalePlatformTemps(root);
  return dir;
}

}  // namespace platform
}  // namespace msgstore
