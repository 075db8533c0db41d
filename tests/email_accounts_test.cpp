// E-mail account store: the database bytes, the order of a folder's records
// across a save and a load, the registry counter and its mutex, lookups and
// removals, and the loader fed cut and oversized databases. (Saves and
// identifiers that cannot be written are walked in fault_injection_test.cpp.)
#include <chrono>
#include <cstdlib>
#include <future>

#include "email/email_accounts.h"
#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;

constexpr DWORD kFirstId = 0x30000003;
const std::string kDatabase = "DiskOnChip/User/MESSAGING/EmailAccMsgStore.db";
const std::string kCounter =
    ".platform/registry/HKLM/k.software/k.corvane/k.email/k.accounts/v.accoutnid";

// dwData, dwFolder, wData1, wData2, dwAccountId, text
using Account = std::tuple<DWORD, DWORD, WORD, WORD, DWORD, std::u16string>;
using Accounts = std::vector<Account>;

Account Acc(DWORD folder, DWORD id, std::u16string text = u"t") {
  return {id * 3, folder, static_cast<WORD>(id + 1), static_cast<WORD>(folder + 2), id, text};
}

// The database, built byte by byte; count -1 is the number of accounts.
Bytes Image(const Accounts& accounts, int64_t count = -1) {
  msgstore_test::ByteBuilder b;
  b.U32(count < 0 ? static_cast<DWORD>(accounts.size()) : static_cast<DWORD>(count));
  for (const auto& [data, folder, w1, w2, id, text] : accounts)
    b.U32(data).U32(folder).U16(w1).U16(w2).U32(id).Str(text.c_str());
  return b.b;
}

class EmailAccounts : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    fs::create_directories(Host("DiskOnChip/User/MESSAGING"));
    msgstore::email::UnloadAccounts();
  }
  void TearDown() override {
    msgstore::email::UnloadAccounts();
    DeviceTest::TearDown();
  }
  static DWORD Write(const Account& a, DWORD id) {
    auto [data, folder, w1, w2, ignored, text] = a;
    tagEMAILACCOUNTPROPS p{data, folder, w1, w2, 0xBAD, text.data()};
    return EmailMsgStore_WriteAccountData(nullptr, &p, id);
  }
  static void WriteAll(const Accounts& accounts) {
    for (const Account& a : accounts) ASSERT_EQ(Write(a, std::get<4>(a)), std::get<4>(a));
  }
  static Accounts Array() {
    Accounts out;
    const msgstore::EmailAccountArray& array = msgstore::email::AccountArray();
    for (long i = 0; i < array.GetSize(); ++i)
      out.push_back({array[i].dwData, array[i].dwFolder, array[i].wData1, array[i].wData2,
                     array[i].dwAccountId, array[i].szText});
    return out;
  }
  // A read by folder and index (or, with index ~0, by identifier).
  static Account Read(DWORD folderOrId, DWORD index = ~0u) {
    tagEMAILACCOUNTPROPS p{};
    const int ok = index == ~0u ? EmailMsgStore_ReadFolderAccount(nullptr, folderOrId, &p)
                                : EmailMsgStore_ReadFolderAccount(nullptr, folderOrId, index, &p);
    Account a{p.dwData, p.dwFolder, p.wData1, p.wData2, p.dwAccountId, p.pszText ? p.pszText : u""};
    std::free(p.pszText);
    EXPECT_EQ(ok, 1);
    return a;
  }
  Bytes Load(const std::string& rel) const { return msgstore_test::Load(Host(rel)); }
  Accounts Opened(const Bytes& b) {
    msgstore_test::Store(b, Host(kDatabase));
    EXPECT_EQ(EmailAccMsgStore_Open(nullptr), 1);
    return Array();
  }
};

