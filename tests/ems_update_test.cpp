// EMS updates: field setters, moves with their counter effects, deletion and
// emptying.
#include "ems_fixtures.h"

namespace {

using EmsUpdateTest = msgstore_test::EmsTest;

TEST_F(EmsUpdateTest, SettersRewriteUnderTheSameIdentifierInTheSameIndexPlace) {
  tagMSGPROPS props = Message(kInbox, 10, 0, u"subject");
  BYTE content[] = {1, 2, 3};
  props.pData = content;
  props.cbData = sizeof content;
  const DWORD older = EMSMsgStore_WriteMessage(false, &props, 0, nullptr);
  const DWORD newer = Write(false, kInbox, 20);
  WCHAR subject[] = u"new subject", to[] = u"+1555", msgId[] = u"mid";
  EXPECT_EQ(static_cast<int>(older), EMSMsgStore_SetStatus(false, kInbox, older, 0x1234));
  EXPECT_EQ(static_cast<int>(older), EMSMsgStore_SetTime(false, kInbox, older, {999, 7}));
  EXPECT_EQ(static_cast<int>(older), EMSMsgStore_SetTo(false, kInbox, older, to));
  EXPECT_EQ(static_cast<int>(older), EMSMsgStore_SetMsgID(false, kInbox, older, msgId));
  Record r(false, kInbox, older);
  ASSERT_EQ(1, r.ok);
  EXPECT_EQ(0x1234, r.props.wStatus);
  EXPECT_EQ(999u, r.props.ftTime.dwLowDateTime);
  EXPECT_EQ(10u, r.props.ftIndexTime.dwLowDateTime);
  EXPECT_EQ(std::u16string(u"subject"), r.props.pszSubject);
  EXPECT_EQ(std::u16string(u"+1555"), r.props.pszTo);
  EXPECT_EQ(std::u16string(u"mid"), r.props.pszMsgID);
  ASSERT_EQ(3u, r.props.cbData);
  EXPECT_EQ(3, r.props.pData[2]);
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
  const DWORD phone = Write(false, kInbox, 10, 1), card = Write(true, kInbox, 10);
  const DWORD spam = Write(false, kSpam, 10), sim = Write(false, kSimInbox, 10);
  EXPECT_EQ(static_cast<int>(phone), EMSMsgStore_SetRead(false, kInbox, phone, 1));
  EXPECT_EQ(static_cast<int>(phone), EMSMsgStore_SetRead(false, kInbox, phone, 0));
  EXPECT_EQ(static_cast<int>(card), EMSMsgStore_SetRead(true, kInbox, card, 1));
  EXPECT_EQ(static_cast<int>(spam), EMSMsgStore_SetRead(false, kSpam, spam, 1));
  EXPECT_EQ(static_cast<int>(sim), EMSMsgStore_SetRead(false, kSimInbox, sim, 1));
  EXPECT_EQ(0, EMSMsgStore_SetRead(false, kInbox, 42, 1));
  EXPECT_EQ(
      (Calls{"xSetEmsReadMsgCount(1)", "xSetEmsReadMsgCount(1)", "xSetEms_SDReadMsgCount(1)"}),
      platform_.calls);
  EXPECT_EQ(0, Record(false, kInbox, phone).props.bRead);
  EXPECT_EQ(1, Record(true, kInbox, card).props.bRead);
  EXPECT_EQ(1, Record(false, kSpam, spam).props.bRead);
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
    EXPECT_EQ(oid + 1, newOid);
    EXPECT_EQ(77, storage);
    EXPECT_EQ(c.calls, platform_.calls);
    EXPECT_FALSE(Exists(c.card, c.from, oid));
    EXPECT_FALSE(Indexed(c.from, oid));
    EXPECT_EQ(!toCard, Indexed(c.to, newOid));
    Record r(toCard, c.to, newOid);
    EXPECT_EQ(c.to, r.props.dwFolder);
    EXPECT_EQ(newOid, r.props.dwOid);
    EXPECT_EQ(std::u16string(u"subject"), r.props.pszSubject);
  }
}

TEST_F(EmsUpdateTest, MoveIntoFullPhoneInboxGoesToTheCardAndReportsIt) {
  Fill(false, kInbox, 100);
  const DWORD oid = Write(false, kDraft, 10, 1);
  int storage = 9;
  DWORD newOid = 0;
  EXPECT_EQ(1, EMSMsgStore_SetFolder(false, kDraft, oid, kInbox, &storage, &newOid));
  EXPECT_EQ(1, storage);
  EXPECT_TRUE(Exists(true, kInbox, newOid));
  EXPECT_FALSE(Exists(false, kDraft, oid));
  EXPECT_TRUE(Index(kDraft).empty());
  EXPECT_EQ((Calls{"xSetEmsRecvMsgCount(1)", "xSetEmsReadMsgCount(1)"}), platform_.calls);
}

