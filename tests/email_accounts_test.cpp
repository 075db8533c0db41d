// E-mail account store: the database bytes, the order of a folder's records
// across a save and a load, the registry counter and its mutex, lookups and
// removals, unsaved accounts lost at unload, and the loader fed cut and
// oversized databases.
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
  // A read by folder and index (or, with index ~0, by identifier); a failed
  // read must leave the record as it was.
  static Account Read(DWORD folderOrId, DWORD index = ~0u) {
    WCHAR mine[] = u"mine";
    tagEMAILACCOUNTPROPS p{1, 2, 3, 4, 5, mine};
    const int ok = index == ~0u ? EmailMsgStore_ReadFolderAccount(nullptr, folderOrId, &p)
                                : EmailMsgStore_ReadFolderAccount(nullptr, folderOrId, index, &p);
    Account a{p.dwData, p.dwFolder, p.wData1, p.wData2, p.dwAccountId, p.pszText ? p.pszText : u""};
    EXPECT_TRUE(ok || a == Account(1, 2, 3, 4, 5, u"mine")) << "a failed read changed the record";
    if (ok && p.pszText != mine) std::free(p.pszText);
    return ok ? a : Account{};
  }
  Bytes Load(const std::string& rel) const { return msgstore_test::Load(Host(rel)); }
  // Written over in place: truncating first makes every loop iteration flush.
  void Put(const std::string& rel, const Bytes& b) const {
    std::fstream(Host(rel), std::ios::binary | std::ios::out | std::ios::app).close();
    std::fstream(Host(rel), std::ios::binary | std::ios::in | std::ios::out)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    fs::resize_file(Host(rel), b.size());
  }
  Accounts Opened(const Bytes& b) {
    Put(kDatabase, b);
    EXPECT_EQ(EmailAccMsgStore_Open(nullptr), 1);
    return Array();
  }
};

TEST_F(EmailAccounts, CreateAndOpenOfMissingEmptyAndExistingDatabases) {
  fs::remove(Host("DiskOnChip/User/MESSAGING"));
  EXPECT_EQ(EmailAccMsgStore_Create(), 0) << "the directory is not made";
  fs::create_directories(Host("DiskOnChip/User/MESSAGING"));
  WriteAll({Acc(1, 1)});
  HANDLE store = nullptr;
  EXPECT_EQ(EmailAccMsgStore_Open(&store), 0) << "no database";
  EXPECT_EQ(store, &msgstore::email::AccountArray());
  EXPECT_EQ(Array(), Accounts());
  EXPECT_EQ(EmailAccMsgStore_Create(), 1);
  EXPECT_EQ(Load(kDatabase), Bytes());
  WriteAll({Acc(1, 1)});
  EXPECT_EQ(Opened({}), Accounts());
  Put(kDatabase, {1, 2, 3});
  EXPECT_EQ(EmailAccMsgStore_Create(), 1);
  EXPECT_EQ(Load(kDatabase), Bytes({1, 2, 3}));
}

TEST_F(EmailAccounts, CloseWritesTheArrayAndALoadTurnsEachFolderRound) {
  EXPECT_EQ(EmailMsgStore_Close(nullptr), 1);
  EXPECT_EQ(Load(kDatabase), Bytes({0, 0, 0, 0}));
  const std::u16string longText(300, u'x');
  const Account ann{0x11223344, 1, 0x5566, 0x7788, 7, u"Ann"};
  WriteAll({ann, Acc(2, 8, u""), Acc(1, 9, u"Gr\u00fc\u00dfe \u20ac"), Acc(3, 10, longText)});
  tagEMAILACCOUNTPROPS nullText{1, 4, 2, 3, 0, nullptr};
  EXPECT_EQ(EmailMsgStore_WriteAccountData(nullptr, &nullText, 11), 11u);
  EXPECT_EQ(EmailMsgStore_Close(nullptr), 1);
  EXPECT_EQ(Load(kDatabase), Image({Acc(1, 9, u"Gr\u00fc\u00dfe \u20ac"),
                                    ann,
                                    Acc(2, 8, u""),
                                    Acc(3, 10, longText.substr(0, 255)),
                                    {1, 4, 2, 3, 11, u""}}));
  fs::directory_iterator dir(Host("DiskOnChip/User/MESSAGING"));
  EXPECT_EQ(std::distance(dir, fs::directory_iterator()), 1) << "no temporary file is left";

  // Each record written goes in front of its folder's first; a load writes
  // them in file order, so a save and a load reverse a folder.
  msgstore::email::UnloadAccounts();
  const Account x = Acc(5, 1, u"X"), y = Acc(5, 2, u"Y");
  WriteAll({x, y});
  EXPECT_EQ(Read(5, 0), y);
  ASSERT_EQ(EmailMsgStore_Close(nullptr), 1);
  ASSERT_EQ(EmailAccMsgStore_Open(nullptr), 1);
  EXPECT_EQ(Read(5, 0), x);
  EXPECT_EQ(Read(5, 1), y);
  fs::remove_all(Host("DiskOnChip/User/MESSAGING"));
  EXPECT_EQ(EmailMsgStore_Close(nullptr), 0);
}

