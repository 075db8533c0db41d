// Modules of the handset: files in the device's "\Windows" directory, held
// open while they are loaded.
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_path.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace {

class ModuleObject : public platform::HandleObject {
 public:
  static constexpr platform::HandleKind kKind = platform::HandleKind::kModule;
  explicit ModuleObject(platform::UniqueFd fd) : HandleObject(kKind), fd_(std::move(fd)) {}

 private:
  platform::UniqueFd fd_;
};

}  // namespace

HMODULE Platform::LoadLibraryW(const WCHAR* fileName) {
  if (fileName == nullptr || fileName[0] == 0) return nullptr;
  std::vector<std::string> name = platform::SplitDevicePath(platform::FromWide(fileName));
  // A bare name is looked for in "\Windows"; a path names the file itself.
  const std::u16string wide = platform::FromWide(fileName);
  if (wide.find(u'\\') == std::u16string::npos && wide.find(u'/') == std::u16string::npos)
    name.insert(name.begin(), "Windows");
  if (name.empty()) return nullptr;
  // Resolved under the root as it is: nothing is made on the way.
  const std::string host = platform::ResolveUnder(GetDeviceRoot(), name);
  platform::UniqueFd fd(platform::Sys().open(host.c_str(), O_RDONLY | O_CLOEXEC, 0));
  struct stat info;
  if (!fd.valid() || platform::Sys().fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
    return nullptr;
  return platform::AddHandle(std::make_shared<ModuleObject>(std::move(fd)));
}

BOOL Platform::FreeLibrary(HMODULE module) {
  return platform::RemoveHandleOf<ModuleObject>(module) ? TRUE : FALSE;
}

}  // namespace msgstore
