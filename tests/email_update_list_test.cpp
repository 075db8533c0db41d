// E-mail updates and listings: field setters and moves with their Inbox
// twins, the spam round trip, deletion and emptying, listings, reads by
// position and identifier, counts, unread counts and the index refresh.
#include <functional>
#include <set>

#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;

class EmailUpdateTest : public msgstore_test::EmailTest {
 protected:
  // The identifiers of a listing, sorted, and whether every entry carries
  // the storage and the mark 3.
  std::vector<DWORD> Listed(const CMsgList& list, long from, bool card) {
    std::vector<DWORD> oids;
    for (long i = from; i < list.GetSize(); ++i) {
      EXPECT_EQ(list[i].bMemoryCard, card ? 1 : 0);
      EXPECT_EQ(list[i].byFolder, 3);
      oids.push_back(list[i].dwOid);
    }
    std::sort(oids.begin(), oids.end());
    return oids;
  }
  // The only message of a folder (of an account's INBOX), by its listing.
  DWORD Only(bool card, DWORD folder, DWORD account = kAccount) {
    CMsgList list;
    const DWORD n = folder == kInbox ? EmailMsgStore_GetMessageListInbox(card, account, list)
                                     : EmailMsgStore_GetMessageList(card, folder, list);
    EXPECT_EQ(1u, n);
    return n == 1 ? list[0].dwOid : 0;
  }
};

TEST_F(EmailUpdateTest, SettersRewriteUnderTheSameIdentifierAndTheirTwinsServeTheInbox) {
  struct Setter {
    std::function<int(bool, DWORD, DWORD)> plain, inbox;
    std::function<bool(const Record&)> changed;
  };
  const Setter setters[] = {
      {[](bool c, DWORD f, DWORD id) { return EmailMsgStore_SetStatus(c, f, id, 0x1234); },
       [](bool c, DWORD a, DWORD id) { return EmailMsgStore_SetStatusInbox(c, a, id, 0x1234); },
       [](const Record& r) { return r.props.wStatus == 0x1234; }},
      {[](bool c, DWORD f, DWORD id) { return EmailMsgStore_SetReadStatus(c, f, id, 7); },
       [](bool c, DWORD a, DWORD id) { return EmailMsgStore_SetReadStatusInbox(c, a, id, 7); },
       [](const Record& r) { return r.props.bRead == 7; }},
      {[](bool c, DWORD f, DWORD id) { return EmailMsgStore_SetReadReportStatus(c, f, id, -3); },
       [](bool c, DWORD a, DWORD id) {
         return EmailMsgStore_SetReadReportStatusInbox(c, a, id, -3);
       },
       [](const Record& r) { return r.email.dwReadReportStatus == -3; }},
  };
  BYTE content[] = {1, 2, 3};
  for (const Setter& s : setters) {
    SCOPED_TRACE(&s - setters);
    Reset();
    tagMSGPROPS props = Message(kSent, 10, 0, u"subject");
    props.pData = content;
    props.cbData = sizeof content;
    tagEMAILMSGPROPS email = Email(kOther);
    const DWORD sent = EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr);
    const DWORD newer = Write(false, kSent, 20);
    props.dwFolder = kInbox;
    const DWORD inbox = EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr);
    const DWORD card = EmailMsgStore_WriteMessage(true, &props, &email, 0, nullptr);
    const Bytes counter = Counter();
    EXPECT_EQ(static_cast<int>(sent), s.plain(false, kSent, sent));
    EXPECT_EQ(static_cast<int>(inbox), s.inbox(false, kOther, inbox));
    EXPECT_EQ(static_cast<int>(card), s.inbox(true, kOther, card));
    // The plain setter cannot name an INBOX file; the twin needs its account.
    EXPECT_EQ(0, s.plain(false, kInbox, inbox));
    EXPECT_EQ(0, s.inbox(false, kAccount, inbox));
    EXPECT_EQ(0, s.plain(false, kSent, 99));
    EXPECT_EQ(0, s.plain(true, kSent, sent));
    EXPECT_EQ(counter, Counter());
    for (auto [c, folder, oid] :
         {std::make_tuple(false, kSent, sent), std::make_tuple(false, kInbox, inbox),
          std::make_tuple(true, kInbox, card)}) {
      Record r(c, folder, oid, kOther);
      ASSERT_EQ(1, r.ok);
      EXPECT_TRUE(s.changed(r));
      EXPECT_EQ(u"subject", r.Subject());
      EXPECT_EQ(oid, r.props.dwOid);
      EXPECT_EQ(kOther, r.email.dwAccountId);
      EXPECT_EQ(0x5150, r.email.wQuickValue);
      ASSERT_EQ(3u, r.props.cbData);
      EXPECT_EQ(3, r.props.pData[2]);
    }
    EXPECT_EQ((Records{{kSent, newer, 20}, {kSent, sent, 10}}), Index(kSent));
    EXPECT_EQ((Records{{kOther, inbox, 10}}), Index(kOther));
    EXPECT_EQ(
        (std::vector<size_t>{2, 1, 1}),
        (std::vector<size_t>{Files(false, kSent), Files(false, kInbox), Files(true, kInbox)}));
  }
}

