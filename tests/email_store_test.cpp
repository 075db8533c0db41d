// The e-mail store (its message files: ems_format_test.cpp): INBOX file names,
// the tree and the plain INBOX's account, and what it adds to the shared store
// code: INBOX files and indexes per account, the eviction notice, the content
// against the free space, the Inbox twins, moves and the spam round trip,
// reads by position, the index refresh, unread counts per account.
#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;
using msgstore_test::Load;
using msgstore_test::Store;
using EmailIndex = msgstore_test::EmailTest;
using EmailStore = msgstore_test::EmailTest;
// The account comes first in an account INBOX file's name, though second
// among the arguments (where each folder lies: stores_test.cpp); an account's
// folder value names no file of its own.
TEST(EmailPaths, AccountInboxFileNames) {
  WCHAR p[MAX_PATH] = {};
  EXPECT_EQ(EmailMsgStore_GetFilePath(false, 5, 805306371u, p), 0);
  ASSERT_EQ(EmailMsgStore_GetFilePathInbox(true, 0x80000000, 0xFFFFFFFE, p), 1);
  EXPECT_EQ(std::u16string(p), u"\\SD Card\\User\\MESSAGING\\EMAIL\\INBOX\\-2_-2147483648.email");
}

// CreateDir: a tree with its "Email" directory, in any spelling, is not
// repaired. The quick read finds the plain INBOX's account in the registry.
TEST_F(EmailIndex, CreateDirProbesTheEmailDirectoryAndQuickReadFindsThePlainInboxAccount) {
  fs::remove_all(Host("SD Card/User/MESSAGING"));
  fs::create_directories(Host("SD Card/User/MESSAGING/EMAIL"));
  EXPECT_EQ(EmailMsgStore_CreateDir(true), 1);
  EXPECT_TRUE(fs::is_empty(Host("SD Card/User/MESSAGING/EMAIL")));
  fs::remove_all(Host(".platform/registry"));
  Put(false, kInbox, 7, 70, 0, kAccount, u"mine");
  Put(false, kInbox, 7, 72, 0, kOther, u"other");
  Put(false, kInbox, 7, 73, 0, 0, u"nobody");
  auto quick = [](DWORD folder) {
    tagMSGPROPS p{};
    std::u16string subject = u"<failed>";
    if (EmailMsgStore_QuickReadFromFile(false, folder, 7, &p) == 1) subject = p.pszSubject;
    EmailMsgStore_FreeMsgProps(&p, nullptr);
    return subject;
  };
  // Folder values of 12 and more are accounts.
  EXPECT_EQ(quick(kOther), u"other");
  // The account named as the incoming server's, with its identifier, as the
  // e-mail application names them.
  const DWORD id = kAccount;
  msgstore_test::SetRegistryValue(u"\\Software\\Corvane\\Email\\Accounts\\fifteen-chars-1",
                                  u"AccountUniqueID", REG_DWORD, &id, 4);
  EXPECT_EQ(quick(kInbox), u"<failed>");
  msgstore_test::SetRegistryValue(u"\\Software\\Corvane\\Email\\Preferences",
                                  u"IncomingServerAccount", REG_SZ, u"fifteen-chars-1", 32);
  EXPECT_EQ(quick(kInbox), u"mine");
  // A name of 16 characters does not fit the 32 bytes read.
  msgstore_test::SetAccountUniqueId(u"sixteen-chars-12", kAccount);
  msgstore_test::SetIncomingServerName(u"sixteen-chars-12");
  EXPECT_EQ(quick(kInbox), u"<failed>");
}

