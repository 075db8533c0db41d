// The EMS write path: identifiers, the folder limit and the choice of storage.
#include "ems_fixtures.h"

namespace {

class EmsWriteTest : public msgstore_test::EmsTest {
 protected:
  std::string CounterFile() const { return Host("DiskOnChip/User/MESSAGING/EMS/EmsDB.ini"); }
  std::vector<char> Counter() const { return Bytes(CounterFile()); }
};

TEST_F(EmsWriteTest, IdentifiersComeFromTheLittleEndianCounterTakenNamesOnTheCardOnly) {
  tagMSGPROPS props = Message(kInbox, 5);
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ((std::vector<char>{1, 0, 0, 0}), Counter());
  EXPECT_EQ((Entries{{1, kInbox}}), Index(kInbox));
  std::ofstream(CounterFile(), std::ios::binary).write("\xFA\xFF\xFF\xFF", 4);
  props.dwFolder = kDraft;
  EXPECT_EQ(0xFFFFFFFBu, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_TRUE(std::filesystem::exists(Dir(false, kDraft) + "/-5.sms"));

  Reset();
  Put(false, kDraft, 1, 10);
  Put(true, kDraft, 2, 10);
  Put(true, kDraft, 3, 11);
  props.pszSubject = const_cast<WCHAR*>(u"new");
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));  // the phone file replaced
  EXPECT_EQ(std::u16string(u"new"), Record(false, kDraft, 1).props.pszSubject);
  EXPECT_EQ(4u, EMSMsgStore_WriteMessage(true, &props, 0, nullptr));
  EXPECT_EQ((std::vector<char>{4, 0, 0, 0}), Counter());
  EXPECT_EQ(3u, Count(true, kDraft));
}

TEST_F(EmsWriteTest, StorageChoiceAtTheFolderLimit) {
  enum { kNull = 99, kAuto = STORAGE_AUTO, kFull = STORAGE_INBOX_FULL };
  enum { kRefused = -1, kNone = -1, kPhone = 0, kCard = 1 };
  struct Case {
    DWORD folder, phone, card;  // messages already stored
    bool toCard;
    int storage, cardState, lands, storageOut, evicted;
  };
  const Case cases[] = {
      {kInbox, 99, 0, false, kNull, 1, kPhone, kNull, kNone},
      {kInbox, 100, 0, false, kNull, 1, kRefused, kNull, kNone},
      {kInbox, 100, 0, false, 0, 1, kRefused, kFull, kNone},
      {kInbox, 100, 0, false, kAuto, 1, kCard, 1, kNone},
      {kSent, 100, 0, false, kAuto, 3, kPhone, kAuto, kPhone},    // card flag 2: no room
      {kUnsent, 100, 0, false, kAuto, 5, kPhone, kAuto, kPhone},  // card flag 4: no room
      {kInbox, 0, 100, true, kAuto, 1, kPhone, 0, kNone},
      {kInbox, 100, 100, false, kAuto, 1, kCard, 1, kCard},  // both full: the card's oldest goes
      {kSpam, 100, 100, true, kAuto, 1, kCard, kAuto, kCard},
      {kUnsent, 100, 0, false, 1, 1, kPhone, 1, kPhone},
      {kDraft, 100, 0, false, kNull, 1, kPhone, kNull, kPhone},
      {kSimSent, 100, 0, false, kNull, 1, kPhone, kNull, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    platform_.cardState = c.cardState;
    if (c.phone != 0) Fill(false, c.folder, c.phone);
    if (c.card != 0) Fill(true, c.folder, c.card);
    tagMSGPROPS props = Message(c.folder, 500);
    int storage = c.storage;
    EXPECT_EQ(c.lands == kRefused ? 0u : 1u,
              EMSMsgStore_WriteMessage(c.toCard, &props, 0, storage == kNull ? nullptr : &storage));
    EXPECT_EQ(c.storageOut, storage);
    EXPECT_EQ(c.lands == kRefused, Counter().empty());
    EXPECT_EQ(c.lands != kRefused, Exists(c.lands == kCard, c.folder, 1));
    if (c.evicted != kNone) {  // the oldest goes
      EXPECT_FALSE(Exists(c.evicted == kCard, c.folder, c.evicted == kCard ? 3051 : 1051));
      EXPECT_EQ(c.evicted == kCard, Indexed(c.folder, 1051));
    }
    EXPECT_EQ(c.phone + (c.lands == kPhone) - (c.evicted == kPhone), Count(false, c.folder));
    EXPECT_EQ(c.card + (c.lands == kCard) - (c.evicted == kCard), Count(true, c.folder));
    EXPECT_TRUE(c.folder == kSimSent || Count(false, c.folder) == Index(c.folder).size());
  }
}

TEST_F(EmsWriteTest, RewriteKeepsItsIdentifierWithoutEviction) {
  Fill(false, kInbox, 100);
  tagMSGPROPS props = Message(kInbox, 1000);
  EXPECT_EQ(1020u, EMSMsgStore_WriteMessage(false, &props, 1020, nullptr));
  EXPECT_TRUE(Exists(false, kInbox, 1051));
  const Entries index = Index(kInbox);
  EXPECT_EQ(100u, index.size());
  EXPECT_EQ(1020u, index.front().first);
  EXPECT_EQ(1, std::count(index.begin(), index.end(), std::make_pair(DWORD{1020}, kInbox)));
  Put(true, kInbox, 7, 10);
  EXPECT_EQ(7u, EMSMsgStore_WriteMessage(true, &props, 7, nullptr));
  EXPECT_TRUE(Counter().empty());
  EXPECT_FALSE(Indexed(kInbox, 7));
}

TEST_F(EmsWriteTest, LastRecordIgnoresSimCopiesAndUnreadableCardFiles) {
  EMSMsgStore_AddMsgToIni(5, kInbox, {300, 0});
  EMSMsgStore_AddMsgToIni(8, kSimInbox, {250, 0});
  EMSMsgStore_AddMsgToIni(6, kInbox, {200, 0});
  EMSMsgStore_AddMsgToIni(7, kSimInbox, {100, 0});
  DWORD count = 99;
  EXPECT_EQ(6u, EMSMsgStore_GetLastRecord(false, kInbox, &count));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(0u, EMSMsgStore_GetLastRecord(false, kDraft, &count));
  EXPECT_EQ(0u, count);
  Put(true, kSent, 1, 50);
  Put(true, kSent, 2, 20);
  Put(true, kSent, 3, 90);
  std::ofstream(File(true, kSent, 4)) << "short";
  EXPECT_EQ(2u, EMSMsgStore_GetLastRecord(true, kSent, &count));
  EXPECT_EQ(4u, count);
  EXPECT_EQ(0u, EMSMsgStore_GetLastRecord(true, kDraft, nullptr));  // no count wanted: no crash
}

}  // namespace
