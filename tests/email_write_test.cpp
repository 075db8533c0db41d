// The e-mail write path: identifiers from "EmailDB.ini", INBOX files and
// indexes per account, the folder limit counted on both storages, eviction
// and its notice, the choice of storage, and the free space of each volume.
#include <chrono>
#include <future>

#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Builder;
using msgstore_test::Bytes;

class EmailWriteTest : public msgstore_test::EmailTest {
 protected:
  using Posted = std::vector<std::tuple<UINT, WPARAM, LPARAM>>;
  Posted Notices() const {
    Posted out;
    for (const auto& p : platform_.posted) {
      EXPECT_EQ(p.className, u"WCE_CVMESSAGEEXEC");
      out.emplace_back(p.msg, p.wParam, p.lParam);
    }
    return out;
  }
};

TEST_F(EmailWriteTest, IdentifiersComeFromOneLittleEndianCounter) {
  tagMSGPROPS props = Message(kInbox, 5);
  tagEMAILMSGPROPS email = Email(kOther);
  EXPECT_EQ(1u, EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr));
  EXPECT_EQ(1u, props.dwOid);
  EXPECT_EQ((Bytes{1, 0, 0, 0}), Counter());
  // An INBOX message is named and indexed by its account.
  EXPECT_TRUE(Exists(false, kInbox, 1, kOther));
  EXPECT_EQ((Records{{kOther, 1, 5}}), Index(kOther));
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)));
  props.dwFolder = kDraft;
  EXPECT_EQ(2u, EmailMsgStore_WriteMessage(true, &props, &email, 0, nullptr));
  EXPECT_TRUE(Exists(true, kDraft, 2));
  EXPECT_FALSE(fs::exists(IndexFile(kDraft)));
  SetCounter(0x000102FF);
  EXPECT_EQ(0x00010300u, EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr));
  EXPECT_EQ((Bytes{0, 3, 1, 0}), Counter());
  EXPECT_EQ((Records{{kDraft, 0x00010300, 5}}), Index(kDraft));
  SetCounter(0xFFFFFFFA);
  props.dwFolder = kSpam;
  EXPECT_EQ(0xFFFFFFFBu, EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr));
  EXPECT_TRUE(fs::exists(Dir(false, kSpam) + "/-5.email"));

  // Folders without a file path take an identifier and fail; the
  // count of the INBOX stands for account folder values.
  SetCounter(10);
  for (DWORD folder : {0u, 7u, kNone, 9u, 11u, 12u, kAccount}) {
    props.dwFolder = folder;
    EXPECT_EQ(0u, EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr)) << folder;
  }
  EXPECT_EQ((Bytes{17, 0, 0, 0}), Counter());
  EXPECT_EQ(0u, Files(false, kNone) + AccountFiles(false, 12) + AccountFiles(false, kAccount));
}

TEST_F(EmailWriteTest, TakenNamesConsumeIdentifiersOnTheCardOnly) {
  Put(false, kDraft, 1, 10, 0, kAccount, u"old");
  Put(true, kDraft, 2, 10);
  Put(true, kDraft, 3, 11);
  Put(true, kInbox, 5, 10, 0, kAccount);
  Put(true, kInbox, 6, 10, 0, kOther);
  fs::remove(CounterFile());
  tagMSGPROPS props = Message(kDraft, 500, 0, u"new");
  tagEMAILMSGPROPS email = Email();
  EXPECT_EQ(1u, EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr));
  EXPECT_EQ(1u, Files(false, kDraft));
  EXPECT_EQ(u"new", Record(false, kDraft, 1).Subject());
  EXPECT_EQ(4u, EmailMsgStore_WriteMessage(true, &props, &email, 0, nullptr));
  EXPECT_EQ(4u, props.dwOid);
  // In the INBOX a name is taken only by the same account's file.
  props.dwFolder = kInbox;
  EXPECT_EQ(6u, EmailMsgStore_WriteMessage(true, &props, &email, 0, nullptr));
  EXPECT_EQ((Bytes{6, 0, 0, 0}), Counter());
  EXPECT_TRUE(Exists(true, kInbox, 6, kAccount));
  EXPECT_TRUE(Exists(true, kInbox, 6, kOther));
}