TEST_F(EmailUpdateTest, MovesWriteANewMessageAndDeleteTheSource) {
  const DWORD draft = Write(false, kDraft, 30, 1, kOther, u"moved");
  const DWORD sent = Write(false, kSent, 40);
  const DWORD older = Write(false, kSent, 10);
  EXPECT_NE(0, EmailMsgStore_SetFolder(false, kDraft, draft, kSent));
  EXPECT_FALSE(Exists(false, kDraft, draft));
  EXPECT_FALSE(fs::exists(IndexFile(kDraft)));
  const DWORD moved = older + 1;
  EXPECT_EQ((Records{{kSent, sent, 40}, {kSent, moved, 30}, {kSent, older, 10}}), Index(kSent));
  {
    Record r(false, kSent, moved);
    ASSERT_EQ(1, r.ok);
    EXPECT_EQ(kSent, r.props.dwFolder);
    EXPECT_EQ(moved, r.props.dwOid);
    EXPECT_EQ(1, r.props.bRead);
    EXPECT_EQ(30u, r.props.ftIndexTime.dwLowDateTime);
    EXPECT_EQ(u"moved", r.Subject());
    EXPECT_EQ(kOther, r.email.dwAccountId);
  }
  // Into the INBOX under the account that the message names; on the card
  // without an index.
  EXPECT_NE(0, EmailMsgStore_SetFolder(false, kSent, moved, kInbox));
  EXPECT_TRUE(Exists(false, kInbox, moved + 1, kOther));
  EXPECT_EQ((Records{{kOther, moved + 1, 30}}), Index(kOther));
  const DWORD card = Write(true, kUnsent, 5);
  EXPECT_NE(0, EmailMsgStore_SetFolder(true, kUnsent, card, kReport));
  EXPECT_EQ(card + 1, Only(true, kReport));
  EXPECT_EQ(0u, Files(true, kUnsent));
  EXPECT_FALSE(fs::exists(IndexFile(kReport)));

  // Failed moves leave the source; a refused target still used an identifier.
  const Bytes before = Load(File(false, kSent, sent));
  EXPECT_EQ(0, EmailMsgStore_SetFolder(false, kSent, sent, 9));
  EXPECT_EQ(0, EmailMsgStore_SetFolder(false, kSent, sent, kNone));
  EXPECT_EQ(0, EmailMsgStore_SetFolder(false, kInbox, moved + 1, kSent));
  EXPECT_EQ(0, EmailMsgStore_SetFolder(false, kDraft, 99, kSent));
  EXPECT_EQ(before, Load(File(false, kSent, sent)));
  EXPECT_TRUE(Indexed(kSent, sent));
  EXPECT_EQ((Bytes{static_cast<uint8_t>(card + 3), 0, 0, 0}), Counter());

  // A full target with a usable card: the copy goes there, the source is
  // taken from the storage given.
  Fill(false, kDraft, 100);
  EXPECT_NE(0, EmailMsgStore_SetFolder(false, kSent, sent, kDraft));
  EXPECT_TRUE(Exists(true, kDraft, card + 4));
  EXPECT_FALSE(Exists(false, kSent, sent));
  EXPECT_FALSE(Indexed(kSent, sent));
  EXPECT_EQ(100u, Files(false, kDraft));
  EXPECT_TRUE(platform_.posted.empty());
}

