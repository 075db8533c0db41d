// Persistence of the simulated handset's settings.
#include "platform/handset_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_files.h"
#include "platform/host_path.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace platform {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// The settings in the file at path; false when it is there but could not be
// read (a missing file holds no settings).
bool ReadFrom(const std::string& path, StateMap* out) {
  StateMap& state = *out;
  std::string text;
  if (!ReadHostFile(path, &text) && errno != ENOENT) return false;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    state[Unescape(line.substr(0, equals))] = Unescape(line.substr(equals + 1));
  }
  return true;
}

bool WriteTo(const std::string& dir, const StateMap& state) {
  std::ostringstream text;
  for (const auto& entry : state)
    text << EscapeFileName(entry.first) << '=' << EscapeFileName(entry.second) << '\n';
  return ReplaceHostFile(dir + "/state", text.str());
}

}  // namespace

StateMap ReadHandsetState() {
  // Reading makes nothing: a handset never set up reads as defaults.
  StateMap state;
  ReadFrom(GetDeviceRoot() + "/.platform/handset/state", &state);
  return state;
}

std::string HandsetValue(const std::string& key, const std::string& fallback) {
  StateMap state = ReadHandsetState();
  auto it = state.find(key);
  return it == state.end() ? fallback : it->second;
}

bool WithHandsetLock(const std::function<void()>& work) {
  std::string dir = PlatformDir("handset");
  if (dir.empty()) return false;
  UniqueFd lock(Sys().open((dir + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!lock.valid()) return false;
  while (Sys().flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  work();
  Sys().flock(lock.get(), LOCK_UN);
  return true;
}

bool UpdateHandsetState(const std::function<void(StateMap&)>& change) {
  bool written = false;
  bool locked = WithHandsetLock([&] {
    std::string dir = PlatformDir("handset");
    // Settings that cannot be read are not written over.
    StateMap state;
    if (!ReadFrom(dir + "/state", &state)) return;
    change(state);
    written = WriteTo(dir, state);
  });
  return locked && written;
}

}  // namespace platform
}  // namespace msgstore
