// Library start-up and shutdown with a recording platform, and the default
// platform's modules.
#include <fstream>

#include "msgstore/msgstore.h"
#include "platform/library_main.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using msgstore::LibraryMain;

// Records module loads and frees beside the counter calls.
class ModulePlatform : public msgstore_test::FakePlatform {
 public:
  HMODULE module = nullptr;  // what LoadLibraryW hands out
  std::vector<std::string> modules;
  HMODULE LoadLibraryW(const WCHAR* name) override {
    std::u16string text = name != nullptr ? name : u"";
    modules.push_back("LoadLibraryW(" + std::string(text.begin(), text.end()) + ")");
    return module;
  }
  BOOL FreeLibrary(HMODULE m) override {
    modules.push_back(m == module && m != nullptr ? "FreeLibrary(module)" : "FreeLibrary(null)");
    return m != nullptr;
  }
};

using LibraryStart = msgstore_test::DeviceTest;

TEST_F(LibraryStart, AttachLoadsTheLanguageModuleAndDetachFreesItAndDropsUnsavedAccounts) {
  ModulePlatform modules;
  msgstore::SetPlatform(&modules);
  int token = 0;
  modules.module = &token;
  modules.language = u"DEU";
  EXPECT_TRUE(LibraryMain(nullptr, msgstore::kProcessAttach, nullptr));
  EXPECT_EQ(msgstore::LanguageModule(), &token);
  for (DWORD reason : {msgstore::kThreadAttach, msgstore::kThreadDetach})
    EXPECT_TRUE(LibraryMain(nullptr, reason, nullptr));
  // An account written but never saved does not outlive the unload.
  ASSERT_TRUE(fs::create_directories(Host("DiskOnChip/User/MESSAGING")));
  HANDLE store = nullptr;
  EmailAccMsgStore_Open(&store);
  tagEMAILACCOUNTPROPS account = {};
  account.dwFolder = 4;
  const DWORD id = EmailMsgStore_WriteAccountData(store, &account, 77);
  EXPECT_EQ(EmailMsgStore_GetAccountMessageCount(store, 4), 1u);
  EXPECT_TRUE(LibraryMain(nullptr, msgstore::kProcessDetach, nullptr));
  EXPECT_EQ(msgstore::LanguageModule(), nullptr);
  EXPECT_EQ(EmailMsgStore_GetAccountMessageCount(store, 4), 0u) << id;
  // Without a module for the language the library loads all the same, and
  // unloading frees the null handle.
  modules.module = nullptr;
  modules.language = u"ENG";
  EXPECT_TRUE(LibraryMain(nullptr, msgstore::kProcessAttach, nullptr) &&
              LibraryMain(nullptr, msgstore::kProcessDetach, nullptr));
  EXPECT_EQ(modules.modules,
            (std::vector<std::string>{"LoadLibraryW(apResDEU0123.dll)", "FreeLibrary(module)",
                                      "LoadLibraryW(apResENG0123.dll)", "FreeLibrary(null)"}));
  // Start-up asks for the language only: no counter, card or notice.
  EXPECT_TRUE(modules.calls.empty() && modules.posted.empty());
  msgstore::SetPlatform(&platform_);
}

TEST_F(LibraryStart, DefaultModulesAreFilesOfTheWindowsDirectoryHeldUntilFreed) {
  msgstore::DefaultPlatform handset;
  EXPECT_EQ(handset.LoadLibraryW(u"apResENG0123.dll"), nullptr);  // no \\Windows yet
  ASSERT_TRUE(fs::create_directories(Host("Windows/sub")));
  std::ofstream(Host("Windows/APRESENG0123.DLL")) << "resources";
  HMODULE module = handset.LoadLibraryW(u"apResENG0123.dll"), notAModule = &handset;
  EXPECT_TRUE(module && handset.LoadLibraryW(u"\\windows\\apreseng0123.dll"));
  EXPECT_FALSE(handset.LoadLibraryW(u"sub") || handset.LoadLibraryW(u""));
  EXPECT_TRUE(handset.FreeLibrary(module));
  EXPECT_FALSE(handset.FreeLibrary(module) || handset.FreeLibrary({}) ||
               handset.FreeLibrary(notAModule));
}

}  // namespace
