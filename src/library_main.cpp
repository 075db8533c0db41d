// Library start-up. Loading the library runs the attach work and unloading
// it the detach work, through one object of the library whose construction
// and destruction bracket everything else the library makes at load. Nothing
// under the device root is made or opened for writing at load.
#include "library_main.h"

#include <string>

#include "email/email_accounts.h"
#include "msgstore/platform.h"

namespace msgstore {
namespace {

HMODULE g_languageModule = nullptr;

void Attach() {
  email::ConstructAccountArray();
  const std::u16string name = u"apRes" + GetPlatform().xGetSystemLanguage() + u"0123.dll";
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

BOOL LibraryMain(HANDLE /*instance*/, DWORD reason, void* /*reserved*/) {
  if (reason == kProcessAttach) Attach();
  if (reason == kProcessDetach) Detach();
  return TRUE;
}

HMODULE LanguageModule() { return g_languageModule; }

}  // namespace msgstore
