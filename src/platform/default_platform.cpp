// The default handset services: card state, SMS counters, system language
// and free space, kept under the device root for every process.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdlib>

#include "msgstore/platform.h"
#include "platform/handset_state.h"
#include "platform/host_files.h"
#include "platform/host_path.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace {

using platform::RemoveHostTree;
using platform::Sys;

uint64_t ParseU64(const std::string& text, uint64_t fallback) {
  if (text.empty()) return fallback;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return fallback;
  return value;
}

DWORD ParseDword(const std::string& text, DWORD fallback) {
  uint64_t value = ParseU64(text, fallback);
  return value > 0xFFFFFFFFull ? fallback : static_cast<DWORD>(value);
}

std::string CounterKey(const std::string& name) { return "counter." + name; }

void AddToCounter(const char* name, int delta) {
  platform::UpdateHandsetState([&](platform::StateMap& state) {
    long long value = ParseDword(state[CounterKey(name)], 0);
    value += delta;
    if (value < 0) value = 0;
    if (value > 0xFFFFFFFFll) value = 0xFFFFFFFFll;
    state[CounterKey(name)] = std::to_string(value);
  });
}

std::string CardPath() { return platform::UsedDeviceRoot() + "/SD Card"; }
std::string AsidePath() { return platform::PlatformDir("") + "/ejected-card"; }

bool IsDirectory(const std::string& path) {
  struct stat info;
  return Sys().stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// "DiskOnChip" or "SD Card" for a volume root, else empty.
std::string VolumeName(const WCHAR* volumeRoot) {
  std::vector<std::string> parts = platform::SplitDevicePath(platform::FromWide(volumeRoot));
  if (parts.size() != 1) return std::string();
  if (platform::AsciiIEquals(parts[0], "DiskOnChip")) return "DiskOnChip";
  if (platform::AsciiIEquals(parts[0], "SD Card")) return "SD Card";
  return std::string();
}

std::string CapKey(const std::string& volume) { return "freecap." + volume; }

}  // namespace

bool Platform::CardInserted() { return (xGetSDCardState() & 1) != 0; }

bool DefaultPlatform::CardInserted() { return IsDirectory(CardPath()); }

const std::vector<DefaultPlatform::CounterName>& DefaultPlatform::Counters() {
  static const std::vector<CounterName> kCounters = {
      {"EmsRecv", "received messages, phone inbox"},
      {"EmsRead", "read messages, phone inbox"},
      {"Ems_SDRecv", "received messages, card inbox"},
      {"Ems_SDRead", "read messages, card inbox"},
      {"SentInSim", "sent messages on the SIM card"},
      {"UnsentInSim", "unsent messages on the SIM card"},
  };
  return kCounters;
}

const DefaultPlatform::CounterName* DefaultPlatform::FindCounter(const std::string& name) {
  for (const CounterName& known : Counters())
    if (name == known.name) return &known;
  return nullptr;
}

std::string DefaultPlatform::CounterNames() {
  std::string names;
  for (const CounterName& c : Counters())
    names += (names.empty() ? "" : ", ") + std::string(c.name);
  return names;
}

int DefaultPlatform::xGetSDCardState() {
  int state = CardInserted() ? 1 : 0;
  return state | (GetCardFlags() & 6);
}

void DefaultPlatform::xSetEmsRecvMsgCount(int n) { AddToCounter("EmsRecv", n); }
void DefaultPlatform::xSetEmsReadMsgCount(int n) { AddToCounter("EmsRead", n); }
void DefaultPlatform::xSetEms_SDRecvMsgCount(int n) { AddToCounter("Ems_SDRecv", n); }
void DefaultPlatform::xSetEms_SDReadMsgCount(int n) { AddToCounter("Ems_SDRead", n); }
DWORD DefaultPlatform::xGetEms_SDRecvMsgCount() { return GetCounter("Ems_SDRecv"); }
DWORD DefaultPlatform::xGetEms_SDReadMsgCount() { return GetCounter("Ems_SDRead"); }
DWORD DefaultPlatform::xGetSentSmsCountInSim() { return GetCounter("SentInSim"); }
void DefaultPlatform::xSetSentSmsCountInSim(DWORD n) { SetCounter("SentInSim", n); }
DWORD DefaultPlatform::xGetUnsentSmsCountInSim() { return GetCounter("UnsentInSim"); }
void DefaultPlatform::xSetUnsentSmsCountInSim(DWORD n) { SetCounter("UnsentInSim", n); }

