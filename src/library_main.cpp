// Library start-up. Loading the library runs the attach work and unloading
// it the detach work, through one object of the library whose construction
// and destruction bracket everything else the library makes at load. Nothing
// under the device root is made or opened for writing at load.
#include "library_main.h"

#include <string>

#include "email/email_accounts.h"
#include "msgstore/device.h"
#include "msgstore/platform.h"
#include "msgstore/text.h"

namespace msgstore {
namespace {

HMODULE g_languageModule = nullptr;

std::u16string ModuleOf(const std::u16string& language) {
  return u"apRes" + language + u"0123.dll";
}

void Attach() {
  email::ConstructAccountArray();
  const std::u16string name = ModuleOf(GetPlatform().xGetSystemLanguage());
  // A handset without the module for its language works all the same.
  g_languageModule = GetPlatform().LoadLibraryW(name.c_str());
}

void Detach() {
  GetPlatform().FreeLibrary(g_languageModule);
  g_languageModule = nullptr;
  // Accounts never saved with EmailMsgStore_Close are gone.
  email::DestroyAccountArray();
}

// Loaded and unloaded with the library.
struct Lifetime {
  Lifetime() { LibraryMain(nullptr, kProcessAttach, nullptr); }
  ~Lifetime() { LibraryMain(nullptr, kProcessDetach, nullptr); }
} g_lifetime;

}  // namespace

std::string LanguageModuleName(const std::u16string& language) {
  return Utf16ToUtf8(ModuleOf(language));
}

BOOL LibraryMain(HANDLE /*instance*/, DWORD reason, void* /*reserved*/) {
  if (reason == kProcessAttach) Attach();
  if (reason == kProcessDetach) Detach();
  return TRUE;
}

HMODULE LanguageModule() { return g_languageModule; }

}  // namespace msgstore
