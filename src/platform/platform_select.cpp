// The handset services in use: the ones set by SetPlatform, else the default.
#include <atomic>

#include "msgstore/platform.h"

namespace msgstore {
namespace {

std::atomic<Platform*> g_platform{nullptr};

DefaultPlatform& Default() {
  static DefaultPlatform instance;
  return instance;
}

}  // namespace

void SetPlatform(Platform* platform) { g_platform.store(platform); }

Platform& GetPlatform() {
  Platform* platform = g_platform.load();
  return platform != nullptr ? *platform : Default();
}

}  // namespace msgstore