// The counter is read and advanced under "MUTEX_EMAIL_NEXTOID".
TEST_F(EmailWriteTest, CounterWaitsForItsMutex) {
  using namespace std::chrono_literals;
  HANDLE mutex = CreateMutexW(nullptr, 0, u"MUTEX_EMAIL_NEXTOID");
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  auto write = std::async(std::launch::async, [this] { return Write(false, kSent, 5); });
  EXPECT_EQ(write.wait_for(300ms), std::future_status::timeout);
  EXPECT_TRUE(Counter().empty());
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  EXPECT_EQ(1u, write.get());
  EXPECT_EQ((Bytes{1, 0, 0, 0}), Counter());
}

TEST_F(EmailWriteTest, StorageChoiceAtTheFolderLimit) {
  enum { kNull = 99, kAuto = STORAGE_AUTO, kBothFull = STORAGE_BOTH_FULL };
  enum { kRefused = -1, kNoEviction = -1, kPhone = 0, kCard = 1 };
  struct Case {
    DWORD folder, phone, card;  // messages already stored, all of kAccount
    bool toCard;
    int storage, cardState;
    DWORD account;  // of the new message
    int lands, storageOut, evicted;
    UINT notice;  // 0: none
  };
  const Case cases[] = {
      {kDraft, 99, 0, false, kNull, 1, kAccount, kPhone, kNull, kNoEviction, 0},
      {kDraft, 100, 0, false, kNull, 1, kAccount, kPhone, kNull, kPhone, 0x19A1},
      {kDraft, 100, 0, false, kAuto, 1, kAccount, kCard, 1, kNoEviction, 0},
      {kSent, 100, 0, false, 0, 1, kAccount, kPhone, 0, kPhone, 0x19A2},
      {kUnsent, 100, 0, false, kAuto, 1 | 2, kAccount, kPhone, kAuto, kPhone, 0},
      {kSpam, 100, 0, false, kAuto, 1 | 4, kAccount, kPhone, kAuto, kPhone, 0x19A5},
      {kReport, 100, 0, false, kAuto, 1, kAccount, kPhone, kAuto, kPhone, 0x19A4},
      {kSent, 0, 100, true, kNull, 1, kAccount, kCard, kNull, kCard, 0x19A2},
      {kUnsent, 0, 100, true, kNull, 1, kAccount, kCard, kNull, kCard, 0},
      {kSent, 0, 100, true, kAuto, 1 | 2 | 4, kAccount, kPhone, 0, kNoEviction, 0},
      {kReport, 0, 100, true, kAuto, 1, kAccount, kCard, kAuto, kCard, 0x19A4},
      // Both full: the eviction is made on the card, without a notice.
      {kSent, 100, 100, false, kAuto, 1, kAccount, kCard, 1, kCard, 0},
      {kSpam, 100, 100, true, kAuto, 1, kAccount, kCard, kAuto, kCard, 0},
      // The INBOX, counted as the incoming-server account's files.
      {kInbox, 99, 0, false, kNull, 1, kAccount, kPhone, kNull, kNoEviction, 0},
      {kInbox, 100, 0, false, kNull, 1, kAccount, kRefused, kNull, kNoEviction, 0},
      {kInbox, 100, 0, false, 1, 1, kAccount, kRefused, 1, kNoEviction, 0},
      {kInbox, 100, 0, false, kAuto, 1 | 4, kAccount, kPhone, kAuto, kPhone, 0x19A0},
      {kInbox, 100, 0, false, kAuto, 2, kAccount, kPhone, kAuto, kPhone, 0x19A0},
      {kInbox, 100, 0, false, kAuto, 1, kAccount, kCard, 1, kNoEviction, 0},
      {kInbox, 100, 100, false, kAuto, 1, kAccount, kRefused, kBothFull, kNoEviction, 0},
      {kInbox, 0, 100, true, kAuto, 1, kAccount, kPhone, 0, kNoEviction, 0},
      {kInbox, 0, 100, true, kNull, 1, kAccount, kRefused, kNull, kNoEviction, 0},
      {kInbox, 100, 100, true, kAuto, 1 | 4, kAccount, kRefused, kBothFull, kNoEviction, 0},
      {kInbox, 100, 0, false, kNull, 1, kOther, kRefused, kNull, kNoEviction, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    platform_.cardState = c.cardState;
    if (c.phone != 0) Fill(false, c.folder, c.phone);
    if (c.card != 0) Fill(true, c.folder, c.card);
    tagMSGPROPS props = Message(c.folder, 500);
    tagEMAILMSGPROPS email = Email(c.account);
    int storage = c.storage;
    EXPECT_EQ(c.lands == kRefused ? 0u : 1u,
              EmailMsgStore_WriteMessage(c.toCard, &props, &email, 0,
                                         storage == kNull ? nullptr : &storage));
    EXPECT_EQ(c.storageOut, storage);
    EXPECT_EQ(c.lands == kRefused, Counter().empty());
    EXPECT_EQ(c.lands != kRefused, Exists(c.lands == kCard, c.folder, 1, c.account));
    if (c.evicted != kNoEviction) {
      EXPECT_FALSE(Exists(c.evicted == kCard, c.folder, c.evicted == kCard ? 3051 : 1051));
    }
    const DWORD key = c.folder == kInbox ? kAccount : c.folder;
    EXPECT_EQ(c.phone != 0 && c.evicted != kPhone, Indexed(key, 1051));
    EXPECT_EQ(c.lands == kPhone, Indexed(c.folder == kInbox ? c.account : c.folder, 1));
    EXPECT_EQ(c.phone + (c.lands == kPhone) - (c.evicted == kPhone), Files(false, c.folder));
    EXPECT_EQ(c.card + (c.lands == kCard) - (c.evicted == kCard), Files(true, c.folder));
    if (c.notice != 0) {
      const DWORD victim = c.evicted == kCard ? 3051 : 1051;
      EXPECT_EQ((Posted{{c.notice, victim, c.evicted == kCard ? 0x03030001 : 0x03030000}}),
                Notices());
    } else {
      EXPECT_TRUE(platform_.posted.empty());
    }
  }
}

// The INBOX is counted and its oldest message chosen by the incoming-server
// account's files; the file deleted is named with the new message's account.
TEST_F(EmailWriteTest, InboxEvictionNamesTheVictimWithTheNewMessagesAccount) {
  Fill(false, kInbox, 100, kAccount);
  Fill(true, kInbox, 100, kOther);
  for (DWORD oid : {1051u, 1052u}) Put(false, kInbox, oid, 1, 0, kOther);
  EmailMsgStore_AddMsgToIni(1051, kOther, {1, 0});
  platform_.cardState = 1 | 4;
  tagMSGPROPS props = Message(kInbox, 500);
  tagEMAILMSGPROPS email = Email(kOther);
  int storage = STORAGE_AUTO;
  EXPECT_EQ(1u, EmailMsgStore_WriteMessage(false, &props, &email, 0, &storage));
  EXPECT_EQ(STORAGE_AUTO, storage);
  EXPECT_TRUE(Exists(false, kInbox, 1051, kAccount));
  EXPECT_TRUE(Indexed(kAccount, 1051));
  EXPECT_FALSE(Exists(false, kInbox, 1051, kOther));
  EXPECT_TRUE(Exists(false, kInbox, 1052, kOther));
  EXPECT_EQ((Records{{kOther, 1, 500}}), Index(kOther));
  EXPECT_EQ((Posted{{0x19A0, 1051, 0x03030000}}), Notices());

  // Another account's files do not fill the incoming-server account's INBOX;
  // once that account is the incoming-server one, they do.
  storage = STORAGE_AUTO;
  EXPECT_EQ(2u, EmailMsgStore_WriteMessage(true, &props, &email, 0, &storage));
  EXPECT_EQ(STORAGE_AUTO, storage);
  EXPECT_TRUE(Exists(true, kInbox, 2, kOther));
  SetIncomingServer(kOther);
  email = Email(kAccount);
  EXPECT_EQ(3u, EmailMsgStore_WriteMessage(true, &props, &email, 0, &storage));
  EXPECT_EQ(0, storage);
  EXPECT_TRUE(Exists(false, kInbox, 3, kAccount));
  EXPECT_EQ(101u, AccountFiles(true, kOther));

  // Without the messaging application the notice is dropped.
  platform_.messageAppWindow = false;
  Fill(false, kDraft, 100);
  EXPECT_EQ(4u, Write(false, kDraft, 5));
  EXPECT_FALSE(Exists(false, kDraft, 1051));
  EXPECT_EQ(1u, platform_.posted.size());
}

TEST_F(EmailWriteTest, FreeSpaceOfEachVolumeAgainstTheContentLength) {
  const std::u16string kPhoneVolume = u"\\DiskOnChip", kCardVolume = u"\\SD Card";
  enum { kNull = 99, kAuto = STORAGE_AUTO, kNoSpace = STORAGE_NO_SPACE };
  enum { kRefused = -1, kNoEviction = -1, kPhone = 0, kCard = 1 };
  struct Case {
    DWORD folder, phone, card;  // messages already stored
    int storage;
    uint64_t phoneFree, cardFree;
    int lands, storageOut, evicted;
    std::vector<std::u16string> asked;
  };
  const uint64_t kSize = 1000;  // content length
  const std::vector<std::u16string> P = {kPhoneVolume}, PC = {kPhoneVolume, kCardVolume};
  const std::vector<std::u16string> C = {kCardVolume};
  const Case cases[] = {
      {kDraft, 0, 0, kNull, kSize, 0, kPhone, kNull, kNoEviction, P},
      {kDraft, 0, 0, kNull, kSize - 1, kSize, kCard, kNull, kNoEviction, PC},
      {kDraft, 0, 0, 0, kSize - 1, kSize, kCard, 1, kNoEviction, PC},
      {kInbox, 0, 0, 7, kSize - 1, kSize, kCard, 1, kNoEviction, PC},
      {kDraft, 0, 0, kAuto, kSize - 1, kSize - 1, kRefused, kNoSpace, kNoEviction, PC},
      // A full folder already used the one switch or eviction.
      {kDraft, 100, 0, kAuto, kSize, kSize - 1, kRefused, kNoSpace, kNoEviction, C},
      {kDraft, 100, 0, kNull, kSize - 1, kSize, kRefused, kNull, kPhone, P},
      {kDraft, 100, 0, 0, kSize - 1, kSize, kRefused, kNoSpace, kPhone, P},
      // The other storage's folder is full: an INBOX is refused as full, any
      // other folder evicts on the card.
      {kInbox, 0, 100, kNull, kSize - 1, kSize, kRefused, kNull, kNoEviction, P},
      {kInbox, 0, 100, 0, kSize - 1, kSize, kRefused, STORAGE_BOTH_FULL, kNoEviction, P},
      {kSent, 0, 100, 0, kSize - 1, kSize, kCard, 1, kCard, PC},
      {kSent, 0, 100, 0, kSize - 1, kSize - 1, kRefused, kNoSpace, kCard, PC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    if (c.phone != 0) Fill(false, c.folder, c.phone);
    if (c.card != 0) Fill(true, c.folder, c.card);
    platform_.volumesAsked.clear();
    platform_.volumeFreeBytes = {{kPhoneVolume, c.phoneFree}, {kCardVolume, c.cardFree}};
    platform_.freeBytes = 0;
    tagMSGPROPS props = Message(c.folder, 500);
    BYTE content[kSize] = {};
    props.pData = content;
    props.cbData = kSize;
    tagEMAILMSGPROPS email = Email();
    int storage = c.storage;
    EXPECT_EQ(c.lands == kRefused ? 0u : 1u,
              EmailMsgStore_WriteMessage(false, &props, &email, 0,
                                         storage == kNull ? nullptr : &storage));
    EXPECT_EQ(c.storageOut, storage);
    EXPECT_EQ(c.asked, platform_.volumesAsked);
    EXPECT_EQ(c.lands != kRefused, Exists(c.lands == kCard, c.folder, 1));
    EXPECT_EQ(c.phone + (c.lands == kPhone) - (c.evicted == kPhone), Files(false, c.folder));
    EXPECT_EQ(c.card + (c.lands == kCard) - (c.evicted == kCard), Files(true, c.folder));
    EXPECT_EQ(c.evicted == kPhone, platform_.posted.size() == 1);
  }

  // A failed query lets the message through; so does an empty message.
  Reset();
  platform_.volumeFreeBytes.clear();
  platform_.freeBytes = 0;
  platform_.diskQueryFails = true;
  tagMSGPROPS props = Message(kDraft, 5);
  tagEMAILMSGPROPS email = Email();
  BYTE content[8] = {};
  props.pData = content;
  props.cbData = sizeof content;
  EXPECT_EQ(1u, EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr));
  platform_.diskQueryFails = false;
  props.cbData = 0;
  EXPECT_EQ(2u, EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr));
  EXPECT_EQ(2u, Files(false, kDraft));
  EXPECT_EQ(0u, Files(true, kDraft));
}