TEST_F(EmsUpdateTest, FailedMovesChangeNothing) {
  const DWORD oid = Write(false, kInbox, 10, 1);
  int storage = 5;
  DWORD newOid = 123;
  EXPECT_EQ(0, EMSMsgStore_SetFolder(false, kDraft, 8, kSent, &storage, &newOid));
  EXPECT_EQ(123u, newOid);
  EXPECT_EQ(0, EMSMsgStore_SetFolder(false, kInbox, oid, 9, &storage, &newOid));
  EXPECT_EQ(0u, newOid);
  EXPECT_EQ(5, storage);
  EXPECT_TRUE(Exists(false, kInbox, oid));
  EXPECT_EQ((Entries{{oid, kInbox}}), Index(kInbox));
  EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(EmsUpdateTest, DeletionLowersTheReceivedAndSimCountsAndHealsThePhoneIndex) {
  const DWORD phone = Write(false, kInbox, 10, 1), card = Write(true, kInbox, 10, 1);
  const DWORD sim = Write(false, kSimInbox, 10, 1), keep = Write(false, kDraft, 10);
  const DWORD draft = Write(false, kDraft, 20);
  const DWORD sent = Write(false, kSimSent, 10), unsent = Write(false, kSimUnsent, 10);
  platform_.simUnsent = 3;
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, kInbox, phone));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(true, kInbox, card));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, kSimInbox, sim));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, kDraft, draft));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, kSimSent, sent));  // SIM count 0 stays 0
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, kSimUnsent, unsent));
  platform_.simSent = 2;
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(true, kSimSent, 0xFFFF));  // lowered all the same
  EXPECT_EQ(
      (Calls{"xSetEmsRecvMsgCount(-1)", "xSetEms_SDRecvMsgCount(-1)", "xSetEmsRecvMsgCount(-1)",
             "xSetUnsentSmsCountInSim(2)", "xSetSentSmsCountInSim(1)"}),
      platform_.calls);
  EXPECT_FALSE(Exists(true, kInbox, card) || Exists(false, kDraft, draft));
  EXPECT_TRUE(Index(kInbox).empty() && Index(kSent).empty() && Index(kUnsent).empty());
  EXPECT_EQ((Entries{{keep, kDraft}}), Index(kDraft));

  // A file already gone: the phone's index record goes, the card reports it.
  platform_.calls.clear();
  const DWORD gone = Write(false, kInbox, 10), cardGone = Write(true, kInbox, 10);
  std::filesystem::remove(File(false, kInbox, gone));
  std::filesystem::remove(File(true, kInbox, cardGone));
  EXPECT_EQ(1, EMSMsgStore_DeleteMessage(false, kInbox, gone));
  EXPECT_TRUE(Index(kInbox).empty());
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(true, kInbox, cardGone));
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(false, 9, 1));
  EXPECT_EQ(0, EMSMsgStore_DeleteMessage(true, kReport, 1));
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
  EXPECT_EQ(1, EMSMsgStore_EmptyFolder(false, kInbox));
  EXPECT_EQ(1, EMSMsgStore_EmptyFolder(true, kInbox));
  EXPECT_EQ(0u, Count(false, kInbox) + Count(true, kInbox) + Count(false, kDraft));
  EXPECT_TRUE(std::filesystem::exists(note));
  EXPECT_EQ((Entries{{oid, kInbox}}), Index(kInbox));
  ASSERT_EQ(2u, platform_.posted.size());
  EXPECT_EQ(std::u16string(u"WCE_APSHELL"), platform_.posted[1].className);
  EXPECT_EQ(0xC44u, platform_.posted[1].msg);
  EXPECT_EQ(0u, platform_.posted[1].wParam + platform_.posted[1].lParam);
  platform_.shellWindow = false;
  EXPECT_EQ(1, EMSMsgStore_EmptyFolder(false, kInbox));
  EXPECT_EQ(0, EMSMsgStore_EmptyFolder(true, kSimInbox));
  EXPECT_EQ(0, EMSMsgStore_EmptyFolder(false, 11));
  EXPECT_EQ(2u, platform_.posted.size());
  EXPECT_TRUE(platform_.calls.empty());
}

}  // namespace