TEST_F(EmailUpdateTest, SpamRoundTripKeepsTheAccount) {
  for (bool card : {false, true}) {
    SCOPED_TRACE(card);
    Reset();
    SetCounter(6);
    const DWORD first = Write(card, kInbox, 50, 0, kOther, u"spam?");
    ASSERT_EQ(7u, first);
    Write(card, kInbox, 60, 0, kOther);
    EXPECT_EQ(0, EmailMsgStore_MoveInboxToSpam(card, kAccount, first));
    EXPECT_NE(0, EmailMsgStore_MoveInboxToSpam(card, kOther, first));
    EXPECT_FALSE(Exists(card, kInbox, first, kOther));
    const DWORD spam = Only(card, kSpam);
    EXPECT_EQ(9u, spam);
    {
      Record r(card, kSpam, spam);
      EXPECT_EQ(kSpam, r.props.dwFolder);
      EXPECT_EQ(kOther, r.email.dwAccountId);
      EXPECT_EQ(u"spam?", r.Subject());
    }
    EXPECT_EQ(!card, Indexed(kSpam, spam));
    EXPECT_EQ(card ? Records{} : (Records{{kOther, 8, 60}}), Index(kOther));

    EXPECT_NE(0, EmailMsgStore_RestoreMessageToInbox(card, spam));
    EXPECT_EQ(0u, Files(card, kSpam));
    EXPECT_FALSE(fs::exists(IndexFile(kSpam)));
    EXPECT_TRUE(Exists(card, kInbox, 10, kOther));
    EXPECT_EQ(card ? Records{} : (Records{{kOther, 8, 60}, {kOther, 10, 50}}), Index(kOther));
    EXPECT_EQ(0, EmailMsgStore_RestoreMessageToInbox(card, spam));
    EXPECT_EQ(2u, Files(card, kInbox));
  }
}

TEST_F(EmailUpdateTest, DeletionAndEmptyingWithTheirInboxTwins) {
  const DWORD keep = Write(false, kDraft, 10), draft = Write(false, kDraft, 20);
  const DWORD mine = Write(false, kInbox, 10), other = Write(false, kInbox, 10, 0, kOther);
  const DWORD card = Write(true, kDraft, 10);
  EXPECT_EQ(0, EmailMsgStore_DeleteMessage(false, kInbox, mine));
  EXPECT_EQ(0, EmailMsgStore_DeleteMessage(false, kNone, mine));
  EXPECT_EQ(0, EmailMsgStore_DeleteMessage(false, 9, draft));
  EXPECT_EQ(1, EmailMsgStore_DeleteMessage(false, kDraft, draft));
  EXPECT_EQ(1, EmailMsgStore_DeleteMessage(true, kDraft, card));
  EXPECT_EQ(0, EmailMsgStore_DeleteMessage(true, kDraft, card));
  EXPECT_EQ(1, EmailMsgStore_DeleteMessageInbox(false, kAccount, mine));
  EXPECT_EQ(0, EmailMsgStore_DeleteMessageInbox(true, kOther, other));
  EXPECT_FALSE(Exists(false, kDraft, draft));
  EXPECT_FALSE(Exists(false, kInbox, mine));
  EXPECT_TRUE(Exists(false, kInbox, other, kOther));
  EXPECT_EQ((Records{{kDraft, keep, 10}}), Index(kDraft));
  EXPECT_FALSE(fs::exists(IndexFile(kAccount)));
  // A phone file already gone still leaves its index.
  fs::remove(File(false, kInbox, other, kOther));
  EXPECT_EQ(1, EmailMsgStore_DeleteMessageInbox(false, kOther, other));
  EXPECT_FALSE(fs::exists(IndexFile(kOther)));

  // Emptying deletes the ".email" files only and keeps the indexes.
  for (DWORD oid : {1u, 2u}) Put(false, kInbox, oid, 1, 0, kAccount);
  for (DWORD oid : {3u, 4u}) Put(false, kInbox, oid, 1, 0, kOther);
  for (DWORD oid : {5u, 6u}) Put(true, kInbox, oid, 1, 0, kOther);
  Put(true, kSpam, 7, 1);
  const std::string note = Dir(false, kDraft) + "/note.txt";
  Store({'k'}, note);
  const Bytes draftIndex = Load(IndexFile(kDraft));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolder(false, kDraft));
  EXPECT_EQ(0u, Files(false, kDraft));
  EXPECT_TRUE(fs::exists(note));
  EXPECT_EQ(draftIndex, Load(IndexFile(kDraft)));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolderInbox(false, kOther));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolderInbox(false, 12));
  EXPECT_EQ((std::make_pair(2ul, 0ul)),
            std::make_pair(AccountFiles(false, kAccount), AccountFiles(false, kOther)));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolder(true, kInbox));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolder(true, kSpam));
  EXPECT_EQ(0u, Files(true, kInbox) + Files(true, kSpam));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolder(false, kInbox));
  EXPECT_EQ(0u, Files(false, kInbox));
  for (DWORD folder : {0u, 7u, 11u, kAccount})
    EXPECT_EQ(0, EmailMsgStore_EmptyFolder(false, folder));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolder(false, kNone));
  EXPECT_TRUE(platform_.posted.empty());
}

