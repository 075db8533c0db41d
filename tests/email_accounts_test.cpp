// E-mail account store: the database bytes, the order of a folder's records
// across a save and a load, the registry counter and its mutex, lookups at
// and past the edges, unsaved accounts lost at unload, and the loader fed
// cut and corrupted databases (AddressSanitizer checks the bounds).
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "email/email_accounts.h"
#include "msgstore/email.h"
#include "msgstore/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr DWORD kFirstId = 0x30000003;
const std::string kDatabase = "DiskOnChip/User/MESSAGING/EmailAccMsgStore.db";

struct Account {
  DWORD data, folder;
  WORD w1, w2;
  DWORD id;
  std::u16string text;
  bool operator==(const Account& o) const {
    return std::tie(data, folder, w1, w2, id, text) ==
           std::tie(o.data, o.folder, o.w1, o.w2, o.id, o.text);
  }
};

Account Acc(DWORD folder, DWORD id, std::u16string text = u"t") {
  return {id * 3, folder, static_cast<WORD>(id + 1), static_cast<WORD>(folder + 2), id, text};
}

Bytes U32(DWORD v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// The database of accounts, built byte by byte apart from the library.
Bytes Image(const std::vector<Account>& accounts, DWORD count) {
  Bytes b = U32(count);
  auto u16 = [&b](WORD v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  auto u32 = [&b](DWORD v) {
    const Bytes le = U32(v);
    b.insert(b.end(), le.begin(), le.end());
  };
  for (const Account& a : accounts) {
    u32(a.data), u32(a.folder), u16(a.w1), u16(a.w2), u32(a.id);
    for (char16_t c : a.text) u16(c);
    u16(0);
  }
  return b;
}
Bytes Image(const std::vector<Account>& a) { return Image(a, static_cast<DWORD>(a.size())); }

// Accounts written one by one, in the order the store keeps them: each in
// front of the first of its folder, or last.
std::vector<Account> Placed(const std::vector<Account>& written) {
  std::vector<Account> out;
  for (const Account& a : written)
    out.insert(std::find_if(out.begin(), out.end(),
                            [&](const Account& o) { return o.folder == a.folder; }),
               a);
  return out;
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
    std::u16string text = a.text;
    tagEMAILACCOUNTPROPS p{a.data, a.folder, a.w1, a.w2, 0xBAD, text.data()};
    return EmailMsgStore_WriteAccountData(nullptr, &p, id);
  }
  static void WriteAll(const std::vector<Account>& accounts) {
    for (const Account& a : accounts) ASSERT_EQ(Write(a, a.id), a.id);
  }
  // The process's array as it stands.
  static std::vector<Account> Array() {
    std::vector<Account> out;
    const msgstore::EmailAccountArray& array = msgstore::email::AccountArray();
    for (long i = 0; i < array.GetSize(); ++i) {
      const msgstore::EmailAccountRecord& r = array[i];
      out.push_back({r.dwData, r.dwFolder, r.wData1, r.wData2, r.dwAccountId, r.szText});
    }
    return out;
  }
  // A read's result as an Account; the text is freed.
  static Account Taken(tagEMAILACCOUNTPROPS& p) {
    Account a{p.dwData, p.dwFolder, p.wData1, p.wData2, p.dwAccountId, p.pszText ? p.pszText : u""};
    std::free(p.pszText);
    p.pszText = nullptr;
    return a;
  }
  Bytes Load(const std::string& rel) const {
    std::ifstream in(Host(rel), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  // Written over in place and cut to length: truncating first makes the
  // file system flush the blocks at close, which slows the loops down.
  void Put(const std::string& rel, const Bytes& b) const {
    std::fstream(Host(rel), std::ios::binary | std::ios::out | std::ios::app).close();
    std::fstream(Host(rel), std::ios::binary | std::ios::in | std::ios::out)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    fs::resize_file(Host(rel), b.size());
  }
  int OpenImage(const Bytes& b) {
    Put(kDatabase, b);
    HANDLE store = nullptr;
    const int result = EmailAccMsgStore_Open(&store);
    EXPECT_EQ(store, &msgstore::email::AccountArray());
    return result;
  }
  static constexpr const char* kCounter =
      ".platform/registry/HKLM/k.software/k.corvane/k.email/k.accounts/v.accoutnid";
};

TEST_F(EmailAccounts, CreateMakesAnEmptyDatabaseOnlyWhenMissing) {
  fs::remove(Host("DiskOnChip/User/MESSAGING"));
  EXPECT_EQ(EmailAccMsgStore_Create(), 0);
  EXPECT_FALSE(fs::exists(Host("DiskOnChip/User/MESSAGING")));
  fs::create_directories(Host("DiskOnChip/User/MESSAGING"));
  EXPECT_EQ(EmailAccMsgStore_Create(), 1);
  EXPECT_EQ(Load(kDatabase), Bytes());
  EXPECT_TRUE(fs::is_regular_file(Host(kDatabase)));
  Put(kDatabase, {1, 2, 3});
  EXPECT_EQ(EmailAccMsgStore_Create(), 1);
  EXPECT_EQ(Load(kDatabase), Bytes({1, 2, 3}));
}

TEST_F(EmailAccounts, CloseWritesTheArrayWholeAndKeepsItLoaded) {
  EXPECT_EQ(EmailMsgStore_Close(nullptr), 1);
  EXPECT_EQ(Load(kDatabase), Bytes({0, 0, 0, 0}));
  const std::u16string longText(300, u'x');
  WriteAll({{0x11223344, 1, 0x5566, 0x7788, 7, u"Ann"},
            Acc(2, 8, u""),
            Acc(1, 9, u"Gr\u00fc\u00dfe \u20ac"),
            Acc(3, 10, longText)});
  tagEMAILACCOUNTPROPS nullText{1, 4, 2, 3, 0, nullptr};
  EXPECT_EQ(EmailMsgStore_WriteAccountData(nullptr, &nullText, 11), 11u);
  EXPECT_EQ(EmailMsgStore_Close(nullptr), 1);
  std::vector<Account> saved = {Acc(1, 9, u"Gr\u00fc\u00dfe \u20ac"),
                                {0x11223344, 1, 0x5566, 0x7788, 7, u"Ann"},
                                Acc(2, 8, u""),
                                Acc(3, 10, longText.substr(0, 255)),
                                {1, 4, 2, 3, 11, u""}};
  EXPECT_EQ(Load(kDatabase), Image(saved));
  EXPECT_EQ(EmailMsgStore_DeleteAccount(nullptr, 11), 1);
  EXPECT_EQ(EmailMsgStore_Close(nullptr), 1) << "again, after changes";
  saved.pop_back();
  EXPECT_EQ(Load(kDatabase), Image(saved));
  fs::directory_iterator dir(Host("DiskOnChip/User/MESSAGING"));
  EXPECT_EQ(std::distance(dir, fs::directory_iterator()), 1) << "no temporary file is left";
  fs::remove_all(Host("DiskOnChip/User/MESSAGING"));
  EXPECT_EQ(EmailMsgStore_Close(nullptr), 0);
}

TEST_F(EmailAccounts, LoadTurnsEachFolderRoundAsWritingInFileOrderDoes) {
  const Account x = Acc(5, 1, u"X"), y = Acc(5, 2, u"Y");
  WriteAll({x, y});
  tagEMAILACCOUNTPROPS p{};
  ASSERT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 5, 0, &p), 1);
  EXPECT_EQ(Taken(p), y);
  ASSERT_EQ(EmailMsgStore_Close(nullptr), 1);
  ASSERT_EQ(EmailAccMsgStore_Open(nullptr), 1);
  ASSERT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 5, 0, &p), 1);
  EXPECT_EQ(Taken(p), x);
  ASSERT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 5, 1, &p), 1);
  EXPECT_EQ(Taken(p), y);

  std::mt19937 rng(4711u);
  for (int round = 0; round < 20; ++round) {
    std::vector<Account> file;
    for (DWORD i = 0, n = rng() % 40; i < n; ++i) file.push_back(Acc(rng() % 5, i));
    ASSERT_EQ(OpenImage(Image(file)), 1);
    EXPECT_EQ(Array(), Placed(file)) << "round " << round;
  }
}

