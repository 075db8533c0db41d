// Library start-up and shutdown with a recording platform.
#include "library_main.h"
#include "msgstore/device.h"
#include "msgstore/msgstore.h"
#include "msgstore/text.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using msgstore::LibraryMain;

// Records module loads and frees beside the counter calls; the module it
// hands out is itself.
class ModulePlatform : public msgstore_test::FakePlatform {
 public:
  std::vector<std::u16string> modules;
  HMODULE LoadLibraryW(const WCHAR* name) override { return modules.push_back(name), this; }
  BOOL FreeLibrary(HMODULE m) override {
    return modules.push_back(m == this ? u"free" : u"free another"), TRUE;
  }
};

using LibraryStart = msgstore_test::DeviceTest;

TEST_F(LibraryStart, AttachLoadsTheLanguageModuleAndDetachFreesItAndDropsUnsavedAccounts) {
  ModulePlatform modules;
  msgstore::SetPlatform(&modules);
  modules.language = u"DEU";
  EXPECT_TRUE(LibraryMain(nullptr, msgstore::kProcessAttach, nullptr));
  EXPECT_EQ(msgstore::LanguageModule(), &modules);
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
  EXPECT_EQ(modules.modules, (std::vector<std::u16string>{u"apResDEU0123.dll", u"free"}));
  EXPECT_EQ(msgstore::Utf8ToUtf16(msgstore::LanguageModuleName(u"DEU")), modules.modules[0]);
  // Start-up asks for the language only: no counter, card or notice.
  EXPECT_TRUE(modules.calls.empty() && modules.posted.empty());
}

}  // namespace