using EmailListTest = EmailUpdateTest;

TEST_F(EmailListTest, ListingsAppendEntriesNamedByTheirNumbers) {
  CMsgList list;
  list.Add(tagOidArray{1, 9, 777});
  EXPECT_EQ(0u, EmailMsgStore_GetMessageList(false, kDraft, list));
  for (const char* name : {"3.email", "12.email", "abc.email", "-5.email", "7.txt", "EmailIni"})
    Store({'x'}, Dir(false, kDraft) + "/" + name);
  EXPECT_EQ(4u, EmailMsgStore_GetMessageList(false, kDraft, list));
  EXPECT_EQ((std::vector<DWORD>{0, 3, 12, 0xFFFFFFFB}), Listed(list, 1, false));
  EXPECT_EQ(4u, EmailMsgStore_GetMessageList(false, kDraft, list));
  EXPECT_EQ(9, list.GetSize());
  EXPECT_EQ(777u, list[0].dwOid);

  // The plain INBOX lists the incoming-server account; the twin any account.
  for (DWORD oid : {1u, 20u}) Put(false, kInbox, oid, 1, 0, kAccount);
  Put(false, kInbox, 3, 1, 0, kOther);
  Put(true, kInbox, 4, 1, 0, kOther);
  Put(true, kSent, 5, 1);
  list.RemoveAll();
  EXPECT_EQ(2u, EmailMsgStore_GetMessageList(false, kInbox, list));
  EXPECT_EQ((std::vector<DWORD>{1, 20}), Listed(list, 0, false));
  list.RemoveAll();
  EXPECT_EQ(1u, EmailMsgStore_GetMessageListInbox(false, kOther, list));
  EXPECT_EQ(1u, EmailMsgStore_GetMessageListInbox(true, kOther, list));
  EXPECT_EQ(0u, EmailMsgStore_GetMessageList(true, kInbox, list));
  EXPECT_EQ(1u, EmailMsgStore_GetMessageList(true, kSent, list));
  ASSERT_EQ(3, list.GetSize());
  EXPECT_EQ(3u, list[0].dwOid);
  EXPECT_EQ(0, list[0].bMemoryCard);
  EXPECT_EQ((std::vector<DWORD>{4, 5}), Listed(list, 1, true));
  SetIncomingServer(kOther);
  EXPECT_EQ(1u, EmailMsgStore_GetMessageList(true, kInbox, list));
  for (DWORD folder : {0u, 7u, 12u, kAccount})
    EXPECT_EQ(0u, EmailMsgStore_GetMessageList(false, folder, list));
  fs::remove_all(Host(".platform/registry"));
  EXPECT_EQ(0u, EmailMsgStore_GetMessageList(false, kInbox, list));
  EXPECT_EQ(2u, EmailMsgStore_GetMessageListInbox(false, kAccount, list));
  EXPECT_EQ(6, list.GetSize());
}

