// The EMS write path (identifiers, the folder limit, the choice of storage),
// updates (field setters, moves with their counter effects, deletion,
// emptying), listings, reads and the rebuild of the phone index files (where
// each folder lies and which index file its records go to: stores_test.cpp).
#include "ems_fixtures.h"

namespace {

using EmsStore = msgstore_test::EmsTest;

TEST_F(EmsStore, IdentifiersFromTheCounterAndTheStorageChoiceAtTheFolderLimit) {
  const std::string counter = Host("DiskOnChip/User/MESSAGING/EMS/EmsDB.ini");
  msgstore_test::Store(msgstore_test::Words({0xFFFFFFFA}), counter);
  tagMSGPROPS props = Message(kDraft, 5);
  EXPECT_EQ(0xFFFFFFFBu, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));
  EXPECT_EQ(msgstore_test::Words({0xFFFFFFFB}), Counter());
  EXPECT_TRUE(std::filesystem::exists(Dir(false, kDraft) + "/-5.sms"));
  Reset();
  Put(false, kDraft, 1, 10), Put(true, kDraft, 2, 10), Put(true, kDraft, 3, 11);
  props.pszSubject = const_cast<WCHAR*>(u"new");
  EXPECT_EQ(1u, EMSMsgStore_WriteMessage(false, &props, 0, nullptr));  // the phone file replaced
  EXPECT_EQ(std::u16string(u"new"), Record(false, kDraft, 1).props.pszSubject);
  EXPECT_EQ(4u, EMSMsgStore_WriteMessage(true, &props, 0, nullptr));
  EXPECT_EQ(msgstore_test::Words({4}), Counter());
  // (Unreadable counters and failed evictions: fault_injection_test.cpp.) The
  // storage chosen at the folder limit:
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
TEST_F(EmsStore, SettersRewriteUnderTheSameIdentifierInTheSameIndexPlace) {
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

TEST_F(EmsStore, MovesCountTheInboxesOfTheCallersStorage) {
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
  // Into a full phone INBOX: to the card; a rewrite there has no limit.
  Fill(false, kInbox, 100);
  const DWORD oid = Write(false, kDraft, 10, 1);
  int storage = 9;
  DWORD newOid = 0;
  EXPECT_EQ(1, EMSMsgStore_SetFolder(false, kDraft, oid, kInbox, &storage, &newOid));
  EXPECT_EQ(1, storage);
  EXPECT_TRUE(Exists(true, kInbox, newOid) && !Exists(false, kDraft, oid) && Index(kDraft).empty());
  EXPECT_EQ(1051, EMSMsgStore_SetStatus(false, kInbox, 1051, 3));
}

TEST_F(EmsStore, DeletionLowersCountsAndHealsTheIndexEmptyingTellsTheShell) {
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
  // Emptying (the shared part: the MMS tests) keeps the index and tells the
  // shell of an emptied INBOX (phone or card, not SIM_INBOX) with lParam 0.
  const DWORD oid = Write(false, kInbox, 10), sim = Write(false, kSimInbox, 10);
  Write(false, kDraft, 10), Write(true, kInbox, 10);
  std::filesystem::create_directory(File(false, kDraft, 99));  // stays: DRAFT's emptying fails
  EXPECT_EQ(3, EMSMsgStore_EmptyFolder(false, kDraft) + EMSMsgStore_EmptyFolder(false, kSimInbox) +
                   EMSMsgStore_EmptyFolder(false, kInbox) + EMSMsgStore_EmptyFolder(true, kInbox));
  EXPECT_EQ(1u, Count(false, kDraft) + Count(false, kInbox) + Count(false, kSimInbox) +
                    Count(true, kInbox));
  EXPECT_EQ((Entries{{sim, kSimInbox}, {oid, kInbox}}), Index(kInbox));
  EXPECT_EQ(TakeNotices(), Notices(2, {u"WCE_APSHELL", 0xC44, 0, 0}));
}

TEST_F(EmsStore, RefreshRebuildsInboxSentAndUnsentAndKeepsOtherIndexes) {
  const std::tuple<bool, DWORD, DWORD, DWORD, BOOL> files[] = {
      {0, kInbox, 1, 10, 1},    {0, kInbox, 2, 30, 0},     {0, kSimInbox, 3, 20, 1},
      {1, kInbox, 4, 5, 1},     {1, kInbox, 5, 5, 0},      {0, kSent, 11, 10, 0},
      {0, kSimSent, 12, 20, 0}, {0, kSimUnsent, 15, 5, 0}, {0, kDraft, 16, 10, 0}};
  for (const auto& [card, folder, oid, time, read] : files) Put(card, folder, oid, time, read);
  std::ofstream(File(false, kSent, 13)) << "tiny";
  for (DWORD folder : {kInbox, kSent, kUnsent, kDraft})
    EMSMsgStore_AddMsgToIni(99, folder, {50, 0});
  const msgstore_test::Bytes draft = msgstore_test::Load(Dir(false, kDraft) + "/EmsIni");
  EXPECT_EQ(1, EmsMsgStore_RefreshIniFiles());
  EXPECT_EQ(
      (Calls{"xSetEmsRecvMsgCount(2)", "xSetEmsReadMsgCount(1)", "xSetEmsRecvMsgCount(1)",
             "xSetEmsReadMsgCount(1)", "xSetEms_SDRecvMsgCount(2)", "xSetEms_SDReadMsgCount(1)"}),
      platform_.calls);
  EXPECT_EQ((Entries{{2, 1}, {3, 7}, {1, 1}}), Index(kInbox));
  EXPECT_EQ((Entries{{12, 12}, {11, 3}, {13, 3}}), Index(kSent));
  EXPECT_EQ((Entries{{15, 13}}), Index(kUnsent));
  EXPECT_EQ(draft, msgstore_test::Load(Dir(false, kDraft) + "/EmsIni"));
}

// A read by position follows the directory's enumeration, a position out of
// range reading the last file; one by identifier alone tries the folders in
// order (INBOX before SPAM), and on the card none of the phone-only ones. The
// unread count covers the card INBOX; a first run (both card counters 0) sets
// the card counters up from the files.
TEST_F(EmsStore, ReadsCountsAndTheUnreadCountOfTheCardInbox) {
  std::filesystem::create_directories(Host("DiskOnChipROM"));
  msgstore_test::Store({'p'}, Host("DiskOnChipROM/cvPictogram.dll"));
  for (DWORD oid = 1; oid <= 5; ++oid) Put(true, kInbox, oid, 10, oid % 2);  // 1, 3, 5 read
  const std::pair<DWORD, DWORD> phone[] = {
      {kSpam, 6},      {kInbox, 6},      {kSimInbox, 7},        {kSimSent, 8},
      {kSimUnsent, 9}, {kSimUnsent, 10}, {EMS_FOLDER_NONE, 11}, {kReport, 12}};
  for (const auto& [folder, oid] : phone)
    Put(false, folder, oid, 10, 0, folder == 1 ? u"in" : u"s");
  for (const auto& [card, folder] :
       {std::make_pair(true, kInbox), std::make_pair(false, kSimUnsent)}) {
    CMsgList list;
    const int n = static_cast<int>(EMSMsgStore_GetMessageList(card, folder, list));
    EXPECT_TRUE(list[0].bMemoryCard == card && list[0].byFolder == folder);
    for (int position : {0, 1, 2, n, 1000, -1})
      EXPECT_EQ(list[position >= 0 && position < n ? position : n - 1].dwOid,
                Record(card, folder, 0, position).props.dwOid);
  }
  for (DWORD oid = 1; oid <= 12; ++oid)
    for (bool card : {false, true}) EXPECT_EQ(card == (oid <= 5), Record(card, 0, oid).ok == 1);
  EXPECT_EQ(std::u16string(u"in"), Record(false, 0, 6).props.pszSubject);
  EXPECT_EQ(std::make_tuple(1u, 5u, 6u, 4u),
            std::make_tuple(GetEMSPhoneInboxMsgCount(), GetEMSSDInboxMsgCount(),
                            GetEMSInboxMsgCount(), GetEMSSimMsgCount()));
  EXPECT_EQ(2u, GetEMSInboxUnreadMsgsCount());
  EXPECT_EQ(msgstore_test::Bytes{'p'}, msgstore_test::Load(Host("DiskOnChip/Corvane.conf")));
  platform_.sdRead = 3;  // set up, even with the received counter at 0
  EXPECT_EQ(2, EMSMsgStore_SetRead(true, kInbox, 2, 1));
  EXPECT_EQ(1u, GetEMSInboxUnreadMsgsCount());
  platform_.cardState = 6;  // the card went away
  EXPECT_EQ(0u, GetEMSInboxUnreadMsgsCount());
  const std::string read = "xSetEms_SDReadMsgCount(1)";  // three on the first run, one by SetRead
  EXPECT_EQ((Calls{"xSetEms_SDRecvMsgCount(5)", read, read, read, read}), platform_.calls);
}

}  // namespace
