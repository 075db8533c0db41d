// A device root: opening it (made only when asked), its message trees and the
// simulated memory card.
#include "msgstore/device.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "api/folder_files.h"
#include "api/handset.h"
#include "platform/host_files.h"
#include "platform/host_path.h"

namespace msgstore {
namespace {

using api::Fail;
using api::IsDirectory;

}  // namespace

std::string Device::DefaultRoot() {
  const char* env = std::getenv("MSGSTORE_ROOT");
  if (env != nullptr && *env != '\0') return env;
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && *data != '\0') return std::string(data) + "/msgstore/device";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.local/share/msgstore/device";
  return "";
}

std::unique_ptr<Device> Device::Open(const std::string& rootText, bool create, Result* result) {
  Result ignored;
  Result& r = result != nullptr ? *result : ignored;
  r = Result();
  const std::string root = rootText.empty() ? DefaultRoot() : rootText;
  if (root.empty()) {
    r = Fail<Result>(Status::kNotFound, Refusal::kNone,
                     "no device root: give one or set MSGSTORE_ROOT");
    return nullptr;
  }
  // Nothing of the platform runs before the root is known to be there: its
  // first use makes the root's phone volume.
  using platform::HostKind;
  const HostKind kind = platform::HostPathKind(root);
  const bool exists = kind != HostKind::kMissing;
  if (!exists && !create) {
    r = Fail<Result>(Status::kNotFound, Refusal::kNone,
                     "no device root at " + root + " (initializing a device makes one)");
    return nullptr;
  }
  if (!exists && !platform::MakeHostDirs(root)) {
    r = Fail<Result>(Status::kFailed, Refusal::kNone,
                     "cannot create the device root " + root + ": " + std::strerror(errno));
    return nullptr;
  }
  if (exists && kind != HostKind::kDirectory) {
    r = Fail<Result>(Status::kRefused, Refusal::kInvalid,
                     "cannot use " + root + " as the device root: not a directory");
    return nullptr;
  }
  SetDeviceRoot(root);
  return std::unique_ptr<Device>(new Device(root));
}

std::unique_ptr<Device> Device::OpenExisting(const std::string& rootText, Result* result) {
  Result ignored;
  Result& r = result != nullptr ? *result : ignored;
  std::unique_ptr<Device> device = Open(rootText, false, &r);
  if (device == nullptr) return nullptr;
  // Looked for on the host before any use of the platform, which makes the
  // phone volume on its first use.
  for (const StoreDescription* s : Stores())
    if (platform::HostPathKind(
            platform::ResolveUnder(device->root(), platform::SplitDevicePath(s->phoneRoot))) ==
        platform::HostKind::kDirectory)
      return device;
  r = Fail<Result>(Status::kNotFound, Refusal::kNone,
                   "no message tree at " + device->root() + " (initializing a device makes one)");
  return nullptr;
}

std::unique_ptr<Device> Device::Open(const std::string& root, bool create) {
  Result r;
  std::unique_ptr<Device> device = Open(root, create, &r);
  if (device == nullptr) throw std::runtime_error(r.error);
  return device;
}

Device::Device(std::string root)
    : root_(std::move(root)), sms_(&SmsStore()), mms_(&MmsStore()), email_(&EmailStore()) {}

Store& Device::store(StoreKind kind) {
  switch (kind) {
    case StoreKind::kSms:
      return sms_;
    case StoreKind::kMms:
      return mms_;
    case StoreKind::kEmail:
      break;
  }
  return email_;
}

Result Device::Init() {
  Result r = MakeTree(false);
  if (r && CardInserted()) r = MakeTree(true);
  return r;
}

Result Device::MakeTree(bool card) {
  if (card && !CardInserted())
    return Fail<Result>(Status::kRefused, Refusal::kNoCard, "no memory card is inserted");
  for (const StoreDescription* s : Stores()) {
    const api::Handset& h = api::HandsetOf(s->kind);
    h.createDir(card);
    for (const FolderDescription& f : *s) {
      if (card && !f.onCard()) continue;
      WCHAR path[MAX_PATH] = {};
      if (f.hasFolderPath && (h.folderPath(card, f.number, path) == 0 || !IsDirectory(path)))
        return Fail<Result>(Status::kFailed, Refusal::kNone,
                            std::string("could not make the ") + f.name + " folder of the " +
                                s->title + " in " + (card ? "the memory card" : "phone memory"));
    }
  }
  return {};
}

bool Device::CardInserted() const { return (GetPlatform().xGetSDCardState() & 1) != 0; }

Result Device::InsertCard() {
  if (CardInserted())
    return Fail<Result>(Status::kRefused, Refusal::kInvalid, "the memory card is already inserted");
  if (!DefaultPlatform::InsertCard() || !CardInserted())
    return Fail<Result>(Status::kFailed, Refusal::kNone, "could not insert the memory card");
  return {};
}

Result Device::RemoveCard() {
  if (!CardInserted())
    return Fail<Result>(Status::kRefused, Refusal::kNoCard, "no memory card is inserted");
  if (!DefaultPlatform::EjectCard() || CardInserted())
    return Fail<Result>(Status::kFailed, Refusal::kNone, "could not remove the memory card");
  return {};
}

}  // namespace msgstore
