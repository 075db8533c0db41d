// The e-mail store: what it adds to the shared store code (INBOX files and
// indexes per account, the incoming-server account, the eviction notice,
// the Inbox twins, the spam round trip, unread counts per account). (The counter, the scan for the
// oldest card file, the free space, rewrites, moves, reads by position, removal and emptying of
// files and the index rebuild are shared and tested with the MMS and EMS stores.)
#include "email_fixtures.h"

namespace {

namespace fs = std::filesystem;
using msgstore_test::Bytes;
using msgstore_test::Store;

using EmailStore = msgstore_test::EmailTest;

TEST_F(EmailStore, IdentifiersAndTakenNamesOnTheCard) {
  EXPECT_TRUE(Write(false, kInbox, 5, 0, kOther) == 1 && Exists(false, kInbox, 1, kOther));
  EXPECT_EQ((Records{{kOther, 1, 5}}), Index(kOther));
  EXPECT_EQ((Bytes{1, 0, 0, 0}), Counter());
  // On the card, in the INBOX only the same account's file takes a name.
  Put(true, kInbox, 2, 10);
  Put(true, kInbox, 3, 10, 0, kOther);
  EXPECT_EQ(3u, Write(true, kInbox, 5));
  EXPECT_TRUE(Exists(true, kInbox, 3) && Exists(true, kInbox, 3, kOther));
}

// What the e-mail store adds to the shared storage choice: the notice of an
// eviction (none when the card evicts) and an INBOX that is refused rather
// than evicted unless the card is busy.
TEST_F(EmailStore, FolderLimitEvictionNoticeAndInboxRefusal) {
  using Posted = std::vector<std::tuple<std::u16string, UINT, WPARAM, LPARAM>>;
  auto posted = [this] {
    Posted out;
    for (const auto& p : platform_.posted) out.emplace_back(p.className, p.msg, p.wParam, p.lParam);
    platform_.posted.clear();
    return out;
  };
  Fill(false, kDraft, 100);
  EXPECT_EQ(1u, Write(false, kDraft, 500));
  EXPECT_FALSE(Exists(false, kDraft, 1051) || Indexed(kDraft, 1051));
  EXPECT_EQ(posted(), (Posted{{u"WCE_CVMESSAGEEXEC", 0x19A1, 1051, 0x03030000}}));
  Fill(true, kDraft, 100);
  int storage = STORAGE_AUTO;
  EXPECT_EQ(2u, WriteProps(false, Message(kDraft, 500), kAccount, 0, &storage));
  EXPECT_EQ(1, storage);
  EXPECT_TRUE(Exists(true, kDraft, 2) && !Exists(true, kDraft, 3051) && posted().empty());
  // The INBOX, counted as the incoming-server account's files.
  Fill(false, kInbox, 100);
  EXPECT_EQ(0u, WriteProps(false, Message(kInbox, 500)));
  platform_.cardState = 1 | 4, storage = STORAGE_AUTO;
  EXPECT_EQ(3u, WriteProps(false, Message(kInbox, 500), kAccount, 0, &storage));
  EXPECT_EQ(STORAGE_AUTO, storage);
  EXPECT_TRUE(Indexed(kAccount, 3) && !Exists(false, kInbox, 1051));
  EXPECT_EQ(posted(), (Posted{{u"WCE_CVMESSAGEEXEC", 0x19A0, 1051, 0x03030000}}));
  platform_.cardState = 1;
  Fill(true, kInbox, 100);
  storage = STORAGE_AUTO;
  EXPECT_EQ(0u, WriteProps(false, Message(kInbox, 500), kAccount, 0, &storage));
  EXPECT_EQ(STORAGE_BOTH_FULL, storage);
}

// The INBOX victim is the incoming-server account's oldest message, but the
// file deleted is named with the new message's account.
TEST_F(EmailStore, InboxEvictionNamesTheVictimWithTheNewMessagesAccount) {
  Fill(false, kInbox, 100, kAccount);
  Put(false, kInbox, 1051, 1, 0, kOther);
  platform_.cardState = 1 | 4;
  int storage = STORAGE_AUTO;
  EXPECT_EQ(1u, WriteProps(false, Message(kInbox, 500), kOther, 0, &storage));
  EXPECT_TRUE(Exists(false, kInbox, 1051, kAccount) && Indexed(kAccount, 1051) &&
              !Exists(false, kInbox, 1051, kOther));
  EXPECT_EQ((Records{{kOther, 1, 500}}), Index(kOther));
}

// All setters share one rewrite; the twins serve the INBOX of an account.
TEST_F(EmailStore, SettersKeepTheIdentifierAndTheirTwinsServeTheInbox) {
  const DWORD inbox = Write(false, kInbox, 10, 0, kOther);
  EXPECT_EQ(static_cast<int>(inbox),
            EmailMsgStore_SetReadReportStatusInbox(false, kOther, inbox, -3));
  EXPECT_EQ(0, EmailMsgStore_SetStatus(false, kInbox, inbox, 1) +
                   EmailMsgStore_SetStatusInbox(false, kAccount, inbox, 1));
  Record r(false, kInbox, inbox, kOther);
  EXPECT_EQ(std::make_tuple(1, -3, kOther, WORD{0x5150}, WORD{0}),
            std::make_tuple(r.ok, r.email.dwReadReportStatus, r.email.dwAccountId,
                            r.email.wQuickValue, r.props.wStatus));
}

TEST_F(EmailStore, SpamRoundTripKeepsTheAccount) {
  const DWORD first = Write(false, kInbox, 50, 0, kOther);
  EXPECT_NE(0, EmailMsgStore_MoveInboxToSpam(false, kOther, first));
  EXPECT_FALSE(Exists(false, kInbox, first, kOther));
  Record r(false, kSpam, 2);
  EXPECT_EQ(std::make_pair(kSpam, kOther), std::make_pair(r.props.dwFolder, r.email.dwAccountId));
  EXPECT_NE(0, EmailMsgStore_RestoreMessageToInbox(false, 2));
  EXPECT_FALSE(fs::exists(IndexFile(kSpam)));
  EXPECT_EQ((Records{{kOther, 3, 50}}), Index(kOther));
}

TEST_F(EmailStore, DeletionAndEmptyingWithTheirInboxTwins) {
  const DWORD mine = Write(false, kInbox, 10), other = Write(false, kInbox, 10, 0, kOther);
  EXPECT_EQ(0, EmailMsgStore_DeleteMessage(false, kInbox, mine));
  EXPECT_EQ(1, EmailMsgStore_EmptyFolderInbox(false, kOther));
  EXPECT_TRUE(Exists(false, kInbox, mine) && !Exists(false, kInbox, other, kOther));
  EXPECT_EQ(1, EmailMsgStore_DeleteMessageInbox(false, kAccount, mine));
  EXPECT_FALSE(Exists(false, kInbox, mine) || fs::exists(IndexFile(kAccount)));
  EXPECT_EQ(0, EmailMsgStore_EmptyFolder(false, kAccount));
  EXPECT_TRUE(platform_.posted.empty());
}

TEST_F(EmailStore, ListingsAndCountsByFolderAndByAccount) {
  for (DWORD oid : {1u, 2u}) Put(false, kInbox, oid, oid, 0, kAccount);
  Put(false, kInbox, 3, 1, 0, kOther);
  CMsgList list;
  EXPECT_EQ(2u, EmailMsgStore_GetMessageList(false, kInbox, list));
  EXPECT_EQ(1u, EmailMsgStore_GetMessageListInbox(false, kOther, list));
  EXPECT_EQ(std::make_tuple(3u, 0, 3),
            std::make_tuple(list[2].dwOid, list[2].bMemoryCard, list[2].byFolder));
  // The plain INBOX count takes every account, the twin one.
  EXPECT_EQ(3u, EmailMsgStore_GetFolderMessageCount(false, kInbox));
  DWORD count = 99;
  EXPECT_EQ(1, EmailMsgStore_GetFolderMessageCountInbox(false, kAccount, &count));
  EXPECT_EQ(2u, count);
}

TEST_F(EmailStore, UnreadCountsMatchTheAccountAnywhereInTheName) {
  Put(false, kInbox, 1, 1, 0, kAccount);
  Put(false, kInbox, 2, 1, 1, kAccount);
  Store({1, 2, 3}, File(false, kInbox, 3, kAccount));  // unreadable: unread
  Put(false, kInbox, 4, 1, 0, kOther);
  const std::pair<DWORD, DWORD> unread[] = {{kAccount, 2}, {kOther, 1}, {5306, 3}, {0, 0}};
  for (const auto& [account, n] : unread)
    EXPECT_EQ(n, EmailMsgStore_GetUnreadMsgCount(false, account)) << account;
  EXPECT_EQ(2u, GetEmailInboxUnreadMsgsCount());
}

}  // namespace