// What the e-mail store adds to the shared write path: taken card names per
// account, the notice of an eviction from the storage asked for (none when
// the card makes room for a switch), an INBOX that is refused rather than
// evicted unless the card is busy, and the content against the free space.
TEST_F(EmailStore, WritePathNamesLimitsNoticesAndFreeSpace) {
  // On the card, in the INBOX only the same account's file takes a name.
  Put(true, kInbox, 1, 10);
  Put(true, kInbox, 2, 10, 0, kOther);
  EXPECT_TRUE(Write(true, kInbox, 5) == 2 && Exists(true, kInbox, 2) &&
              Exists(true, kInbox, 2, kOther));
  EXPECT_EQ((Bytes{2, 0, 0, 0}), Counter());
  Fill(false, kDraft, 100);
  Fill(true, kDraft, 100);
  EXPECT_TRUE(Write(false, kDraft, 500) == 3 && Write(true, kDraft, 600) == 4);
  EXPECT_FALSE(Exists(false, kDraft, 1051) || Indexed(kDraft, 1051) || Exists(true, kDraft, 3051));
  EXPECT_EQ(TakeNotices(), (Notices{{u"WCE_CVMESSAGEEXEC", 0x19A1, 1051, 0x03030000},
                                    {u"WCE_CVMESSAGEEXEC", 0x19A1, 3051, 0x03030001}}));
  int storage = STORAGE_AUTO;
  EXPECT_EQ(5u, WriteProps(false, Message(kDraft, 500), kAccount, 0, &storage));
  EXPECT_EQ(1, storage);
  EXPECT_TRUE(Exists(true, kDraft, 5) && !Exists(true, kDraft, 3052) && TakeNotices().empty());
  // The INBOX, counted as the incoming-server account's files: its oldest is
  // the victim, but the file deleted is named with the new message's account.
  Fill(false, kInbox, 100);
  Put(false, kInbox, 1051, 1, 0, kOther);
  EXPECT_EQ(0u, WriteProps(false, Message(kInbox, 500)));
  platform_.cardState = 1 | 2, storage = STORAGE_AUTO;
  EXPECT_EQ(6u, WriteProps(false, Message(kInbox, 500), kOther, 0, &storage));
  EXPECT_TRUE(Exists(false, kInbox, 1051) && Indexed(kAccount, 1051) &&
              !Exists(false, kInbox, 1051, kOther) && storage == STORAGE_AUTO);
  EXPECT_EQ((Records{{kOther, 6, 500}}), Index(kOther));
  platform_.cardState = 1 | 4;
  EXPECT_EQ(7u, WriteProps(false, Message(kInbox, 500), kAccount, 0, &storage));
  EXPECT_TRUE(Indexed(kAccount, 7) && !Exists(false, kInbox, 1051) && !Indexed(kAccount, 1051));
  EXPECT_EQ(TakeNotices(), Notices(2, {u"WCE_CVMESSAGEEXEC", 0x19A0, 1051, 0x03030000}));
  platform_.cardState = 1;
  Fill(true, kInbox, 100);
  EXPECT_TRUE(WriteProps(false, Message(kInbox, 500), kAccount, 0, &storage) == 0 &&
              storage == STORAGE_BOTH_FULL);
  BYTE one = 1;
  tagMSGPROPS big = Message(kSent, 5);
  big.cbData = 1, big.pData = &one, platform_.freeBytes = 0;
  EXPECT_TRUE(WriteProps(false, big, kAccount, 0, &storage) == 0 && storage == STORAGE_NO_SPACE);
}

// A change rewrites the message under its identifier (the Inbox twins serve
// an account's INBOX); a move writes it anew (next identifier, STORAGE_AUTO,
// all fields kept: SPAM keeps the account) and then takes the source's file
// and index record away.
TEST_F(EmailStore, ChangesAndMovesKeepTheIndexesInStep) {
  const DWORD first = Write(false, kInbox, 50, 0, kOther);
  EXPECT_TRUE(first == 1 && Exists(false, kInbox, 1, kOther));
  EXPECT_EQ(1, EmailMsgStore_SetReadReportStatusInbox(false, kOther, first, -3));
  EXPECT_EQ(0, EmailMsgStore_SetStatus(false, kInbox, first, 1) +
                   EmailMsgStore_SetStatusInbox(false, kAccount, first, 1));
  EXPECT_NE(0, EmailMsgStore_MoveInboxToSpam(false, kOther, first));
  EXPECT_FALSE(Exists(false, kInbox, first, kOther) || fs::exists(IndexFile(kOther)));
  EXPECT_EQ((Records{{kSpam, 2, 50}}), Index(kSpam));
  EXPECT_NE(0, EmailMsgStore_RestoreMessageToInbox(false, 2));
  EXPECT_TRUE(!fs::exists(IndexFile(kSpam)) && Index(kOther) == (Records{{kOther, 3, 50}}));
  Record r(false, kInbox, 3, kOther);
  EXPECT_EQ(std::make_tuple(-3, kOther, WORD{0}),
            std::make_tuple(r.email.dwReadReportStatus, r.email.dwAccountId, r.props.wStatus));
  Write(false, kDraft, 40), Write(false, kDraft, 60), Write(false, kSent, 45);  // 4, 5, 6
  EXPECT_NE(0, EmailMsgStore_SetFolder(false, kDraft, 4, kSent));
  EXPECT_EQ((Records{{kSent, 6, 45}, {kSent, 7, 40}}), Index(kSent));
  // A full SENT (7 the oldest): a rewrite evicts nothing, a move goes to the card.
  Fill(false, kSent, 100);
  EXPECT_EQ(1001, EmailMsgStore_SetReadStatus(false, kSent, 1001, 1));
  EXPECT_NE(0, EmailMsgStore_SetFolder(false, kDraft, 5, kSent));
  EXPECT_TRUE(Exists(true, kSent, 8) && Exists(false, kSent, 7) && !Exists(false, kDraft, 5) &&
              !fs::exists(IndexFile(kDraft)));
  // Deletion and emptying, and their Inbox twins.
  const DWORD mine = Write(false, kInbox, 10);
  EXPECT_EQ(0, EmailMsgStore_DeleteMessage(false, kInbox, mine));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolderInbox(false, kOther));
  EXPECT_TRUE(Exists(false, kInbox, mine) && !Exists(false, kInbox, 3, kOther));
  EXPECT_EQ(1, EmailMsgStore_DeleteMessageInbox(false, kAccount, mine));
  EXPECT_FALSE(Exists(false, kInbox, mine) || fs::exists(IndexFile(kAccount)));
  EXPECT_EQ(0, EmailMsgStore_EmptyFolder(false, kAccount));
  EXPECT_TRUE(platform_.posted.empty());
}