TEST_F(EmailAccounts, OpenDropsTheArrayWhateverTheFileHolds) {
  EXPECT_EQ(EmailMsgStore_GetAccountMessageCount(nullptr, 1), 0u) << "empty before any open";
  WriteAll({Acc(1, 1)});
  HANDLE store = nullptr;
  EXPECT_EQ(EmailAccMsgStore_Open(&store), 0) << "no database";
  EXPECT_EQ(store, &msgstore::email::AccountArray());
  EXPECT_EQ(Array(), std::vector<Account>());
  WriteAll({Acc(1, 1)});
  EXPECT_EQ(OpenImage({}), 1);
  EXPECT_EQ(Array(), std::vector<Account>());
  fs::remove(Host(kDatabase));
  fs::create_directory(Host(kDatabase));
  WriteAll({Acc(1, 1)});
  EXPECT_EQ(EmailAccMsgStore_Open(nullptr), 0) << "a directory";
  EXPECT_EQ(Array(), std::vector<Account>());
}

TEST_F(EmailAccounts, AccountsNeverSavedAreLostAtUnload) {
  WriteAll({Acc(1, 1)});
  ASSERT_EQ(EmailMsgStore_Close(nullptr), 1);
  WriteAll({Acc(1, 2)});
  msgstore::email::UnloadAccounts();
  EXPECT_EQ(Array(), std::vector<Account>());
  ASSERT_EQ(EmailAccMsgStore_Open(nullptr), 1);
  EXPECT_EQ(Array(), std::vector<Account>({Acc(1, 1)}));
}

