// The EMS write path (identifiers, the folder limit, the choice of storage) and
// updates: field setters, moves with their counter effects, deletion, emptying.
#include "ems_fixtures.h"

namespace {

class EmsUpdateTest : public msgstore_test::EmsTest {
 protected:
  std::string CounterFile() const { return Host("DiskOnChip/User/MESSAGING/EMS/EmsDB.ini"); }
};

TEST_F(EmsUpdateTest, IdentifiersComeFromTheLittleEndianCounterTakenNamesOnTheCardOnly) {
  msgstore_test::Store(msgstore_test::Words({0xFFFFFFFA}), CounterFile());
  tagMSGPROPS props = Message(kDraft, 5);
  EXPECT_EQ(0xFFFFFFFBu, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ(msgstore_test::Words({0xFFFFFFFB}), Counter());
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
  // (A counter that cannot be read, and evictions that fail: the writes of
  // fault_injection_test.cpp on both storages, failing at each call.)
}

TEST_F(EmsUpdateTest, StorageChoiceAtTheFolderLimit) {
  enum { kNull = 99, kAuto = STORAGE_AUTO, kFull = STORAGE_INBOX_FULL };
  enum { kRefused = -1, kNone = -1, kPhone = 0, kCard = 1 };
  struct Case {
    DWORD folder, phone, sims, card;  // messages already stored; sims: SIM copies in the index
    bool toCard;
    int storage, cardState, lands, storageOut, evicted;
  };
  const Case cases[] = {
      {kInbox, 99, 2, 0, false, kNull, 1, kPhone, kNull, kNone},  // SIM copies do not count
      {kInbox, 100, 0, 0, false, kNull, 1, kRefused, kNull, kNone},
      {kInbox, 100, 0, 0, false, 0, 1, kRefused, kFull, kNone},
      {kInbox, 100, 0, 0, false, kAuto, 0, kCard, 1, kNone},        // only flags 2 and 4 keep it
      {kSent, 100, 2, 0, false, kAuto, 3, kPhone, kAuto, kPhone},   // card flag 2: no room
      {kInbox, 100, 0, 0, false, kAuto, 5, kPhone, kAuto, kPhone},  // card flag 4: no room
      {kInbox, 0, 0, 100, true, kAuto, 6, kPhone, 0, kNone},        // the card's flags not asked
      {kInbox, 100, 0, 100, false, kAuto, 1, kCard, 1, kCard},  // both full: the card's oldest goes
      {kInbox, 100, 0, 100, true, kAuto, 1, kCard, kAuto, kCard},
      {kUnsent, 100, 0, 0, false, 1, 1, kPhone, 1, kPhone},
      {kDraft, 100, 0, 0, false, kNull, 1, kPhone, kNull, kPhone},
      {kSimSent, 100, 0, 0, false, kNull, 1, kPhone, kNull, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Reset();
    platform_.cardState = c.cardState;
    if (c.phone != 0) Fill(false, c.folder, c.phone);
    if (c.card != 0) Fill(true, c.folder, c.card);
    // SIM copies as the index's newest and oldest.
    for (DWORD i = 0, time = 1000, sim = c.folder == kInbox ? kSimInbox : kSimSent; i < c.sims;
         ++i, time = 50)
      Put(false, sim, 7001 + i, time), EMSMsgStore_AddMsgToIni(7001 + i, sim, {time, 0});
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
    EXPECT_TRUE(c.folder == kSimSent || Count(false, c.folder) + c.sims == Index(c.folder).size());
  }
}

// SetRead counts every call on an INBOX message, whatever the old value.
TEST_F(EmsUpdateTest, SettersRewriteUnderTheSameIdentifierInTheSameIndexPlace) {
  const DWORD older = Write(false, kInbox, 10), newer = Write(false, kInbox, 20);
  EXPECT_EQ(static_cast<int>(older), EMSMsgStore_SetTime(false, kInbox, older, {999, 7}));
  Record r(false, kInbox, older);
  EXPECT_EQ(std::make_tuple(999u, 7u, 10u, std::u16string(u"subject")),
            std::make_tuple(r.props.ftTime.dwLowDateTime, r.props.ftTime.dwHighDateTime,
                            r.props.ftIndexTime.dwLowDateTime, std::u16string(r.props.pszSubject)));
  EXPECT_EQ((Entries{{newer, kInbox}, {older, kInbox}}), Index(kInbox));
  const std::tuple<int, DWORD, BOOL, BOOL> sets[] = {
      {0, kInbox, 1, 1}, {0, kInbox, 1, 0}, {0, kSpam, 0, 1}, {0, kSimInbox, 0, 1}};
  for (const auto& [card, folder, before, after] : sets) {
    const DWORD oid = Write(card, folder, 10, before);
    EXPECT_EQ(static_cast<int>(oid), EMSMsgStore_SetRead(card, folder, oid, after));
    EXPECT_EQ(after, Record(card, folder, oid).props.bRead);
  }
  // A missing message: nothing is made, nothing counted.
  EXPECT_EQ(0, EMSMsgStore_SetTime(false, kDraft, 42, {1, 1}) +
                   EMSMsgStore_SetRead(false, kInbox, 42, 1));
  EXPECT_FALSE(Exists(false, kDraft, 42) ||
               std::filesystem::exists(Dir(false, kDraft) + "/EmsIni"));
  EXPECT_EQ((Calls{"xSetEmsReadMsgCount(1)", "xSetEmsReadMsgCount(1)"}), platform_.calls);
  // Identifier 0 names the folder's last file: a setter stores the changed
  // copy as a new message; a move copies it, cannot delete a message 0 and
  // takes its copy back, with the count it added.
  const DWORD oid = Write(false, kDraft, 10), inbox = Count(false, kInbox);
  std::u16string text = u"zero";
  EXPECT_EQ(static_cast<int>(oid + 1), EMSMsgStore_SetSubject(false, kDraft, 0, text.data()));
  EXPECT_EQ(text, Record(false, kDraft, oid + 1).props.pszSubject);
  std::filesystem::remove(File(false, kDraft, oid));
  DWORD newOid = 7;
  platform_.calls.clear();
  EXPECT_EQ(0, EMSMsgStore_SetFolder(false, kDraft, 0, kInbox, nullptr, &newOid));
  EXPECT_TRUE(newOid == 0 && Count(false, kInbox) == inbox && Exists(false, kDraft, oid + 1));
  EXPECT_EQ((Calls{"xSetEmsRecvMsgCount(1)", "xSetEmsRecvMsgCount(-1)"}), platform_.calls);
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
      {true, kInbox, kDraft, 1, {sdRecv + "(-1)", sdRead + "(-1)"}},
      {false, kDraft, kInbox, 1, {recv + "(1)", read + "(1)"}},
      {true, kSpam, kInbox, 0, {sdRecv + "(1)"}},
      {false, kInbox, kInbox, 0, {recv + "(1)", recv + "(-1)"}},
      {false, kInbox, kSimInbox, 1, {}},
      {true, kInbox, kSimInbox, 1, {}},
      {false, kSimInbox, kInbox, 1, {}},
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

TEST_F(EmsUpdateTest, MovesIntoAFullPhoneInboxGoToTheCard) {
  Fill(false, kInbox, 100);
  const DWORD oid = Write(false, kDraft, 10, 1);
  int storage = 9;
  DWORD newOid = 0;
  EXPECT_EQ(1, EMSMsgStore_SetFolder(false, kDraft, oid, kInbox, &storage, &newOid));
  EXPECT_EQ(1, storage);
  EXPECT_TRUE(Exists(true, kInbox, newOid) && !Exists(false, kDraft, oid) && Index(kDraft).empty());
  EXPECT_EQ(1051, EMSMsgStore_SetStatus(false, kInbox, 1051, 3));  // a rewrite has no limit
}

TEST_F(EmsUpdateTest, DeletionLowersTheReceivedAndSimCountsAndHealsThePhoneIndex) {
  platform_.simUnsent = 1;
  const std::pair<int, DWORD> deleted[] = {
      {0, kInbox}, {1, kInbox}, {0, kSimSent}, {0, kSimInbox}, {0, kSimUnsent}};
  for (const auto& [card, folder] : deleted) {
    const DWORD oid = Write(card, folder, 20, 1);
    EXPECT_TRUE(EMSMsgStore_DeleteMessage(card, folder, oid) == 1 && !Exists(card, folder, oid));
  }
  platform_.simSent = 2;
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(true, kSimSent, 0xFFFF));  // lowered all the same
  EXPECT_EQ(
      (Calls{"xSetEmsRecvMsgCount(-1)", "xSetEms_SDRecvMsgCount(-1)", "xSetEmsRecvMsgCount(-1)",
             "xSetUnsentSmsCountInSim(0)", "xSetSentSmsCountInSim(1)"}),
      platform_.calls);
  EXPECT_TRUE(Index(kInbox).empty() && Index(kSent).empty() && Index(kUnsent).empty());
  // A file already gone: the phone's index record goes.
  const DWORD gone = Write(false, kInbox, 10);
  std::filesystem::remove(File(false, kInbox, gone));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, kInbox, gone));
  EXPECT_TRUE(Index(kInbox).empty());
}

// The shared emptying is pinned by the MMS tests; EMS tells the shell of an
// emptied INBOX (phone or card, not SIM_INBOX) with lParam 0.
TEST_F(EmsUpdateTest, EmptyFolderKeepsTheIndexAndTellsTheShellOfTheInboxWithLParam0) {
  const DWORD oid = Write(false, kInbox, 10), sim = Write(false, kSimInbox, 10);
  Write(false, kDraft, 10), Write(true, kInbox, 10);
  std::filesystem::create_directory(File(false, kDraft, 99));  // stays: DRAFT's emptying fails
  EXPECT_EQ(3, EMSMsgStore_EmptyFolder(false, kDraft) + EMSMsgStore_EmptyFolder(false, kSimInbox) +
                   EMSMsgStore_EmptyFolder(false, kInbox) + EMSMsgStore_EmptyFolder(true, kInbox));
  EXPECT_EQ(1u, Count(false, kDraft) + Count(false, kInbox) + Count(false, kSimInbox) +
                    Count(true, kInbox));
  EXPECT_EQ((Entries{{sim, kSimInbox}, {oid, kInbox}}), Index(kInbox));
  ASSERT_EQ(2u, platform_.posted.size());
  for (const auto& p : platform_.posted)
    EXPECT_EQ(std::make_tuple(std::u16string(u"WCE_APSHELL"), 0xC44u, WPARAM{0}, LPARAM{0}),
              std::make_tuple(p.className, p.msg, p.wParam, p.lParam));
}

}  // namespace
