// Library start-up and shutdown: what loading the library into a process
// and unloading it do.
#ifndef MSGSTORE_LIBRARY_MAIN_H_
#define MSGSTORE_LIBRARY_MAIN_H_

#include "msgstore/types.h"

namespace msgstore {

constexpr DWORD kProcessDetach = 0;
constexpr DWORD kProcessAttach = 1;
constexpr DWORD kThreadAttach = 2;
constexpr DWORD kThreadDetach = 3;

// The module's entry point, called with a reason above. Attach makes the
// account array (empty) and loads the language resource module "apRes" +
// system language + "0123.dll" through the platform (a missing module is no
// error); detach frees that module (also a null one) and drops the accounts,
// unsaved. The thread reasons do nothing. Always non-zero.
BOOL LibraryMain(HANDLE instance, DWORD reason, void* reserved);

// The language resource module loaded at attach, or null.
HMODULE LanguageModule();

}  // namespace msgstore

#endif  // MSGSTORE_LIBRARY_MAIN_H_
