// Library start-up and shutdown with a recording platform.
#include "platform/library_main.h"
#include "msgstore/msgstore.h"
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
  EXPECT_EQ(modules.modules,
            (std::vector<std::string>{"LoadLibraryW(apResDEU0123.dll)", "FreeLibrary(module)"}));
  // Start-up asks for the language only: no counter, card or notice.
  EXPECT_TRUE(modules.calls.empty() && modules.posted.empty());
  msgstore::SetPlatform(&platform_);
}

}  // namespace