TEST_F(EmailListTest, ReadFolderMessageByPositionOrIdentifier) {
  for (DWORD oid = 1; oid <= 3; ++oid) Put(false, kUnsent, oid, oid);
  for (DWORD oid = 4; oid <= 6; ++oid)
    Put(false, kInbox, oid, oid, 0, oid == 5 ? kOther : kAccount);
  CMsgList order, inboxOrder;
  ASSERT_EQ(3u, EmailMsgStore_GetMessageList(false, kUnsent, order));
  ASSERT_EQ(2u, EmailMsgStore_GetMessageListInbox(false, kAccount, inboxOrder));
  const std::pair<int, long> positions[] = {{0, 0}, {1, 1}, {2, 2}, {5, 2}, {-1, 2}};
  for (const auto& [position, index] : positions) {
    Record r, q;
    ASSERT_EQ(
        1, EmailMsgStore_ReadFolderMessage(false, kUnsent, position, 0, true, &r.props, &r.email));
    EXPECT_EQ(order[index].dwOid, r.props.dwOid) << position;
    ASSERT_EQ(1, EmailMsgStore_ReadFolderMessageInbox(false, kAccount, position, 0, false, &q.props,
                                                      &q.email));
    EXPECT_EQ(inboxOrder[std::min(index, 1L)].dwOid, q.props.dwOid) << position;
    EXPECT_TRUE(q.props.pData == nullptr && r.props.pData != nullptr);
  }
  Record r;
  ASSERT_EQ(1, EmailMsgStore_ReadFolderMessage(false, kUnsent, 1000, 2, true, &r.props, &r.email));
  EXPECT_EQ(2u, r.props.dwOid);
  EmailMsgStore_FreeMsgProps(&r.props, &r.email);
  ASSERT_EQ(1, EmailMsgStore_ReadFolderMessageInbox(false, kOther, 0, 5, true, &r.props, &r.email));
  EXPECT_EQ(5u, r.props.dwOid);
  EXPECT_EQ(0, EmailMsgStore_ReadFolderMessage(false, kInbox, 0, 4, true, &r.props, &r.email));
  EXPECT_EQ(0, EmailMsgStore_ReadFolderMessageInbox(false, kOther, 0, 4, true, &r.props, &r.email));
  EXPECT_EQ(0, EmailMsgStore_ReadFolderMessage(false, kUnsent, 0, 4, true, &r.props, &r.email));
  EXPECT_EQ(0, EmailMsgStore_ReadFolderMessage(false, kDraft, 0, 0, true, &r.props, &r.email));
  EXPECT_EQ(0, EmailMsgStore_ReadFolderMessage(true, kUnsent, 0, 0, true, &r.props, &r.email));
  EXPECT_EQ(0, EmailMsgStore_ReadFolderMessage(false, 9, 0, 0, true, &r.props, &r.email));
  EXPECT_EQ(0, EmailMsgStore_ReadFolderMessageInbox(false, 12, 0, 0, true, &r.props, &r.email));
}