TEST_F(EmailWriteTest, RewriteKeepsItsIdentifierWithoutEvictionUnlessShortOfSpace) {
  Fill(false, kDraft, 100);
  tagMSGPROPS props = Message(kDraft, 1000, 1, u"again");
  tagEMAILMSGPROPS email = Email();
  EXPECT_EQ(1020u, EmailMsgStore_WriteMessage(false, &props, &email, 1020, nullptr));
  EXPECT_EQ(1020u, props.dwOid);
  EXPECT_TRUE(Counter().empty());
  EXPECT_EQ(100u, Files(false, kDraft));
  const Records index = Index(kDraft);
  ASSERT_EQ(100u, index.size());
  EXPECT_EQ((std::tuple<DWORD, DWORD, uint64_t>{kDraft, 1020, 1000}), index.front());
  EXPECT_EQ(1, std::count_if(index.begin(), index.end(),
                             [](const auto& r) { return std::get<1>(r) == 1020; }));
  EXPECT_EQ(u"again", Record(false, kDraft, 1020).Subject());

  // An INBOX rewrite stays under its account, on the card without an index.
  Put(true, kInbox, 7, 10, 0, kOther);
  props.dwFolder = kInbox;
  email.dwAccountId = kOther;
  EXPECT_EQ(7u, EmailMsgStore_WriteMessage(true, &props, &email, 7, nullptr));
  EXPECT_EQ(1, Record(true, kInbox, 7, kOther).props.bRead);
  EXPECT_FALSE(fs::exists(IndexFile(kOther)));
  EXPECT_TRUE(Counter().empty());

  // Short of space, it goes to the other storage under the same identifier;
  // the old file stays.
  platform_.volumeFreeBytes[u"\\DiskOnChip"] = 0;
  BYTE content[4] = {1, 2, 3, 4};
  props.dwFolder = kDraft;
  props.pData = content;
  props.cbData = 4;
  int storage = 9;
  EXPECT_EQ(1030u, EmailMsgStore_WriteMessage(false, &props, &email, 1030, &storage));
  EXPECT_EQ(1, storage);
  EXPECT_EQ(4u, Record(true, kDraft, 1030).props.cbData);
  EXPECT_EQ(0u, Record(false, kDraft, 1030).props.cbData);
  EXPECT_TRUE(platform_.posted.empty());
}