TEST_F(EmailAccounts, NewIdentifiersComeFromTheRegistryCounter) {
  EXPECT_EQ(Write(Acc(1, 0), 0), kFirstId);
  EXPECT_EQ(Write(Acc(1, 0), 0), kFirstId + 1);
  EXPECT_EQ(Write(Acc(1, 0), 77), 77u);
  EXPECT_EQ(Array()[0].id, 77u);
  EXPECT_EQ(Array()[1].id, kFirstId + 1) << "the caller's own identifier is not read";
  EXPECT_EQ(Load(kCounter), Bytes({4, 0, 0, 0, 4, 0, 0, 0x30})) << "REG_DWORD 0x30000004";

  struct Case {
    Bytes stored;  // type and data; empty: no value
    DWORD next;
  };
  for (const Case& c :
       {Case{{4, 0, 0, 0, 41, 0, 0, 0}, 42}, Case{{4, 0, 0, 0, 0, 0, 0, 0}, kFirstId},
        Case{{4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0}, Case{{3, 0, 0, 0, 5}, 6},
        Case{{3, 0, 0, 0}, kFirstId}, Case{{1, 0, 0, 0, 'p', 0, 'o', 0, 'p', 0, 0, 0}, kFirstId},
        Case{{}, kFirstId}}) {
    fs::remove(Host(kCounter));
    if (!c.stored.empty()) Put(kCounter, c.stored);
    EXPECT_EQ(Write(Acc(1, 0), 0), c.next) << c.stored.size();
    Bytes stored = U32(REG_DWORD), value = U32(c.next);
    stored.insert(stored.end(), value.begin(), value.end());
    EXPECT_EQ(Load(kCounter), stored) << "and stored as REG_DWORD";
  }
}

TEST_F(EmailAccounts, WithoutARegistryKeyTheAccountIsKeptUnderIdentifierZero) {
  fs::create_directories(Host(".platform/registry/HKLM"));
  Put(".platform/registry/HKLM/k.software", {});
  EXPECT_EQ(Write(Acc(2, 0, u"kept"), 0), 0u);
  tagEMAILACCOUNTPROPS p{};
  ASSERT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 0, &p), 1);
  EXPECT_EQ(Taken(p), Acc(2, 0, u"kept"));
}

TEST_F(EmailAccounts, TheCounterIsAdvancedUnderItsOwnMutex) {
  using namespace std::chrono_literals;
  HANDLE mutex = CreateMutexW(nullptr, 0, u"MUTEX_EMAIL_NEXTACCOUNTID");
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  auto fresh = std::async(std::launch::async, [] { return Write(Acc(1, 0), 0); });
  EXPECT_EQ(fresh.wait_for(200ms), std::future_status::timeout);
  EXPECT_EQ(Write(Acc(1, 5), 5), 5u) << "a given identifier needs no counter";
  EXPECT_EQ(EmailMsgStore_Close(nullptr), 1) << "nor does a save";
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  EXPECT_EQ(fresh.get(), kFirstId);
}

TEST_F(EmailAccounts, ReadsFillEveryFieldOrLeaveTheRecordAlone) {
  const Account a{0x11223344, 1, 0x5566, 0x7788, 7, u"Ann"}, b = Acc(1, 8, u""),
                                                             c = Acc(2, 7, u"Cy");
  WriteAll({a, b, c});
  EXPECT_EQ(EmailMsgStore_GetAccountMessageCount(nullptr, 1), 2u);
  EXPECT_EQ(EmailMsgStore_GetAccountMessageCount(nullptr, 3), 0u);
  tagEMAILACCOUNTPROPS p{};
  ASSERT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 1, 0, &p), 1);
  EXPECT_EQ(p.pszText, nullptr) << "an empty text reads as null";
  EXPECT_EQ(Taken(p), b);
  ASSERT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 1, 1, &p), 1);
  EXPECT_EQ(Taken(p), a);
  ASSERT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 1, 2, &p), 1) << "into the next folder";
  EXPECT_EQ(Taken(p), c);
  ASSERT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 7, &p), 1) << "the first of two";
  EXPECT_EQ(Taken(p), a);

  WCHAR mine[] = u"mine";
  const tagEMAILACCOUNTPROPS before{1, 2, 3, 4, 5, mine};
  p = before;
  EXPECT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 1, 3, &p), 0);
  EXPECT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 1, 0xFFFFFFFF, &p), 0);
  EXPECT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 3, 0, &p), 0);
  EXPECT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 99, &p), 0);
  EXPECT_EQ(std::tie(p.dwData, p.dwFolder, p.wData1, p.wData2, p.dwAccountId, p.pszText),
            std::tie(before.dwData, before.dwFolder, before.wData1, before.wData2,
                     before.dwAccountId, before.pszText));
  EXPECT_EQ(EmailMsgStore_ReadFolderAccount(nullptr, 1, 0, nullptr), 0);
  EXPECT_EQ(EmailMsgStore_WriteAccountData(nullptr, nullptr, 5), 0u);
  EXPECT_EQ(Array(), std::vector<Account>({b, a, c}));
}