TEST_F(EmailListTest, CountsAndUnreadCountsAcrossAccounts) {
  Put(false, kInbox, 1, 1, 0, kAccount);
  Put(false, kInbox, 2, 1, 1, kAccount);
  Store({1, 2, 3}, File(false, kInbox, 3, kAccount));  // unreadable: unread
  Put(false, kInbox, 4, 1, 0, kOther);
  Put(false, kInbox, 5, 1, 1, kOther);
  Put(false, kInbox, 6, 1, 0, 6);
  Put(true, kInbox, 7, 1, 0, kAccount);
  Put(true, kInbox, 8, 1, 0, kOther);
  Put(true, kInbox, 9, 1, 1, kAccount);
  Put(true, kSpam, 10, 1);
  EXPECT_EQ(6u, EmailMsgStore_GetFolderMessageCount(false, kInbox));
  EXPECT_EQ(3u, EmailMsgStore_GetFolderMessageCount(true, kInbox));
  EXPECT_EQ(1u, EmailMsgStore_GetFolderMessageCount(true, kSpam));
  EXPECT_EQ(0u, EmailMsgStore_GetFolderMessageCount(false, kSpam));
  for (DWORD folder : {0u, 7u, kAccount})
    EXPECT_EQ(0u, EmailMsgStore_GetFolderMessageCount(false, folder));
  const std::tuple<bool, DWORD, DWORD> twins[] = {
      {false, kAccount, 3}, {false, kOther, 2}, {false, 6, 1}, {true, kAccount, 2}, {false, 12, 0}};
  for (const auto& [card, account, n] : twins) {
    DWORD count = 99;
    EXPECT_EQ(1, EmailMsgStore_GetFolderMessageCountInbox(card, account, &count));
    EXPECT_EQ(n, count) << account;
  }
  EXPECT_EQ(1, EmailMsgStore_GetFolderMessageCountInbox(false, kAccount, nullptr));

  // The account number may stand anywhere in the name.
  const std::tuple<bool, DWORD, DWORD> unread[] = {
      {false, kAccount, 2}, {false, kOther, 1}, {false, 5306, 3},    {false, 6, 4},
      {false, 4, 1},        {false, 0, 0},      {true, kAccount, 1}, {true, 8, 2}};
  for (const auto& [card, account, n] : unread)
    EXPECT_EQ(n, EmailMsgStore_GetUnreadMsgCount(card, account)) << card << " " << account;

  EXPECT_EQ(3u, GetEmailInboxUnreadMsgsCount());
  SetIncomingServer(kOther);
  EXPECT_EQ(2u, GetEmailInboxUnreadMsgsCount());
  fs::remove_all(Host(".platform/registry"));
  EXPECT_EQ(0u, GetEmailInboxUnreadMsgsCount());
}

TEST_F(EmailListTest, InboxUnreadCountMakesBothTrees) {
  fs::remove_all(Host("DiskOnChip/User/MESSAGING"));
  fs::remove_all(Host("SD Card/User"));
  EXPECT_EQ(0u, GetEmailInboxUnreadMsgsCount());
  EXPECT_TRUE(fs::is_directory(Dir(false, kNone)));
  EXPECT_TRUE(fs::is_directory(Dir(true, kSpam)));
}

TEST_F(EmailListTest, RefreshRebuildsOnlyMissingIndexesOfTheFiveFolders) {
  Put(false, kDraft, 1, 10);
  Put(false, kDraft, 2, 30);
  Store({1}, File(false, kDraft, 3));  // unreadable: indexed with time 0
  Put(false, kReport, 4, 40);
  Put(false, kReport, 5, 60);
  Put(false, kSent, 6, 5);
  Put(false, kUnsent, 7, 5);
  Put(false, kSpam, 8, 20);
  Put(true, kSpam, 9, 90);
  Put(false, kInbox, 10, 5, 0, kAccount);
  Store({1, 2}, Dir(false, kNone) + "/11.email");
  Store({}, IndexFile(kSent));
  EmailMsgStore_AddMsgToIni(99, kUnsent, {50, 0});
  const Bytes unsent = Load(IndexFile(kUnsent));
  EXPECT_EQ(1, EmailMsgStore_RefreshIniFiles());
  EXPECT_EQ((Records{{kDraft, 2, 30}, {kDraft, 1, 10}, {kDraft, 3, 0}}), Index(kDraft));
  EXPECT_EQ((Records{{kReport, 5, 60}, {kReport, 4, 40}}), Index(kReport));
  EXPECT_EQ((Records{{kSpam, 8, 20}}), Index(kSpam));
  EXPECT_EQ(0u, fs::file_size(IndexFile(kSent)));
  EXPECT_EQ(unsent, Load(IndexFile(kUnsent)));
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)));
  EXPECT_FALSE(fs::exists(IndexFile(kAccount)));
  EXPECT_FALSE(fs::exists(Dir(false, kNone) + "/EmailIni"));
  fs::remove(IndexFile(kSent));
  fs::remove(IndexFile(kSpam));
  EXPECT_EQ(1, EmailMsgStore_RefreshIniFiles());
  EXPECT_EQ((Records{{kSent, 6, 5}}), Index(kSent));
  EXPECT_EQ((Records{{kSpam, 8, 20}}), Index(kSpam));
  EXPECT_EQ(3u, Index(kDraft).size());
}

}  // namespace