TEST_F(EmailWriteTest, LastRecordIsTheEarliestReadableMessageAsItsFileNamesIt) {
  Put(true, kSent, 1, 50);
  Put(true, kSent, 2, 20);
  Put(true, kSent, 3, 90);
  Store({1, 2, 3}, File(true, kSent, 4));
  DWORD count = 99;
  EXPECT_EQ(2u, EmailMsgStore_GetLastRecord(true, kSent, &count));
  EXPECT_EQ(4u, count);
  // The identifier comes from the file, not from its name.
  tagMSGPROPS props = Message(kSent, 10);
  tagEMAILMSGPROPS email = Email();
  props.dwOid = 77;
  WCHAR path[MAX_PATH] = u"\\SD Card\\User\\MESSAGING\\EMAIL\\SENT\\5.email";
  ASSERT_EQ(1, EmailMsgStore_WriteToFile(path, &props, &email));
  EXPECT_EQ(77u, EmailMsgStore_GetLastRecord(true, kSent, nullptr));
  EXPECT_EQ(0u, EmailMsgStore_GetLastRecord(false, kSent, &count));
  EXPECT_EQ(0u, count);
  // The INBOX holds the incoming-server account's messages only.
  Put(false, kInbox, 8, 30, 0, kAccount);
  Put(false, kInbox, 9, 10, 0, kOther);
  Put(false, kInbox, 10, 40, 0, kAccount);
  EXPECT_EQ(8u, EmailMsgStore_GetLastRecord(false, kInbox, &count));
  EXPECT_EQ(2u, count);
  for (DWORD folder : {0u, 7u, kNone, kAccount}) {
    count = 99;
    EXPECT_EQ(0u, EmailMsgStore_GetLastRecord(false, folder, &count)) << folder;
    EXPECT_EQ(0u, count) << folder;
  }
}

}  // namespace
