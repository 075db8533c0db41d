// The shared index files: exact bytes, newest first with ties before, removal
// of the first match, and files that end in a partial record; the notices to
// other programs; the library's start-up and shutdown. The other shared
// helpers are pinned by the store, platform and reliability tests.
#include "common/index_file.h"
#include "common/msg_str.h"
#include "common/store_ops.h"
#include "ems_fixtures.h"
#include "library_main.h"
#include "msgstore/device.h"

namespace {

namespace fs = std::filesystem;
using namespace msgstore;  // NOLINT(build/namespaces)
using msgstore_test::Bytes;
using msgstore_test::Words;
using Entry = std::tuple<int, int, DWORD>;  // bMemoryCard, byFolder, dwOid

constexpr const WCHAR* kIndex = u"\\SD Card\\EmsIni";
constexpr IndexLock kLock = {u"MUTEX_TEST_ACCESSINI", true};

class CommonIndex : public msgstore_test::DeviceTest {
 protected:
  bool IndexExists() const { return fs::exists(Host("SD Card/EmsIni")); }
  Bytes IndexBytes() const { return msgstore_test::Load(Host("SD Card/EmsIni")); }
  void SetIndex(const Bytes& b) const { msgstore_test::Store(b, Host("SD Card/EmsIni")); }
  void Insert(DWORD folder, DWORD oid, DWORD low, DWORD high) {
    IndexInsert(kIndex, kLock, IndexRecord{folder, oid, FILETIME{low, high}});
  }
  void Remove(DWORD oid, DWORD folder) { IndexRemove(kIndex, kLock, oid, folder); }
  std::vector<Entry> QuickList(DWORD count) {
    CArray<tagOidArray, tagOidArray> list;
    EXPECT_EQ(IndexQuickList(kIndex, kLock, list), count);
    std::vector<Entry> entries;
    for (long i = 0; i < list.GetSize(); ++i)
      entries.emplace_back(list[i].bMemoryCard, list[i].byFolder, list[i].dwOid);
    return entries;
  }
};

TEST_F(CommonIndex, InsertKeepsNewestFirstWithTiesBeforeRemoveTakesTheFirstMatchOfIdAndFolder) {
  Insert(1, 5, 0x89ABCDEF, 0x01D2A3B4);
  EXPECT_EQ(IndexBytes(),
            Bytes({1, 0, 0, 0, 5, 0, 0, 0, 0xEF, 0xCD, 0xAB, 0x89, 0xB4, 0xA3, 0xD2, 1}));
  SetIndex(Words({1, 10, 5, 1, 1, 11, 3, 1, 1, 12, 9, 0}));
  Insert(7, 21, 5, 1);  // tie with the newest: the new record stands first
  Insert(1, 22, 0, 1);  // the high half decides first
  Insert(1, 23, 0, 0);  // oldest
  EXPECT_EQ(IndexBytes(),
            Words({7, 21, 5, 1, 1, 10, 5, 1, 1, 11, 3, 1, 1, 22, 0, 1, 1, 12, 9, 0, 1, 23, 0, 0}));

  Bytes original = Words({1, 10, 9, 0, 1, 11, 8, 0, 3, 11, 7, 0, 1, 11, 6, 0, 1, 12, 5, 0});
  original.insert(original.end(), {9, 9});
  SetIndex(original);
  Remove(99, 1);
  Remove(12, 3);
  EXPECT_EQ(IndexBytes(), original);
  EXPECT_EQ(QuickList(5).size(), 5u);
  Remove(11, 1);  // rewritten without the partial record
  Remove(12, 1);
  EXPECT_EQ(IndexBytes(), Words({1, 10, 9, 0, 3, 11, 7, 0, 1, 11, 6, 0}));
  EXPECT_EQ(QuickList(3), (std::vector<Entry>{{0, 1, 10}, {0, 3, 11}, {0, 1, 11}}));
  SetIndex(Words({7, 5, 1, 0}));
  Remove(5, 1);  // another folder's record stays
  EXPECT_TRUE(IndexExists());
  Remove(5, 7);
  Remove(5, 7);  // a missing index stays missing
  EXPECT_FALSE(IndexExists());
  SetIndex({});
  Insert(1, 5, 0, 0);  // an empty one is left alone
  EXPECT_TRUE(IndexExists() && IndexBytes().empty());
}

// The e-mail folder event of every folder from either storage, and the shell's
// notice of an emptied INBOX of the EMS (mark 0) and MMS (mark 1) stores.
TEST_F(CommonIndex, NoticesOfEveryFolderAndStore) {
  const UINT codes[] = {0, 0x19A0, 0x19A1, 0x19A2, 0, 0x19A4, 0x19A5, 0, 0};
  Notices want;
  for (DWORD storage : {0u, 1u})
    for (DWORD f = 0; f < std::size(codes); ++f)
      if (NotifyMessageApp(f, 40 + f, storage, 3) || codes[f])  // posted only with the code
        want.emplace_back(u"WCE_CVMESSAGEEXEC", codes[f], 40 + f, 0x03030000 | storage);
  for (const char* name : {"1.sms", "2.sms", "3.sms", "4.sms", "5.SMS", "6.sms.1.1.tmp"})
    std::ofstream(Host("SD Card/") + name);
  for (LPARAM mark : {0, 1}) {
    for (bool inbox : {false, true}) EmptyDir(u"\\SD Card", u"*.sms", inbox, mark);
    want.emplace_back(u"WCE_APSHELL", 0xC44, 0, mark);
  }
  // Five matches, four calls: each call took every match, whatever its case.
  EXPECT_EQ(std::distance(fs::directory_iterator(Host("SD Card")), fs::directory_iterator()), 1);
  EXPECT_EQ(TakeNotices(), want);
}

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
  SetPlatform(&modules);
  modules.language = u"DEU";
  EXPECT_TRUE(LibraryMain(nullptr, kProcessAttach, nullptr));
  EXPECT_EQ(LanguageModule(), &modules);
  // An account written but never saved does not outlive the unload.
  ASSERT_TRUE(fs::create_directories(Host("DiskOnChip/User/MESSAGING")));
  HANDLE store = nullptr;
  EmailAccMsgStore_Open(&store);
  tagEMAILACCOUNTPROPS account = {};
  account.dwFolder = 4;
  const DWORD id = EmailMsgStore_WriteAccountData(store, &account, 77);
  EXPECT_EQ(EmailMsgStore_GetAccountMessageCount(store, 4), 1u);
  EXPECT_TRUE(LibraryMain(nullptr, kProcessDetach, nullptr));
  EXPECT_EQ(LanguageModule(), nullptr);
  EXPECT_EQ(EmailMsgStore_GetAccountMessageCount(store, 4), 0u) << id;
  EXPECT_EQ(modules.modules, (std::vector<std::u16string>{u"apResDEU0123.dll", u"free"}));
  // Start-up asks for the language only: no counter, card or notice.
  EXPECT_TRUE(modules.calls.empty() && modules.posted.empty());
}

}  // namespace