TEST_F(EmailAccounts, SavesLoadsLookupsAndRemovalsKeepTheOrderAndWholeRecords) {
  const std::u16string longText(300, u'x');
  const Account ann{0x11223344, 1, 0x5566, 0x7788, 7, u"Ann"};
  WriteAll({ann, Acc(2, 8, u""), Acc(1, 9, u"Gr\u00fc\u00dfe"), Acc(3, 10, longText)});
  EXPECT_EQ(EmailMsgStore_Close(nullptr) + EmailAccMsgStore_Create(), 2) << "Create keeps it";
  EXPECT_EQ(Load(kDatabase), Image({Acc(1, 9, u"Gr\u00fc\u00dfe"), ann, Acc(2, 8, u""),
                                    Acc(3, 10, longText.substr(0, 255))}));
  // A load writes the records in file order, each in front of its folder's
  // first, so a save and a load reverse a folder.
  ASSERT_EQ(EmailAccMsgStore_Open(nullptr), 1);
  EXPECT_EQ(Read(1, 0), ann);
  fs::remove(Host(kDatabase));
  EXPECT_TRUE(EmailAccMsgStore_Open(nullptr) == 0 && Array().empty()) << "emptied all the same";
  // Lookups and removals keep the order of the others.
  Account a = Acc(1, 7, u"Ann"), b = Acc(1, 8, u""), c = Acc(2, 7, u"Cy"), d = Acc(3, 3);
  WriteAll({a, b, c, d});
  EXPECT_EQ(EmailMsgStore_GetAccountMessageCount(nullptr, 1), 2u);
  EXPECT_EQ(Read(1, 2), c) << "into the next folder";
  EXPECT_EQ(Read(7), a) << "the first of two";
  tagEMAILACCOUNTPROPS none{};
  EXPECT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 3, 1, &none), 0) << "past the end";
  EXPECT_EQ(EmailMsgStore_SetFolderCount(nullptr, 9, 5), 0) << "no account 9";
  EXPECT_EQ(EmailMsgStore_SetFolderCount(nullptr, 8, 5) + EmailMsgStore_DeleteAccount(nullptr, 7) +
                EmailMsgStore_DeleteAccount(nullptr, 3),
            3);
  EXPECT_EQ(Array(), Accounts({b, a})) << "the one nearest the end, and the last";
  EXPECT_TRUE(EmailMsgStore_EmptyFolderAccount(nullptr, 1) == 1 && Array().empty());
  // The loader keeps only whole records within the data.
  a = Acc(1, 1, u"first"), b = Acc(2, 2, u""), c = Acc(1, 3, u"third one");
  const Bytes image = Image({a, b, c});
  const Accounts loaded[] = {{}, {a}, {a, b}, {c, a, b}};
  const size_t ends[] = {32, 50, 86};  // a record: 18 bytes and 2 per character
  ASSERT_EQ(image.size(), 86u);
  for (size_t len = 0; len <= image.size(); ++len) {
    const size_t whole = std::upper_bound(std::begin(ends), std::end(ends), len) - ends;
    EXPECT_EQ(Opened(Bytes(image.begin(), image.begin() + len)), loaded[whole]) << "cut at " << len;
  }
  EXPECT_EQ(Opened(Image({a, b}, 1)), Accounts({a}));
}

TEST_F(EmailAccounts, NewIdentifiersComeFromTheRegistryCounterUnderItsMutex) {
  using namespace std::chrono_literals;
  HANDLE mutex = CreateMutexW(nullptr, 0, u"MUTEX_EMAIL_NEXTACCOUNTID");
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  auto fresh = std::async(std::launch::async, [] { return Write(Acc(1, 0), 0); });
  EXPECT_EQ(fresh.wait_for(200ms), std::future_status::timeout);
  EXPECT_EQ(Write(Acc(1, 77), 77), 77u) << "a given identifier needs no counter";
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  EXPECT_EQ(fresh.get(), kFirstId);
  EXPECT_EQ(Write(Acc(1, 0), 0), kFirstId + 1);
  EXPECT_EQ(Load(kCounter), Bytes({4, 0, 0, 0, 4, 0, 0, 0x30})) << "REG_DWORD 0x30000004";
}

}  // namespace
