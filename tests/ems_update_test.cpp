// The EMS write path (identifiers, the folder limit, the choice of storage) and
// updates: field setters, moves with their counter effects, deletion, emptying.
#include "ems_fixtures.h"

namespace {

class EmsUpdateTest : public msgstore_test::EmsTest {
 protected:
  std::string CounterFile() const { return Host("DiskOnChip/User/MESSAGING/EMS/EmsDB.ini"); }
  std::vector<char> Counter() const { return msgstore_test::Bytes(CounterFile()); }
};

TEST_F(EmsUpdateTest, IdentifiersComeFromTheLittleEndianCounterTakenNamesOnTheCardOnly) {
  tagMSGPROPS props = Message(kInbox, 5);
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ(msgstore_test::Words({1}), Counter());
  EXPECT_EQ((Entries{{1, kInbox}}), Index(kInbox));
  msgstore_test::Store(CounterFile(), msgstore_test::Words({0xFFFFFFFA}));
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
  EXPECT_EQ(msgstore_test::Words({4}), Counter());
  EXPECT_EQ(3u, Count(true, kDraft));
}

TEST_F(EmsUpdateTest, StorageChoiceAtTheFolderLimit) {
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

TEST_F(EmsUpdateTest, RewriteKeepsItsIdentifierWithoutEviction) {
  Fill(false, kInbox, 100);
  tagMSGPROPS props = Message(kInbox, 1000);
  EXPECT_EQ(1020u, EMSMsgStore_WriteMessage(false, &props, 1020, nullptr));
  EXPECT_TRUE(Exists(false, kInbox, 1051));
  const Entries index = Index(kInbox);
  EXPECT_EQ(100u, index.size());
  EXPECT_EQ(std::make_pair(DWORD{1020}, kInbox), index.front());
  EXPECT_EQ(1, std::count(index.begin(), index.end(), index.front()));
  Put(true, kInbox, 7, 10);
  EXPECT_EQ(7u, EMSMsgStore_WriteMessage(true, &props, 7, nullptr));
  EXPECT_TRUE(Counter().empty());
  EXPECT_FALSE(Indexed(kInbox, 7));
}

TEST_F(EmsUpdateTest, LastRecordIgnoresSimCopiesAndUnreadableCardFiles) {
  const std::pair<DWORD, DWORD> added[] = {{5, 300}, {8, 250}, {6, 200}, {7, 100}};
  for (const auto& [oid, time] : added)
    EMSMsgStore_AddMsgToIni(oid, oid < 7 ? kInbox : kSimInbox, {time, 0});
  DWORD count = 99;
  EXPECT_EQ(6u, EMSMsgStore_GetLastRecord(false, kInbox, &count));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(0u, EMSMsgStore_GetLastRecord(false, kDraft, &count) + count);
  const DWORD times[] = {50, 20, 90};
  for (DWORD oid = 1; oid <= 3; ++oid) Put(true, kSent, oid, times[oid - 1]);
  std::ofstream(File(true, kSent, 4)) << "short";
  EXPECT_EQ(2u, EMSMsgStore_GetLastRecord(true, kSent, &count));
  EXPECT_EQ(4u, count);
  EXPECT_EQ(0u, EMSMsgStore_GetLastRecord(true, kDraft, nullptr));  // no count wanted: no crash
}

TEST_F(EmsUpdateTest, SettersRewriteUnderTheSameIdentifierInTheSameIndexPlace) {
  tagMSGPROPS props = Message(kInbox, 10, 0, u"subject");
  BYTE content[] = {1, 2, 3};
  props.pData = content;
  props.cbData = sizeof content;
  const DWORD older = EMSMsgStore_WriteMessage(false, &props, 0, nullptr);
  const DWORD newer = Write(false, kInbox, 20);
  WCHAR subject[] = u"new subject", to[] = u"+1555", msgId[] = u"mid";
  const int o = static_cast<int>(older);
  EXPECT_EQ(o, EMSMsgStore_SetStatus(false, kInbox, older, 0x1234));
  EXPECT_EQ(o, EMSMsgStore_SetTime(false, kInbox, older, {999, 7}));
  EXPECT_EQ(o, EMSMsgStore_SetTo(false, kInbox, older, to));
  EXPECT_EQ(o, EMSMsgStore_SetMsgID(false, kInbox, older, msgId));
  Record r(false, kInbox, older);
  const tagMSGPROPS& p = r.props;
  ASSERT_TRUE(r.ok && p.cbData == 3);
  EXPECT_EQ(std::make_tuple(0x1234, 999u, 7u, 10u, 3),
            std::make_tuple(p.wStatus, p.ftTime.dwLowDateTime, p.ftTime.dwHighDateTime,
                            p.ftIndexTime.dwLowDateTime, int(p.pData[2])));
  EXPECT_EQ(std::u16string(u"subject+1555mid"),
            std::u16string(p.pszSubject) + p.pszTo + p.pszMsgID);
  EXPECT_EQ((Entries{{newer, kInbox}, {older, kInbox}}), Index(kInbox));
  // On the card; the caller's string is neither kept nor released.
  const int card = static_cast<int>(Write(true, kSent, 10));
  EXPECT_EQ(card, EMSMsgStore_SetSubject(true, kSent, card, subject));
  EXPECT_EQ(std::u16string(u"new subject"), subject);
  EXPECT_EQ(std::u16string(u"new subject"), Record(true, kSent, card).props.pszSubject);
  // A missing message: nothing is made.
  EXPECT_EQ(0, EMSMsgStore_SetSubject(false, kDraft, 42, subject));
  EXPECT_EQ(0, EMSMsgStore_SetStatus(false, kInbox, 0, 7));
  EXPECT_FALSE(Exists(false, kDraft, 42));
  EXPECT_FALSE(std::filesystem::exists(Dir(false, kDraft) + "/EmsIni"));
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, SetReadCountsEveryInboxCall) {
  const std::tuple<int, DWORD, BOOL, BOOL> sets[] = {{0, kInbox, 1, 1},
                                                     {0, kInbox, 1, 0},
                                                     {1, kInbox, 0, 1},
                                                     {0, kSpam, 0, 1},
                                                     {0, kSimInbox, 0, 1}};
  for (const auto& [card, folder, before, after] : sets) {
    const DWORD oid = Write(card, folder, 10, before);
    EXPECT_EQ(static_cast<int>(oid), EMSMsgStore_SetRead(card, folder, oid, after));
    EXPECT_EQ(after, Record(card, folder, oid).props.bRead);
  }
  EXPECT_EQ(0, EMSMsgStore_SetRead(false, kInbox, 42, 1));
  EXPECT_EQ(
      (Calls{"xSetEmsReadMsgCount(1)", "xSetEmsReadMsgCount(1)", "xSetEms_SDReadMsgCount(1)"}),
      platform_.calls);
}

TEST_F(EmsUpdateTest, MovesCountTheInboxesOfTheCallersStorage) {
  const std::string recv = "xSetEmsRecvMsgCount", read = "xSetEmsReadMsgCount";
  const std::string sdRecv = "xSetEms_SDRecvMsgCount", sdRead = "xSetEms_SDReadMsgCount";
  const struct {
    bool card;
    DWORD from, to;
    BOOL read;
    Calls calls;
  } cases[] = {
      {false, kInbox, kSpam, 1, {recv + "(-1)", read + "(-1)"}},
      {false, kInbox, kSent, 0, {recv + "(-1)"}},
      {true, kInbox, kDraft, 1, {sdRecv + "(-1)", sdRead + "(-1)"}},
      {false, kDraft, kInbox, 1, {recv + "(1)", read + "(1)"}},
      {true, kSpam, kInbox, 0, {sdRecv + "(1)"}},
      {false, kInbox, kInbox, 0, {recv + "(1)", recv + "(-1)"}},
      {false, kInbox, kSimInbox, 1, {}},
      {true, kInbox, kSimInbox, 0, {}},
      {false, kSimInbox, kInbox, 1, {}},
      {false, kSimInbox, kSpam, 1, {}},
      {false, kSimSent, kSent, 1, {}},
      {true, kDraft, kUnsent, 1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const DWORD oid = Write(c.card, c.from, 10, c.read);
    const bool toCard = c.card && c.to != kSimInbox;
    platform_.calls.clear();
    int storage = 77;
    DWORD newOid = 0;
    EXPECT_EQ(1, EMSMsgStore_SetFolder(c.card, c.from, oid, c.to, &storage, &newOid));
    EXPECT_EQ(std::make_pair(oid + 1, 77), std::make_pair(newOid, storage));
    EXPECT_EQ(c.calls, platform_.calls);
    EXPECT_FALSE(Exists(c.card, c.from, oid) || Indexed(c.from, oid));
    EXPECT_EQ(!toCard, Indexed(c.to, newOid));
    Record r(toCard, c.to, newOid);
    EXPECT_EQ(std::make_pair(c.to, newOid), std::make_pair(r.props.dwFolder, r.props.dwOid));
    EXPECT_EQ(std::u16string(u"subject"), r.props.pszSubject);
  }
}

TEST_F(EmsUpdateTest, MovesIntoAFullPhoneInboxGoToTheCardAndFailedMovesChangeNothing) {
  Fill(false, kInbox, 100);
  const DWORD oid = Write(false, kDraft, 10, 1);
  int storage = 9;
  DWORD newOid = 0;
  EXPECT_EQ(1, EMSMsgStore_SetFolder(false, kDraft, oid, kInbox, &storage, &newOid));
  EXPECT_EQ(1, storage);
  EXPECT_TRUE(Exists(true, kInbox, newOid) && !Exists(false, kDraft, oid) && Index(kDraft).empty());
  EXPECT_EQ((Calls{"xSetEmsRecvMsgCount(1)", "xSetEmsReadMsgCount(1)"}), platform_.calls);
  Reset();
  platform_.calls.clear();
  const DWORD kept = Write(false, kInbox, 10, 1);
  storage = 5;
  newOid = 123;
  EXPECT_EQ(0, EMSMsgStore_SetFolder(false, kDraft, 8, kSent, &storage, &newOid));
  EXPECT_EQ(123u, newOid);
  EXPECT_EQ(0, EMSMsgStore_SetFolder(false, kInbox, kept, 9, &storage, &newOid));
  EXPECT_EQ(std::make_pair(0u, 5), std::make_pair(newOid, storage));
  EXPECT_TRUE(Exists(false, kInbox, kept));
  EXPECT_EQ((Entries{{kept, kInbox}}), Index(kInbox));
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, DeletionLowersTheReceivedAndSimCountsAndHealsThePhoneIndex) {
  const DWORD keep = Write(false, kDraft, 10);
  const std::pair<int, DWORD> deleted[] = {{0, kInbox}, {1, kInbox},   {0, kSimInbox},
                                           {0, kDraft}, {0, kSimSent}, {0, kSimUnsent}};
  platform_.simUnsent = 3;  // SIM sent stays at 0
  for (const auto& [card, folder] : deleted) {
    const DWORD oid = Write(card, folder, 20, 1);
    EXPECT_EQ(1, EMSMsgStore_DeleteMessage(card, folder, oid));
    EXPECT_FALSE(Exists(card, folder, oid));
  }
  platform_.simSent = 2;
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(true, kSimSent, 0xFFFF));  // lowered all the same
  EXPECT_EQ(
      (Calls{"xSetEmsRecvMsgCount(-1)", "xSetEms_SDRecvMsgCount(-1)", "xSetEmsRecvMsgCount(-1)",
             "xSetUnsentSmsCountInSim(2)", "xSetSentSmsCountInSim(1)"}),
      platform_.calls);
  EXPECT_TRUE(Index(kInbox).empty() && Index(kSent).empty() && Index(kUnsent).empty());
  EXPECT_EQ((Entries{{keep, kDraft}}), Index(kDraft));
  // A file already gone: the phone's index record goes, the card reports it.
  platform_.calls.clear();
  const DWORD gone = Write(false, kInbox, 10), cardGone = Write(true, kInbox, 10);
  std::filesystem::remove(File(false, kInbox, gone));
  std::filesystem::remove(File(true, kInbox, cardGone));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, kInbox, gone));
  EXPECT_TRUE(Index(kInbox).empty());
  for (const auto& [card, folder, oid] :
       {std::tuple{1, kInbox, cardGone}, {0, 9u, 1u}, {1, kReport, 1u}})
    EXPECT_EQ(0, EMSMsgStore_DeleteMessage(card, folder, oid)) << folder;
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, EmptyFolderKeepsTheIndexAndNotifiesTheShellForInboxesOnly) {
  const DWORD oid = Write(false, kInbox, 10);
  Write(true, kInbox, 10);
  Write(false, kDraft, 10);
  const std::string note = Dir(false, kDraft) + "/note.txt";
  std::ofstream(note) << "keep";
  EXPECT_EQ(1, EMSMsgStore_EmptyFolder(false, kDraft));
  EXPECT_TRUE(platform_.posted.empty());
  EXPECT_EQ(2, EMSMsgStore_EmptyFolder(false, kInbox) + EMSMsgStore_EmptyFolder(true, kInbox));
  EXPECT_EQ(0u, Count(false, kInbox) + Count(true, kInbox) + Count(false, kDraft));
  EXPECT_TRUE(std::filesystem::exists(note));
  EXPECT_EQ((Entries{{oid, kInbox}}), Index(kInbox));
  ASSERT_EQ(2u, platform_.posted.size());
  const auto& post = platform_.posted[1];
  EXPECT_EQ(std::make_tuple(std::u16string(u"WCE_APSHELL"), 0xC44u, WPARAM{0}, LPARAM{0}),
            std::make_tuple(post.className, post.msg, post.wParam, post.lParam));
  platform_.shellWindow = false;
  EXPECT_EQ(std::make_tuple(1, 0, 0), std::make_tuple(EMSMsgStore_EmptyFolder(false, kInbox),
                                                      EMSMsgStore_EmptyFolder(true, kSimInbox),
                                                      EMSMsgStore_EmptyFolder(false, 11)));
  EXPECT_EQ(2u, platform_.posted.size());
  EXPECT_TRUE(platform_.calls.empty());
}

}  // namespace