// Listings append (identifier, storage, 3) in the directory's order, and
// position i reads the i-th file listed, the last one past the end; the plain
// INBOX lists the incoming-server account's files but counts every account's.
TEST_F(EmailStore, ListingsCountsAndReadsByPositionPerStorageAndAccount) {
  for (bool card : {false, true}) {
    for (DWORD oid = 10u + card * 10u; oid < 13u + card * 10u; ++oid)
      Put(card, kSent, oid, 1), Put(card, kInbox, oid, 1, 0, kOther), Put(card, kInbox, oid + 5, 1);
    CMsgList list;
    for (DWORD folder : {kSent, kInbox}) {
      const long from = list.GetSize();
      EXPECT_EQ(3u, folder == kSent ? EmailMsgStore_GetMessageList(card, kSent, list)
                                    : EmailMsgStore_GetMessageListInbox(card, kOther, list));
      for (int at : {0, 1, 2, 3, -1})
        EXPECT_EQ(Record(card, folder, 0, kOther, at).props.dwOid,
                  list[from + (at == 0 || at == 1 ? at : 2)].dwOid)
            << card << folder << at;
    }
    EXPECT_TRUE(list[5].bMemoryCard == card && list[5].byFolder == 3);
    EXPECT_EQ(3u, EmailMsgStore_GetMessageList(card, kInbox, list));
    EXPECT_EQ(6u, EmailMsgStore_GetFolderMessageCount(card, kInbox));
    DWORD count = 99;
    EXPECT_TRUE(EmailMsgStore_GetFolderMessageCountInbox(card, kOther, &count) == 1 && count == 3);
    EXPECT_EQ(0, Record(card, kDraft, 0, kOther, 0).ok);
  }
}

// The refresh rebuilds each missing phone index of DRAFT to SPAM from its
// files, newest first (an unreadable one with time 0); an index that exists
// and the INBOX ones, plain or per account, are left as they are.
TEST_F(EmailStore, RefreshRebuildsOnlyTheMissingFolderIndexesAndUnreadCounts) {
  for (DWORD folder = kDraft; folder <= kSpam; ++folder)
    for (DWORD oid : {1u, 2u, 3u}) Put(false, folder, oid, oid * 10 % 25);
  for (DWORD folder = kSent; folder <= kSpam; ++folder) Store({1, 2, 3}, File(false, folder, 4));
  Put(false, kInbox, 5, 10);
  Store(Bytes(16, 7), IndexFile(kDraft));
  EXPECT_EQ(1, EmailMsgStore_RefreshIniFiles());
  EXPECT_EQ(Load(IndexFile(kDraft)), Bytes(16, 7));
  for (DWORD f = kSent; f <= kSpam; ++f)
    EXPECT_EQ(Index(f), (Records{{f, 2, 20}, {f, 1, 10}, {f, 3, 5}, {f, 4, 0}})) << f;
  EXPECT_FALSE(fs::exists(IndexFile(kInbox)) || fs::exists(IndexFile(kAccount)));
  // Unread counts match the account anywhere in the name (5: unread too).
  Put(false, kInbox, 1, 1, 0, kAccount);
  Put(false, kInbox, 2, 1, 1, kAccount);
  Store({1, 2, 3}, File(false, kInbox, 3, kAccount));  // unreadable: unread
  Put(false, kInbox, 4, 1, 0, kOther);
  const std::pair<DWORD, DWORD> unread[] = {{kAccount, 3}, {kOther, 1}, {5306, 4}, {0, 0}};
  for (const auto& [account, n] : unread)
    EXPECT_EQ(n, EmailMsgStore_GetUnreadMsgCount(false, account)) << account;
  EXPECT_EQ(3u, GetEmailInboxUnreadMsgsCount());
}

}  // namespace