TEST_F(EmailAccounts, RemovalsKeepTheOrderOfTheOthers) {
  const Account a = Acc(1, 1), b = Acc(2, 1), c = Acc(1, 2), d = Acc(3, 3), e = Acc(2, 4);
  WriteAll({a, b, c, d, e});
  ASSERT_EQ(Array(), std::vector<Account>({c, a, e, b, d}));
  EXPECT_EQ(EmailMsgStore_SetFolderCount(nullptr, 1, 5), 1);
  EXPECT_EQ(EmailMsgStore_SetFolderCount(nullptr, 99, 5), 0);
  EXPECT_EQ(Array(), std::vector<Account>({c, a, e, b, d})) << "the count changes nothing";
  EXPECT_EQ(EmailMsgStore_DeleteAccount(nullptr, 1), 1);
  EXPECT_EQ(Array(), std::vector<Account>({c, a, e, d})) << "the one nearest the end";
  EXPECT_EQ(EmailMsgStore_DeleteAccount(nullptr, 1), 1);
  EXPECT_EQ(EmailMsgStore_DeleteAccount(nullptr, 1), 0);
  EXPECT_EQ(EmailMsgStore_EmptyFolderAccount(nullptr, 9), 1);
  EXPECT_EQ(Array(), std::vector<Account>({c, e, d}));
  WriteAll({Acc(1, 5)});
  EXPECT_EQ(EmailMsgStore_EmptyFolderAccount(nullptr, 1), 1);
  EXPECT_EQ(Array(), std::vector<Account>({e, d}));
}

using EmailAccountsRobustness = EmailAccounts;

TEST_F(EmailAccountsRobustness, EveryPrefixLoadsTheRecordsItHoldsWhole) {
  const std::vector<Account> file = {Acc(1, 1, u"first"), Acc(2, 2, u""), Acc(1, 3, u"third one"),
                                     Acc(4, 4, u"\u00e9")};
  const Bytes image = Image(file);
  for (size_t len = 0; len <= image.size(); ++len) {
    std::vector<Account> whole;
    for (size_t end = 4, i = 0; i < file.size(); ++i) {
      end += 18 + 2 * file[i].text.size();
      if (end <= len) whole.push_back(file[i]);
    }
    ASSERT_EQ(OpenImage(Bytes(image.begin(), image.begin() + len)), 1) << len;
    EXPECT_EQ(Array(), Placed(whole)) << "cut at " << len;
  }
}

TEST_F(EmailAccountsRobustness, HugeCountsAndTextsStayWithinTheData) {
  EXPECT_EQ(OpenImage(Image({Acc(1, 1), Acc(2, 2)}, 0xFFFFFFFF)), 1);
  EXPECT_EQ(Array(), std::vector<Account>({Acc(1, 1), Acc(2, 2)}));
  EXPECT_EQ(OpenImage(Image({Acc(1, 1), Acc(2, 2)}, 1)), 1) << "bytes after the last record";
  EXPECT_EQ(Array(), std::vector<Account>({Acc(1, 1)}));
  const std::u16string huge(1000, u'h');
  EXPECT_EQ(OpenImage(Image({Acc(1, 1, huge), Acc(1, 2)})), 1);
  EXPECT_EQ(Array(), std::vector<Account>({Acc(1, 2), Acc(1, 1, huge.substr(0, 255))}));
  Bytes unterminated = Image({Acc(1, 1), Acc(2, 2, u"ab")});
  unterminated.resize(unterminated.size() - 1);
  EXPECT_EQ(OpenImage(unterminated), 1);
  EXPECT_EQ(Array(), std::vector<Account>({Acc(1, 1)}));
}

}  // namespace