std::u16string DefaultPlatform::xGetSystemLanguage() {
  std::string language = platform::HandsetValue("language", "");
  return language.empty() ? u"ENG" : platform::ToUtf16(language);
}

BOOL DefaultPlatform::GetDiskFreeSpaceExW(const WCHAR* volumeRoot, uint64_t* freeBytesAvailable,
                                          uint64_t* totalBytes, uint64_t* totalFreeBytes) {
  std::string volume = VolumeName(volumeRoot);
  if (volume.empty()) return FALSE;
  // The volume's directory: through "/.", a volume that is a file fails
  // (ENOTDIR) as a missing one does, in the same call.
  const std::string host = platform::UsedDeviceRoot() + "/" + volume + "/.";
  struct statvfs info;
  if (Sys().statvfs(host.c_str(), &info) != 0) return FALSE;
  uint64_t unit = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
  uint64_t available = static_cast<uint64_t>(info.f_bavail) * unit;
  uint64_t free = static_cast<uint64_t>(info.f_bfree) * unit;
  uint64_t cap = ParseU64(platform::HandsetValue(CapKey(volume), ""), UINT64_MAX);
  if (available > cap) available = cap;
  if (free > cap) free = cap;
  if (freeBytesAvailable != nullptr) *freeBytesAvailable = available;
  if (totalBytes != nullptr) *totalBytes = static_cast<uint64_t>(info.f_blocks) * unit;
  if (totalFreeBytes != nullptr) *totalFreeBytes = free;
  return TRUE;
}

DWORD DefaultPlatform::GetCounter(const std::string& name) {
  if (FindCounter(name) == nullptr) return 0;
  return ParseDword(platform::HandsetValue(CounterKey(name), ""), 0);
}

void DefaultPlatform::SetCounter(const std::string& name, DWORD value) {
  if (FindCounter(name) == nullptr) return;
  platform::UpdateHandsetState(
      [&](platform::StateMap& state) { state[CounterKey(name)] = std::to_string(value); });
}

int DefaultPlatform::GetCardFlags() {
  return static_cast<int>(ParseDword(platform::HandsetValue("cardflags", ""), 0) & 6);
}

void DefaultPlatform::SetCardFlags(int flags) {
  platform::UpdateHandsetState(
      [&](platform::StateMap& state) { state["cardflags"] = std::to_string(flags & 6); });
}

bool DefaultPlatform::InsertCard() {
  bool inserted = false;
  platform::WithHandsetLock([&] {
    std::string card = CardPath();
    std::string aside = AsidePath();
    struct stat info;
    if (Sys().lstat(card.c_str(), &info) == 0) return;  // already in
    if (IsDirectory(aside))
      inserted = Sys().rename(aside.c_str(), card.c_str()) == 0;
    else
      inserted = Sys().mkdir(card.c_str(), 0777) == 0;
  });
  return inserted;
}

bool DefaultPlatform::EjectCard() {
  bool ejected = false;
  platform::WithHandsetLock([&] {
    std::string card = CardPath();
    std::string aside = AsidePath();
    if (!IsDirectory(card)) return;
    RemoveHostTree(aside);  // a card left aside earlier
    ejected = Sys().rename(card.c_str(), aside.c_str()) == 0;
  });
  return ejected;
}

void DefaultPlatform::SetSystemLanguage(const std::u16string& language) {
  platform::UpdateHandsetState(
      [&](platform::StateMap& state) { state["language"] = platform::ToUtf8(language); });
}

void DefaultPlatform::SetFreeSpaceCap(const std::u16string& volumeRoot, uint64_t bytes) {
  std::u16string terminated = volumeRoot.substr(0, volumeRoot.find(u'\0'));
  std::string volume = VolumeName(terminated.c_str());
  if (volume.empty()) return;
  platform::UpdateHandsetState([&](platform::StateMap& state) {
    if (bytes == UINT64_MAX)
      state.erase(CapKey(volume));
    else
      state[CapKey(volume)] = std::to_string(bytes);
  });
}

}  // namespace msgstore