TEST_F(EmailAccounts, AccountsNeverSavedAreLostAtUnload) {
  WriteAll({Acc(1, 1)});
  ASSERT_EQ(EmailMsgStore_Close(nullptr), 1);
  WriteAll({Acc(1, 2)});
  msgstore::email::UnloadAccounts();
  EXPECT_EQ(Array(), Accounts());
  ASSERT_EQ(EmailAccMsgStore_Open(nullptr), 1);
  EXPECT_EQ(Array(), Accounts({Acc(1, 1)}));
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
  EXPECT_EQ(std::get<4>(Array()[0]), kFirstId + 1) << "the caller's own identifier is not read";
  EXPECT_EQ(Load(kCounter), Bytes({4, 0, 0, 0, 4, 0, 0, 0x30})) << "REG_DWORD 0x30000004";

  const std::pair<Bytes, DWORD> cases[] = {// type and data stored, the next identifier
                                           {{4, 0, 0, 0, 41, 0, 0, 0}, 42},
                                           {{4, 0, 0, 0, 0, 0, 0, 0}, kFirstId},
                                           {{4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
                                           {{1, 0, 0, 0, 'p', 0, 'o', 0, 'p', 0, 0, 0}, kFirstId}};
  for (const auto& [stored, next] : cases) {
    Put(kCounter, stored);
    EXPECT_EQ(Write(Acc(1, 0), 0), next);
    EXPECT_EQ(Load(kCounter), msgstore_test::ByteBuilder().U32(REG_DWORD).U32(next).b) << next;
  }
  // Without a way to the registry key the account is kept under 0.
  msgstore::email::UnloadAccounts();
  fs::remove_all(Host(".platform/registry"));
  fs::create_directories(Host(".platform/registry/HKLM"));
  Put(".platform/registry/HKLM/k.software", {});
  EXPECT_EQ(Write(Acc(2, 0, u"kept"), 0), 0u);
  EXPECT_EQ(Read(0), Acc(2, 0, u"kept"));
}

TEST_F(EmailAccounts, LookupsAndRemovalsKeepTheOrderOfTheOthers) {
  const Account a{0x11223344, 1, 0x5566, 0x7788, 7, u"Ann"}, b = Acc(1, 8, u""),
                                                             c = Acc(2, 7, u"Cy"), d = Acc(3, 3);
  WriteAll({a, b, c, d});
  EXPECT_EQ(EmailMsgStore_GetAccountMessageCount(nullptr, 1), 2u);
  EXPECT_EQ(Read(1, 0), b) << "an empty text reads as null";
  EXPECT_EQ(Read(1, 1), a);
  EXPECT_EQ(Read(1, 2), c) << "into the next folder";
  EXPECT_EQ(Read(7), a) << "the first of two";
  for (DWORD index : {4u, 0xFFFFFFFFu}) EXPECT_EQ(Read(1, index), Account{});
  EXPECT_EQ(Read(9, 0), Account{});
  EXPECT_EQ(Read(99), Account{});
  EXPECT_EQ(EmailMsgStore_SetFolderCount(nullptr, 8, 5), 1);
  EXPECT_EQ(EmailMsgStore_SetFolderCount(nullptr, 99, 5), 0);
  EXPECT_EQ(Array(), Accounts({b, a, c, d})) << "the count changes nothing";
  EXPECT_EQ(EmailMsgStore_DeleteAccount(nullptr, 7), 1);
  EXPECT_EQ(Array(), Accounts({b, a, d})) << "the one nearest the end";
  EXPECT_EQ(EmailMsgStore_DeleteAccount(nullptr, 99), 0);
  EXPECT_EQ(EmailMsgStore_EmptyFolderAccount(nullptr, 9), 1);
  EXPECT_EQ(EmailMsgStore_EmptyFolderAccount(nullptr, 1), 1);
  EXPECT_EQ(Array(), Accounts({d}));
}

TEST_F(EmailAccounts, LoaderKeepsOnlyWholeRecordsWithinTheData) {
  const Account a = Acc(1, 1, u"first"), b = Acc(2, 2, u""), c = Acc(1, 3, u"third one"),
                d = Acc(4, 4, u"\u00e9");
  const Bytes image = Image({a, b, c, d});
  const Accounts loaded[] = {{}, {a}, {a, b}, {c, a, b}, {c, a, b, d}};
  const size_t ends[] = {32, 50, 86, 106};  // a record: 18 bytes and 2 per character
  ASSERT_EQ(image.size(), 106u);
  for (size_t len = 0; len <= image.size(); ++len) {
    const size_t whole = std::upper_bound(std::begin(ends), std::end(ends), len) - ends;
    EXPECT_EQ(Opened(Bytes(image.begin(), image.begin() + len)), loaded[whole]) << "cut at " << len;
  }
  EXPECT_EQ(Opened(Image({a, b}, 0xFFFFFFFF)), Accounts({a, b}));
  EXPECT_EQ(Opened(Image({a, b}, 1)), Accounts({a}));
  const std::u16string huge(1000, u'h');
  EXPECT_EQ(Opened(Image({Acc(1, 1, huge), c})), Accounts({c, Acc(1, 1, huge.substr(0, 255))}));
  Bytes unterminated = Image({a, Acc(2, 2, u"ab")});
  unterminated.resize(unterminated.size() - 1);
  EXPECT_EQ(Opened(unterminated), Accounts({a}));
}

}  // namespace
